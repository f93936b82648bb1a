// Windows: the program's icon, Qt's Russian texts and the busy cursor.
#include "app/gui/desktop.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QLibraryInfo>
#include <QMetaObject>
#include <QTranslator>
#include <QWidget>
#include <exception>
#include <thread>

namespace kordel::gui {

QIcon programIcon() {
  // An SVG drawn for the small sizes; Qt renders it through its SVG plugin at every size asked.
  static const QIcon icon(QStringLiteral(":/icons/kordel.svg"));
  return icon;
}

QString installQtTranslations(QCoreApplication& app) {
  const QStringList folders = {
      QLibraryInfo::path(QLibraryInfo::TranslationsPath),
      QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations")),
  };
  for (const QString& folder : folders) {
    auto* translator = new QTranslator(&app);
    // "qtbase_ru" holds the texts of Qt's widgets and dialogs.
    if (translator->load(QStringLiteral("qtbase_ru"), folder) &&
        QCoreApplication::installTranslator(translator)) {
      return folder;
    }
    delete translator;
  }
  return QString();
}

BusyCursor::BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

BusyCursor::~BusyCursor() { QApplication::restoreOverrideCursor(); }

namespace {

// Refuses the requests to close a window while it is installed on the application.
class CloseRefusal : public QObject {
 public:
  CloseRefusal() { QCoreApplication::instance()->installEventFilter(this); }
  ~CloseRefusal() override { QCoreApplication::instance()->removeEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Close && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow()) {
      event->ignore();  // an accepted close event closes the window even when filtered out
      return true;
    }
    return false;
  }
};

}  // namespace

void runWhileBusy(const std::function<void()>& work) {
  BusyCursor busy;
  CloseRefusal refusal;
  QEventLoop loop;
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    // Queued, so it ends the loop also when the work is done before the loop runs.
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  // The loop may also end early (the application quits); the work is waited for all the same.
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace kordel::gui
