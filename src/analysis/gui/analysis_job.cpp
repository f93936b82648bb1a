#include "analysis/gui/analysis_job.h"

#include <algorithm>
#include <exception>
#include <new>

#include "analysis/database_source.h"
#include "files/text_codec.h"

namespace kordel::analysis::gui {

namespace {

// A load that failed: no result, the window keeps what it showed.
void failLoad(JobOutput& out, std::string message) {
  out = JobOutput{};
  out.loaded = true;
  out.stopped = true;
  out.load.status = Status::error(std::move(message));
}

}  // namespace

AnalysisJob::AnalysisJob(JobInput input, std::function<void(std::shared_ptr<JobOutput>)> done)
    : input_(std::move(input)), done_(std::move(done)), thread_([this] { run(); }) {}

AnalysisJob::~AnalysisJob() {
  cancel();
  if (thread_.joinable()) thread_.join();
}

void AnalysisJob::cancel() {
  cancel_.store(true);
  const std::lock_guard<std::mutex> lock(databaseMutex_);
  if (database_ != nullptr) database_->abandon();
}

void AnalysisJob::run() {
  auto out = std::make_shared<JobOutput>();
  try {
    work(out.get());
  } catch (const std::exception& error) {
    // Nothing may escape the thread (that would end the program, a read of the PBX with it):
    // the job ends as a failed load, and the window keeps what it showed.
    const bool memory = dynamic_cast<const std::bad_alloc*>(&error) != nullptr;
    failLoad(*out, memory ? ru("Недостаточно памяти для расчета.")
                          : ru("Ошибка при расчете: ") + error.what());
  }
  phase_.store(JobPhase::Done);
  done_(std::move(out));
}

void AnalysisJob::work(JobOutput* out) {
  out->store = input_.store;
  out->source = input_.source;
  if (!input_.paths.empty() || input_.database) {
    auto store = std::make_shared<CallStore>();
    LoadOptions options;
    options.cancel = &cancel_;
    options.progress = [this](const LoadProgress& p) {
      bytesTotal_.store(p.bytesTotal);
      bytesDone_.store(p.bytesDone);
    };
    out->loaded = true;
    std::unique_ptr<store::CallDatabase> database;
    std::unique_ptr<DatabaseSource> source;
    if (input_.database) {
      // Chosen as an existing file, it may have gone since; the analysis makes none.
      if (store::sqliteFileMissing(*input_.database)) {
        failLoad(*out, ru("Нет файла базы данных ") + quoteForMessage(input_.database->target) +
                           ".");
        return;
      }
      database = store::makeDatabase(*input_.database);
      source = std::make_unique<DatabaseSource>(*database, input_.sites, input_.options.filter);
      const std::lock_guard<std::mutex> lock(databaseMutex_);
      database_ = database.get();
      if (cancel_.load()) database_->abandon();
    }
    out->load = store->load(input_.paths, options, source.get());
    if (database) {
      const std::lock_guard<std::mutex> lock(databaseMutex_);
      database_ = nullptr;
    }
    if (source) {
      out->sites = source->sites();
      out->prefixed = source->prefixed();
    }
    if (!out->load.ok()) {
      out->stopped = true;
      // A database given up by cancel() fails rather than notices the cancel.
      out->cancelled = out->load.cancelled || cancel_.load();
    } else {
      out->store = store;
      out->source.files = out->load.files.size();
      out->source.duplicates = out->load.duplicates;
      out->source.badLines = out->load.badLines;
      // The span of the data, for the choice of a month.
      for (std::size_t p = 0; p < store->partCount(); ++p) {
        for (const Call& call : store->part(p)) {
          if (!out->firstCall || call.start < *out->firstCall) out->firstCall = call.start;
          if (!out->lastCall || call.start > *out->lastCall) out->lastCall = call.start;
        }
      }
    }
  }
  // A cancel that came after the last check of the load still stops before the analysis.
  if (!out->stopped && cancel_.load()) {
    out->stopped = true;
    out->cancelled = true;
  }
  if (!out->stopped && out->store) {
    phase_.store(JobPhase::Analysing);
    const CallStore& store = *out->store;
    static const TariffPlan kNoTariffs;
    static const Directory kNoDirectory;
    const Analyzer analyzer(store, input_.tariffs ? *input_.tariffs : kNoTariffs,
                            input_.directory ? *input_.directory : kNoDirectory, input_.options);
    out->result = analyzer.run(&cancel_);
    if (out->result.cancelled) {
      out->stopped = true;
      out->cancelled = true;
      out->result = AnalysisResult{};
    } else {
      out->tables = makeTables(input_.tables, out->result, out->source);
    }
  }
}

}  // namespace kordel::analysis::gui
