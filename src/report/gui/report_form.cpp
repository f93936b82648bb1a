#include "report/gui/report_form.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>

#include "app/gui/qt_text.h"
#include "files/file_access.h"
#include "report/gui/report_models.h"

using kordel::gui::dialogs;
using kordel::gui::FileDialogRequest;
using kordel::gui::fromCp1251;
using kordel::gui::MessageAnswer;
using kordel::gui::ReportTableModel;
using kordel::gui::toCp1251;
using kordel::report::LineSortKey;
using kordel::report::ReportKind;
using kordel::report::TrunkSortKey;

namespace {

QString tr8(const char* utf8) { return QString::fromUtf8(utf8); }

constexpr int kInitialWidth = 564;
constexpr int kInitialHeight = 570;
constexpr int kRowHeight = 18;

FileDialogRequest textFileDialog(bool saving) {
  FileDialogRequest request;
  request.nameFilters = {tr8("Текстовые файлы (*.txt)"), tr8("Все файлы (*)")};
  if (saving) request.defaultSuffix = QStringLiteral("txt");
  return request;
}

}  // namespace

TMainForm_rep::TMainForm_rep(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("MainForm_rep"));
  // FormCreate: the caption is the application title.
  setWindowTitle(QStringLiteral("Kordel 2.15"));
  resize(kInitialWidth, kInitialHeight);
  OpenDialog1 = textFileDialog(false);
  SaveDialog1 = textFileDialog(true);
  SaveDialog2 = textFileDialog(true);
  SaveDialog3 = textFileDialog(true);
  buildControls();
}

TMainForm_rep::~TMainForm_rep() = default;

void TMainForm_rep::setStartDirectory(const QString& directory) {
  OpenDialog1.directory = directory;
  SaveDialog1.directory = directory;
  SaveDialog2.directory = directory;
  SaveDialog3.directory = directory;
}

QTableView* TMainForm_rep::makeGrid(const char* name, QGroupBox* box, ReportTableModel* model,
                                    QMenu* menu) {
  auto* grid = new QTableView(box);
  grid->setObjectName(QString::fromLatin1(name));
  grid->setModel(model);
  grid->verticalHeader()->hide();  // no fixed column
  grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid->verticalHeader()->setMinimumSectionSize(kRowHeight);
  grid->verticalHeader()->setDefaultSectionSize(kRowHeight);
  grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid->setWordWrap(false);
  grid->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(grid, &QWidget::customContextMenuRequested, this,
          [grid, menu](const QPoint& pos) { menu->popup(grid->viewport()->mapToGlobal(pos)); });
  return grid;
}

void TMainForm_rep::buildControls() {
  // Main menu.
  MainMenu1 = new QMenuBar(this);
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  QMenu* fileMenu = MainMenu1->addMenu(tr8("Файл"));
  QAction* load = fileMenu->addAction(tr8("Загрузить"));
  load->setObjectName(QStringLiteral("Load"));
  connect(load, &QAction::triggered, this, &TMainForm_rep::LoadClick);
  QMenu* helpMenu = MainMenu1->addMenu(tr8("Помощь"));
  QAction* about = helpMenu->addAction(tr8("О программе."));
  about->setObjectName(QStringLiteral("AboutMenuItem"));
  connect(about, &QAction::triggered, this, &TMainForm_rep::AboutMenuItemClick);

  // An empty status bar along the bottom and a label that never shows text.
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  Label2 = new QLabel(this);
  Label2->setObjectName(QStringLiteral("Label2"));

  // The three group boxes, stacked from the top; FormCanResize places them.
  Panel1 = new QWidget(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  FileGroupBox = new QGroupBox(fromCp1251(book_.fileCaption()), Panel1);
  FileGroupBox->setObjectName(QStringLiteral("FileGroupBox"));
  ALGroupBox = new QGroupBox(tr8("АЛ"), Panel1);
  ALGroupBox->setObjectName(QStringLiteral("ALGroupBox"));
  SLGroupBox = new QGroupBox(tr8("СЛ"), Panel1);
  SLGroupBox->setObjectName(QStringLiteral("SLGroupBox"));

  callModel_ = new ReportTableModel(book_, ReportKind::Calls, this);
  lineModel_ = new ReportTableModel(book_, ReportKind::Lines, this);
  trunkModel_ = new ReportTableModel(book_, ReportKind::Trunks, this);

  // Pop-up menus, with their items in menu order.
  auto addItem = [this](QMenu* menu, const char* name, const char* caption,
                        void (TMainForm_rep::*handler)()) {
    QAction* action = menu->addAction(tr8(caption));
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, handler);
  };
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  addItem(PopupMenu1, "N1", "Выборка по абоненту", &TMainForm_rep::N1Click);
  addItem(PopupMenu1, "N2", "Сохранить в файле", &TMainForm_rep::N2Click);
  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
  addItem(PopupMenu2, "N3", "Сортировка по апп. номеру", &TMainForm_rep::N3Click);
  addItem(PopupMenu2, "N4", "Сортировка по программному номеру", &TMainForm_rep::N4Click);
  addItem(PopupMenu2, "N6", "Сортировка по исходящему трафику", &TMainForm_rep::N6Click);
  addItem(PopupMenu2, "N5", "Сортировка по вх. трафику", &TMainForm_rep::N5Click);
  addItem(PopupMenu2, "N7", "Сортировка по общему трафику", &TMainForm_rep::N7Click);
  addItem(PopupMenu2, "N12", "Сохранить в файле", &TMainForm_rep::N12Click);
  PopupMenu3 = new QMenu(this);
  PopupMenu3->setObjectName(QStringLiteral("PopupMenu3"));
  addItem(PopupMenu3, "N8", "Сортировка по номеру СЛ", &TMainForm_rep::N8Click);
  addItem(PopupMenu3, "N10", "Сортировка по исх. трафику ", &TMainForm_rep::N10Click);
  addItem(PopupMenu3, "N9", "Сортировка по вх. трафику", &TMainForm_rep::N9Click);
  addItem(PopupMenu3, "N11", "Сортировка по общему трафику", &TMainForm_rep::N11Click);
  addItem(PopupMenu3, "N13", "Сохранить в файл", &TMainForm_rep::N13Click);

  StringGrid1 = makeGrid("StringGrid1", FileGroupBox, callModel_, PopupMenu1);
  ALGrid = makeGrid("ALGrid", ALGroupBox, lineModel_, PopupMenu2);
  SLGrid = makeGrid("SLGrid", SLGroupBox, trunkModel_, PopupMenu3);

  // The subscriber query, hidden until "Выборка по абоненту".
  ALQueryPanel = new QFrame(this);
  ALQueryPanel->setObjectName(QStringLiteral("ALQueryPanel"));
  ALQueryPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  ALQueryPanel->setLineWidth(3);
  ALQueryPanel->setAutoFillBackground(true);
  auto* query = new QGridLayout(ALQueryPanel);
  MaskEdit1 = new QLineEdit(ALQueryPanel);
  MaskEdit1->setObjectName(QStringLiteral("MaskEdit1"));
  MaskEdit1->setInputMask(QStringLiteral("0000;_"));  // up to four digits
  RadioButton1 = new QRadioButton(tr8("Программный номер"), ALQueryPanel);
  RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
  RadioButton1->setChecked(true);
  RadioButton2 = new QRadioButton(tr8("Аппаратный номер"), ALQueryPanel);
  RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
  auto* label = new QLabel(tr8("Первые цифры номера:"), ALQueryPanel);
  label->setObjectName(QStringLiteral("Label1"));
  label->setToolTip(
      tr8("Будут выведены только те гор. номера, которые начинаются с указанных цифр."));
  FilterEdit = new QLineEdit(ALQueryPanel);
  FilterEdit->setObjectName(QStringLiteral("FilterEdit"));
  // Digits only; Backspace and Enter work as in any edit.
  FilterEdit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), FilterEdit));
  Button4 = new QPushButton(tr8("Выполнять"), ALQueryPanel);
  Button4->setObjectName(QStringLiteral("Button4"));
  Button5 = new QPushButton(tr8("Отмена"), ALQueryPanel);
  Button5->setObjectName(QStringLiteral("Button5"));
  // Enter runs the selection once, through the edits; no button of the dialog is a default.
  Button4->setAutoDefault(false);
  Button5->setAutoDefault(false);
  query->addWidget(MaskEdit1, 0, 0);
  query->addWidget(RadioButton1, 0, 1);
  query->addWidget(RadioButton2, 1, 1);
  query->addWidget(label, 2, 0, 1, 2);
  query->addWidget(FilterEdit, 3, 0, 1, 2);
  query->addWidget(Button4, 4, 0);
  query->addWidget(Button5, 4, 1);
  ALQueryPanel->adjustSize();
  ALQueryPanel->hide();
  connect(MaskEdit1, &QLineEdit::returnPressed, this, &TMainForm_rep::Button4Click);
  connect(FilterEdit, &QLineEdit::returnPressed, this, &TMainForm_rep::Button4Click);
  connect(Button4, &QPushButton::clicked, this, &TMainForm_rep::Button4Click);
  connect(Button5, &QPushButton::clicked, this, &TMainForm_rep::Button5Click);
}

void TMainForm_rep::keyPressEvent(QKeyEvent* event) {
  // Escape cancels the subscriber query when it is open and never closes the whole window
  // (the loaded file and its tables would be out of sight at one key).
  if (event->key() == Qt::Key_Escape) {
    if (ALQueryPanel->isVisible()) Button5Click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TMainForm_rep::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  // The loaded file stays with the window from one showing to the next, together with the
  // grids that show it, so sorting and selecting after a reopening work on what is shown.
  // FormShow: a small screen gets the whole work area, otherwise the window stands at 30, 20.
  const QScreen* screen = this->screen();
  if (screen != nullptr && screen->geometry().width() < 1024) {
    setGeometry(screen->availableGeometry());
  } else {
    move(30, 20);
  }
  FormCanResize();
}

void TMainForm_rep::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  FormCanResize();
}

void TMainForm_rep::FormCanResize() {
  const int menuHeight = MainMenu1->sizeHint().height();
  MainMenu1->setGeometry(0, 0, width(), menuHeight);
  const int statusHeight = StatusBar1->sizeHint().height();
  StatusBar1->setGeometry(0, height() - statusHeight, width(), statusHeight);
  Label2->setGeometry(0, menuHeight, 0, 0);
  Panel1->setGeometry(0, menuHeight, width(), height() - menuHeight - statusHeight);
  const int groupHeight = Panel1->height() / 3 - 1;
  int top = 0;
  for (QGroupBox* box : {FileGroupBox, ALGroupBox, SLGroupBox}) {
    box->setGeometry(0, top, Panel1->width(), groupHeight);
    top += groupHeight;
  }
  StringGrid1->setGeometry(FileGroupBox->contentsRect());
  ALGrid->setGeometry(ALGroupBox->contentsRect());
  SLGrid->setGeometry(SLGroupBox->contentsRect());

  int w = StringGrid1->width();
  const int calls[6] = {w / 7 - 10, w / 7 - 10, w / 7, w / 7 - 18, w / 7 - 18, w / 7 - 18};
  int used = 0;
  for (int c = 0; c < 6; ++c) {
    StringGrid1->setColumnWidth(c, calls[c]);
    used += calls[c];
  }
  StringGrid1->setColumnWidth(6, w - used - 30);
  w = ALGrid->width();
  const int lines[5] = {w / 5 - 3, w / 5 - 3, w / 5 - 3, w / 5 - 5, w / 5 - 10};
  for (int c = 0; c < 5; ++c) ALGrid->setColumnWidth(c, lines[c]);
  w = SLGrid->width();
  const int trunks[4] = {w / 4 - 3, w / 4 - 3, w / 4 - 5, w / 4 - 13};
  for (int c = 0; c < 4; ++c) SLGrid->setColumnWidth(c, trunks[c]);

  // The query panel stands over the call grid.
  ALQueryPanel->move(qMax(0, (width() - ALQueryPanel->width()) / 2), menuHeight + 30);
}

void TMainForm_rep::LoadClick() {
  const std::optional<QString> path = dialogs().openFile(this, OpenDialog1);
  if (!path) return;
  const std::string name = toCp1251(*path);
  const kordel::report::LoadResult result = book_.load(name);
  if (!result.ok()) {
    // The book kept the previous file, so the grids and the caption still describe it.
    dialogs().message(this, fromCp1251(result.message), tr8("Ошибка!"));
    return;
  }
  loadedFile_ = name;
  FileGroupBox->setTitle(fromCp1251(book_.fileCaption()));
  LoadButtonClick();
}

void TMainForm_rep::LoadButtonClick() {
  callModel_->refresh();
  Button2Click();
}

void TMainForm_rep::Button2Click() {
  Button1Click();
  Button3Click();
}

void TMainForm_rep::Button1Click() { lineModel_->refresh(); }
void TMainForm_rep::Button3Click() { trunkModel_->refresh(); }

void TMainForm_rep::sortLines(LineSortKey key) {
  const kordel::report::SortResult result = book_.sortLines(key);
  if (!result.ok) {
    dialogs().message(this, fromCp1251(result.message), tr8("Ошибка!"));
    return;
  }
  Button1Click();
}

void TMainForm_rep::sortTrunks(TrunkSortKey key) {
  const kordel::report::SortResult result = book_.sortTrunks(key);
  if (!result.ok) {
    dialogs().message(this, fromCp1251(result.message), tr8("Ошибка!"));
    return;
  }
  Button3Click();
}

void TMainForm_rep::N3Click() { sortLines(LineSortKey::Hardware); }
void TMainForm_rep::N4Click() { sortLines(LineSortKey::Programmed); }
void TMainForm_rep::N6Click() { sortLines(LineSortKey::Outgoing); }
void TMainForm_rep::N5Click() { sortLines(LineSortKey::Incoming); }
void TMainForm_rep::N7Click() { sortLines(LineSortKey::Total); }
void TMainForm_rep::N8Click() { sortTrunks(TrunkSortKey::Trunk); }
void TMainForm_rep::N10Click() { sortTrunks(TrunkSortKey::Outgoing); }
void TMainForm_rep::N9Click() { sortTrunks(TrunkSortKey::Incoming); }
void TMainForm_rep::N11Click() { sortTrunks(TrunkSortKey::Total); }

void TMainForm_rep::N1Click() {
  ALQueryPanel->raise();
  ALQueryPanel->show();
  MaskEdit1->setFocus();
}

void TMainForm_rep::Button4Click() {
  book_.select(toCp1251(MaskEdit1->text()),
               RadioButton1->isChecked() ? kordel::report::SelectBy::Programmed
                                         : kordel::report::SelectBy::Hardware,
               toCp1251(FilterEdit->text()));
  callModel_->refresh();
  ALQueryPanel->hide();
}

void TMainForm_rep::Button5Click() { ALQueryPanel->hide(); }

void TMainForm_rep::saveGrid(ReportKind kind, const FileDialogRequest& dialog) {
  const std::optional<QString> path = dialogs().saveFile(this, dialog);
  if (!path) return;
  const std::string name = toCp1251(*path);
  if (book_.loaded() && kordel::sameFile(name, loadedFile_)) {
    // Saving over the loaded data file (by any name: a link is the same file) would replace
    // the calls with the report; it is refused before the overwrite question, which deletes.
    dialogs().message(this, fromCp1251(kordel::report::reportOverDataFileMessage(name)),
                      tr8("Ошибка!"));
    return;
  }
  if (QFileInfo::exists(*path)) {
    if (dialogs().question(this, tr8("Такой файл уже существует. Перезапишем?"),
                           tr8("Предупреждение!")) != MessageAnswer::Ok) {
      return;
    }
    // A file that cannot be deleted is left to the writer, which reports it if it cannot write.
    QFile::remove(*path);
  }
  const int code = kordel::report::saveLinesToFile(lastErrno, book_.reportLines(kind), name);
  if (code != kordel::report::kSaveOk) {
    // The message stands in the title bar, "Ошибка" in the box.
    dialogs().message(this, tr8("Ошибка"),
                      fromCp1251(kordel::report::saveErrorMessage(code, lastErrno)));
  }
}

void TMainForm_rep::N2Click() { saveGrid(ReportKind::Calls, SaveDialog1); }
void TMainForm_rep::N12Click() { saveGrid(ReportKind::Lines, SaveDialog2); }
void TMainForm_rep::N13Click() { saveGrid(ReportKind::Trunks, SaveDialog3); }

void TMainForm_rep::AboutMenuItemClick() { emit aboutRequested(QPoint(x() + 20, y() + 20)); }
