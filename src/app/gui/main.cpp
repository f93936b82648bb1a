// kordel: the desktop program.
//
// Creates the windows (main window, settings, About, report, real-time; only the main window
// is shown) and runs the message loop. The configuration files live in the current directory.
//
// KORDEL_SCREENSHOT_DIR: when set, the program saves pictures of its main window (after the
// first read, or after 20 s without one), the settings dialog, the About window, the report
// window with the data file loaded and the dialog that chooses the data file as
// main_window.png, settings.png, about.png, report.png and file_dialog.png in that directory
// and exits. With KORDEL_SCREENSHOT_ANALYSIS naming a folder that holds data/ (data files),
// tariffs.csv and directory.csv, it then analyses those in the analysis window and saves
// analysis.png too. Used by scripts/screenshots.sh for the documentation.
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QTimer>
#include <memory>

#include "analysis/gui/analysis_form.h"
#include "app/gui/about_form.h"
#include "app/gui/application.h"
#include "app/gui/dialogs.h"
#include "app/gui/main_form.h"
#include "app/gui/options_form.h"
#include "app/gui/qt_text.h"
#include "link/pbx_link.h"
#include "realtime/gui/realtime_form.h"
#include "report/gui/report_form.h"

namespace {

// Lets the windows paint (and a file dialog read its folder).
void settle(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// The analysis window over the files of `input`, pictured when its job has ended.
void saveAnalysisScreenshot(const QDir& dir, const QDir& input, TAnalysisForm& analysis) {
  analysis.setSources({input.filePath(QStringLiteral("data"))});
  analysis.setTariffFile(input.filePath(QStringLiteral("tariffs.csv")));
  analysis.setDirectoryFile(input.filePath(QStringLiteral("directory.csv")));
  analysis.showTable(kordel::analysis::TableKind::Departments);
  analysis.resize(1180, 820);
  analysis.show();
  QObject::connect(&analysis, &TAnalysisForm::jobFinished, &analysis, [&analysis, dir] {
    QTimer::singleShot(500, &analysis, [&analysis, dir] {
      analysis.grab().save(dir.filePath(QStringLiteral("analysis.png")));
      QCoreApplication::quit();
    });
  });
  analysis.RunClick();
}

// Saves the pictures and ends the program.
void saveScreenshots(const QString& directory, TMainForm& main, TOptionsForm& options,
                     TAboutForm& about, TMainForm_rep& report, TAnalysisForm& analysis) {
  main.UnInterruptTimer->stop();  // the read-once start-up would end the program meanwhile
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

  const QString dataFile =
      main.link() ? kordel::gui::fromCp1251(main.link()->settings.dataFileName) : QString();
  report.setStartDirectory(main.startDirectory());
  report.show();
  if (!dataFile.isEmpty()) report.loadFile(dataFile);
  settle(300);
  report.grab().save(dir.filePath(QStringLiteral("report.png")));
  report.hide();

  kordel::gui::FileDialogRequest request;  // as "Выбрать файл для сохранения данных" asks
  request.caption = QString::fromUtf8("Выбрать файл для сохранения данных");
  request.directory = main.startDirectory();
  request.fileName = dataFile;
  request.defaultSuffix = QStringLiteral("txt");
  const std::unique_ptr<QFileDialog> fileDialog =
      kordel::gui::makeFileDialog(&main, request, false);
  fileDialog->show();
  settle(800);
  fileDialog->grab().save(dir.filePath(QStringLiteral("file_dialog.png")));
  fileDialog->hide();
  const QString input = qEnvironmentVariable("KORDEL_SCREENSHOT_ANALYSIS");
  if (input.isEmpty()) {
    QCoreApplication::quit();
    return;
  }
  saveAnalysisScreenshot(dir, QDir(input), analysis);
}

}  // namespace

int main(int argc, char** argv) {
  kordel::gui::KordelApplication app(argc, argv);

  TMainForm mainForm(QDir::currentPath());
  TOptionsForm optionsForm(&mainForm);
  TAboutForm aboutForm;
  TMainForm_rep reportForm;
  TRealTimeForm realTimeForm;
  TAnalysisForm analysisForm;
  mainForm.setWindows(&optionsForm, &aboutForm, &reportForm, &realTimeForm);
  mainForm.setAnalysisWindow(&analysisForm);
  QObject::connect(&mainForm, &TMainForm::closed, &app, &QCoreApplication::quit,
                   Qt::QueuedConnection);

  const QString screenshotDir = qEnvironmentVariable("KORDEL_SCREENSHOT_DIR");
  if (!screenshotDir.isEmpty()) {
    // Once: after the read, or after the wait when no read ended.
    auto shot = std::make_shared<bool>(false);
    auto shoot = [&, shot] {
      if (*shot) return;
      *shot = true;
      saveScreenshots(screenshotDir, mainForm, optionsForm, aboutForm, reportForm, analysisForm);
    };
    // Let the window paint the last lines before it is pictured.
    QObject::connect(&mainForm, &TMainForm::readFinished, &app,
                     [shoot] { QTimer::singleShot(500, shoot); });
    QTimer::singleShot(20000, shoot);
  }

  mainForm.show();  // the start-up sequence runs on this first showing
  if (!mainForm.isVisible()) return 0;
  return app.exec();
}
