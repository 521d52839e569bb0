#include "core/settings.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

#include "common/pkcipher.h"
#include "platform/profile.h"

namespace zk {

namespace {

std::string g_directory;
std::string g_path;

constexpr size_t kMaxString = 127;

}  // namespace

void settings_set_directory(const std::string& program_dir) {
    g_directory = program_dir;
    g_path = program_dir + "/zelnik.ini";
}

const std::string& program_directory() { return g_directory; }
const std::string& settings_path() { return g_path; }

bool settings_file_exists() { return !g_path.empty() && access(g_path.c_str(), F_OK) == 0; }

int settings_get_int(const char* section, const char* key) {
    long v = profile_read_int(g_path, section, key, -1);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

bool settings_put_int(const char* section, const char* key, int value) {
    return profile_write(g_path, section, key, std::to_string(value));
}

std::string settings_get_string(const char* section, const char* key) {
    std::string value;
    if (!profile_read(g_path, section, key, value)) return {};
    if (value.size() > kMaxString) value.resize(kMaxString);
    return value;
}

bool settings_put_string(const char* section, const char* key, const std::string& text) {
    return profile_write(g_path, section, key, text);
}

std::string settings_get_secret(const char* section, const char* key) {
    std::string hex;
    if (!profile_read(g_path, section, key, hex) || hex.empty()) return {};
    std::string text;
    if (!secret_decode(hex, text)) return {};
    if (text.size() > kMaxString) text.resize(kMaxString);
    return text;
}

bool settings_put_secret(const char* section, const char* key, const std::string& text) {
    return profile_write(g_path, section, key, secret_encode(text));
}

double settings_get_decimal(const char* section, const char* key, double missing) {
    std::string value;
    if (!profile_read(g_path, section, key, value) || value.empty()) return missing;
    char* end = nullptr;
    double d = std::strtod(value.c_str(), &end);
    if (end == value.c_str()) return missing;
    return d;
}

}  // namespace zk
