// The console.
#pragma once

#include <string>

namespace zk {

bool console_init();
void console_term();
// A system message in the console, shown as "speaker: text".
void console_system(const std::string& speaker, const std::string& text);

}  // namespace zk
