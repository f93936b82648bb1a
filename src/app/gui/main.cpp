// kordel: the desktop program.
//
// Creates the windows (main window, settings, About, report, real-time; only the main window
// is shown) and runs the message loop. The configuration files live in the current directory.
//
// KORDEL_SCREENSHOT_DIR: when set, the program saves pictures of its main window (after the
// first read, or after 20 s without one), the settings dialog and the About window as
// main_window.png, settings.png and about.png in that directory and exits. Used by
// scripts/screenshots.sh for the documentation.
#include <QDir>
#include <QTimer>
#include <memory>

#include "app/gui/about_form.h"
#include "app/gui/application.h"
#include "app/gui/main_form.h"
#include "app/gui/options_form.h"
#include "realtime/gui/realtime_form.h"
#include "report/gui/report_form.h"

namespace {

// Saves the three pictures and ends the program.
void saveScreenshots(const QString& directory, TMainForm& main, TOptionsForm& options,
                     TAboutForm& about) {
  QDir().mkpath(directory);
  const QDir dir(directory);
  main.grab().save(dir.filePath(QStringLiteral("main_window.png")));
  options.setLink(main.link());
  options.show();
  options.adjustSize();
  options.grab().save(dir.filePath(QStringLiteral("settings.png")));
  options.hide();
  about.show();
  about.grab().save(dir.filePath(QStringLiteral("about.png")));
  about.hide();
  QCoreApplication::quit();
}

}  // namespace

int main(int argc, char** argv) {
  kordel::gui::KordelApplication app(argc, argv);

  TMainForm mainForm(QDir::currentPath());
  TOptionsForm optionsForm(&mainForm);
  TAboutForm aboutForm;
  TMainForm_rep reportForm;
  TRealTimeForm realTimeForm;
  mainForm.setWindows(&optionsForm, &aboutForm, &reportForm, &realTimeForm);
  QObject::connect(&mainForm, &TMainForm::closed, &app, &QCoreApplication::quit,
                   Qt::QueuedConnection);

  const QString screenshotDir = qEnvironmentVariable("KORDEL_SCREENSHOT_DIR");
  if (!screenshotDir.isEmpty()) {
    auto shoot = [&] { saveScreenshots(screenshotDir, mainForm, optionsForm, aboutForm); };
    // Let the window paint the last lines before it is pictured.
    QObject::connect(&mainForm, &TMainForm::readFinished, &app,
                     [shoot] { QTimer::singleShot(500, shoot); });
    QTimer::singleShot(20000, shoot);
  }

  mainForm.show();  // the start-up sequence runs on this first showing
  if (!mainForm.isVisible()) return 0;
  return app.exec();
}
