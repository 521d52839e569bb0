// The status bar's panes: each has a relative width, and the bar's width is
// shared out among them.
#pragma once

#include <vector>

namespace zk {

// The right edges of panes with these weights on a bar `width` pixels wide:
// the running sum of each pane's share of width - 15, the last one 15 more
// (the size grip's corner).
std::vector<int> status_edges(const std::vector<int>& weights, int width);

// The first pane's weight: the program's own status text.
constexpr int kStatusMainWeight = 24;

void status_init();

}  // namespace zk
