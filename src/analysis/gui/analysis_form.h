// Analysis window: TAnalysisForm, call costs and traffic over many data files.
//
// The user chooses the data (one file, several, or a folder of monthly files, and or instead a
// calls database with the sites wanted), a tariff file and
// a directory file (both optional), and the filters: a period (every call, a month of the data,
// or dates of one's own), extensions, a department, the direction, trunks, a number prefix and a
// shortest duration. "Рассчитать" loads the files (when the choice changed since the last load)
// and analyses them; the window then shows the totals per extension, department, direction and
// trunk, the top lists, and charts per hour of the day, per day and of the trunk load. Any table
// can be saved as CSV or XLSX, all of them as one XLSX book, and the whole as a printable PDF
// report. Hidden digits replace the last digits of external numbers in all of it.
//
// The window only reads files and never touches the PbxLink, so it stays open beside the main
// window, also while that one reads the PBX. The work is the call analysis's (src/analysis); the
// window gathers the choices and shows the result. Loading and analysing run on a worker thread
// (AnalysisJob) with the engine's cancel flag; the window polls the job's progress counters with
// a timer and takes its result on the GUI thread, so no widget is touched off that thread.
// Every message box and file dialog goes through kordel::gui::dialogs().
//
// The folder src/analysis/gui holds the window files of the call analysis. They may use Qt
// Widgets, Qt Charts and QtGui's PDF writer, the call analysis (src/analysis) and the core, and
// the windows' shared helpers of src/app/gui (the dialog seam, text conversion);
// analysis_job.h/.cpp include no Qt.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/call_store.h"
#include "analysis/gui/analysis_job.h"
#include "analysis/tables.h"
#include "store/database_choice.h"

class QAction;
class QCheckBox;
class QChartView;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableView;
class QTimer;

namespace kordel::analysis::gui {
class AnalysisTableModel;
}

class TAnalysisForm : public QMainWindow {
  Q_OBJECT

 public:
  explicit TAnalysisForm(QWidget* parent = nullptr);
  // Cancels a running job and waits for its thread.
  ~TAnalysisForm() override;

  // The initial folder of the file dialogs.
  void setStartDirectory(const QString& directory);
  // Proposes a data file (the main window's) as the data, when none has been chosen yet and
  // the file exists.
  void proposeDataFile(const QString& path);
  // Chooses the data without a dialog: files and folders.
  void setSources(const QStringList& paths);
  // The database the prompt offers while none is chosen (the main window's own): an SQLite path
  // or a connection string; empty offers none.
  void proposeDatabase(const QString& value);
  // Chooses the calls database without the prompt: the path of an existing SQLite file, a
  // PostgreSQL connection string, or empty or "off" for none. False (and the user told) when
  // the value is wrong or the SQLite file is not there, the choice before staying.
  bool setDatabase(const QString& value);
  // Loads a tariff or a directory file without a dialog; false (and the user told) when it is
  // wrong, the one loaded before staying.
  bool setTariffFile(const QString& path);
  bool setDirectoryFile(const QString& path);

  // --- commands (menu items and buttons) ---
  void DataFilesClick();   // choose one or several data files
  void DataFolderClick();  // choose a folder of data files
  void TariffsClick();     // choose and load a tariff file
  void DirectoryClick();   // choose and load a directory file
  void DatabaseClick();    // choose the calls database (or none) in a prompt
  void RunClick();         // load when the data changed, then analyse, on the worker thread
  void CancelClick();      // stop the running load or analysis
  void ExportCsvClick();   // the table of the current tab as CSV
  void ExportXlsxClick();  // the table of the current tab as XLSX
  void ExportAllClick();   // every table, one sheet each, as XLSX
  void PdfReportClick();   // the printable report
  void PeriodComboChange(int index);

  // --- state, for the main window, the screenshots and tests ---
  bool busy() const { return job_ != nullptr; }
  QStringList sources() const { return sources_; }
  // The database chosen, as typed (empty: none).
  QString database() const { return databaseText_; }
  // The last result shown, and its tables (in the order of tableKinds()); null before the
  // first analysis.
  const kordel::analysis::AnalysisResult* result() const { return result_.get(); }
  const std::vector<kordel::analysis::ResultTable>& tables() const { return tables_; }
  static const std::vector<kordel::analysis::TableKind>& tableKinds();
  // What the last successful load read.
  const kordel::analysis::LoadResult& lastLoad() const { return lastLoad_; }
  // The table of the current tab.
  kordel::analysis::TableKind currentTable() const;
  void showTable(kordel::analysis::TableKind kind);
  // The options the filters make now (Windows-1251 texts).
  kordel::analysis::AnalysisOptions options() const;
  // The title and period of the report, e.g. "Анализ звонков за март 2024".
  QString reportTitle() const;
  QString reportPeriod() const;

  // Controls (names as in the window).
  QAction* DataFilesMenuItem = nullptr;
  QAction* DataFolderMenuItem = nullptr;
  QAction* TariffsMenuItem = nullptr;
  QAction* DirectoryMenuItem = nullptr;
  QAction* DatabaseMenuItem = nullptr;
  QAction* RunMenuItem = nullptr;
  QAction* CancelMenuItem = nullptr;
  QAction* ExportCsvMenuItem = nullptr;
  QAction* ExportXlsxMenuItem = nullptr;
  QAction* ExportAllMenuItem = nullptr;
  QAction* PdfReportMenuItem = nullptr;
  QAction* CloseMenuItem = nullptr;
  QLabel* SourceLabel = nullptr;
  QLabel* TariffsLabel = nullptr;
  QLabel* DirectoryLabel = nullptr;
  QLabel* DatabaseLabel = nullptr;
  QComboBox* PeriodCombo = nullptr;
  QDateEdit* FromDateEdit = nullptr;
  QDateEdit* ToDateEdit = nullptr;
  QComboBox* KeyCombo = nullptr;
  QLineEdit* ExtensionEdit = nullptr;
  QComboBox* DepartmentCombo = nullptr;
  QComboBox* DirectionCombo = nullptr;
  QLineEdit* SiteEdit = nullptr;  // the sites of the database; enabled with a database
  QLineEdit* TrunkEdit = nullptr;
  QLineEdit* PrefixEdit = nullptr;
  QSpinBox* MinDurationSpin = nullptr;
  QSpinBox* TopSpin = nullptr;
  QCheckBox* HideDigitsCheck = nullptr;
  QSpinBox* HideDigitsSpin = nullptr;
  QPushButton* RunButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QLabel* SummaryLabel = nullptr;
  QTabWidget* TablesTabs = nullptr;
  QTabWidget* ChartsTabs = nullptr;
  QChartView* HourChartView = nullptr;
  QChartView* DayChartView = nullptr;
  QChartView* TrunkLoadChartView = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QLabel* StatusLabel = nullptr;

 signals:
  // A job ended (done, failed or cancelled) and the window shows what it left.
  void jobFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildWindow();
  QWidget* buildFilters(QWidget* parent);
  void setBusy(bool busy);
  void pollProgress();
  void jobDone(std::shared_ptr<kordel::analysis::gui::JobOutput> output);
  void showResult();
  void fillMonths();
  void fillDepartments();
  // A save dialog for an export; nothing when cancelled, refused or not to be overwritten.
  std::optional<QString> exportPath(const char* caption, const char* suffix, const char* filter);
  void exportTables(const std::vector<const kordel::analysis::ResultTable*>& tables, bool xlsx);
  const kordel::analysis::ResultTable* table(kordel::analysis::TableKind kind) const;
  // "title: value" for each column of the summary of the result shown.
  QStringList summaryLines() const;
  // The title and the filters as the filters stand now.
  QString reportTitleNow() const;
  QString filtersText() const;
  std::vector<std::string> sitesWanted() const;
  // What a load reads: the files and the database with its sites, and (`withQuery`) the part of
  // the filters that goes into the database's query. Equal keys, equal loads.
  std::string loadKey(const kordel::analysis::AnalysisOptions& options, bool withQuery) const;

  QString startDirectory_;
  QStringList sources_;
  bool sourcesChanged_ = false;
  QString tariffsPath_, directoryPath_;
  std::optional<kordel::store::DatabaseChoice> database_;
  QString databaseText_, proposedDatabase_;
  QString databaseDescription_;  // the database chosen, as messages name it
  // The load keys of the store shown (with and without the query), and of the running job.
  std::string loadedKey_, loadedDataKey_, jobKey_, jobDataKey_;
  bool jobPeriodInQuery_ = false;         // the running job's database query has a period
  std::vector<std::string> loadedSites_;  // the sites of the store shown
  std::shared_ptr<const kordel::analysis::TariffPlan> tariffs_;
  std::shared_ptr<const kordel::analysis::Directory> directory_;
  std::shared_ptr<const kordel::analysis::CallStore> store_;
  kordel::analysis::LoadResult lastLoad_;
  kordel::analysis::SourceInfo source_;
  std::optional<kordel::analysis::WallTime> firstCall_, lastCall_;  // of the store
  std::unique_ptr<kordel::analysis::gui::AnalysisJob> job_;
  std::unique_ptr<kordel::analysis::AnalysisResult> result_;
  std::vector<kordel::analysis::ResultTable> tables_;
  // What the running job was started with, and what the result shown was made with.
  kordel::analysis::AnalysisOptions jobOptions_, resultOptions_;
  QString jobTitle_, jobFilters_;
  QString resultTitle_, resultPeriod_, resultFilters_;
  std::vector<kordel::analysis::gui::AnalysisTableModel*> models_;  // one per table kind
  QTimer* progressTimer_ = nullptr;
  QList<QWidget*> inputs_;  // locked while a job runs
};
