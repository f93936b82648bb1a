// Windows: what every window of the program shares with the desktop: the program's icon, Qt's
// own texts in Russian, and the busy cursor while the PBX is waited for.
//
// Uses Qt and the standard library only; knows nothing of the PBX.
#pragma once

#include <QIcon>
#include <QString>
#include <functional>

class QCoreApplication;

namespace kordel::gui {

// The program's icon (a resource of the program), for the application and each of its windows.
QIcon programIcon();

// Loads Qt's own Russian texts (file dialogs, standard buttons, context menus of edits) and
// installs them in `app`: the program speaks Russian whatever the system's language. They are
// looked for in Qt's translations folder, then in a "translations" folder beside the program.
// Returns the folder they were loaded from, or an empty text when none held them (Qt then
// speaks English).
QString installQtTranslations(QCoreApplication& app);

// The wait cursor over every window of the program while it lives (also when the scope is left
// by an exception).
class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

// Runs `work` on a worker thread and returns when it is done, with the wait cursor shown. The
// calling (GUI) thread keeps painting its windows and running its timers and queued calls
// meanwhile; keyboard and mouse input waits until the work is done, and requests to close a
// window are refused, so no other command starts and no window goes away under the work. An
// exception thrown by `work` is thrown again here.
//
// REQUIRES: called on the GUI thread; `work` touches no widget.
void runWhileBusy(const std::function<void()>& work);

}  // namespace kordel::gui
