#include "station/windows/pass_form.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include "ui_passform.h"

namespace station {

TPassForm::TPassForm(ResultWindowOwner* mainForm, QWidget* owner)
    : QDialog(owner), ui(std::make_unique<Ui::TPassForm>()), mainForm_(mainForm) {
  ui->setupUi(this);
  setFixedSize(308, 146);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
}

TPassForm::~TPassForm() = default;

void TPassForm::ShowResult() {
  show();
  raise();
  activateWindow();
  ui->passLabel->setVisible(result != 0);
  ui->failLabel->setVisible(result == 0);
}

void TPassForm::closeEvent(QCloseEvent* event) {
  FormClose();
  QDialog::closeEvent(event);
}

void TPassForm::mousePressEvent(QMouseEvent* event) {
  FormClick();
  QDialog::mousePressEvent(event);
}

void TPassForm::FormClose() {
  if (mainForm_) mainForm_->FocusStartOrRefresh();
}

}  // namespace station
