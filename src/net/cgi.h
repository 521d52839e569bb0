// The hand-in: a file named on the command line, or handed over by a second
// start of the browser, whose first line may be a teleport.
#pragma once

#include <string>

namespace zk {

void cgi_init(const std::string& command_line);
void cgi_register_window();
// Task "cgi": reads a pending file and queues its teleport.
void cgi_update();
void cgi_term();
// A second start's command line: it replaces any file still pending.
void cgi_hand_in(const std::string& command_line);
// The next queued action command for the behavior language, if any.
bool cgi_take_command(std::string& command);

constexpr size_t kCgiLineLimit = 255;

}  // namespace zk
