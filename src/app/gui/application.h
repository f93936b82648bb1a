// Windows: the application object of kordel.
//
// An exception that escapes a window command is shown in one standard error box and the
// program goes on, as the toolkit's own exception box does on the program's home platform.
// The application loads Qt's Russian texts and carries the program's icon.
#pragma once

#include <QApplication>
#include <exception>
#include <functional>

class TMainForm;
class TOptionsForm;
class TAboutForm;
class TMainForm_rep;
class TRealTimeForm;

namespace kordel::gui {

// The text of the standard error box for an exception.
QString exceptionText(const std::exception& error);

// Runs `action`; an exception that escapes it is shown in the standard error box. Returns
// false when one was shown.
bool runGuarded(const std::function<void()>& action);

class KordelApplication : public QApplication {
  Q_OBJECT

 public:
  KordelApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace kordel::gui
