// The pieces of the main window that show the ports and the pass, alike in
// both programs: the tree view's port nodes and the status bar with the
// progress bar.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTreeWidget>

namespace station {

// The node data role that holds a port node's image index.
inline constexpr int kPortNodeImageRole = Qt::UserRole;

// One "Port" node per port position, each with the empty-port image.
void AddPortNodes(QTreeWidget* tree, int count);
// Image 1 (a product is there) or 0 (an empty port) of node `slot`.
void SetPortNodeImage(QTreeWidget* tree, int slot, int image);

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
