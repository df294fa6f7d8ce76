// The port rows: every WM_PORT_UPDATE takes the final results into the
// yield counters at once; the rows themselves are rebuilt once per turn of
// the event loop, however many updates the workers posted in it.
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QTreeWidget>

#include "sdkstation/sdk_port_rows.h"
#include "sdkstation/sdk_yield.h"
#include "sdkstation/windows/main_form.h"
#include "station/station_messages.h"
#include "station/windows/control_events.h"
#include "station/windows/port_views.h"
#include "ui_sdkmainform.h"

namespace sdkstation {

void TMainForm::PostPortUpdate() { queue_->Post(station::kWmPortUpdate); }

void TMainForm::OnPortStatus() {
  // Counted here, not in the redraw: a result is taken exactly once, also
  // when the window closes before the next redraw.
  CountSdkResults(pass_.ports, deviceCount_, settings_);
  ShowYield();
  if (redrawPending_) return;
  redrawPending_ = true;
  QMetaObject::invokeMethod(this, [this] { RedrawPortRows(); }, Qt::QueuedConnection);
}

void TMainForm::RedrawPortRows() {
  redrawPending_ = false;
  ++portRowRedraws_;
  QTreeWidget* tree = ui->TreeView1;
  QTreeWidget* list = ui->ListView1;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) tree->topLevelItem(i)->setText(0, "Port");
  list->clear();
  const int count = ClampDeviceCount(deviceCount_);
  for (int i = 0; i < count; ++i) {
    const SdkPortRecord& record = pass_.ports[static_cast<size_t>(i)];
    station::FillPortRow(new QTreeWidgetItem(list), BuildSdkPortRow(record, settings_));
    station::ShowPresentPortNode(tree, i, record.hubPort);
  }
  if (count > 0) ShowProgress(SdkProgress(pass_.ports, count));
  ShowYield();
}

void TMainForm::ShowYield() {
  station::SetText(ui->YieldEdit,
                   std::to_string(settings_.NumberOfPass) + "/" + std::to_string(settings_.TotalTestCount));
}

void TMainForm::ResetYieldBtnClick() {
  settings_.TotalTestCount = 0;
  settings_.NumberOfPass = 0;
  pass_.nextLogNumber = 0;  // a new count numbers its rows from the start again
  ShowYield();
}

}  // namespace sdkstation
