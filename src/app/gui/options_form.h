// Windows: the settings dialog (COM port and title option).
//
// OK reconnects to the PBX on the chosen port through the main window and writes the port
// configuration file; Cancel changes nothing.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <memory>

namespace kordel {
class PbxLink;
}
class TMainForm;

class TOptionsForm : public QDialog {
  Q_OBJECT

 public:
  explicit TOptionsForm(TMainForm* mainForm, QWidget* parent = nullptr);

  // The main window's link; set before each opening.
  void setLink(std::shared_ptr<kordel::PbxLink> link) { link_ = std::move(link); }

  // Selects the configured port and title option.
  void FormShow();
  // OK: reconnect on the chosen port, write "Kordel.cfg", close.
  void Button2Click();
  // Cancel: close without changes.
  void Button1Click();

  QGroupBox* GroupBox1 = nullptr;
  QComboBox* COMPortComboBox = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QRadioButton* SaveTitleRadioButton = nullptr;
  QRadioButton* NotSaveTitleRadioButton = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button1 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TMainForm* mainForm_;
  std::shared_ptr<kordel::PbxLink> link_;
};
