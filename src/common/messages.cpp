#include "common/messages.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <iterator>

namespace zk {

namespace {

struct Message {
    int id;
    const char* text;
};

constexpr Message kMessages[] = {
#define ZK_MESSAGE(id, text) {id, text},
#include "common/message_table.inc"
#undef ZK_MESSAGE
};

constexpr bool sorted_unique() {
    for (size_t i = 1; i < std::size(kMessages); ++i)
        if (kMessages[i - 1].id >= kMessages[i].id) return false;
    return true;
}
static_assert(sorted_unique(), "message table must be sorted by number without repeats");

constexpr int kBuffers = 4;
constexpr int kBufferSize = 512;

}  // namespace

const char* message_format(int id) {
    auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), id,
                               [](const Message& m, int v) { return m.id < v; });
    if (it == std::end(kMessages) || it->id != id) return nullptr;
    return it->text;
}

const char* load_message(int id, ...) {
    // Rotating buffers belong to the calling thread; only the main thread
    // shows messages, but a worker must never scribble over its results.
    thread_local char buffers[kBuffers][kBufferSize];
    thread_local int next = 0;
    char* out = buffers[next];
    next = (next + 1) % kBuffers;
    const char* format = message_format(id);
    if (!format) {
        out[0] = '\0';
        return out;
    }
    va_list args;
    va_start(args, id);
    std::vsnprintf(out, kBufferSize, format, args);
    va_end(args);
    return out;
}

const char* product_name() { return message_format(8); }

}  // namespace zk
