// The pieces of the main window that show the ports and the pass, alike in
// both programs: the tree view's port nodes and the status bar with the
// progress bar.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTreeWidget>

#include <cstdint>

#include "station/port_rows.h"

namespace station {

// The node data role that holds a port node's image index.
inline constexpr int kPortNodeImageRole = Qt::UserRole;

// One "Port" node per port position, each with the empty-port image.
void AddPortNodes(QTreeWidget* tree, int count);
// Image 1 (a product is there) or 0 (an empty port) of node `slot`.
void SetPortNodeImage(QTreeWidget* tree, int slot, int image);

// The port list's column widths, so that all fourteen columns fit beside
// the tree without scrolling and a row's identity and R/W speeds read whole.
void SetPortListColumnWidths(QTreeWidget* list);

// A row's caption and cells into `item`, each result cell coloured.
void FillPortRow(QTreeWidgetItem* item, const PortRow& row);
// The colour rule of a result cell: "Fail" or "Unmatched" red and bold,
// "Pass" blue and bold, anything else black.
void ColourResultCell(QTreeWidgetItem* item, int column);

// Node `slot` of a present port: image 1, "Port  " and its hub port number.
void ShowPresentPortNode(QTreeWidget* tree, int slot, int32_t hubPort);

// The status bar's three panels.
struct StatusPanels {
  QLabel* text = nullptr;
  // The progress bar's place: the bar is drawn over it, so whoever shows it
  // follows this panel's resizes and shows.
  QWidget* progressPlace = nullptr;
  QLabel* percent = nullptr;  // "0%"
};

// The status bar's three panels with the progress bar in the middle one:
// hidden, blue, at 0 of 100; the wait panel hidden and in front.
StatusPanels SetUpStatusBar(QStatusBar* bar, QProgressBar* progress, QWidget* waitPanel);

}  // namespace station
