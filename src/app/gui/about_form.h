// Windows: the About window: what the program is for and what changed in recent versions.
#pragma once

#include <QDialog>
#include <QPlainTextEdit>
#include <QStatusBar>

class TAboutForm : public QDialog {
  Q_OBJECT

 public:
  // The address at the end of the last two lines of the text.
  static constexpr const char* kContactAddress = "kordel-support@example.org";

  explicit TAboutForm(QWidget* parent = nullptr);

  // The 30 lines of the text, in UTF-8.
  static QStringList aboutLines();

  QPlainTextEdit* RichEdit1 = nullptr;
  QStatusBar* StatusBar1 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
};
