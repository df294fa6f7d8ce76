// The detail window ("Device Information"), built from
// resources/detailform.ui: one read-only field per fact about the port
// selected in the main window's tree view, filled anew each time it opens.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TDetailForm;
}

namespace station {

class TMainForm;

class TDetailForm : public QDialog {
  Q_OBJECT

 public:
  explicit TDetailForm(TMainForm* mainForm = nullptr, QWidget* owner = nullptr);
  ~TDetailForm() override;

  // Shows the window modeless, or fills it again when it already shows;
  // `driveLetter` is the letter just found for the port.
  void Open(char driveLetter);

  // The show event: fills the fields for the selected port.
  void FormShow();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::unique_ptr<Ui::TDetailForm> ui;
  TMainForm* mainForm_;
  char driveLetter_ = 0;
};

}  // namespace station
