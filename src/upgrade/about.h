// The splash and About dialog.
#pragma once

#include <string>

#include "platform/dialogs.h"

namespace zk {

constexpr double kBrowserVersion = 1.21;

// Creates the splash dialog and shows it for start-up. 0, or a reason.
int about_init();
// splash 1: Skip and Cancel shown (start-up); 0: the About box with OK,
// telling who the user is.
void about_show(int splash);
void about_hide();
void about_hide_cancel();
void about_set_message(const std::string& text);
// Shows a text after which the dialog waits for the user's button.
void about_set_waiting(const std::string& text);
// Hides the dialog (the start-up's last step is about_hide, which also
// traces itself).
void about_hide_dialog();
// The upgrade prompts: optional (OK, Skip, Cancel) and mandatory (OK, Cancel).
void about_should_upgrade();
void about_must_upgrade();
// Runs the window system for up to `ms` and answers a button pressed
// meanwhile; a pressed button also hides the dialog.
AboutButton about_wait(int ms);
// What the dialog shows now (tests, and the window system's first paint).
const AboutView& about_view();
bool about_visible();

}  // namespace zk
