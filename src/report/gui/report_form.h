// Report window: TMainForm_rep, the report builder over saved data files.
//
// The window loads a data file into a ReportBook and shows its calls (StringGrid1), the traffic
// per subscriber line (ALGrid) and per trunk (SLGrid); the pop-up menus sort, select and save.
// All work is the book's; the window gathers what the user chose and shows the result. Every
// message box and file dialog goes through kordel::gui::dialogs().
#pragma once

#include <QDialog>
#include <QPoint>
#include <QString>
#include <string>
#include <vector>

#include "app/gui/dialogs.h"
#include "report/report_book.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTableView;
class QWidget;

namespace kordel::gui {
class ReportTableModel;
}

class TMainForm_rep : public QDialog {
  Q_OBJECT

 public:
  explicit TMainForm_rep(QWidget* parent = nullptr);
  ~TMainForm_rep() override;

  // The initial folder of the four file dialogs (OpenDialog1, SaveDialog1..3). The main window
  // sets it to the settings' startDirectory before every exec().
  void setStartDirectory(const QString& directory);

  // The book behind the grids (for the main window's tests and the command-line tool's peers).
  const kordel::report::ReportBook& book() const { return book_; }

  // Commands, public so that the menus, the main window and tests run the same code.
  void LoadClick();     // "Загрузить": choose a data file and load it
  // Loads the named data file as "Загрузить" does once it is chosen.
  void loadFile(const QString& path);
  void N1Click();       // "Выборка по абоненту": show the query panel
  void Button4Click();  // "Выполнять": run the selection, hide the panel
  void Button5Click();  // "Отмена": hide the panel
  void N2Click();       // save the call grid
  void N12Click();      // save the line grid
  void N13Click();      // save the trunk grid
  void N3Click();       // line sorts: hardware number
  void N4Click();       // programmed number
  void N6Click();       // outgoing traffic
  void N5Click();       // incoming traffic
  void N7Click();       // total traffic
  void N8Click();       // trunk sorts: trunk number
  void N10Click();      // outgoing traffic
  void N9Click();       // incoming traffic
  void N11Click();      // total traffic
  void AboutMenuItemClick();

 signals:
  // "О программе.": the main window shows its About window at the given top-left corner.
  void aboutRequested(const QPoint& topLeft);

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // The window's internal steps after a load.
  void LoadButtonClick();  // the call grid shows the parsed calls
  void Button2Click();     // the line and trunk tables were rebuilt: refill both grids
  void Button1Click();     // ALGrid from lineList
  void Button3Click();     // SLGrid from trunkList
  void FormCanResize();    // group heights and column widths

  void buildControls();
  void sortLines(kordel::report::LineSortKey key);
  void sortTrunks(kordel::report::TrunkSortKey key);
  void saveGrid(kordel::report::ReportKind kind, const kordel::gui::FileDialogRequest& dialog);
  QTableView* makeGrid(const char* name, QGroupBox* box, kordel::gui::ReportTableModel* model,
                       QMenu* menu);
  // For each column of a grid, the texts that are as long as any of its cells (Windows-1251),
  // found once when its rows change: the longest cell of each column of a model, and for the
  // call grid the longest numbers of the file and the widest dates and times of the formats.
  using ColumnTexts = std::vector<std::vector<std::string>>;
  static ColumnTexts longestCells(const kordel::gui::ReportTableModel& model);
  ColumnTexts longestCallCells() const;
  // Sets a grid's column widths from their proportional widths and what the texts need.
  static void fitColumns(QTableView* grid, std::vector<int> widths, const ColumnTexts& longest);

  kordel::report::ReportBook book_;
  std::string loadedFile_;  // the data file the book holds (Windows-1251); no report goes there
  ColumnTexts callLongest_, lineLongest_, trunkLongest_;
  int lastErrno = 0;

  kordel::gui::FileDialogRequest OpenDialog1;
  kordel::gui::FileDialogRequest SaveDialog1;
  kordel::gui::FileDialogRequest SaveDialog2;
  kordel::gui::FileDialogRequest SaveDialog3;

  QMenuBar* MainMenu1 = nullptr;
  QWidget* Panel1 = nullptr;
  QGroupBox* FileGroupBox = nullptr;
  QGroupBox* ALGroupBox = nullptr;
  QGroupBox* SLGroupBox = nullptr;
  QTableView* StringGrid1 = nullptr;
  QTableView* ALGrid = nullptr;
  QTableView* SLGrid = nullptr;
  kordel::gui::ReportTableModel* callModel_ = nullptr;
  kordel::gui::ReportTableModel* lineModel_ = nullptr;
  kordel::gui::ReportTableModel* trunkModel_ = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QMenu* PopupMenu2 = nullptr;
  QMenu* PopupMenu3 = nullptr;
  QFrame* ALQueryPanel = nullptr;
  QLineEdit* MaskEdit1 = nullptr;
  QRadioButton* RadioButton1 = nullptr;
  QRadioButton* RadioButton2 = nullptr;
  QLineEdit* FilterEdit = nullptr;
  QPushButton* Button4 = nullptr;
  QPushButton* Button5 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QLabel* Label2 = nullptr;
};
