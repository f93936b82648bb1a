// Windows: the About window.
#include "app/gui/about_form.h"

#include <QVBoxLayout>

#include "app/gui/desktop.h"

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutForm"));
  setWindowIcon(kordel::gui::programIcon());
  setWindowTitle(QString::fromUtf8("О программе"));
  setModal(false);
  QFont windowFont(QStringLiteral("MS Sans Serif"));
  windowFont.setStyleHint(QFont::SansSerif);
  windowFont.setPointSize(8);
  setFont(windowFont);

  RichEdit1 = new QPlainTextEdit(this);
  RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
  RichEdit1->setReadOnly(true);
  RichEdit1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  RichEdit1->setPlainText(aboutLines().join(QLatin1Char('\n')));
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(true);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(RichEdit1, 1);
  column->addWidget(StatusBar1);
  resize(638, 253);
}

void TAboutForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Long lines wrap at the window's width and rewrap when it is resized.
  RichEdit1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

QStringList TAboutForm::aboutLines() {
  const QString address = QString::fromLatin1(kContactAddress);
  return {
      QString::fromUtf8("Данная программа предназначена для работы с АТС типа ORVANEX QTR160/400, "
                        "DL40/72 и DL256."),
      QString::fromUtf8(
          "Настоятельно рекомендуется перед считыванием данных закрыть все другие приложения."),
      QString(),
      QString::fromUtf8(" -- Дополнение с версии 2.15"),
      QString::fromUtf8("   - При сохранении в файл, в строках тарификации поле номера всегда "
                        "состоит из 21-го символа. Если цифр в набранном номере меньше или вообще "
                        "нет(входящий вызов), то это поле дополняется пробелами."),
      QString(),
      QString::fromUtf8(" -- Дополнение с версии 2.14"),
      QString::fromUtf8("   - Программа обновляет свое окно после свертывания или перекрытия "
                        "другими окнами во время считывания данных."),
      QString::fromUtf8(
          "   - Имена файлов для сохранения данных выводятся в главном окне программы."),
      QString::fromUtf8(
          "   - Устранена ошибка, возникавшая при наличии пробелов в полном имени файла."),
      QString::fromUtf8("   - Произведены доработки для DL256. Теперь, при подключении к комплексу "
                        "этих АТС в полях \"Емкость буфера\" и \"В буфере\" выдаются суммарные "
                        "значения. Чтение происходит из всех АТС комплекса."),
      QString(),
      QString::fromUtf8("-- Дополнение с версии 2.13"),
      QString::fromUtf8("   - В Kordel 2.13  включена программа KordelReport."),
      QString::fromUtf8("   - мелкие доработки"),
      QString(),
      QString::fromUtf8(" -- Дополнение с версии 2.11"),
      QString::fromUtf8("   -  Сделано отслеживание соединений в режиме реального времени."),
      QString(),
      QString::fromUtf8(" -- Дополнение с версии 2.10"),
      QString::fromUtf8("  Переделана обработка подозрительных записей. В таких записях, вместо "
                        "разделителей \":\" и \"-\" используется \"*\"."),
      QString(),
      QString::fromUtf8(" -- Дополнение с версии 2.09"),
      QString::fromUtf8(" Если уже задан файл для сохранения результатов, то в автоматически "
                        "созданном файле \"KordelOut.cfg\" можно в последней строке выставить "
                        "параметры запуска программы. А именно:"),
      QString::fromUtf8("   - AUTOSTART_1 - однократное считывание при запуске и выход."),
      QString::fromUtf8("   - AUTOSTART_UNINTERRUPT -  непрерывное считывание при запуске."),
      QString::fromUtf8("   Отсутствие второй строки или любые другие параметры, кроме "
                        "вышеуказанных, приводят к обычному запуску программы.  "),
      QString(),
      QString::fromUtf8("Пожелания по усовершенствованию: ") + address,
      QString::fromUtf8("Сообщения о найденных ошибках: ") + address,
  };
}
