// The port picked in the tree and the detail window it opens.
#include <QCheckBox>
#include <QTreeWidget>

#include "platform/message_box.h"
#include "sdkstation/device_details.h"
#include "sdkstation/windows/detail_form.h"
#include "sdkstation/windows/main_form.h"
#include "ui_sdkmainform.h"

namespace sdkstation {
namespace {

constexpr char kSelectPortFirst[] = "Please select one port to display by left port view first!!";

}  // namespace

void TMainForm::TreeView1Click() {
  QTreeWidget* tree = ui->TreeView1;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    if (!tree->topLevelItem(i)->isSelected()) continue;
    SelectedPort = i + 1;
    return;
  }
}

void TMainForm::DblClickBtnClick() {
  if (deviceCount_ == 0 || !ui->RDCheck->isChecked()) return;
  if (SelectedPort == 0) {
    platform::ShowMessage(kSelectPortFirst);
    return;
  }
  if (SelectedPort < 0 || SelectedPort > ClampDeviceCount(deviceCount_) || detailForm_ == nullptr) return;
  const SdkPortRecord& record = pass_.ports[static_cast<size_t>(SelectedPort - 1)];
  detailForm_->Fill(CollectSdkDeviceDetails(record, !DeviceWorkRuns()));
  detailForm_->show();
  detailForm_->raise();
  detailForm_->activateWindow();
}

}  // namespace sdkstation
