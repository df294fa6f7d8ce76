// The detail window ("Device Information"), built from
// resources/detailform.ui: one read-only field per fact about the port
// selected in the tree view.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TDetailForm;
}

namespace station {

class TDetailForm : public QDialog {
  Q_OBJECT

 public:
  explicit TDetailForm(QWidget* owner = nullptr);
  ~TDetailForm() override;

 private:
  std::unique_ptr<Ui::TDetailForm> ui;
};

}  // namespace station
