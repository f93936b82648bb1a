// Windows: the real message boxes and file dialogs behind the Dialogs seam.
#include "app/gui/dialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace kordel::gui {
namespace {

// The program's message boxes carry no icon; the caption tells what kind of message it is.
// Only the box for an unexpected error shows the error icon.
class QtDialogs final : public Dialogs {
 public:
  void message(QWidget* parent, const QString& text, const QString& caption) override {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
  }

  void error(QWidget* parent, const QString& text, const QString& caption) override {
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, parent);
    box.exec();
  }

  MessageAnswer question(QWidget* parent, const QString& text, const QString& caption) override {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok | QMessageBox::Cancel,
                    parent);
    return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
  }

  std::optional<QString> askText(QWidget* parent, const QString& caption, const QString& label,
                                 const QString& initial) override {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, caption, label, QLineEdit::Normal, initial, &ok);
    if (!ok) return std::nullopt;
    return text;
  }

  std::optional<QString> openFile(QWidget* parent, const FileDialogRequest& request) override {
    return run(*makeFileDialog(parent, request, false));
  }

  std::optional<QString> saveFile(QWidget* parent, const FileDialogRequest& request) override {
    return run(*makeFileDialog(parent, request, true));
  }

  std::optional<QStringList> openFiles(QWidget* parent, const FileDialogRequest& request) override {
    const std::unique_ptr<QFileDialog> dialog = makeFileDialog(parent, request, false);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    if (dialog->exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return chosen;
  }

  std::optional<QString> chooseFolder(QWidget* parent, const FileDialogRequest& request) override {
    const std::unique_ptr<QFileDialog> dialog = makeFileDialog(parent, request, false);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    return run(*dialog);
  }

 private:
  static std::optional<QString> run(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
    return chosen.front();
  }
};

Dialogs* g_replacement = nullptr;

}  // namespace

Dialogs& dialogs() {
  static QtDialogs real;
  return g_replacement != nullptr ? *g_replacement : real;
}

void setDialogs(Dialogs* replacement) { g_replacement = replacement; }

std::unique_ptr<QFileDialog> makeFileDialog(QWidget* parent, const FileDialogRequest& request,
                                            bool save) {
  auto dialog = std::make_unique<QFileDialog>(parent, request.caption, request.directory);
  dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // A data file is usually named before it exists: the open dialog accepts any name too.
  dialog->setFileMode(QFileDialog::AnyFile);
  // The callers ask their own overwrite question where one is wanted.
  if (save) dialog->setOption(QFileDialog::DontConfirmOverwrite);
  if (!request.defaultSuffix.isEmpty()) dialog->setDefaultSuffix(request.defaultSuffix);
  if (!request.nameFilters.isEmpty()) dialog->setNameFilters(request.nameFilters);
  if (!request.fileName.isEmpty()) dialog->selectFile(request.fileName);
  return dialog;
}

}  // namespace kordel::gui
