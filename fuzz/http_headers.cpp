// The HTTP client's reading of response header lines, as libcurl's header
// callback hands them over (one line at a time, line break included), and
// what the final block means for the request.
#include <cstdint>
#include <string_view>

#include "art/http.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte picks the request's limit.
    static const uint32_t kMax[] = {0, 4096, 1u << 20, 0xFFFFFFFFu};
    const uint32_t max = kMax[data[0] & 3];
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    zk::HttpHead head;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        size_t n = nl == std::string_view::npos ? text.size() : nl + 1;
        if (zk::http_head_line(head, text.substr(0, n))) {
            int rc = zk::http_head_result(head, max);
            // A body is read only for a 200 with a length within every limit.
            if (rc == zk::kHttpInProgress &&
                (head.status != 200 || !head.has_length || head.length == 0 || head.length > zk::kHttpHardMax ||
                 (max != 0 && head.length > max)))
                __builtin_trap();
            // Any other answer reads as its status, never as one of the result codes.
            if (head.status != 200 && rc < 100 && rc != zk::kHttpNotModified && rc != zk::kHttpNotFound)
                __builtin_trap();
            if (head.date.size() > 40) __builtin_trap();
        }
        text.remove_prefix(n);
    }
    return 0;
}
