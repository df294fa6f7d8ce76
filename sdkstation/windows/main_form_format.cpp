// The format choice: the file system, its cluster size and the volume label
// it allows.
#include <QComboBox>
#include <QLineEdit>

#include "sdkstation/windows/main_form.h"
#include "station/settings_collection.h"
#include "station/step_helpers.h"
#include "station/windows/option_rules.h"
#include "ui_sdkmainform.h"

namespace sdkstation {
namespace {

constexpr int32_t kFileSystemExFat = 2;
constexpr int32_t kExFatClusterSize = 0x20000;
constexpr int32_t kFat32ClusterSize = 32768;
constexpr int32_t kNtfsClusterSize = 4096;

}  // namespace

void TMainForm::FFsFmtChange() {
  Ui::SdkMainForm& u = *ui;
  const int32_t fileSystem = u.FmtTypeComboBox->currentIndex();
  station::Fat32LabelRule(fileSystem, u.VolumeLabeledEdit);
  // The allocation unit the library's formats take; the cluster choice
  // (FmtSecPerClus) is the system format's own.
  if (fileSystem == kFileSystemExFat) settings_.AllocationUnitSize = kExFatClusterSize;
  if (fileSystem == station::kFileSystemFat32) settings_.AllocationUnitSize = kFat32ClusterSize;
  if (fileSystem == station::kFileSystemNtfs) {
    settings_.AllocationUnitSize = kNtfsClusterSize;
    u.FmtSecPerClusCbox->setVisible(settings_.ClusterChoiceShown != 0);
  } else {
    u.FmtSecPerClusCbox->hide();
  }
}

void TMainForm::FmtSecPerClusCboxChange() {
  settings_.FmtSecPerClus = ui->FmtTypeComboBox->currentIndex() == station::kFileSystemFat32
                                ? 0
                                : station::ClusterSizeOfItem(ui->FmtSecPerClusCbox->currentIndex());
}

}  // namespace sdkstation
