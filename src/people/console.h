// The console.
#pragma once

#include <string>
#include <vector>

namespace zk {

bool console_init();
void console_term();
// A system message in the console, shown as "speaker: text".
void console_system(const std::string& speaker, const std::string& text);
// The last system lines, "speaker: text", oldest first (at most 100).
const std::vector<std::string>& console_recent();

}  // namespace zk
