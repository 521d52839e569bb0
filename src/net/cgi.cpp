#include "net/cgi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>

#include "core/log.h"
#include "common/text.h"

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

namespace {

// The first bytes of a regular file; false for anything else. A name handed
// in may point at a FIFO, a terminal or a device: opening and reading those
// could block the main thread for ever, so they are neither opened nor read.
bool read_head(const std::string& path, char* buffer, size_t size, size_t& got) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    // Swapped for something else since the stat?
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    got = 0;
    while (ok && got < size) {
        ssize_t n = read(fd, buffer + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    return ok;
}

}  // namespace

bool cgi_teleport_line(std::string_view head, std::string& command) {
    // The first line, as a C text line reads: up to a line break or a NUL.
    head = head.substr(0, std::min(head.find_first_of(std::string_view("\n\0", 2)), kCgiLineLimit));
    while (!head.empty() && head.back() == '\r') head.remove_suffix(1);
    if (!starts_with_ignoring_case(head, "teleport")) return false;
    command.assign(head.substr(0, head.find(',')));
    return true;
}

void cgi_update() {
    if (g_pending.empty()) return;
    const std::string path = g_pending;
    g_pending.clear();
    char head[kCgiLineLimit];
    size_t got = 0;
    std::string text;
    if (!read_head(path, head, sizeof head, got) || !cgi_teleport_line(std::string_view(head, got), text)) return;
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
