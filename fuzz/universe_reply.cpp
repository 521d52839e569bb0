// Bytes from the universe server into the receive stream and the reply
// decoder, as the connection reads them; every reply is handed to hooks
// that read all of it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/universe.h"

namespace {

volatile uint32_t g_sink;

void take(const std::string& s) {
    for (char c : s) g_sink = g_sink + static_cast<uint8_t>(c);
}

bool install() {
    zk::UniverseHooks& h = zk::universe_hooks();
    h.attributes = [](int rc, const std::string* email) {
        g_sink = g_sink + static_cast<uint32_t>(rc);
        if (email) take(*email);
    };
    h.password_sent = [](int rc) { g_sink = g_sink + static_cast<uint32_t>(rc); };
    h.world_list = [](const uint8_t* bytes, size_t length) {
        for (size_t i = 0; i < length; ++i) g_sink = g_sink + bytes[i];
    };
    h.citizen_name = [](uint32_t number, int rc, const std::string& name) {
        g_sink = g_sink + number + static_cast<uint32_t>(rc);
        take(name);
    };
    h.telegram_waiting = [] { g_sink = g_sink + 1; };
    h.telegram = [](uint32_t number, const std::string& first, const std::string& second, uint8_t flag) {
        g_sink = g_sink + number + flag;
        take(first);
        take(second);
    };
    h.citizen_number = [](int rc, const std::string& name, uint32_t number) {
        g_sink = g_sink + number + static_cast<uint32_t>(rc);
        take(name);
    };
    h.whos_at = [](const uint8_t user[4], int rc, const std::string& name) {
        g_sink = g_sink + user[0] + user[3] + static_cast<uint32_t>(rc);
        take(name);
    };
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool installed = install();
    (void)installed;
    size_t frames = 0;
    zk::universe_parse(data, size, &frames);
    // Closes what a run could have opened and clears the relogin state.
    zk::universe_term();
    return 0;
}
