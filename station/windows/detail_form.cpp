#include "station/windows/detail_form.h"

#include "ui_detailform.h"

namespace station {

TDetailForm::TDetailForm(QWidget* owner) : QDialog(owner), ui(std::make_unique<Ui::TDetailForm>()) {
  ui->setupUi(this);
}

TDetailForm::~TDetailForm() = default;

}  // namespace station
