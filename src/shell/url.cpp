#include "shell/url.h"

#include <algorithm>
#include <cctype>

#include "core/log.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace zk {

namespace {

std::string g_browser;

constexpr size_t kLongestAddress = 2048;

bool starts_with_nocase(const std::string& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i)
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

// The address a browser is given: only web pages, and local files when the
// program itself asks (its help). Worlds hand addresses over too, so
// anything that could run code in the browser (javascript:, data:), read the
// user's files or start another program is refused ("").
std::string checked_address(const std::string& given, bool local) {
    const size_t first = given.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    std::string a = given.substr(first, given.find_last_not_of(' ') - first + 1);
    if (a.size() > kLongestAddress) return {};
    if (std::any_of(a.begin(), a.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; })) return {};
    for (const char* scheme : {"http://", "https://"})
        if (starts_with_nocase(a, scheme)) return a;
    if (local && starts_with_nocase(a, "file://")) return a;
    // No scheme before the first '/': a bare host (with a port, perhaps).
    const size_t colon = a.find(':'), slash = a.find('/');
    if (colon < slash) {
        const size_t port_end = std::min(slash, a.size());
        const bool port = colon + 1 < port_end &&
                          std::all_of(a.begin() + colon + 1, a.begin() + port_end, [](char c) { return c >= '0' && c <= '9'; });
        if (!port) return {};
    }
    if (a[0] == '/' || a[0] == '-' || a[0] == '.') return {};
    return "http://" + a;
}

}  // namespace

void url_init(const std::string& browser) {
    if (log_on(Trace::trace)) log_write("url_init");
    g_browser = browser;
}

void url_term() {
    if (log_on(Trace::trace)) log_write("url_term");
    g_browser.clear();
}

std::string url_checked(const std::string& address, bool local) { return checked_address(address, local); }

bool url_open(const std::string& address, bool local) {
    const std::string a = checked_address(address, local);
    if (log_on(Trace::trace)) log_write("url_open %s", a.empty() ? "(refused)" : a.c_str());
    if (a.empty()) return false;
    if (!g_browser.empty()) return os_spawn(g_browser, {a});
    return ui_present() && ui().address_open(a);
}

}  // namespace zk
