// The result window ("Result"): the big PASS or FAIL that the pass shows at
// its end, built from resources/passform.ui. It lives from start-up to the
// end of the program and is only shown and hidden.
#pragma once

#include <QDialog>

#include <cstdint>
#include <memory>

namespace Ui {
class TPassForm;
}

namespace station {

// The main window a result window belongs to, as the result window sees it.
class ResultWindowOwner {
 public:
  // START when it is visible and enabled, else Refresh.
  virtual void FocusStartOrRefresh() = 0;

 protected:
  ~ResultWindowOwner() = default;
};

class TPassForm : public QDialog {
  Q_OBJECT

 public:
  TPassForm(ResultWindowOwner* mainForm, QWidget* owner = nullptr);
  ~TPassForm() override;

  // Non-zero: pass. Written by the pass before ShowResult.
  int32_t result = 0;

  // Shows the window in front with exactly one of the two labels.
  void ShowResult();
  void FormClick() {}

 protected:
  void closeEvent(QCloseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // Focus back to the main window's START, else its Refresh.
  void FormClose();

  std::unique_ptr<Ui::TPassForm> ui;
  ResultWindowOwner* mainForm_;
};

}  // namespace station
