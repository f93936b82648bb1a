// Calls database: the inserter thread of a collector.
//
// A DatabaseInserter takes its data file into the database on a thread of its own, never on
// the reader's: the reader appends a line to the data file and goes on with the PBX whatever
// the database does. It is the RecordSink's SavedLineListener: told of each line before it is
// appended (its unit and PBX, kept for the row) and woken when the lines are on the disk. It
// also looks at the data file every few seconds, so a line written while it was failing, or by
// another program, is taken in too. When the database cannot take the calls (a server away, a
// locked file, a full disk) it says so once through its observer, tries again after a wait
// (1 s doubling up to 60 s), and when the database is back takes in everything the data file
// gained meanwhile, from its mark: nothing is lost or stored twice. A new inserter (the next
// run of the program) starts from the mark the last one left.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "files/record_sink.h"
#include "store/call_database.h"
#include "store/data_file_intake.h"

namespace kordel::store {

// Told of the inserter's ups and downs, on the inserter's thread. Texts are Windows-1251.
class InserterObserver {
 public:
  virtual ~InserterObserver() = default;
  // The database did not take the calls; the next try comes after retryMs. Said again only
  // for a new reason or a longer wait.
  virtual void databaseFailed(const std::string& /*reason*/, int /*retryMs*/) {}
  // The database takes the calls again after a failure; `behind` calls were taken in that the
  // data file had gained meanwhile.
  virtual void databaseBack(std::uint64_t /*behind*/) {}
};

struct InserterOptions {
  std::string site;      // Windows-1251
  std::string dataFile;  // Windows-1251
  int firstRetryMs = 1000;
  int maxRetryMs = 60000;
  int pollMs = 5000;  // how often the data file is looked at when nothing wakes the inserter
  InserterObserver* observer = nullptr;  // optional; must outlive the inserter
};

class DatabaseInserter : public SavedLineListener {
 public:
  // Starts the thread; the first pass takes in what the data file holds beyond its mark.
  DatabaseInserter(std::unique_ptr<CallDatabase> database, InserterOptions options);
  // Stops the thread. A pass in progress ends at its next batch; a wait for the database is
  // abandoned, so this returns within about a tenth of a second.
  ~DatabaseInserter() override;
  DatabaseInserter(const DatabaseInserter&) = delete;
  DatabaseInserter& operator=(const DatabaseInserter&) = delete;

  // SavedLineListener, on the reader thread: never waits for the database.
  void lineAppending(const SavedLine& line) override;
  void lineNotSaved() override;
  void linesDurable() override { wake(); }

  // A pass soon (the data file has grown).
  void wake();
  // Starts a pass now, even during the wait after a failure, and waits until a pass that
  // started after this call has ended: true when it took the data file in to its last
  // complete line, false when the database failed or the time ran out.
  bool catchUp(int timeoutMs);

  struct State {
    bool failing = false;
    std::string reason;          // of the last failure (Windows-1251)
    std::uint64_t inserted = 0;  // calls stored by this inserter
    std::uint64_t offset = 0;    // how far the data file is taken in
    std::uint64_t passes = 0;    // passes ended
  };
  State state() const;
  const std::string& description() const { return description_; }
  const std::string& site() const { return options_.site; }
  const std::string& dataFile() const { return options_.dataFile; }

  // Announced lines kept for their rows at most; more (a database away for a long time) are
  // stored without their unit and PBX.
  static constexpr std::size_t kMaxAnnounced = 100000;

 private:
  class Origins;
  void run();

  std::unique_ptr<CallDatabase> db_;
  InserterOptions options_;
  std::string description_;
  std::unique_ptr<Origins> origins_;
  std::atomic<bool> stopping_{false};

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool woken_ = true;  // the first pass runs at once
  bool retryNow_ = false;
  std::uint64_t passesStarted_ = 0;
  std::uint64_t passesEnded_ = 0;
  bool lastPassComplete_ = false;
  State state_;

  std::thread thread_;  // last: started when everything else is ready
};

}  // namespace kordel::store
