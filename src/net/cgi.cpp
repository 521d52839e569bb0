#include "net/cgi.h"

#include <strings.h>

#include <cstdio>
#include <deque>

#include "app/log.h"

namespace zk {

namespace {

std::string g_pending;
std::deque<std::string> g_commands;

}  // namespace

void cgi_init(const std::string& command_line) {
    if (log_on(Trace::trace)) log_write("cgi_init (%s)", command_line.c_str());
    g_pending = command_line.substr(0, kCgiLineLimit);
}

void cgi_register_window() {
    if (log_on(Trace::trace)) log_write("cgi_register_window");
}

void cgi_hand_in(const std::string& command_line) {
    if (log_on(Trace::trace)) log_write("cgi_hand_in (%s)", command_line.c_str());
    if (!command_line.empty()) g_pending = command_line.substr(0, kCgiLineLimit);
}

void cgi_update() {
    if (g_pending.empty()) return;
    const std::string path = g_pending;
    g_pending.clear();
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return;
    char line[kCgiLineLimit + 1] = {};
    bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    if (!got) return;
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (strncasecmp(text.c_str(), "teleport", 8) != 0) return;
    text = text.substr(0, text.find(','));
    if (log_on(Trace::trace)) log_write("cgi_update (%s)", text.c_str());
    g_commands.push_back(text);
}

bool cgi_take_command(std::string& command) {
    if (g_commands.empty()) return false;
    command = std::move(g_commands.front());
    g_commands.pop_front();
    return true;
}

void cgi_term() {
    if (log_on(Trace::trace)) log_write("cgi_term");
    g_pending.clear();
    g_commands.clear();
}

}  // namespace zk
