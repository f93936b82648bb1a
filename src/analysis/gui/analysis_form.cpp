#include "analysis/gui/analysis_form.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QtCharts/QChartView>
#include <algorithm>
#include <set>

#include "analysis/calendar.h"
#include "analysis/export.h"
#include "analysis/gui/analysis_charts.h"
#include "analysis/gui/analysis_models.h"
#include "analysis/gui/analysis_pdf.h"
#include "app/gui/dialogs.h"
#include "app/gui/qt_text.h"
#include "files/file_access.h"
#include "report/report_book.h"

using kordel::analysis::AnalysisOptions;
using kordel::analysis::AnalysisResult;
using kordel::analysis::ResultTable;
using kordel::analysis::TableKind;
using kordel::analysis::WallTime;
using kordel::analysis::gui::AnalysisJob;
using kordel::analysis::gui::AnalysisTableModel;
using kordel::analysis::gui::JobInput;
using kordel::analysis::gui::JobOutput;
using kordel::analysis::gui::JobPhase;
using kordel::gui::dialogs;
using kordel::gui::FileDialogRequest;
using kordel::gui::fromCp1251;
using kordel::gui::MessageAnswer;
using kordel::gui::toCp1251;

namespace {

using kordel::gui::u;

using kordel::gui::kCaptionAttention;
using kordel::gui::kCaptionError;
using kordel::gui::kCaptionWarning;

const char* const kMonths[12] = {"январь", "февраль", "март",     "апрель",  "май",    "июнь",
                                 "июль",   "август",  "сентябрь", "октябрь", "ноябрь", "декабрь"};

// PeriodCombo: every call, dates of one's own, then the months of the data.
constexpr int kPeriodAll = 0;
constexpr int kPeriodDates = 1;

QString monthName(int year, int month, bool capital) {
  QString name = u(kMonths[month - 1]);
  if (capital) name[0] = name[0].toUpper();
  return name + QLatin1Char(' ') + QString::number(year);
}

QDate dateOf(WallTime time) {
  const kordel::analysis::CivilTime t = kordel::analysis::civilTime(time);
  return QDate(t.year, t.month, t.day);
}

WallTime midnight(const QDate& date) {
  return kordel::analysis::wallTime(date.year(), date.month(), date.day(), 0, 0, 0);
}

QString dateText(const QDate& date) { return date.toString(QStringLiteral("dd.MM.yyyy")); }

// Extensions and trunks are typed as lists: "201, 202 203".
std::vector<std::string> listOf(const QString& text) {
  std::vector<std::string> out;
  for (const QString& item :
       text.split(QRegularExpression(QStringLiteral("[,;\\s]+")), Qt::SkipEmptyParts)) {
    out.push_back(toCp1251(item));
  }
  return out;
}

QLabel* fieldLabel(const char* text, QWidget* parent) { return new QLabel(u(text), parent); }

}  // namespace

const std::vector<TableKind>& TAnalysisForm::tableKinds() {
  static const std::vector<TableKind> kinds = {
      TableKind::Summary,        TableKind::Extensions, TableKind::Departments,
      TableKind::TopDepartments, TableKind::Directions, TableKind::Trunks,
      TableKind::Longest,        TableKind::Costliest,  TableKind::Numbers,
      TableKind::Hours,          TableKind::Days,       TableKind::TrunkLoad};
  return kinds;
}

TAnalysisForm::TAnalysisForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("AnalysisForm"));
  setWindowTitle(u("Анализ звонков и стоимость - Kordel 2.15"));
  buildWindow();
  resize(1100, 760);
  setBusy(false);
}

TAnalysisForm::~TAnalysisForm() {
  // The job's end is posted to this window; waiting here, before the window's members go,
  // leaves it nothing to touch.
  job_.reset();
}

void TAnalysisForm::setStartDirectory(const QString& directory) { startDirectory_ = directory; }

void TAnalysisForm::proposeDataFile(const QString& path) {
  if (sources_.isEmpty() && !path.isEmpty() && QFileInfo(path).isFile()) setSources({path});
}

void TAnalysisForm::proposeDatabase(const QString& value) { proposedDatabase_ = value; }

bool TAnalysisForm::setDatabase(const QString& value) {
  const QString typed = value.trimmed();
  kordel::store::DatabaseChoice choice;
  if (!typed.isEmpty()) {
    const kordel::store::Status parsed = kordel::store::parseDatabaseValue(toCp1251(typed), choice);
    if (!parsed.ok()) {
      dialogs().message(this, fromCp1251(parsed.message()), u(kCaptionError));
      return false;
    }
  }
  if (kordel::store::sqliteFileMissing(choice)) {
    // The analysis only reads: it makes no database file.
    dialogs().message(this, u("Нет файла базы данных %1.").arg(fromCp1251(choice.target)),
                      u(kCaptionError));
    return false;
  }
  if (choice.kind == kordel::store::DatabaseChoice::Kind::kOff) {
    database_.reset();
    databaseText_.clear();
    databaseDescription_.clear();
    DatabaseLabel->setText(u("без базы данных"));
  } else {
    database_ = choice;
    databaseText_ = typed;
    databaseDescription_ = fromCp1251(kordel::store::makeDatabase(choice)->describe());
    DatabaseLabel->setText(databaseDescription_);
  }
  DatabaseLabel->setToolTip(databaseDescription_);
  SiteEdit->setEnabled(database_.has_value());
  sourcesChanged_ = true;
  return true;
}

void TAnalysisForm::setSources(const QStringList& paths) {
  sources_ = paths;
  sourcesChanged_ = true;
  QString text;
  if (paths.size() == 1) {
    text = QFileInfo(paths.front()).isDir() ? u("Папка: ") + paths.front() : paths.front();
  } else {
    QStringList names;
    for (const QString& p : paths) names << QFileInfo(p).fileName();
    text = u("Файлов: %1 (%2)").arg(paths.size()).arg(names.join(QStringLiteral(", ")));
  }
  SourceLabel->setText(text);
  SourceLabel->setToolTip(paths.join(QLatin1Char('\n')));
}

bool TAnalysisForm::setTariffFile(const QString& path) {
  auto plan = std::make_shared<kordel::analysis::TariffPlan>();
  const kordel::analysis::Status loaded = plan->load(toCp1251(path));
  if (!loaded.ok()) {
    // The plan loaded before stays in use.
    dialogs().message(this, fromCp1251(loaded.message()), u(kCaptionError));
    return false;
  }
  tariffs_ = std::move(plan);
  tariffsPath_ = path;
  TariffsLabel->setText(u("%1 (тарифов: %2)").arg(path).arg(tariffs_->rows().size()));
  return true;
}

bool TAnalysisForm::setDirectoryFile(const QString& path) {
  auto directory = std::make_shared<kordel::analysis::Directory>();
  const kordel::analysis::Status loaded = directory->load(toCp1251(path));
  if (!loaded.ok()) {
    dialogs().message(this, fromCp1251(loaded.message()), u(kCaptionError));
    return false;
  }
  directory_ = std::move(directory);
  directoryPath_ = path;
  DirectoryLabel->setText(u("%1 (номеров: %2)").arg(path).arg(directory_->people().size()));
  fillDepartments();
  return true;
}

// --- building the window -------------------------------------------------------------------

void TAnalysisForm::buildWindow() {
  QMenu* file = menuBar()->addMenu(u("Файл"));
  auto item = [this, file](const char* name, const char* caption,
                           void (TAnalysisForm::*handler)()) {
    QAction* action = file->addAction(u(caption));
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, handler);
    return action;
  };
  DataFilesMenuItem = item("DataFilesMenuItem", "Файлы данных...", &TAnalysisForm::DataFilesClick);
  DataFolderMenuItem =
      item("DataFolderMenuItem", "Папка с файлами данных...", &TAnalysisForm::DataFolderClick);
  TariffsMenuItem = item("TariffsMenuItem", "Тарифы...", &TAnalysisForm::TariffsClick);
  DirectoryMenuItem = item("DirectoryMenuItem", "Справочник...", &TAnalysisForm::DirectoryClick);
  DatabaseMenuItem =
      item("DatabaseMenuItem", "База данных звонков...", &TAnalysisForm::DatabaseClick);
  file->addSeparator();
  RunMenuItem = item("RunMenuItem", "Рассчитать", &TAnalysisForm::RunClick);
  RunMenuItem->setShortcut(QKeySequence(Qt::Key_F9));
  CancelMenuItem = item("CancelMenuItem", "Прервать", &TAnalysisForm::CancelClick);
  file->addSeparator();
  ExportCsvMenuItem =
      item("ExportCsvMenuItem", "Сохранить таблицу в CSV...", &TAnalysisForm::ExportCsvClick);
  ExportXlsxMenuItem =
      item("ExportXlsxMenuItem", "Сохранить таблицу в XLSX...", &TAnalysisForm::ExportXlsxClick);
  ExportAllMenuItem =
      item("ExportAllMenuItem", "Сохранить все таблицы в XLSX...", &TAnalysisForm::ExportAllClick);
  PdfReportMenuItem = item("PdfReportMenuItem", "Отчет в PDF...", &TAnalysisForm::PdfReportClick);
  file->addSeparator();
  CloseMenuItem = file->addAction(u("Закрыть"));
  CloseMenuItem->setObjectName(QStringLiteral("CloseMenuItem"));
  connect(CloseMenuItem, &QAction::triggered, this, &QWidget::close);

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(6, 6, 6, 6);

  // Sources on the left, filters on the right.
  auto* top = new QHBoxLayout;
  auto* sourceBox = new QGroupBox(u("Данные"), central);
  sourceBox->setObjectName(QStringLiteral("SourceGroupBox"));
  auto* sourceGrid = new QGridLayout(sourceBox);
  auto button = [this](const char* name, const char* caption, QWidget* parent) {
    auto* b = new QPushButton(u(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    inputs_ << b;
    return b;
  };
  auto label = [](const char* name, const char* text, QWidget* parent) {
    auto* l = new QLabel(u(text), parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setWordWrap(true);
    l->setMinimumWidth(220);
    return l;
  };
  QPushButton* filesButton = button("DataFilesButton", "Файлы...", sourceBox);
  QPushButton* folderButton = button("DataFolderButton", "Папка...", sourceBox);
  QPushButton* tariffsButton = button("TariffsButton", "Тарифы...", sourceBox);
  QPushButton* directoryButton = button("DirectoryButton", "Справочник...", sourceBox);
  QPushButton* databaseButton = button("DatabaseButton", "База данных...", sourceBox);
  SourceLabel = label("SourceLabel", "файлы данных не выбраны", sourceBox);
  TariffsLabel = label("TariffsLabel", "без тарифов: стоимость 0", sourceBox);
  DirectoryLabel = label("DirectoryLabel", "без справочника", sourceBox);
  DatabaseLabel = label("DatabaseLabel", "без базы данных", sourceBox);
  auto* sourceButtons = new QHBoxLayout;
  sourceButtons->addWidget(filesButton);
  sourceButtons->addWidget(folderButton);
  sourceGrid->addLayout(sourceButtons, 0, 0);
  sourceGrid->addWidget(SourceLabel, 0, 1);
  sourceGrid->addWidget(tariffsButton, 1, 0);
  sourceGrid->addWidget(TariffsLabel, 1, 1);
  sourceGrid->addWidget(directoryButton, 2, 0);
  sourceGrid->addWidget(DirectoryLabel, 2, 1);
  sourceGrid->addWidget(databaseButton, 3, 0);
  sourceGrid->addWidget(DatabaseLabel, 3, 1);
  sourceGrid->setColumnStretch(1, 1);
  sourceGrid->setRowStretch(4, 1);
  connect(filesButton, &QPushButton::clicked, this, &TAnalysisForm::DataFilesClick);
  connect(folderButton, &QPushButton::clicked, this, &TAnalysisForm::DataFolderClick);
  connect(tariffsButton, &QPushButton::clicked, this, &TAnalysisForm::TariffsClick);
  connect(directoryButton, &QPushButton::clicked, this, &TAnalysisForm::DirectoryClick);
  connect(databaseButton, &QPushButton::clicked, this, &TAnalysisForm::DatabaseClick);
  top->addWidget(sourceBox, 2);
  top->addWidget(buildFilters(central), 3);
  column->addLayout(top);

  // Commands and the summary.
  auto* commands = new QHBoxLayout;
  RunButton = button("RunButton", "Рассчитать", central);
  CancelButton = new QPushButton(u("Прервать"), central);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setAutoDefault(false);
  connect(RunButton, &QPushButton::clicked, this, &TAnalysisForm::RunClick);
  connect(CancelButton, &QPushButton::clicked, this, &TAnalysisForm::CancelClick);
  commands->addWidget(RunButton);
  commands->addWidget(CancelButton);
  commands->addStretch(1);
  QPushButton* csv = button("ExportCsvButton", "CSV...", central);
  QPushButton* xlsx = button("ExportXlsxButton", "XLSX...", central);
  QPushButton* pdf = button("PdfReportButton", "Отчет PDF...", central);
  csv->setToolTip(u("Сохранить таблицу открытой вкладки в CSV"));
  xlsx->setToolTip(u("Сохранить таблицу открытой вкладки в XLSX"));
  pdf->setToolTip(u("Отчет для печати: итоги, графики и таблицы"));
  connect(csv, &QPushButton::clicked, this, &TAnalysisForm::ExportCsvClick);
  connect(xlsx, &QPushButton::clicked, this, &TAnalysisForm::ExportXlsxClick);
  connect(pdf, &QPushButton::clicked, this, &TAnalysisForm::PdfReportClick);
  commands->addWidget(csv);
  commands->addWidget(xlsx);
  commands->addWidget(pdf);
  column->addLayout(commands);
  SummaryLabel = new QLabel(central);
  SummaryLabel->setObjectName(QStringLiteral("SummaryLabel"));
  SummaryLabel->setWordWrap(true);
  SummaryLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  column->addWidget(SummaryLabel);

  // Tables above, charts below.
  auto* split = new QSplitter(Qt::Vertical, central);
  TablesTabs = new QTabWidget(split);
  TablesTabs->setObjectName(QStringLiteral("TablesTabs"));
  const AnalysisResult empty;
  for (TableKind kind : tableKinds()) {
    if (kind == TableKind::Summary) {
      models_.push_back(nullptr);
      continue;
    }
    auto* model = new AnalysisTableModel(this);
    auto* sorted = new QSortFilterProxyModel(this);
    sorted->setSourceModel(model);
    sorted->setSortRole(AnalysisTableModel::kSortRole);
    auto* view = new QTableView(TablesTabs);
    view->setObjectName(QString::fromLatin1(kordel::analysis::tableKey(kind)) +
                        QStringLiteral("Grid"));
    view->setModel(sorted);
    view->setWordWrap(false);
    view->verticalHeader()->setDefaultSectionSize(20);
    view->verticalHeader()->hide();
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The engine's order (longest first, dearest first, ...) until a header is clicked.
    view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    view->setSortingEnabled(true);
    TablesTabs->addTab(view, fromCp1251(kordel::analysis::makeTable(kind, empty, {}).title));
    models_.push_back(model);
  }
  ChartsTabs = new QTabWidget(split);
  ChartsTabs->setObjectName(QStringLiteral("ChartsTabs"));
  auto chartView = [this](const char* name, const char* title, QChart* chart) {
    auto* view = new QChartView(chart, ChartsTabs);
    view->setObjectName(QString::fromLatin1(name));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumHeight(220);
    ChartsTabs->addTab(view, u(title));
    return view;
  };
  HourChartView =
      chartView("HourChartView", "По часам суток", kordel::analysis::gui::makeHourChart(empty));
  DayChartView = chartView("DayChartView", "По дням", kordel::analysis::gui::makeDayChart(empty));
  TrunkLoadChartView = chartView("TrunkLoadChartView", "Нагрузка СЛ",
                                 kordel::analysis::gui::makeTrunkLoadChart(empty));
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 1);
  column->addWidget(split, 1);
  setCentralWidget(central);

  StatusLabel = new QLabel(this);
  StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setMaximumWidth(260);
  statusBar()->addWidget(StatusLabel, 1);
  statusBar()->addPermanentWidget(ProgressBar1);
  progressTimer_ = new QTimer(this);
  progressTimer_->setInterval(100);
  connect(progressTimer_, &QTimer::timeout, this, &TAnalysisForm::pollProgress);
}

QWidget* TAnalysisForm::buildFilters(QWidget* parent) {
  auto* box = new QGroupBox(u("Отбор"), parent);
  box->setObjectName(QStringLiteral("FilterGroupBox"));
  inputs_ << box;
  auto* grid = new QGridLayout(box);

  PeriodCombo = new QComboBox(box);
  PeriodCombo->setObjectName(QStringLiteral("PeriodCombo"));
  PeriodCombo->addItem(u("Все звонки"));
  PeriodCombo->addItem(u("С даты по дату"));
  auto dateEdit = [box](const char* name) {
    auto* edit = new QDateEdit(QDate::currentDate(), box);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    edit->setCalendarPopup(true);
    edit->setEnabled(false);
    return edit;
  };
  FromDateEdit = dateEdit("FromDateEdit");
  ToDateEdit = dateEdit("ToDateEdit");
  connect(PeriodCombo, &QComboBox::currentIndexChanged, this, &TAnalysisForm::PeriodComboChange);
  auto* period = new QHBoxLayout;
  period->addWidget(PeriodCombo, 1);
  period->addWidget(fieldLabel("с", box));
  period->addWidget(FromDateEdit);
  period->addWidget(fieldLabel("по", box));
  period->addWidget(ToDateEdit);
  grid->addWidget(fieldLabel("Период:", box), 0, 0);
  grid->addLayout(period, 0, 1, 1, 3);

  ExtensionEdit = new QLineEdit(box);
  ExtensionEdit->setObjectName(QStringLiteral("ExtensionEdit"));
  ExtensionEdit->setPlaceholderText(u("все; или 201, 202"));
  KeyCombo = new QComboBox(box);
  KeyCombo->setObjectName(QStringLiteral("KeyCombo"));
  KeyCombo->addItems({u("программному номеру"), u("аппаратному номеру")});
  grid->addWidget(fieldLabel("Абоненты:", box), 1, 0);
  grid->addWidget(ExtensionEdit, 1, 1);
  grid->addWidget(fieldLabel("Абонент по:", box), 1, 2);
  grid->addWidget(KeyCombo, 1, 3);

  DepartmentCombo = new QComboBox(box);
  DepartmentCombo->setObjectName(QStringLiteral("DepartmentCombo"));
  DepartmentCombo->setEditable(true);
  DepartmentCombo->setInsertPolicy(QComboBox::NoInsert);
  DepartmentCombo->lineEdit()->setPlaceholderText(u("все"));
  DirectionCombo = new QComboBox(box);
  DirectionCombo->setObjectName(QStringLiteral("DirectionCombo"));
  DirectionCombo->addItems({u("все"), u("входящие"), u("исходящие")});
  grid->addWidget(fieldLabel("Отдел:", box), 2, 0);
  grid->addWidget(DepartmentCombo, 2, 1);
  grid->addWidget(fieldLabel("Звонки:", box), 2, 2);
  grid->addWidget(DirectionCombo, 2, 3);

  TrunkEdit = new QLineEdit(box);
  TrunkEdit->setObjectName(QStringLiteral("TrunkEdit"));
  TrunkEdit->setPlaceholderText(u("все; или 1, 7"));
  PrefixEdit = new QLineEdit(box);
  PrefixEdit->setObjectName(QStringLiteral("PrefixEdit"));
  PrefixEdit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), PrefixEdit));
  PrefixEdit->setPlaceholderText(u("любой"));
  grid->addWidget(fieldLabel("СЛ:", box), 3, 0);
  grid->addWidget(TrunkEdit, 3, 1);
  grid->addWidget(fieldLabel("Номер начинается с:", box), 3, 2);
  grid->addWidget(PrefixEdit, 3, 3);

  MinDurationSpin = new QSpinBox(box);
  MinDurationSpin->setObjectName(QStringLiteral("MinDurationSpin"));
  MinDurationSpin->setRange(0, 86400);
  MinDurationSpin->setSuffix(u(" с"));
  TopSpin = new QSpinBox(box);
  TopSpin->setObjectName(QStringLiteral("TopSpin"));
  TopSpin->setRange(1, 10000);
  TopSpin->setValue(20);
  grid->addWidget(fieldLabel("Не короче:", box), 4, 0);
  grid->addWidget(MinDurationSpin, 4, 1);
  grid->addWidget(fieldLabel("Строк в списках:", box), 4, 2);
  grid->addWidget(TopSpin, 4, 3);

  HideDigitsCheck = new QCheckBox(u("Скрыть последние цифры внешних номеров:"), box);
  HideDigitsCheck->setObjectName(QStringLiteral("HideDigitsCheck"));
  HideDigitsSpin = new QSpinBox(box);
  HideDigitsSpin->setObjectName(QStringLiteral("HideDigitsSpin"));
  HideDigitsSpin->setRange(1, 20);
  HideDigitsSpin->setValue(4);
  HideDigitsSpin->setEnabled(false);
  connect(HideDigitsCheck, &QCheckBox::toggled, HideDigitsSpin, &QWidget::setEnabled);
  grid->addWidget(HideDigitsCheck, 5, 0, 1, 3);
  grid->addWidget(HideDigitsSpin, 5, 3);

  SiteEdit = new QLineEdit(box);
  SiteEdit->setObjectName(QStringLiteral("SiteEdit"));
  SiteEdit->setPlaceholderText(u("все площадки базы данных; или Москва, Тверь"));
  SiteEdit->setEnabled(false);
  grid->addWidget(fieldLabel("Площадки:", box), 6, 0);
  grid->addWidget(SiteEdit, 6, 1, 1, 3);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  return box;
}

// --- choices -------------------------------------------------------------------------------

void TAnalysisForm::DataFilesClick() {
  FileDialogRequest request;
  request.caption = u("Файлы данных");
  request.directory = startDirectory_;
  request.nameFilters = {u("Файлы данных (*.txt)"), u("Все файлы (*)")};
  const std::optional<QStringList> chosen = dialogs().openFiles(this, request);
  if (chosen && !chosen->isEmpty()) setSources(*chosen);
}

void TAnalysisForm::DataFolderClick() {
  FileDialogRequest request;
  request.caption = u("Папка с файлами данных");
  request.directory = startDirectory_;
  const std::optional<QString> chosen = dialogs().chooseFolder(this, request);
  if (chosen && !chosen->isEmpty()) setSources({*chosen});
}

void TAnalysisForm::TariffsClick() {
  FileDialogRequest request;
  request.caption = u("Тарифы");
  request.directory = startDirectory_;
  request.nameFilters = {u("Таблицы CSV (*.csv)"), u("Все файлы (*)")};
  const std::optional<QString> chosen = dialogs().openFile(this, request);
  if (chosen && !chosen->isEmpty()) setTariffFile(*chosen);
}

void TAnalysisForm::DirectoryClick() {
  FileDialogRequest request;
  request.caption = u("Справочник");
  request.directory = startDirectory_;
  request.nameFilters = {u("Таблицы CSV (*.csv)"), u("Все файлы (*)")};
  const std::optional<QString> chosen = dialogs().openFile(this, request);
  if (chosen && !chosen->isEmpty()) setDirectoryFile(*chosen);
}

void TAnalysisForm::DatabaseClick() {
  const std::optional<QString> typed =
      dialogs().askText(this, u("База данных звонков"),
                        u("Файл SQLite или строка подключения к PostgreSQL (postgresql://...);\n"
                          "пусто - без базы данных:"),
                        database_ ? databaseText_ : proposedDatabase_);
  if (typed) setDatabase(*typed);
}

void TAnalysisForm::PeriodComboChange(int index) {
  const bool own = index == kPeriodDates;
  FromDateEdit->setEnabled(own);
  ToDateEdit->setEnabled(own);
  const QDate first = PeriodCombo->itemData(index).toDate();
  if (first.isValid()) {
    FromDateEdit->setDate(first);
    ToDateEdit->setDate(first.addMonths(1).addDays(-1));
  }
}

void TAnalysisForm::fillMonths() {
  const QDate chosen = PeriodCombo->currentData().toDate();
  const QSignalBlocker block(PeriodCombo);
  while (PeriodCombo->count() > 2) PeriodCombo->removeItem(2);
  if (firstCall_ && lastCall_) {
    QDate month = dateOf(*firstCall_);
    month = QDate(month.year(), month.month(), 1);
    const QDate last = dateOf(*lastCall_);
    // A folder of years gives a long list; the months stay in order, the latest last.
    for (; month <= last; month = month.addMonths(1)) {
      PeriodCombo->addItem(monthName(month.year(), month.month(), true), month);
    }
  }
  const int index = chosen.isValid() ? PeriodCombo->findData(chosen) : -1;
  if (index >= 0) {
    PeriodCombo->setCurrentIndex(index);
  } else if (PeriodCombo->currentIndex() >= 2 || PeriodCombo->currentIndex() < 0) {
    PeriodCombo->setCurrentIndex(kPeriodAll);
  }
  PeriodComboChange(PeriodCombo->currentIndex());
  // Dates of one's own start from the span of the data.
  if (PeriodCombo->currentIndex() == kPeriodAll && firstCall_ && lastCall_) {
    FromDateEdit->setDate(dateOf(*firstCall_));
    ToDateEdit->setDate(dateOf(*lastCall_));
  }
}

void TAnalysisForm::fillDepartments() {
  const QString typed = DepartmentCombo->currentText();
  std::set<std::string> names;
  if (directory_) {
    for (const kordel::analysis::Person& p : directory_->people()) {
      if (!p.topDepartment.empty()) names.insert(p.topDepartment);
      if (!p.department.empty()) names.insert(p.department);
    }
  }
  QStringList items;
  for (const std::string& n : names) items << fromCp1251(n);
  std::sort(items.begin(), items.end(),
            [](const QString& a, const QString& b) { return a.localeAwareCompare(b) < 0; });
  DepartmentCombo->clear();
  DepartmentCombo->addItem(QString());
  DepartmentCombo->addItems(items);
  DepartmentCombo->setEditText(typed);
}

AnalysisOptions TAnalysisForm::options() const {
  AnalysisOptions o;
  o.key = KeyCombo->currentIndex() == 1 ? kordel::analysis::ExtensionKey::Hardware
                                        : kordel::analysis::ExtensionKey::Programmed;
  if (PeriodCombo->currentIndex() != kPeriodAll) {
    o.filter.from = midnight(FromDateEdit->date());
    // The last day of the period counts whole.
    o.filter.to = midnight(ToDateEdit->date()) + kordel::analysis::kSecondsPerDay;
  }
  o.filter.extensions = listOf(ExtensionEdit->text());
  const QString department = DepartmentCombo->currentText().trimmed();
  if (!department.isEmpty()) o.filter.departments.push_back(toCp1251(department));
  o.filter.direction = DirectionCombo->currentIndex() == 1   ? kordel::analysis::Direction::Incoming
                       : DirectionCombo->currentIndex() == 2 ? kordel::analysis::Direction::Outgoing
                                                             : kordel::analysis::Direction::Any;
  o.filter.trunks = listOf(TrunkEdit->text());
  o.filter.numberPrefix = toCp1251(PrefixEdit->text());
  o.filter.minDuration = static_cast<std::uint32_t>(MinDurationSpin->value());
  o.topCount = static_cast<std::size_t>(TopSpin->value());
  o.hiddenDigits = HideDigitsCheck->isChecked() ? HideDigitsSpin->value() : 0;
  return o;
}

// --- the job -------------------------------------------------------------------------------

void TAnalysisForm::RunClick() {
  if (busy()) return;
  if (sources_.isEmpty() && !database_) {
    dialogs().message(this, u("Выберите файлы данных или папку с ними, или базу данных звонков."),
                      u(kCaptionAttention));
    return;
  }
  if (PeriodCombo->currentIndex() != kPeriodAll && FromDateEdit->date() > ToDateEdit->date()) {
    dialogs().message(this, u("Начало периода позже его конца."), u(kCaptionAttention));
    return;
  }
  JobInput input;
  input.options = options();
  jobKey_ = loadKey(input.options, true);
  jobDataKey_ = loadKey(input.options, false);
  // A database filters in its query, so other filters there make another load.
  if (sourcesChanged_ || !store_ || jobKey_ != loadedKey_) {
    for (const QString& path : sources_) input.paths.push_back(toCp1251(path));
    input.database = database_;
    input.sites = sitesWanted();
    jobPeriodInQuery_ = database_ && input.options.filter.from.has_value();
  } else {
    input.store = store_;
    input.source = source_;
  }
  input.tariffs = tariffs_;
  input.directory = directory_;
  input.tables = tableKinds();
  jobOptions_ = input.options;
  jobTitle_ = reportTitleNow();
  jobFilters_ = filtersText();

  ProgressBar1->setRange(0, 1000);
  ProgressBar1->setValue(0);
  StatusLabel->setText(input.paths.empty() && !input.database ? u("Расчет...") : u("Загрузка..."));
  // The end is handed to the GUI thread; the window outlives the job (its destructor waits).
  job_ = std::make_unique<AnalysisJob>(std::move(input), [this](std::shared_ptr<JobOutput> out) {
    QMetaObject::invokeMethod(
        this, [this, out = std::move(out)]() mutable { jobDone(std::move(out)); },
        Qt::QueuedConnection);
  });
  setBusy(true);
  progressTimer_->start();
}

void TAnalysisForm::CancelClick() {
  if (!job_) return;
  job_->cancel();
  StatusLabel->setText(u("Прерывание..."));
}

void TAnalysisForm::pollProgress() {
  if (!job_) return;
  if (job_->cancelRequested()) return;
  if (job_->phase() == JobPhase::Loading) {
    const std::uint64_t total = job_->bytesTotal();
    if (total == 0) return;
    const std::uint64_t done = std::min(job_->bytesDone(), total);
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setValue(static_cast<int>(done * 1000 / total));
    StatusLabel->setText(u("Загрузка: %1 из %2 МБ")
                             .arg(double(done) / (1 << 20), 0, 'f', 1)
                             .arg(double(total) / (1 << 20), 0, 'f', 1));
  } else {
    ProgressBar1->setRange(0, 0);  // the analysis tells no share: a busy bar
    StatusLabel->setText(u("Расчет..."));
  }
}

void TAnalysisForm::setBusy(bool busy) {
  for (QWidget* w : inputs_) w->setEnabled(!busy);
  for (QAction* a :
       {DataFilesMenuItem, DataFolderMenuItem, TariffsMenuItem, DirectoryMenuItem, DatabaseMenuItem,
        RunMenuItem, ExportCsvMenuItem, ExportXlsxMenuItem, ExportAllMenuItem, PdfReportMenuItem}) {
    a->setEnabled(!busy);
  }
  CancelButton->setEnabled(busy);
  CancelMenuItem->setEnabled(busy);
  ProgressBar1->setVisible(busy);
  if (!busy) progressTimer_->stop();
}

void TAnalysisForm::jobDone(std::shared_ptr<JobOutput> out) {
  job_.reset();  // its thread has handed over its last work; this waits for it to return
  setBusy(false);
  if (out->loaded) {
    const kordel::analysis::LoadResult& load = out->load;
    if (!load.ok()) {
      if (out->cancelled) {
        StatusLabel->setText(u("Загрузка прервана. Показан прежний расчет."));
      } else {
        StatusLabel->setText(u("Данные не загружены."));
        dialogs().message(this, fromCp1251(load.status.message()), u(kCaptionError));
      }
      emit jobFinished();
      return;
    }
    store_ = out->store;
    lastLoad_ = load;
    source_ = out->source;
    if (jobPeriodInQuery_ && jobDataKey_ == loadedDataKey_ && firstCall_ && lastCall_) {
      // The database gave one period of the same data: the months of the data stay.
      if (out->firstCall) firstCall_ = std::min(*firstCall_, *out->firstCall);
      if (out->lastCall) lastCall_ = std::max(*lastCall_, *out->lastCall);
    } else {
      firstCall_ = out->firstCall;
      lastCall_ = out->lastCall;
    }
    loadedKey_ = jobKey_;
    loadedDataKey_ = jobDataKey_;
    loadedSites_ = out->sites;
    sourcesChanged_ = false;
    fillMonths();
    if (database_) {
      QStringList names;
      for (const std::string& site : loadedSites_) names << fromCp1251(site);
      DatabaseLabel->setText(
          databaseDescription_ +
          (names.isEmpty() ? u(": звонков нет") : u(", площадки: ") + names.join(u(", "))));
      QStringList missing;
      for (const std::string& site : sitesWanted()) {
        if (std::find(loadedSites_.begin(), loadedSites_.end(), site) == loadedSites_.end()) {
          missing << fromCp1251(site);
        }
      }
      if (!missing.isEmpty()) {
        dialogs().message(this,
                          u("В базе данных нет звонков площадок: %1.").arg(missing.join(u(", "))),
                          u(kCaptionAttention));
      }
    }
    if (load.files.empty() && !sources_.isEmpty()) {
      dialogs().message(this, u("В выбранной папке нет файлов данных."), u(kCaptionAttention));
    }
    if (load.badLines > 0) {
      // Lines that were not read are not hidden: how many, and where the first ones are.
      QString text = u("Не прочитано строк: %1. Первые из них:\n").arg(load.badLines);
      for (const kordel::analysis::BadLine& bad : load.firstBadLines) {
        text += u("\n%1, строка %2: %3")
                    .arg(fromCp1251(bad.path))
                    .arg(bad.lineNumber)
                    .arg(fromCp1251(bad.reason));
      }
      dialogs().message(this, text, u(kCaptionWarning));
    }
  }
  if (out->cancelled) {
    StatusLabel->setText(u("Расчет прерван. Показан прежний расчет."));
    emit jobFinished();
    return;
  }
  result_ = std::make_unique<AnalysisResult>(std::move(out->result));
  tables_ = std::move(out->tables);
  resultOptions_ = jobOptions_;
  resultTitle_ = jobTitle_;
  resultFilters_ = jobFilters_;
  QString period;
  if (resultOptions_.filter.from && resultOptions_.filter.to) {
    period = u("Период: с %1 по %2")
                 .arg(dateText(dateOf(*resultOptions_.filter.from)))
                 .arg(dateText(dateOf(*resultOptions_.filter.to - 1)));
  } else if (result_->firstStart && result_->lastStart) {
    period = u("Период: с %1 по %2 (все звонки)")
                 .arg(dateText(dateOf(*result_->firstStart)))
                 .arg(dateText(dateOf(*result_->lastStart)));
  } else {
    period = u("Период: все звонки");
  }
  resultPeriod_ = period;
  showResult();
  QString status = u("Готово: звонков %1 из %2 в данных.")
                       .arg(result_->totals.calls)
                       .arg(store_ ? store_->size() : 0);
  if (database_ && loadedSites_.size() > 1) {
    // Extension 201 of two sites is two extensions.
    status += u(" Звонки нескольких площадок: номера и СЛ показаны как ПЛОЩАДКА/НОМЕР.");
    // The lines of data files carry no site, so a call both there and in the database is
    // not known for the same call.
    if (!lastLoad_.files.empty()) {
      status +=
          u(" Звонки файлов данных взяты без площадки: те же звонки из базы данных "
            "считаются отдельно.");
    }
  }
  StatusLabel->setText(status);
  emit jobFinished();
}

void TAnalysisForm::showResult() {
  for (std::size_t i = 0; i < models_.size(); ++i) {
    if (models_[i] != nullptr) models_[i]->setTable(i < tables_.size() ? &tables_[i] : nullptr);
  }
  for (int t = 0; t < TablesTabs->count(); ++t) {
    if (auto* view = qobject_cast<QTableView*>(TablesTabs->widget(t))) {
      view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
      view->resizeColumnsToContents();
    }
  }
  auto replace = [](QChartView* view, QChart* chart) {
    QChart* old = view->chart();
    view->setChart(chart);  // the view lets go of the old chart
    delete old;
  };
  replace(HourChartView, kordel::analysis::gui::makeHourChart(*result_));
  replace(DayChartView, kordel::analysis::gui::makeDayChart(*result_));
  replace(TrunkLoadChartView, kordel::analysis::gui::makeTrunkLoadChart(*result_));
  SummaryLabel->setText(summaryLines().join(QStringLiteral("; ")));
}

QStringList TAnalysisForm::summaryLines() const {
  QStringList lines;
  const ResultTable* summary = table(TableKind::Summary);
  if (summary == nullptr || summary->rows.empty()) return lines;
  for (std::size_t c = 0; c < summary->columns.size() && c < summary->rows[0].size(); ++c) {
    lines << fromCp1251(summary->columns[c].title) + QStringLiteral(": ") +
                 fromCp1251(kordel::analysis::cellText(summary->rows[0][c]));
  }
  return lines;
}

QString TAnalysisForm::reportTitleNow() const {
  const int index = PeriodCombo->currentIndex();
  const QDate month = PeriodCombo->itemData(index).toDate();
  if (month.isValid())
    return u("Анализ звонков за ") + monthName(month.year(), month.month(), false);
  if (index == kPeriodDates) {
    return u("Анализ звонков с %1 по %2")
        .arg(dateText(FromDateEdit->date()))
        .arg(dateText(ToDateEdit->date()));
  }
  return u("Анализ звонков");
}

std::vector<std::string> TAnalysisForm::sitesWanted() const {
  // Site names may hold spaces ("Нижний Новгород"): only commas and semicolons part them.
  std::vector<std::string> out;
  for (const QString& item :
       SiteEdit->text().split(QRegularExpression(QStringLiteral("[,;]")), Qt::SkipEmptyParts)) {
    const QString name = item.trimmed();
    if (!name.isEmpty()) out.push_back(toCp1251(name));
  }
  return out;
}

std::string TAnalysisForm::loadKey(const AnalysisOptions& options, bool withQuery) const {
  std::string key;
  for (const QString& path : sources_) key += toCp1251(path) + '\n';
  if (!database_) return key;
  key += "db\n" + std::to_string(static_cast<int>(database_->kind)) + database_->target + '\n';
  for (const std::string& site : sitesWanted()) key += site + '\t';
  if (withQuery) {
    const kordel::analysis::Filter& f = options.filter;
    key += '\n' + (f.from ? std::to_string(*f.from) : std::string("-")) + ' ' +
           (f.to ? std::to_string(*f.to) : std::string("-")) + ' ' + std::to_string(f.minDuration) +
           ' ' + std::to_string(static_cast<int>(f.direction));
  }
  return key;
}

QString TAnalysisForm::filtersText() const {
  QStringList parts;
  if (!ExtensionEdit->text().trimmed().isEmpty()) {
    parts << u("абоненты ") + ExtensionEdit->text().trimmed();
  }
  if (!DepartmentCombo->currentText().trimmed().isEmpty()) {
    parts << u("отдел ") + DepartmentCombo->currentText().trimmed();
  }
  if (DirectionCombo->currentIndex() != 0) parts << DirectionCombo->currentText();
  if (!TrunkEdit->text().trimmed().isEmpty()) parts << u("СЛ ") + TrunkEdit->text().trimmed();
  if (database_ && !SiteEdit->text().trimmed().isEmpty()) {
    parts << u("площадки ") + SiteEdit->text().trimmed();
  }
  if (!PrefixEdit->text().isEmpty()) parts << u("номер начинается с ") + PrefixEdit->text();
  if (MinDurationSpin->value() > 0) parts << u("не короче %1 с").arg(MinDurationSpin->value());
  if (HideDigitsCheck->isChecked()) {
    parts << u("скрыто последних цифр номеров: %1").arg(HideDigitsSpin->value());
  }
  return parts.isEmpty() ? u("Отбор: все звонки") : u("Отбор: ") + parts.join(QStringLiteral(", "));
}

void TAnalysisForm::closeEvent(QCloseEvent* event) {
  // A job left running would work for a window out of sight.
  if (job_) job_->cancel();
  QMainWindow::closeEvent(event);
}

// --- tables and exports --------------------------------------------------------------------

const ResultTable* TAnalysisForm::table(TableKind kind) const {
  const auto& kinds = tableKinds();
  for (std::size_t i = 0; i < kinds.size() && i < tables_.size(); ++i) {
    if (kinds[i] == kind) return &tables_[i];
  }
  return nullptr;
}

TableKind TAnalysisForm::currentTable() const {
  // The tabs are the kinds after the summary, in order.
  return tableKinds()[static_cast<std::size_t>(TablesTabs->currentIndex()) + 1];
}

void TAnalysisForm::showTable(TableKind kind) {
  const auto& kinds = tableKinds();
  for (std::size_t i = 1; i < kinds.size(); ++i) {
    if (kinds[i] == kind) TablesTabs->setCurrentIndex(static_cast<int>(i - 1));
  }
}

QString TAnalysisForm::reportTitle() const { return resultTitle_; }
QString TAnalysisForm::reportPeriod() const { return resultPeriod_; }

std::optional<QString> TAnalysisForm::exportPath(const char* caption, const char* suffix,
                                                 const char* filter) {
  if (!result_) {
    dialogs().message(this, u("Нет расчета: нажмите \"Рассчитать\"."), u(kCaptionAttention));
    return std::nullopt;
  }
  FileDialogRequest request;
  request.caption = u(caption);
  request.directory = startDirectory_;
  request.defaultSuffix = QString::fromLatin1(suffix);
  request.nameFilters = {u(filter), u("Все файлы (*)")};
  const std::optional<QString> path = dialogs().saveFile(this, request);
  if (!path || path->isEmpty()) return std::nullopt;
  const std::string name = toCp1251(*path);
  // An export over one of the data files or the database (by any name) would replace its
  // calls: refused before the overwrite question.
  std::vector<std::string> sources;
  for (const QString& s : sources_) sources.push_back(toCp1251(s));
  const bool sqlite = database_ && database_->kind == kordel::store::DatabaseChoice::Kind::kSqlite;
  if (kordel::analysis::namesOneOf(
          name,
          kordel::analysis::analysedFiles(sources, lastLoad_, sqlite ? database_->target : ""))) {
    dialogs().message(this, fromCp1251(kordel::report::reportOverDataFileMessage(name)),
                      u(kCaptionError));
    return std::nullopt;
  }
  if (QFileInfo::exists(*path) &&
      dialogs().question(this, u("Такой файл уже существует. Перезапишем?"),
                         u("Предупреждение!")) != MessageAnswer::Ok) {
    return std::nullopt;
  }
  return path;
}

void TAnalysisForm::exportTables(const std::vector<const ResultTable*>& chosen, bool xlsx) {
  const std::optional<QString> path =
      xlsx ? exportPath("Сохранить в XLSX", "xlsx", "Книги Excel (*.xlsx)")
           : exportPath("Сохранить в CSV", "csv", "Таблицы CSV (*.csv)");
  if (!path) return;
  std::vector<ResultTable> tables;
  for (const ResultTable* t : chosen) {
    if (t != nullptr) tables.push_back(*t);
  }
  const std::string name = toCp1251(*path);
  const kordel::analysis::Status written =
      xlsx ? kordel::analysis::writeXlsx(tables, name)
           : kordel::analysis::writeBytesToFile(kordel::analysis::toCsv(tables), name);
  if (!written.ok()) {
    dialogs().message(this, fromCp1251(written.message()), u(kCaptionError));
    return;
  }
  StatusLabel->setText(u("Сохранено: ") + *path);
}

void TAnalysisForm::ExportCsvClick() { exportTables({table(currentTable())}, false); }
void TAnalysisForm::ExportXlsxClick() { exportTables({table(currentTable())}, true); }

void TAnalysisForm::ExportAllClick() {
  std::vector<const ResultTable*> all;
  for (const ResultTable& t : tables_) all.push_back(&t);
  exportTables(all, true);
}

void TAnalysisForm::PdfReportClick() {
  const std::optional<QString> path = exportPath("Отчет в PDF", "pdf", "Документы PDF (*.pdf)");
  if (!path) return;
  kordel::analysis::gui::PdfReport report;
  report.title = resultTitle_;
  report.period = resultPeriod_;
  report.header << resultFilters_;
  report.summary = summaryLines();
  for (TableKind kind :
       {TableKind::Extensions, TableKind::Departments, TableKind::Directions, TableKind::Trunks,
        TableKind::Longest, TableKind::Costliest, TableKind::Numbers, TableKind::Days}) {
    report.tables.push_back(table(kind));
  }
  report.result = result_.get();
  QString error;
  if (!kordel::analysis::gui::writePdfReport(*path, report, error)) {
    dialogs().message(this, u("Отчет не записан: \"%1\": %2").arg(*path, error), u(kCaptionError));
    return;
  }
  StatusLabel->setText(u("Сохранено: ") + *path);
}
