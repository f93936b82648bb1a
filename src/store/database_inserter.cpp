#include "store/database_inserter.h"

#include <algorithm>
#include <chrono>

#include "files/text_codec.h"

namespace kordel::store {

// The announced lines, matched with the lines of the data file in the order both were written.
// A line that was announced but never reached the file (its append failed without the sink
// saying so) is passed over: a match is looked for among the next few announced lines.
class DatabaseInserter::Origins : public LineOrigins {
 public:
  static constexpr std::size_t kLookAhead = 8;

  void add(const SavedLine& line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
    if (lines_.size() > kMaxAnnounced) {
      lines_.pop_front();
      if (cursor_ > 0) --cursor_;
    }
  }
  void dropLast() {
    std::lock_guard lock(mutex_);
    if (lines_.size() > cursor_) lines_.pop_back();
  }

  void fill(CallRow& row) override {
    std::lock_guard lock(mutex_);
    const std::size_t end = std::min(lines_.size(), cursor_ + kLookAhead);
    for (std::size_t i = cursor_; i < end; ++i) {
      if (lines_[i].line != row.line) continue;
      row.pbxSerial = cp1251ToUtf8(lines_[i].serialNumber);
      row.pbxModel = cp1251ToUtf8(lines_[i].model);
      row.unit = lines_[i].unit;
      cursor_ = i + 1;
      return;
    }
  }
  void settled(bool stored) override {
    std::lock_guard lock(mutex_);
    if (stored) lines_.erase(lines_.begin(), lines_.begin() + static_cast<long>(cursor_));
    cursor_ = 0;
  }

 private:
  std::mutex mutex_;
  std::deque<SavedLine> lines_;
  std::size_t cursor_ = 0;  // lines_[0, cursor_) matched in the pass in progress
};

DatabaseInserter::DatabaseInserter(std::unique_ptr<CallDatabase> database, InserterOptions options)
    : db_(std::move(database)),
      options_(std::move(options)),
      description_(db_->describe()),
      origins_(std::make_unique<Origins>()) {
  thread_ = std::thread([this] { run(); });
}

DatabaseInserter::~DatabaseInserter() {
  stopping_ = true;
  db_->abandon();
  {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
  }
  thread_.join();
}

void DatabaseInserter::lineAppending(const SavedLine& line) { origins_->add(line); }

void DatabaseInserter::lineNotSaved() { origins_->dropLast(); }

void DatabaseInserter::wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  changed_.notify_all();
}

bool DatabaseInserter::catchUp(int timeoutMs) {
  std::unique_lock lock(mutex_);
  const std::uint64_t target = passesStarted_ + 1;
  retryNow_ = true;
  changed_.notify_all();
  changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                    [&] { return passesEnded_ >= target || stopping_; });
  return passesEnded_ >= target && lastPassComplete_;
}

DatabaseInserter::State DatabaseInserter::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void DatabaseInserter::run() {
  using Clock = std::chrono::steady_clock;
  IntakeOptions intakeOptions;
  intakeOptions.site = options_.site;
  intakeOptions.dataFile = options_.dataFile;
  intakeOptions.origins = origins_.get();
  intakeOptions.stop = &stopping_;
  DataFileIntake intake(*db_, intakeOptions);

  int retryMs = options_.firstRetryMs;
  bool failing = false;
  std::string saidReason;
  int saidRetryMs = 0;
  Clock::time_point nextTry = Clock::now();
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      for (;;) {
        if (stopping_) return;
        if (retryNow_) break;
        if (failing) {
          // Wake-ups during the wait do not bring the next try closer: a busy collector must
          // not knock at a server that is away once per call.
          if (Clock::now() >= nextTry) break;
          changed_.wait_until(lock, nextTry);
          continue;
        }
        if (woken_) break;
        if (!changed_.wait_for(lock, std::chrono::milliseconds(options_.pollMs),
                               [&] { return woken_ || retryNow_ || stopping_.load(); })) {
          break;  // the periodic look at the data file
        }
      }
      woken_ = false;
      retryNow_ = false;
      ++passesStarted_;
    }

    const IntakeResult r = intake.run();
    bool complete = r.status.ok() && !stopping_;
    if (r.status.code() == Status::Code::kConflict) {
      // Another process took in some of the file first: the next pass starts from its mark.
      std::lock_guard lock(mutex_);
      woken_ = true;
    } else if (!r.status.ok()) {
      if (stopping_) return;
      failing = true;
      db_->close();
      nextTry = Clock::now() + std::chrono::milliseconds(retryMs);
      if (options_.observer != nullptr &&
          (r.status.message() != saidReason || retryMs != saidRetryMs)) {
        options_.observer->databaseFailed(r.status.message(), retryMs);
      }
      saidReason = r.status.message();
      saidRetryMs = retryMs;
      retryMs = std::min(retryMs * 2, options_.maxRetryMs);
    } else if (failing) {
      failing = false;
      if (options_.observer != nullptr) options_.observer->databaseBack(r.inserted);
      retryMs = options_.firstRetryMs;
      saidReason.clear();
      saidRetryMs = 0;
    }
    {
      std::lock_guard lock(mutex_);
      ++passesEnded_;
      lastPassComplete_ = complete;
      state_.failing = failing;
      state_.reason = failing ? r.status.message() : std::string();
      state_.inserted += r.inserted;
      if (r.status.ok()) state_.offset = r.offset;
      state_.passes = passesEnded_;
      changed_.notify_all();
    }
  }
}

}  // namespace kordel::store
