// The external web browser: [browser] name when set, run with the address
// as its one argument, else the desktop's default.
#pragma once

#include <string>

namespace zk {

void url_init(const std::string& browser);
void url_term();
// Opens an http or https address (a bare host/path is taken as http), or a
// file address when `local` (the program's own pages); false when the
// address was refused or no browser took it.
bool url_open(const std::string& address, bool local = false);
// The address url_open would hand on (http added to a bare host/path), or
// "" when it refuses it.
std::string url_checked(const std::string& address, bool local = false);

}  // namespace zk
