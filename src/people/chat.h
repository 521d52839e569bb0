// The chat entry: a line typed under the 3D view goes, after the user's
// name, to the users around and into the console, and shows for 30 s in a
// balloon over the own figure while the view is third-person.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zk {

constexpr size_t kChatEntryMax = 234;    // characters the entry takes
constexpr size_t kChatTextMax = 255;     // bytes of it that are read
constexpr size_t kChatLineMax = 511;     // bytes of the own line
constexpr uint32_t kChatShownMs = 30000; // the own line's time in the balloon

bool chat_init();
// The task.
void chat_update();
// Enter in the chat entry, with the entry's text (UTF-8).
void chat_enter(const std::string& text);
// The user's name changed: a shown own balloon shows the new one.
void chat_name_changed();
// What the own balloon shows (the last line, or the name).
const std::string& chat_own_line();
// The own balloon, none while the view is first-person.
bool chat_own_balloon();
// The clock of the own line (the frame clock); tests put in their own, none
// restores it.
void chat_set_clock(uint32_t (*now)());

}  // namespace zk
