#include "app/gui/window_database.h"

#include <QMetaObject>

#include "app/gui/qt_text.h"

namespace kordel::gui {

WindowDatabase::WindowDatabase(QObject* context, std::function<void(const QString&)> show)
    : context_(context), show_(std::move(show)) {}

WindowDatabase::~WindowDatabase() { inserter_.reset(); }

store::Status WindowDatabase::choose(const Settings& settings, store::DatabaseChoice& choice) {
  store::ChoiceSources sources;
  sources.startDirectory = settings.startDirectory;
  sources.dataFile = settings.dataFileName;
  std::vector<std::string> warnings;
  return store::chooseDatabase(sources, choice, warnings);
}

void WindowDatabase::attach(RecordSink& sink, const Settings& settings) {
  store::DatabaseChoice choice;
  const store::Status chosen = choose(settings, choice);
  if (!chosen.ok()) {
    inserter_.reset();
    show_(fromCp1251(chosen.message()));
    return;
  }
  if (choice.kind == store::DatabaseChoice::Kind::kOff) {
    inserter_.reset();
    return;
  }
  if (!inserter_ || choice != choice_ || settings.dataFileName != dataFile_) {
    inserter_.reset();
    choice_ = choice;
    dataFile_ = settings.dataFileName;
    store::InserterOptions options;
    options.site = choice.site;
    options.dataFile = dataFile_;
    options.observer = this;
    inserter_ = std::make_unique<store::DatabaseInserter>(store::makeDatabase(choice), options);
  }
  sink.setListener(inserter_.get());
}

void WindowDatabase::finish() {
  if (inserter_ && !inserter_->state().failing) inserter_->catchUp(2000);
  inserter_.reset();
}

void WindowDatabase::post(const QString& text) {
  QMetaObject::invokeMethod(
      context_, [show = show_, text] { show(text); }, Qt::QueuedConnection);
}

void WindowDatabase::databaseFailed(const std::string& reason, int) {
  post(
      fromCp1251(reason + ru(" Звонки сохраняются в файле данных и будут занесены в базу позже.")));
}

void WindowDatabase::databaseBack(std::uint64_t behind) {
  post(fromCp1251(ru("База данных снова принимает звонки; занесено из файла данных: ") +
                  std::to_string(behind) + "."));
}

}  // namespace kordel::gui
