// Telegrams: sending one to a citizen by name, the notice that one waits,
// and reading it.
#pragma once

#include <string>

#include "platform/dialogs.h"

namespace zk {

void telegram_init();
void telegram_update();

// The "Contact Citizen" dialog (command 146).
void telegram_contact();
// "Read telegram" (command 147): asks for the waiting telegram.
void telegram_read();
bool telegram_waiting();

// The dialog's logic, for the window system and tests.
class ContactDialog : public ContactController {
public:
    ContactDialog();
    ~ContactDialog() override;
    DialogStep send(const std::string& name, const std::string& text) override;
    std::string poll() override;
};

constexpr int kCommandReadTelegram = 147;

// Enables or disables a command's menu item; the menus sit above the
// network, so start-up binds it. Null leaves the menus alone.
void telegram_set_menu_port(void (*set_enabled)(int command, bool enabled));

}  // namespace zk
