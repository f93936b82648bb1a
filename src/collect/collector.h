// Collection: reading the PBX buffer once, or without end, the way the window, kordel-cli and
// the collection service all do it.
//
// One pass is PbxLink::readRecords into a RecordSink. Continuous reading (the link's
// continuousMode) goes on pass after pass and survives a PBX that falls silent and a port that
// goes away: after a failed pass it waits (1 s, doubling up to 60 s), opens the port again,
// identifies the PBX again (a PBX that restarted may mask with a new key) and goes on, and it
// says so through a CollectorObserver, once per change rather than once per try.
//
// May use: link/, files/.
#pragma once

#include <string>
#include <vector>

#include "collect/alarms.h"
#include "link/pbx_link.h"

namespace kordel {

class RecordSink;

struct CollectorOptions {
  int firstRetryMs = 1000;
  int maxRetryMs = 60000;
  // A data file that cannot be written ends a continuous read (the window, kordel-cli read);
  // the collection service tries again instead, after the same waits.
  bool retryFailedSave = false;
  // Identifies the PBX again between passes this often (0: never), so that a long continuous
  // read keeps the buffer fill and the PBX clock under watch (the collection service).
  int statusEveryMs = 0;
  // Fed with what the reader learns; its alarms go to the observer. Optional; must outlive
  // the collector.
  AlarmMonitor* alarms = nullptr;
};

// What happened, for the front end to show. Called on the collecting thread; texts are
// Windows-1251.
class CollectorObserver {
 public:
  virtual ~CollectorObserver() = default;
  // A pass ended with `result` (readRecords) after saving `saved` records.
  virtual void passEnded(int /*result*/, int /*saved*/) {}
  // A continuous read met a failure; the next try comes after retryMs.
  virtual void passFailed(const std::string& /*reason*/, int /*retryMs*/) {}
  // A try to get the PBX back failed; the next comes after retryMs.
  virtual void retryFailed(const std::string& /*reason*/, int /*retryMs*/) {}
  // The port is open again and the PBX identified: its identity is fresh.
  virtual void recovered() {}
  // An alarm was raised or cleared.
  virtual void alarm(const AlarmEvent& /*event*/) {}
  // A periodic identification between passes refreshed the PBX identity.
  virtual void identified() {}
};

struct CollectorResult {
  // readRecords of the last pass; kReadPortError after a port error, kReadFailed when the PBX
  // fell silent between two records (readRecords says kOk then, lastFault kNoHandshake).
  int result = kOk;
  bool portError = false;  // the last pass ended on an ECommError
  ECommError error{0, 0};  // that error
};

class Collector {
 public:
  // All three must outlive the collector.
  Collector(PbxLink& link, RecordSink& sink, CollectorObserver& observer,
            CollectorOptions options = {})
      : link_(link), sink_(sink), observer_(observer), options_(options) {}

  // One pass, or, while the link's continuousMode is on, passes until stopRequested is set or
  // continuousMode goes off. Port errors are caught: a single read reports them in the result,
  // a continuous read recovers from them. Runs on the reader thread; the caller has identified
  // the PBX (queryStatus) and attached the sink.
  CollectorResult run();

 private:
  // Sleeps in small steps; false when the read was stopped meanwhile.
  bool waitBeforeRetry(int ms);
  // Opens the port again and identifies the PBX; on failure `why` says what went wrong.
  bool reconnect(std::string& why);
  // Hands the events to the observer.
  void report(const std::vector<AlarmEvent>& events);
  // Feeds a fresh identification to the alarms.
  void checkIdentity();

  PbxLink& link_;
  RecordSink& sink_;
  CollectorObserver& observer_;
  CollectorOptions options_;
  int lastSaveRetryMs_ = 0;  // the wait last announced for a data file that failed
};

// What lastFault of the link says, as a sentence (Windows-1251).
std::string faultText(const PbxLink& link);
// A port error, with its step code and the system's error number (Windows-1251); for a port
// reached over the network also what went wrong there (networkFaultText).
std::string portErrorText(const ECommError& e);
// What went wrong with a network port, as a sentence naming it ("Сервер порта ... не
// отвечает.", "Имя ... не найдено. ..."); empty for a local device.
std::string networkFaultText(const ECommError& e);
// "Ошибка при открытии СОМ-порта. (name)" after openPort failed, and for a network port the
// reason (from the port's lastFailure).
std::string openFailedText(const PbxLink& link);

}  // namespace kordel
