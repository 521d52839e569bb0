// The hand-in: a file named on the command line, or handed over by a second
// start of the browser, whose first line may be a teleport.
#pragma once

#include <string>
#include <string_view>

namespace zk {

void cgi_init(const std::string& command_line);
void cgi_register_window();
// Task "cgi": reads the first line of a pending file and queues its
// teleport. Only regular files are read; anything else is dropped at once.
void cgi_update();
// The command of a file that begins `head` (its first bytes): the first
// line up to its first comma when it begins with "teleport" in any case.
bool cgi_teleport_line(std::string_view head, std::string& command);
void cgi_term();
// A second start's command line: it replaces any file still pending.
void cgi_hand_in(const std::string& command_line);
// The next queued action command for the behavior language, if any.
bool cgi_take_command(std::string& command);

constexpr size_t kCgiLineLimit = 255;

}  // namespace zk
