// Windows: the application object.
#include "app/gui/application.h"

#include "app/gui/desktop.h"
#include "app/gui/dialogs.h"
#include "app/gui/main_form.h"
#include "app/gui/qt_text.h"
#include "link/serial_port.h"

namespace kordel::gui {

QString exceptionText(const std::exception& error) {
  // The core's texts are Windows-1251; other libraries speak the locale's encoding.
  if (dynamic_cast<const kordel::ECommError*>(&error) != nullptr) return fromCp1251(error.what());
  return QString::fromLocal8Bit(error.what());
}

bool runGuarded(const std::function<void()>& action) {
  try {
    action();
    return true;
  } catch (const std::exception& error) {
    dialogs().error(QApplication::activeWindow(), exceptionText(error),
                    QString::fromUtf8(kApplicationTitle));
  } catch (...) {
    dialogs().error(QApplication::activeWindow(), QString::fromUtf8("Неизвестная ошибка."),
                    QString::fromUtf8(kApplicationTitle));
  }
  return false;
}

KordelApplication::KordelApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("kordel"));
  setApplicationVersion(QStringLiteral("2.15"));
  // The program speaks Russian, so Qt's own dialogs and buttons do too.
  installQtTranslations(*this);
  setWindowIcon(programIcon());
}

bool KordelApplication::notify(QObject* receiver, QEvent* event) {
  bool handled = false;
  if (!runGuarded([&] { handled = QApplication::notify(receiver, event); })) return false;
  return handled;
}

}  // namespace kordel::gui
