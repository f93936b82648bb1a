// Calls database: taking a data file in.
//
// The database keeps, per site and data file, how far the file has been taken in: a byte
// offset and a fingerprint of the bytes before it (call_row.h). A pass reads the file from
// there to its last complete line and stores its calls batch by batch, each batch in one
// transaction with the new mark, so that the calls and the mark never disagree: a pass cut
// short anywhere (the server gone, the process killed) is taken up again from the last mark,
// and a call offered twice is stored once (its site and line are unique). A file that no
// longer matches its mark (shorter than it, or other bytes before it: replaced, cut and
// written again) is taken in again from its start, which stores only the calls that are new.
// A last line without its line end waits for it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "store/call_database.h"

namespace kordel::store {

// What the collector knew of the lines it stored (the unit, the PBX), for the rows the pass
// makes of them. Called on the thread that runs the pass.
class LineOrigins {
 public:
  virtual ~LineOrigins() = default;
  // For each call line of the file in file order: sets the row's origin when the collector
  // announced this line.
  virtual void fill(CallRow& row) = 0;
  // The rows filled since the last call were stored (true) or not (false: they will be
  // filled again on the next pass).
  virtual void settled(bool stored) = 0;
};

struct IntakeOptions {
  std::string site;      // Windows-1251
  std::string dataFile;  // Windows-1251, as the user named it
  // Bytes of the file per transaction: small for a live collector, large for an import.
  std::size_t batchBytes = std::size_t{1} << 20;
  LineOrigins* origins = nullptr;           // optional
  const std::atomic<bool>* stop = nullptr;  // optional: ends a pass between batches
};

struct IntakeResult {
  Status status;
  std::uint64_t inserted = 0;  // calls stored that were not there
  std::uint64_t offered = 0;   // call lines read and settled (new or already there)
  std::uint64_t offset = 0;    // how far the file is taken in now
  std::uint64_t size = 0;      // the file's size when the pass looked
  bool restarted = false;      // the file did not match its mark: taken in again from its start
  bool missing = false;        // there is no such file (yet)
};

class DataFileIntake {
 public:
  // `db` must outlive the intake.
  DataFileIntake(CallDatabase& db, IntakeOptions options);

  // One pass: from the mark to the last complete line of the file as it is now.
  IntakeResult run();

 private:
  CallDatabase& db_;
  IntakeOptions options_;
  std::string key_;
  bool markValid_ = false;
  FileMark mark_;
};

}  // namespace kordel::store
