// The gesture buttons: one per action of the own avatar type, in a bar
// under the toolbar; a button plays its action, which the others see.
#pragma once

#include <string>
#include <vector>

namespace zk {

constexpr int kGestureCommandFirst = 3000;
// The main menu's mnemonics, which a button's must not take.
constexpr const char* kGestureMenuLetters = "ftvoswcah";

void gesture_init();
// The own avatar type's actions as buttons, anew (after the avatar table
// loads, on world entry, when the own avatar changes).
void gesture_rebuild();
// Command 3000 + i plays gesture i + 1; false for other commands.
bool gesture_command(int command);
// The labels the bar shows.
const std::vector<std::string>& gesture_labels();

// Button labels for action names: each in capitals, with "&" before its
// first letter that is neither one of the menu's mnemonics nor an earlier
// label's (case-insensitive); none when no letter is left.
std::vector<std::string> gesture_make_labels(const std::vector<std::string>& names);

}  // namespace zk
