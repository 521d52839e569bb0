#include "people/gesture.h"

#include <cctype>
#include <cstring>

#include "core/log.h"
#include "people/avatar.h"
#include "people/console.h"
#include "people/registry.h"
#include "platform/ui.h"
#include "view/self.h"

namespace zk {

namespace {

std::vector<std::string> g_labels;

}  // namespace

std::vector<std::string> gesture_make_labels(const std::vector<std::string>& names) {
    std::string taken = kGestureMenuLetters;
    std::vector<std::string> labels;
    for (const std::string& name : names) {
        std::string label;
        bool marked = false;
        for (char c : console_text(name)) {
            const unsigned char u = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(c)));
            // A literal ampersand would read as a mnemonic.
            if (c == '&') {
                label += "&&";
                continue;
            }
            if (!marked && std::isalpha(u) && u < 0x80 && taken.find(char(std::tolower(u))) == std::string::npos) {
                label += '&';
                taken += char(std::tolower(u));
                marked = true;
            }
            label += static_cast<char>(u);
        }
        labels.push_back(std::move(label));
    }
    return labels;
}

void gesture_init() {
    if (log_on(Trace::trace)) log_write("gesture_init");
}

void gesture_rebuild() {
    char names[256];
    int count = 0;
    // No entry for the type, or names too long: no buttons (the old ones
    // would play another type's actions).
    std::vector<std::string> list;
    if (registry_explicit_names(avatar_own_type(), names, sizeof names, &count))
        for (const char* p = names; count-- > 0; p += std::strlen(p) + 1) list.emplace_back(p);
    g_labels = gesture_make_labels(list);
    if (ui_present()) ui().gesture_buttons(g_labels);
}

bool gesture_command(int command) {
    const int i = command - kGestureCommandFirst;
    if (i < 0 || i >= int(g_labels.size())) return false;
    self_set_gesture(i + 1);
    return true;
}

const std::vector<std::string>& gesture_labels() { return g_labels; }

}  // namespace zk
