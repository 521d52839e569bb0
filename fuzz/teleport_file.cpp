// teleport.txt, a file users pass around: whatever it holds, what is read
// makes lines that read back the same, in a menu order that is sorted; the
// same bytes as the universe's world list give only showable names.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "shell/teleport.h"

namespace {

bool has_control(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    zk::LocationSkips skips;
    const std::vector<zk::LocationEntry> entries = zk::teleport_parse(text, &skips);
    if (entries.size() > zk::kLocationsMax) __builtin_trap();
    for (const zk::LocationEntry& e : entries) {
        if (e.name.empty() || e.location.empty() || e.location.find(':') != std::string::npos) __builtin_trap();
        if (has_control(e.name) || has_control(e.location)) __builtin_trap();
        if (e.location.size() + 1 + e.name.size() > zk::kLocationLineMax) __builtin_trap();
    }
    zk::LocationSkips again;
    const std::vector<zk::LocationEntry> back = zk::teleport_parse(zk::teleport_format(entries), &again);
    if (again.total() != 0 || back.size() != entries.size()) __builtin_trap();
    for (size_t i = 0; i < back.size(); ++i)
        if (back[i].name != entries[i].name || back[i].location != entries[i].location) __builtin_trap();

    const std::vector<size_t> order = zk::teleport_menu_order(entries);
    std::vector<bool> seen(entries.size());
    for (size_t k = 0; k < order.size(); ++k) {
        if (order[k] >= entries.size() || seen[order[k]]) __builtin_trap();
        seen[order[k]] = true;
        if (k > 0 && zk::less_ignoring_case(entries[order[k]].name, entries[order[k - 1]].name)) __builtin_trap();
    }
    if (order.size() != entries.size()) __builtin_trap();

    for (const std::string& name : zk::teleport_parse_worlds(data, size))
        if (name.empty() || name.size() > 255 || has_control(name)) __builtin_trap();
    return 0;
}
