#include "platform/profile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/text.h"
#include "platform/files.h"

namespace zk {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && (is_blank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// One line of the file: [begin, end) without its line break; `next` is where
// the following line starts.
struct Line {
    size_t begin, end, next;
};

bool next_line(std::string_view text, size_t at, Line& line) {
    if (at >= text.size()) return false;
    size_t nl = text.find('\n', at);
    line.begin = at;
    if (nl == std::string_view::npos) {
        line.end = text.size();
        line.next = text.size();
    } else {
        line.end = nl;
        line.next = nl + 1;
    }
    if (line.end > line.begin && text[line.end - 1] == '\r') --line.end;
    return true;
}

// Section name of a header line, or false when the line is no header.
bool header_name(std::string_view raw, std::string_view& name) {
    std::string_view s = trim(raw);
    if (s.empty() || s.front() != '[') return false;
    s.remove_prefix(1);
    size_t close = s.find(']');
    name = trim(close == std::string_view::npos ? s : s.substr(0, close));
    return true;
}

bool key_value(std::string_view raw, std::string_view& key, std::string_view& value) {
    std::string_view s = trim(raw);
    if (s.empty() || s.front() == ';' || s.front() == '#') return false;
    size_t eq = s.find('=');
    if (eq == std::string_view::npos) return false;
    key = trim(s.substr(0, eq));
    value = trim(s.substr(eq + 1));
    return true;
}

bool read_file(const std::string& path, std::string& out) {
    return file_read_all(path, out, kProfileMaxBytes);
}

std::string clean_value(std::string_view value) {
    std::string v(value);
    for (char& c : v)
        if (c == '\n' || c == '\r') c = ' ';
    return v;
}

}  // namespace

bool profile_lookup(std::string_view text, std::string_view section, std::string_view key,
                    std::string& value) {
    bool in_section = false;
    Line line{};
    for (size_t at = 0; next_line(text, at, line); at = line.next) {
        std::string_view raw = text.substr(line.begin, line.end - line.begin);
        std::string_view name;
        if (header_name(raw, name)) {
            in_section = equal_ignoring_case(name, section);
            continue;
        }
        std::string_view k, v;
        if (in_section && key_value(raw, k, v) && equal_ignoring_case(k, key)) {
            value.assign(v);
            return true;
        }
    }
    return false;
}

std::string profile_edit(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value) {
    const std::string v = clean_value(value);
    // Keep the file's own line break style for the lines we add.
    const bool crlf = text.find("\r\n") != std::string_view::npos;
    const std::string_view eol = crlf ? "\r\n" : "\n";

    // An existing key is changed in place, in whichever occurrence of the
    // section it stands (the same one profile_lookup reads).
    bool in_section = false;
    bool section_seen = false;
    bool in_first = false;
    size_t insert = 0;  // after the last key line of the section's first occurrence
    Line line{};
    for (size_t at = 0; next_line(text, at, line); at = line.next) {
        std::string_view raw = text.substr(line.begin, line.end - line.begin);
        std::string_view name, k, val;
        if (header_name(raw, name)) {
            in_section = equal_ignoring_case(name, section);
            in_first = in_section && !section_seen;
            if (in_first) {
                section_seen = true;
                insert = line.next;
            }
            continue;
        }
        if (!in_section || !key_value(raw, k, val)) continue;
        if (equal_ignoring_case(k, key)) {
            std::string out(text.substr(0, line.begin));
            out.append(k).append("=").append(v);
            out.append(text.substr(line.end));
            return out;
        }
        if (in_first) insert = line.next;
    }

    std::string out(text);
    if (section_seen) {
        std::string add;
        // The line before may lack its break when it is the last of the file.
        if (insert > 0 && text[insert - 1] != '\n') add.append(eol);
        add.append(key).append("=").append(v).append(eol);
        out.insert(insert, add);
        return out;
    }
    if (!out.empty() && out.back() != '\n') out.append(eol);
    out.append("[").append(section).append("]").append(eol);
    out.append(key).append("=").append(v).append(eol);
    return out;
}

bool profile_read(const std::string& path, std::string_view section, std::string_view key,
                  std::string& value) {
    std::string text;
    if (!read_file(path, text)) return false;
    return profile_lookup(text, section, key, value);
}

long profile_read_int(const std::string& path, std::string_view section, std::string_view key,
                      long missing) {
    std::string value;
    if (!profile_read(path, section, key, value)) return missing;
    const char* p = value.c_str();
    bool negative = false;
    if (*p == '-' || *p == '+') negative = (*p++ == '-');
    long result = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (result > (LONG_MAX - 9) / 10) break;  // absurd values stop growing
        result = result * 10 + (*p - '0');
    }
    return negative ? -result : result;
}

bool profile_write(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value) {
    std::string text;
    if (!read_file(path, text)) {
        // A file that exists but cannot be read is not overwritten.
        if (access(path.c_str(), F_OK) == 0) return false;
        text.clear();
    }
    std::string edited = profile_edit(text, section, key, value);
    // Windows are moved and options applied with values the file already
    // holds; those need no rewrite and no sync.
    if (edited == text) return true;
    return file_replace(path, edited);
}

}  // namespace zk
