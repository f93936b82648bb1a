// Analysis window: one load and analysis, run on a thread of its own so that the window stays
// responsive. The job uses the standard library and the call analysis only (no Qt); the window
// hands its end to the GUI thread.
//
// A job reads the data files, and the calls of a database when one is chosen, into a new
// CallStore (or takes the store of an earlier job, which it only reads), runs the Analyzer with the
// window's options and makes the tables. It keeps its inputs alive through shared pointers, so the
// window may choose new tariffs or a new directory while a job runs: the job goes on with the ones
// it started with.
//
// Threads: the constructor, cancel() and the destructor run on the window's thread; `done` and
// the progress counters are written on the job's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/call_store.h"
#include "analysis/directory.h"
#include "analysis/tables.h"
#include "analysis/tariffs.h"
#include "store/database_choice.h"

namespace kordel::analysis::gui {

struct JobInput {
  // Files and folders to load (Windows-1251). Empty, and no database: analyse `store` again.
  std::vector<std::string> paths;
  // A calls database to load as well (opened, read and closed on the job's thread), with the
  // sites wanted (Windows-1251; empty: every site). The period, direction and shortest
  // duration of `options` go into its query.
  std::optional<store::DatabaseChoice> database;
  std::vector<std::string> sites;
  std::shared_ptr<const CallStore> store;
  SourceInfo source;  // of `store`, for the summary
  std::shared_ptr<const TariffPlan> tariffs;
  std::shared_ptr<const Directory> directory;
  AnalysisOptions options;
  std::vector<TableKind> tables;  // the tables to make
};

struct JobOutput {
  bool loaded = false;  // the job loaded files (else it analysed the store it was given)
  LoadResult load;      // when loaded
  std::shared_ptr<const CallStore> store;  // the store analysed (a new one after a load)
  SourceInfo source;
  std::optional<WallTime> firstCall, lastCall;  // of a new store, filters aside
  // After a load from a database: the sites whose calls came, and whether their numbers and
  // trunks are prefixed "SITE/" (calls of more than one site).
  std::vector<std::string> sites;
  bool prefixed = false;
  // Set when the load failed or either step was cancelled; the result and tables are then
  // empty (a failed load: see load.status).
  bool stopped = false;
  bool cancelled = false;
  AnalysisResult result;
  std::vector<ResultTable> tables;
};

enum class JobPhase { Loading, Analysing, Done };

class AnalysisJob {
 public:
  // Starts the work at once. `done` runs on the job's thread when it ends (done, failed or
  // cancelled), as the last thing the thread does.
  AnalysisJob(JobInput input, std::function<void(std::shared_ptr<JobOutput>)> done);
  // Cancels the work and waits for the thread.
  ~AnalysisJob();
  AnalysisJob(const AnalysisJob&) = delete;
  AnalysisJob& operator=(const AnalysisJob&) = delete;

  // Also gives up a wait for the database (a locked file, a server that does not answer).
  void cancel();
  bool cancelRequested() const { return cancel_.load(); }
  JobPhase phase() const { return phase_.load(); }
  // Bytes of the files read and in all (zero before the load has listed its files).
  std::uint64_t bytesDone() const { return bytesDone_.load(); }
  std::uint64_t bytesTotal() const { return bytesTotal_.load(); }

 private:
  void run();
  void work(JobOutput* out);

  JobInput input_;
  std::function<void(std::shared_ptr<JobOutput>)> done_;
  std::atomic<bool> cancel_{false};
  std::atomic<JobPhase> phase_{JobPhase::Loading};
  std::atomic<std::uint64_t> bytesDone_{0}, bytesTotal_{0};
  std::mutex databaseMutex_;
  store::CallDatabase* database_ = nullptr;  // while the load uses it; guarded by the mutex
  std::thread thread_;                       // last: started when everything above is ready
};

}  // namespace kordel::analysis::gui
