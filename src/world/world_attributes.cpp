#include "world/world.h"

#include <array>
#include <cstdlib>
#include <optional>

namespace zk {

namespace {

// The values the current world set; the rest are the defaults.
std::array<std::optional<std::string>, kAttributeCount> g_stored;

const std::array<std::string, kAttributeCount>& defaults() {
    static const std::array<std::string, kAttributeCount> d = {
        "Tessaly", "", "", "", "", "480", "", "", "", "", "", "0",
        "0",       "178", "", "0", "zk", "", "", "", "", "0", ""};
    return d;
}

}  // namespace

const std::string& attribute_default(int index) {
    static const std::string none;
    return index >= 0 && index < kAttributeCount ? defaults()[index] : none;
}

std::string world_attribute(int index) {
    if (index < 0 || index >= kAttributeCount) return {};
    return g_stored[index] ? *g_stored[index] : defaults()[index];
}

int attribute_number(int index) { return std::atoi(world_attribute(index).c_str()); }

bool attribute_stored(int index) { return index >= 0 && index < kAttributeCount && g_stored[index].has_value(); }

void attribute_set(int index, const std::string& value) {
    if (index < 0 || index >= kAttributeCount) return;
    if (!g_stored[index] && value == defaults()[index]) return;
    g_stored[index] = value.substr(0, 255);
}

void attributes_clear() {
    for (auto& s : g_stored) s.reset();
}

std::string attributes_encode() {
    std::string out;
    for (int i = 0; i < kAttributeCount; ++i) {
        if (!g_stored[i] || i == attr_may_change || i == attr_world_name || i == attr_public_speaker ||
            i == attr_number_21)
            continue;
        const std::string& v = *g_stored[i];
        out.push_back(static_cast<char>(i));
        out.push_back(static_cast<char>(v.size()));
        out += v;
    }
    return out;
}

void attributes_decode(const uint8_t* list, size_t length) {
    attributes_clear();
    size_t at = 0;
    while (at + 2 <= length) {
        const int index = list[at];
        const size_t n = list[at + 1];
        if (at + 2 + n > length) break;
        if (index < kAttributeCount) g_stored[index] = std::string(reinterpret_cast<const char*>(list + at + 2), n);
        at += 2 + n;
    }
}

}  // namespace zk
