// The command-line hand-in: a teleport given to the program on its command line or by a second instance.
#pragma once

#include <string>

namespace zk {

void cgi_init(const std::string& command_line);
void cgi_register_window();
void cgi_update();
void cgi_term();
void cgi_hand_in(const std::string& command_line);

}  // namespace zk
