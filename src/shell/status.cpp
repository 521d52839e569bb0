#include "shell/status.h"

#include <cstdint>

#include "core/log.h"

namespace zk {

void status_init() {
    if (log_on(Trace::trace)) log_write("status_init");
}

std::vector<int> status_edges(const std::vector<int>& weights, int width) {
    std::vector<int> edges;
    int64_t total = 0;
    for (int w : weights) total += w > 0 ? w : 0;
    const int64_t share = width > 15 ? width - 15 : 0;
    int64_t edge = 0;
    for (int w : weights) {
        // A pane of no weight (or a bar of none) gets no width of its own.
        if (total > 0 && w > 0) edge += w * share / total;
        edges.push_back(static_cast<int>(edge));
    }
    if (!edges.empty()) edges.back() += 15;
    return edges;
}

}  // namespace zk
