// Window tests: a Dialogs seam answered in code, waiting on conditions while the event loop
// runs, configuration files written directly, and a simulated PBX on a pseudo-terminal.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/gui/dialogs.h"
#include "files/text_codec.h"
#include "pbxsim.h"
#include "support/temp_dir.h"

namespace kordel::test {

inline QString q(const char* utf8) { return QString::fromUtf8(utf8); }

// Spins the event loop until `condition` holds or `timeoutMs` passed; returns the condition.
template <class Condition>
bool waitUntil(Condition condition, int timeoutMs = 15000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!condition()) {
    if (deadline.hasExpired()) return condition();
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

struct ShownMessage {
  QString text;
  QString caption;
  bool errorBox = false;  // the standard error box (with the error icon)
};

// Records every message box and answers file dialogs and text prompts from queues (cancel when
// empty).
class TestDialogs : public kordel::gui::Dialogs {
 public:
  TestDialogs() { kordel::gui::setDialogs(this); }
  ~TestDialogs() override { kordel::gui::setDialogs(nullptr); }

  void message(QWidget*, const QString& text, const QString& caption) override {
    messages.push_back({text, caption});
  }
  void error(QWidget*, const QString& text, const QString& caption) override {
    messages.push_back({text, caption, true});
  }
  kordel::gui::MessageAnswer question(QWidget*, const QString& text,
                                      const QString& caption) override {
    messages.push_back({text, caption});
    return kordel::gui::MessageAnswer::Ok;
  }
  std::optional<QString> askText(QWidget*, const QString&, const QString&,
                                 const QString& initial) override {
    textInitials.push_back(initial);
    if (textAnswers.empty()) return std::nullopt;
    std::optional<QString> next = textAnswers.front();
    textAnswers.pop_front();
    return next;
  }
  std::optional<QString> openFile(QWidget*, const kordel::gui::FileDialogRequest& r) override {
    return answer(r);
  }
  std::optional<QString> saveFile(QWidget*, const kordel::gui::FileDialogRequest& r) override {
    return answer(r);
  }

  std::vector<ShownMessage> messages;
  std::vector<kordel::gui::FileDialogRequest> fileRequests;
  std::deque<std::optional<QString>> fileAnswers;
  std::vector<QString> textInitials;  // what each text prompt offered
  std::deque<std::optional<QString>> textAnswers;

 private:
  std::optional<QString> answer(const kordel::gui::FileDialogRequest& r) {
    fileRequests.push_back(r);
    if (fileAnswers.empty()) return std::nullopt;
    std::optional<QString> next = fileAnswers.front();
    fileAnswers.pop_front();
    return next;
  }
};

// "Kordel.cfg": port number, title flag, 28 zero bytes.
inline void writePortConfig(const TempDir& dir, int port, bool title) {
  std::string bytes(30, '\0');
  bytes[0] = static_cast<char>(port);
  bytes[1] = static_cast<char>(title ? 1 : 0);
  std::ofstream(dir.file("Kordel.cfg"), std::ios::binary) << bytes;
}

// "KordelOut.cfg" with the data file, the real-time log and the start-up mode (e.g.
// "AUTOSTART_1"; empty for no AUTO= line).
inline void writeOutputConfig(const TempDir& dir, const std::string& dataFile,
                              const std::string& logFile, const std::string& autoMode) {
  std::ofstream out(dir.file("KordelOut.cfg"), std::ios::binary);
  out << "TARIF_FNAME=" << dataFile << "\r\nREALTIME_FNAME=" << logFile << "\r\n";
  if (!autoMode.empty()) out << "AUTO=" << autoMode << "\r\n";
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The lines of a CR LF text file, converted to QString.
inline QStringList fileLines(const std::string& path) {
  const QString text = QString::fromStdString(kordel::cp1251ToUtf8(readFile(path)));
  QStringList lines = text.split(QStringLiteral("\r\n"));
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
  return lines;
}

// `count` calls of a QTR160 PBX, one minute apart, on 5 March 2024 from 09:07:00.
inline std::vector<pbxsim::Record> sampleRecords(int count, int firstHardwareNumber = 201) {
  std::vector<pbxsim::Record> records;
  for (int i = 0; i < count; ++i) {
    pbxsim::CallFields call;
    call.year = 2024;
    call.month = 3;
    call.day = 5;
    call.hour = 9 + i / 60;
    call.minute = (7 + i) % 60;
    call.second = 0;
    call.durationSeconds = 66;
    call.hardwareNumber = firstHardwareNumber + i % 100;
    call.programmed = "12";
    call.trunk = 3;
    call.dialed = "5551234";
    records.push_back(pbxsim::makeRecord(call));
  }
  return records;
}

// A PBX on a pseudo-terminal, reached by the program as "COM1".
class SimulatedPbx {
 public:
  explicit SimulatedPbx(pbxsim::Scenario scenario) : sim_(std::move(scenario)) {
    path_ = sim_.start();
    ::setenv("KORDEL_COM1", path_.c_str(), 1);
  }
  ~SimulatedPbx() { ::unsetenv("KORDEL_COM1"); }

  pbxsim::Simulator& operator*() { return sim_; }
  pbxsim::Simulator* operator->() { return &sim_; }
  const std::string& path() const { return path_; }

 private:
  pbxsim::Simulator sim_;
  std::string path_;
};

inline pbxsim::Scenario scenarioWith(int records, int modelCode = 4) {
  pbxsim::Scenario scenario;
  scenario.modelCode = modelCode;
  scenario.units[0].capacity = 500;
  for (const pbxsim::Record& r : sampleRecords(records)) scenario.units[0].records.push_back(r);
  return scenario;
}

}  // namespace kordel::test
