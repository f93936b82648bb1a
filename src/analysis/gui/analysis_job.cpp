#include "analysis/gui/analysis_job.h"

#include <algorithm>

namespace kordel::analysis::gui {

AnalysisJob::AnalysisJob(JobInput input, std::function<void(std::shared_ptr<JobOutput>)> done)
    : input_(std::move(input)), done_(std::move(done)), thread_([this] { run(); }) {}

AnalysisJob::~AnalysisJob() {
  cancel();
  if (thread_.joinable()) thread_.join();
}

void AnalysisJob::run() {
  auto out = std::make_shared<JobOutput>();
  out->store = input_.store;
  out->source = input_.source;
  if (!input_.paths.empty()) {
    auto store = std::make_shared<CallStore>();
    LoadOptions options;
    options.cancel = &cancel_;
    options.progress = [this](const LoadProgress& p) {
      bytesTotal_.store(p.bytesTotal);
      bytesDone_.store(p.bytesDone);
    };
    out->loaded = true;
    out->load = store->load(input_.paths, options);
    if (!out->load.ok()) {
      out->stopped = true;
      out->cancelled = out->load.cancelled;
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
  phase_.store(JobPhase::Done);
  done_(std::move(out));
}

}  // namespace kordel::analysis::gui
