// The console: a read-only pane that keeps the conversation and the
// system's messages, one styled line each, "speaker:<tab>text".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

// Past this many characters held, each print first drops the oldest line.
constexpr size_t kConsoleTrimAt = 30000;
// A line is cut to this many bytes of UTF-8 (whole characters), and only
// this many bytes of the text given are read at all.
constexpr size_t kConsoleLineMax = 1023;
constexpr size_t kConsoleReadMax = 4096;

bool console_init();
void console_term();

// Prints a line in a style: 0 plain, 1 bold, 2 teal, 3 green, 4 grey; any
// other prints as 0. The text is bytes from anywhere (see console_text); the
// blank after its first colon becomes a tab, so that messages line up.
void console_print(int style, const std::string& text);
// A system message in the console, shown as "speaker: text".
void console_system(const std::string& speaker, const std::string& text);
// The last system lines, "speaker: text", oldest first (at most 100).
const std::vector<std::string>& console_recent();
// Characters the console holds, as it counts them (a line break is two).
size_t console_count();

// Bytes made safe to show: valid UTF-8 stays, any other byte is read as
// Windows-1252, and control characters (and the ones that break or reorder
// a line) become blanks.
std::string console_text(std::string_view bytes);
// The length of `text` cut to at most `max` bytes without splitting a
// UTF-8 character.
size_t utf8_cut(std::string_view text, size_t max);

}  // namespace zk
