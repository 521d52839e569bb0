// Who the user is (a tourist, a citizen, or nobody yet), the start-up login
// sequence and the login, tourist and immigration dialogs' logic.
#pragma once

#include <cstdint>
#include <string>

#include "platform/dialogs.h"

namespace zk {

// Field limits of the dialogs.
constexpr size_t kNameLimit = 16;
constexpr size_t kPasswordLimit = 12;
constexpr size_t kEmailLimit = 50;
constexpr size_t kTelegramLimit = 245;

// The identity. A tourist's name is held in double quotes.
bool identity_present();
// The name as held, or "All Alone" when there is no identity.
std::string identity_name();
// A tourist's name without its quotes.
std::string identity_tourist_name();
const std::string& identity_password();
uint32_t identity_citizen();
bool identity_is_tourist();
void identity_set(const std::string& name, const std::string& password, uint32_t citizen);
void identity_clear();

// The start-up sequence: 0 to go on (possibly standalone), non-zero to end
// the program.
int login_init();
// The login dialog: 0 when an identity was set, 1 when cancelled.
int login();
// The tourist dialog (with its way to immigration): 0 or 1 as above.
int tourist();
// The immigration dialog: mode 0 immigrates, mode 1 changes the current
// citizen's attributes. 0 on success, 1 when cancelled.
int immigrate(int mode);

// What sign-in needs from the modules above the network: the splash dialog,
// the menus and the build check. Start-up binds them; a null entry does
// nothing (a wait answers no button, the build check lets the login go on).
struct LoginPorts {
    void (*identity_changed)(bool citizen) = nullptr;
    void (*splash_message)(const std::string& text) = nullptr;
    void (*splash_waiting)(const std::string& text) = nullptr;
    AboutButton (*splash_wait)(int ms) = nullptr;
    void (*splash_hide)() = nullptr;
    void (*splash_hide_cancel)() = nullptr;
    int (*build_check)(const std::string& name, const std::string& password) = nullptr;
};
LoginPorts& login_ports();

// Plain decisions of the dialogs.
// 0 when a tourist name (its first 15 characters) is acceptable, else the
// number of the message that says why.
int login_tourist_name_check(const std::string& name);
// The status line for a failed login.
std::string login_failure_text(int rc, const std::string& name);
// The status line for a failed immigration (mode 0) or change (mode 1).
std::string immigration_failure_text(int rc, int mode, const std::string& name);

}  // namespace zk
