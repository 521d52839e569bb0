#include "people/console.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>

#include "core/log.h"
#include "platform/ui.h"

namespace zk {

namespace {

struct Style {
    uint32_t rgb;
    bool bold;
};
constexpr Style kStyles[] = {
    {0x000000, false},  // black
    {0x000000, true},   // black, bold
    {0x007070, false},  // teal
    {0x238E23, false},  // forest green
    {0x707070, false},  // grey
};

// Windows-1252's 0x80-0x9F; its five holes stay C1 controls (and become
// blanks).
constexpr uint16_t kCp1252[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                  0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

size_t g_count = 0;
std::deque<size_t> g_lines;  // each held line's characters, oldest first
std::vector<std::string> g_recent;

// A well-formed UTF-8 sequence at `at` (no overlong form, surrogate or value
// past U+10FFFF): its length and value; 0 when there is none.
size_t utf8_at(std::string_view s, size_t at, uint32_t* cp) {
    const auto b = [&](size_t i) { return static_cast<uint8_t>(s[at + i]); };
    const uint8_t c = b(0);
    size_t n;
    uint32_t v, min;
    if (c >= 0xC2 && c <= 0xDF) n = 2, v = c & 0x1F, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF) n = 3, v = c & 0x0F, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4) n = 4, v = c & 0x07, min = 0x10000;
    else return 0;
    if (at + n > s.size()) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        v = (v << 6) | (b(i) & 0x3F);
    }
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return n;
}

void put_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Controls would fake or split lines; line and paragraph separators break
// them, and the bidirectional embeddings and overrides reorder them.
bool hidden(uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp == 0x2028 || cp == 0x2029 || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

// Characters as the pane counts them: UTF-16 units.
size_t units(std::string_view utf8) {
    size_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80 ? (c >= 0xF0 ? 2 : 1) : 0;
    return n;
}

}  // namespace

std::string console_text(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t at = 0; at < bytes.size();) {
        const uint8_t c = static_cast<uint8_t>(bytes[at]);
        uint32_t cp = c;
        size_t n = 1;
        if (c >= 0x80) {
            n = utf8_at(bytes, at, &cp);
            if (n == 0) n = 1, cp = c < 0xA0 ? kCp1252[c - 0x80] : c;
        }
        put_utf8(out, hidden(cp) ? ' ' : cp);
        at += n;
    }
    return out;
}

size_t utf8_cut(std::string_view text, size_t max) {
    if (text.size() <= max) return text.size();
    size_t n = max;
    while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80) --n;
    return n;
}

bool console_init() {
    if (log_on(Trace::trace)) log_write("console_init");
    return true;
}

void console_term() {
    if (log_on(Trace::trace)) log_write("console_term");
    g_count = 0;
    g_lines.clear();
}

void console_print(int style, const std::string& text) {
    // Only the first lines fit the pane's line: the rest is not even read.
    std::string line = console_text(std::string_view(text).substr(0, kConsoleReadMax));
    line.resize(utf8_cut(line, kConsoleLineMax));
    if (log_on(Trace::trace)) log_write("console: %s", line.c_str());
    if (size_t colon = line.find(':'); colon != std::string::npos && colon + 1 < line.size() && line[colon + 1] == ' ')
        line[colon + 1] = '\t';

    // The oldest line goes whole, however long it is: every line ends in a
    // line break, so what is left still starts at a line.
    if (g_count > kConsoleTrimAt && !g_lines.empty()) {
        const size_t drop = std::min(g_lines.front(), g_count);
        if (ui_present()) ui().console_remove(static_cast<int>(drop));
        g_count -= drop;
        g_lines.pop_front();
    }
    const Style s = style >= 0 && style < 5 ? kStyles[style] : kStyles[0];
    if (ui_present()) ui().console_append(line, s.rgb, s.bold, g_count != 0);
    const size_t held = units(line) + 2;
    g_count += held;
    g_lines.push_back(held);
}

size_t console_count() { return g_count; }

const std::vector<std::string>& console_recent() { return g_recent; }

void console_system(const std::string& speaker, const std::string& text) {
    // Also on standard error, where a user (or a script) that started the
    // program from a terminal sees them.
    std::fprintf(stderr, "%s: %s\n", speaker.c_str(), text.c_str());
    if (g_recent.size() >= 100) g_recent.erase(g_recent.begin());
    g_recent.push_back(speaker + ": " + text);
    console_print(0, speaker + ": " + text);
}

}  // namespace zk
