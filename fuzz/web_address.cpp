// Addresses a page in the web pane asks to go to: whatever they hold, only
// web pages are followed (a page's main-frame address is remembered), a page moving by itself queues nothing, and a
// click queues at most the one teleport.
#include <cstdint>
#include <string>

#include "common/text.h"
#include "shell/url.h"
#include "shell/web.h"
#include "world/behavior.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string address(reinterpret_cast<const char*>(data), size);
    zk::behavior_reset();
    for (bool main_frame : {false, true}) {
        if (zk::web_navigation(address, false, main_frame) == zk::WebVerdict::allow) {
            // What is followed (a bare host/path as http) is a web page.
            const std::string page = main_frame ? zk::web_last_address() : zk::url_checked(address);
            if (!zk::starts_with_ignoring_case(page, "http://") && !zk::starts_with_ignoring_case(page, "https://"))
                __builtin_trap();
            for (char c : address)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) __builtin_trap();
        }
        if (zk::behavior_queued() != 0) __builtin_trap();
    }
    const bool allowed = zk::web_navigation(address, true) == zk::WebVerdict::allow;
    if (zk::behavior_queued() > (allowed ? 0u : 1u)) __builtin_trap();
    zk::behavior_reset();
    return 0;
}
