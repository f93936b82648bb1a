// Windows: the one seam through which every message box, text prompt and file dialog of the
// program goes, so that tests can answer them without a modal window.
//
// The program installs nothing and gets the real Qt dialogs; a test installs its own Dialogs
// object with setDialogs() and answers each request in code.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QFileDialog;
class QWidget;

namespace kordel::gui {

// Answers of a message box.
enum class MessageAnswer { Ok, Cancel };

struct FileDialogRequest {
  QString caption;
  QString directory;        // initial folder
  QString fileName;         // proposed name (may be a full path)
  QString defaultSuffix;    // without the dot, e.g. "txt"
  QStringList nameFilters;  // e.g. "Text files (*.txt)", "All files (*)"
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A modal box with no icon and an OK button only.
  virtual void message(QWidget* parent, const QString& text, const QString& caption) = 0;
  // The standard error box for an error nobody expected (an exception that escaped a
  // command): modal, OK only, with the error icon. By default the same as message().
  virtual void error(QWidget* parent, const QString& text, const QString& caption) {
    message(parent, text, caption);
  }
  // A modal box with no icon and OK and Cancel buttons.
  virtual MessageAnswer question(QWidget* parent, const QString& text, const QString& caption) = 0;
  // A modal box asking for one line of text, `initial` filled in: the text, or nothing when the
  // user cancelled.
  virtual std::optional<QString> askText(QWidget* parent, const QString& caption,
                                         const QString& label, const QString& initial) = 0;
  // Open and save dialogs: the chosen path, or nothing when the user cancelled. The open
  // dialog accepts the name of a file that does not exist yet.
  virtual std::optional<QString> openFile(QWidget* parent, const FileDialogRequest& request) = 0;
  virtual std::optional<QString> saveFile(QWidget* parent, const FileDialogRequest& request) = 0;
  // Existing files to open, one or several: the chosen paths, or nothing when the user
  // cancelled. By default one file, asked for through openFile().
  virtual std::optional<QStringList> openFiles(QWidget* parent, const FileDialogRequest& request) {
    const std::optional<QString> one = openFile(parent, request);
    if (!one) return std::nullopt;
    return QStringList{*one};
  }
  // An existing folder: its path, or nothing when the user cancelled. By default asked for
  // through openFile().
  virtual std::optional<QString> chooseFolder(QWidget* parent, const FileDialogRequest& request) {
    return openFile(parent, request);
  }
};

// The dialogs in use: the real ones unless a test installed others.
Dialogs& dialogs();
// Installs `replacement` (not owned; nullptr restores the real dialogs).
void setDialogs(Dialogs* replacement);

// The file dialog the real Dialogs show for `request`, set up but not shown: the platform's own
// dialog where it has one (Windows, some desktops), else Qt's, which speaks the program's
// language.
std::unique_ptr<QFileDialog> makeFileDialog(QWidget* parent, const FileDialogRequest& request,
                                            bool save);

}  // namespace kordel::gui
