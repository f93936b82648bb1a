// The calls database of the main window's reads. One inserter per data file, kept from read to
// read, so that it catches up by itself between reads; the choice is made before each read
// from KORDEL_DB and KORDEL_SITE, "KordelDb.cfg" in the start directory, or the SQLite file
// beside the data file. The database never stops a read and never opens a box: what goes
// wrong is one line for LinkStatusBar.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "files/record_sink.h"
#include "files/settings.h"
#include "store/database_choice.h"
#include "store/database_inserter.h"

namespace kordel::gui {

class WindowDatabase : public store::InserterObserver {
 public:
  // `show` runs on the thread of `context` (the GUI thread) with a text for LinkStatusBar;
  // texts from the inserter's thread are posted there, never waited for.
  WindowDatabase(QObject* context, std::function<void(const QString&)> show);
  ~WindowDatabase() override;

  // The database a read with `settings` fills.
  static store::Status choose(const Settings& settings, store::DatabaseChoice& choice);

  // Before a read, on the GUI thread: the inserter of the data file the settings name, told of
  // the sink's lines. No reader may be using a sink attached before.
  void attach(RecordSink& sink, const Settings& settings);
  // When the window closes: a last short pass unless the database is failing, then the end.
  void finish();

  void databaseFailed(const std::string& reason, int retryMs) override;
  void databaseBack(std::uint64_t behind) override;

 private:
  void post(const QString& text);

  QObject* context_;
  std::function<void(const QString&)> show_;
  store::DatabaseChoice choice_;
  std::string dataFile_;
  std::unique_ptr<store::DatabaseInserter> inserter_;
};

}  // namespace kordel::gui
