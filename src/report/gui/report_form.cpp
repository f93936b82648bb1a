#include "report/gui/report_form.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
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
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "app/gui/desktop.h"
#include "app/gui/qt_text.h"
#include "files/file_access.h"
#include "files/regional_format.h"
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

using kordel::gui::kCaptionError;
using kordel::gui::u;

constexpr int kInitialWidth = 564;
constexpr int kInitialHeight = 570;
constexpr int kRowHeight = 18;

FileDialogRequest textFileDialog(bool saving) {
  FileDialogRequest request;
  request.nameFilters = {u("Текстовые файлы (*.txt)"), u("Все файлы (*)")};
  if (saving) request.defaultSuffix = QStringLiteral("txt");
  return request;
}

}  // namespace

TMainForm_rep::TMainForm_rep(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("MainForm_rep"));
  setWindowIcon(kordel::gui::programIcon());
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
  QMenu* fileMenu = MainMenu1->addMenu(u("Файл"));
  QAction* load = fileMenu->addAction(u("Загрузить"));
  load->setObjectName(QStringLiteral("Load"));
  connect(load, &QAction::triggered, this, &TMainForm_rep::LoadClick);
  QMenu* helpMenu = MainMenu1->addMenu(u("Помощь"));
  QAction* about = helpMenu->addAction(u("О программе."));
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
  ALGroupBox = new QGroupBox(u("АЛ"), Panel1);
  ALGroupBox->setObjectName(QStringLiteral("ALGroupBox"));
  SLGroupBox = new QGroupBox(u("СЛ"), Panel1);
  SLGroupBox->setObjectName(QStringLiteral("SLGroupBox"));

  callModel_ = new ReportTableModel(book_, ReportKind::Calls, this);
  lineModel_ = new ReportTableModel(book_, ReportKind::Lines, this);
  trunkModel_ = new ReportTableModel(book_, ReportKind::Trunks, this);

  // Pop-up menus, with their items in menu order.
  auto addItem = [this](QMenu* menu, const char* name, const char* caption,
                        void (TMainForm_rep::*handler)()) {
    QAction* action = menu->addAction(u(caption));
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
  RadioButton1 = new QRadioButton(u("Программный номер"), ALQueryPanel);
  RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
  RadioButton1->setChecked(true);
  RadioButton2 = new QRadioButton(u("Аппаратный номер"), ALQueryPanel);
  RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
  auto* label = new QLabel(u("Первые цифры номера:"), ALQueryPanel);
  label->setObjectName(QStringLiteral("Label1"));
  label->setToolTip(
      u("Будут выведены только те гор. номера, которые начинаются с указанных цифр."));
  FilterEdit = new QLineEdit(ALQueryPanel);
  FilterEdit->setObjectName(QStringLiteral("FilterEdit"));
  // Digits only; Backspace and Enter work as in any edit.
  FilterEdit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), FilterEdit));
  Button4 = new QPushButton(u("Выполнять"), ALQueryPanel);
  Button4->setObjectName(QStringLiteral("Button4"));
  Button5 = new QPushButton(u("Отмена"), ALQueryPanel);
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

  // The columns share each grid's width in fixed proportions; fitColumns widens those that
  // would cut their texts in the font in use.
  int w = StringGrid1->width();
  std::vector<int> calls = {w / 7 - 10, w / 7 - 10, w / 7, w / 7 - 18, w / 7 - 18, w / 7 - 18};
  int used = 0;
  for (const int width : calls) used += width;
  calls.push_back(w - used - 30);
  fitColumns(StringGrid1, calls, callLongest_);
  w = ALGrid->width();
  fitColumns(ALGrid, {w / 5 - 3, w / 5 - 3, w / 5 - 3, w / 5 - 5, w / 5 - 10}, lineLongest_);
  w = SLGrid->width();
  fitColumns(SLGrid, {w / 4 - 3, w / 4 - 3, w / 4 - 5, w / 4 - 13}, trunkLongest_);

  // The query panel stands over the call grid.
  ALQueryPanel->move(qMax(0, (width() - ALQueryPanel->width()) / 2), menuHeight + 30);
}

void TMainForm_rep::LoadClick() {
  const std::optional<QString> path = dialogs().openFile(this, OpenDialog1);
  if (!path) return;
  loadFile(*path);
}

void TMainForm_rep::loadFile(const QString& path) {
  const std::string name = toCp1251(path);
  const kordel::report::LoadResult result = book_.load(name);
  if (!result.ok()) {
    // The book kept the previous file, so the grids still show it and the caption gives its
    // count; with none loaded yet, the count of the empty grid.
    FileGroupBox->setTitle(fromCp1251(book_.fileCaption()) +
                           (book_.loaded() ? QString() : QStringLiteral("0")));
    dialogs().message(this, fromCp1251(result.message), u(kCaptionError));
    return;
  }
  loadedFile_ = name;
  FileGroupBox->setTitle(fromCp1251(book_.fileCaption()));
  LoadButtonClick();
}

void TMainForm_rep::LoadButtonClick() {
  callModel_->refresh();
  // Found over every call of the file: a selection shows some of them in the same widths.
  callLongest_ = longestCallCells();
  Button2Click();
  FormCanResize();
}

TMainForm_rep::ColumnTexts TMainForm_rep::longestCells(const ReportTableModel& model) {
  ColumnTexts longest(static_cast<std::size_t>(model.columnCount()), {std::string()});
  const int rows = model.rowCount();
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < model.columnCount(); ++c) {
      std::string text = model.cell(r, c);
      std::string& known = longest[static_cast<std::size_t>(c)].front();
      if (text.size() > known.size()) known = std::move(text);
    }
  }
  return longest;
}

TMainForm_rep::ColumnTexts TMainForm_rep::longestCallCells() const {
  // Dates and times take their length from the format alone: two-digit days, months, hours,
  // minutes and seconds, and either designator of a 12-hour format.
  const kordel::RegionalFormats& formats = kordel::regionalFormats();
  const std::string date = kordel::formatDate(formats.shortDate, 2000, 12, 28);
  std::vector<std::string> times;
  for (const int hour : {11, 23})
    times.push_back(kordel::formatTime(formats.longTime, hour, 59, 59));
  ColumnTexts longest = {{date}, times, times, {}, {}, {}, {}};
  // The numbers as the file has them: the longest of each kind, read without making the cells
  // of a large file.
  std::size_t index[4] = {0, 0, 0, 0};
  std::size_t length[4] = {0, 0, 0, 0};
  const auto& calls = book_.callList();
  for (std::size_t i = 0; i < calls.count(); ++i) {
    const kordel::report::ReportCall& call = calls.get(i);
    const std::size_t lengths[4] = {call.hwNumber.view().size(), call.prgNumber.view().size(),
                                    call.trunkText.view().size(), call.extNumber.view().size()};
    for (int c = 0; c < 4; ++c) {
      if (lengths[c] > length[c]) {
        length[c] = lengths[c];
        index[c] = i;
      }
    }
  }
  if (calls.count() > 0) {
    for (std::size_t c = 0; c < 4; ++c) {
      const kordel::report::ReportCall& call = calls.get(index[c]);
      const kordel::report::CallText* texts[4] = {&call.hwNumber, &call.prgNumber, &call.trunkText,
                                                  &call.extNumber};
      longest[3 + c].emplace_back(texts[c]->view());
    }
  }
  return longest;
}

void TMainForm_rep::fitColumns(QTableView* grid, std::vector<int> widths,
                               const ColumnTexts& longest) {
  // A cell's text stands inside a margin on each side and left of the grid line.
  const QFontMetrics metrics = grid->fontMetrics();
  const int textMargin =
      grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1;
  const int cellMargin = 2 * textMargin + (grid->showGrid() ? 1 : 0);
  // The texts are numbers, dates and times: measured with every digit as wide as the widest,
  // the longest text of a column is as wide as any of its texts.
  QChar widestDigit = QLatin1Char('0');
  for (char d = '1'; d <= '9'; ++d) {
    if (metrics.horizontalAdvance(QLatin1Char(d)) > metrics.horizontalAdvance(widestDigit)) {
      widestDigit = QLatin1Char(d);
    }
  }
  const std::size_t count = widths.size();
  std::vector<int> needs(count);
  for (std::size_t c = 0; c < count; ++c) {
    needs[c] = grid->horizontalHeader()->sectionSizeHint(static_cast<int>(c));
    if (c >= longest.size()) continue;
    for (const std::string& cell : longest[c]) {
      if (cell.empty()) continue;
      QString text = fromCp1251(cell);
      for (QChar& ch : text) {
        if (ch.isDigit()) ch = widestDigit;
      }
      needs[c] = std::max(needs[c], metrics.horizontalAdvance(text) + cellMargin);
    }
  }
  // A column too narrow for its texts gets what it needs: first from the room the widths leave
  // beyond the frame and the vertical scroll bar, then from the last column as far as that one
  // can give.
  const int inside = grid->width() - 2 * grid->frameWidth() -
                     grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, grid);
  const auto total = [&widths] {
    int sum = 0;
    for (const int width : widths) sum += width;
    return sum;
  };
  const int room = std::max(0, inside - total());
  int taken = 0;
  for (std::size_t c = 0; c + 1 < count; ++c) {
    if (widths[c] < needs[c]) {
      taken += needs[c] - widths[c];
      widths[c] = needs[c];
    }
  }
  taken = std::max(0, taken - room);
  widths[count - 1] = std::max(widths[count - 1] - taken, needs[count - 1]);
  // Still wider than the grid: the columns give up what they have beyond their texts, a pixel
  // each in turn; past that the grid scrolls sideways.
  int over = total() - inside;
  for (bool gave = true; over > 0 && gave;) {
    gave = false;
    for (std::size_t c = 0; c < count && over > 0; ++c) {
      if (widths[c] > needs[c]) {
        --widths[c];
        --over;
        gave = true;
      }
    }
  }
  for (std::size_t c = 0; c < count; ++c) grid->setColumnWidth(static_cast<int>(c), widths[c]);
}

void TMainForm_rep::Button2Click() {
  Button1Click();
  Button3Click();
}

void TMainForm_rep::Button1Click() {
  lineModel_->refresh();
  lineLongest_ = longestCells(*lineModel_);
}

void TMainForm_rep::Button3Click() {
  trunkModel_->refresh();
  trunkLongest_ = longestCells(*trunkModel_);
}

void TMainForm_rep::sortLines(LineSortKey key) {
  const kordel::report::SortResult result = book_.sortLines(key);
  if (!result.ok) {
    dialogs().message(this, fromCp1251(result.message), u(kCaptionError));
    return;
  }
  Button1Click();
}

void TMainForm_rep::sortTrunks(TrunkSortKey key) {
  const kordel::report::SortResult result = book_.sortTrunks(key);
  if (!result.ok) {
    dialogs().message(this, fromCp1251(result.message), u(kCaptionError));
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
                      u(kCaptionError));
    return;
  }
  if (QFileInfo::exists(*path)) {
    if (dialogs().question(this, u("Такой файл уже существует. Перезапишем?"),
                           u("Предупреждение!")) != MessageAnswer::Ok) {
      return;
    }
    // A file that cannot be deleted is left to the writer, which reports it if it cannot write.
    QFile::remove(*path);
  }
  const int code = kordel::report::saveLinesToFile(lastErrno, book_.reportLines(kind), name);
  if (code != kordel::report::kSaveOk) {
    // The message stands in the title bar, "Ошибка" in the box.
    dialogs().message(this, u("Ошибка"),
                      fromCp1251(kordel::report::saveErrorMessage(code, lastErrno)));
  }
}

void TMainForm_rep::N2Click() { saveGrid(ReportKind::Calls, SaveDialog1); }
void TMainForm_rep::N12Click() { saveGrid(ReportKind::Lines, SaveDialog2); }
void TMainForm_rep::N13Click() { saveGrid(ReportKind::Trunks, SaveDialog3); }

void TMainForm_rep::AboutMenuItemClick() { emit aboutRequested(QPoint(x() + 20, y() + 20)); }
