// The port rows and what is drawn around them: the list and the tree
// nodes rebuilt on every WM_PORT_UPDATE, the result colours, the progress
// in the status bar.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTreeWidget>

#include "station/port_rows.h"
#include "station/windows/control_events.h"
#include "station/windows/main_form.h"
#include "ui_mainform.h"

namespace station {

void TMainForm::OnPortStatus() {
  QTreeWidget* list = ui->ListView1;
  const bool typeC = settings_.EnEPPTypeC != 0;
  CountPortResults(pass_.ports, settings_, typeC, pass_.EppPassIndex);
  // Sixteen rows, always: each is filled anew from its record.
  while (list->topLevelItemCount() < bridge::kPortCount) new QTreeWidgetItem(list);
  for (int slot = 0; slot < bridge::kPortCount; ++slot) {
    const bridge::PortRecord& record = pass_.ports.records[static_cast<size_t>(slot)];
    const PortRow row = BuildPortRow(record, settings_, Options());
    FillPortRow(list->topLevelItem(slot), row);
    if (row.present) ShowPresentPortNode(ui->TreeView1, slot, record.hubPort);
    else ui->TreeView1->topLevelItem(slot)->setText(0, "Port");
  }
  const int32_t count = pass_.PresentDeviceCount.load();
  if (count != 0) {
    const int32_t sum = ProgressSum(pass_.ports);
    if (typeC) {
      eppProgress_ = TypeCRoundProgress(eppProgress_, pass_.EppPassIndex, sum / count);
      ShowProgress(eppProgress_);
    } else {
      ShowProgress(sum / count);
    }
  }
  ShowYield();
}

void TMainForm::ShowProgress(int32_t percent) {
  ui->ProgressBar1->setValue(percent);
  statusPanel2_->setText(QString("%1%").arg(percent));
  ui->StatusBar1->update();
}

void TMainForm::ListView1CustomDrawSubItem(QTreeWidgetItem* item, int column) { ColourResultCell(item, column); }

void TMainForm::StatusBar1DrawPanel(const QRect& panel) { ui->ProgressBar1->setGeometry(panel); }

bool TMainForm::eventFilter(QObject* watched, QEvent* e) {
  if (watched == statusPanel1_ && (e->type() == QEvent::Resize || e->type() == QEvent::Show)) {
    StatusBar1DrawPanel(statusPanel1_->rect());
    return false;
  }
  // The key preview: a key typed anywhere in this window comes here first,
  // once (as it reaches the widget with the focus, before its parents).
  if (const char key = PreviewedKey(watched, e, this)) FormKeyPress(key);
  return QMainWindow::eventFilter(watched, e);
}

}  // namespace station
