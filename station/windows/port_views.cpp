#include "station/windows/port_views.h"

#include <QStyle>

#include <cstdint>

#include "station/windows/control_events.h"

namespace station {
namespace {

constexpr uint32_t kProgressBarColor = 0xFF0000;  // blue
constexpr int kStatusPanelWidths[] = {360, 260, 50};

}  // namespace

void AddPortNodes(QTreeWidget* tree, int count) {
  for (int slot = 0; slot < count; ++slot) {
    new QTreeWidgetItem(tree, QStringList("Port"));
    SetPortNodeImage(tree, slot, 0);
  }
}

void SetPortNodeImage(QTreeWidget* tree, int slot, int image) {
  QTreeWidgetItem* node = tree->topLevelItem(slot);
  if (!node) return;
  node->setData(0, kPortNodeImageRole, image);
  node->setIcon(0, image == 1 ? tree->style()->standardIcon(QStyle::SP_DriveHDIcon) : QIcon());
}

StatusPanels SetUpStatusBar(QStatusBar* bar, QProgressBar* progress, QWidget* waitPanel) {
  StatusPanels panels;
  panels.text = new QLabel(bar);
  panels.text->setObjectName("StatusBar1Panel0");
  panels.text->setFixedWidth(kStatusPanelWidths[0]);
  bar->addWidget(panels.text);
  panels.progressPlace = new QWidget(bar);
  panels.progressPlace->setObjectName("StatusBar1Panel1");
  panels.progressPlace->setFixedWidth(kStatusPanelWidths[1]);
  bar->addWidget(panels.progressPlace);
  progress->setParent(panels.progressPlace);
  panels.percent = new QLabel("0%", bar);
  panels.percent->setObjectName("StatusBar1Panel2");
  panels.percent->setFixedWidth(kStatusPanelWidths[2]);
  bar->addWidget(panels.percent);

  progress->hide();
  QPalette palette = progress->palette();
  palette.setColor(QPalette::Highlight, BgrColor(kProgressBarColor));
  progress->setPalette(palette);
  progress->setRange(0, 100);
  progress->setValue(0);
  waitPanel->hide();
  waitPanel->raise();
  return panels;
}

}  // namespace station
