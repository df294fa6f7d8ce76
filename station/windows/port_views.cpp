#include "station/windows/port_views.h"

#include <QStyle>

#include <cstdint>
#include <iterator>

#include "station/windows/control_events.h"

namespace station {
namespace {

constexpr uint32_t kProgressBarColor = 0xFF0000;  // blue
constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kBlue = 0xFF0000;
constexpr uint32_t kBlack = 0x000000;
constexpr int kStatusPanelWidths[] = {360, 260, 50};
constexpr int kPortListColumnWidths[] = {36, 36, 195, 80, 80, 50, 40, 40, 58, 60, 50, 135, 40, 40};

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

void SetPortListColumnWidths(QTreeWidget* list) {
  for (int column = 0; column < static_cast<int>(std::size(kPortListColumnWidths)); ++column)
    list->setColumnWidth(column, kPortListColumnWidths[column]);
}

void FillPortRow(QTreeWidgetItem* item, const PortRow& row) {
  const QFont plain = item->treeWidget() ? item->treeWidget()->font() : item->font(0);
  item->setText(0, FromStationText(row.caption));
  for (int c = 0; c < kPortRowCells; ++c) {
    item->setText(c + 1, FromStationText(row.cells[static_cast<size_t>(c)]));
    item->setFont(c + 1, plain);
    ColourResultCell(item, c + 1);
  }
}

void ColourResultCell(QTreeWidgetItem* item, int column) {
  if (column < 1 || column >= item->columnCount()) return;
  const CellStyle style = ResultCellStyle(ToStationText(item->text(column)));
  if (style == CellStyle::kPlain) {
    item->setForeground(column, BgrColor(kBlack));
    return;
  }
  item->setForeground(column, BgrColor(style == CellStyle::kFailRed ? kRed : kBlue));
  QFont bold = item->font(column);
  bold.setBold(true);
  item->setFont(column, bold);
}

void ShowPresentPortNode(QTreeWidget* tree, int slot, int32_t hubPort) {
  SetPortNodeImage(tree, slot, 1);
  if (QTreeWidgetItem* node = tree->topLevelItem(slot)) node->setText(0, QString("Port  %1").arg(hubPort));
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
