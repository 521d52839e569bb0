// The program's own dialogs, as the window system shows them. Each modal
// dialog is driven by a controller of plain code that decides what it
// shows; the window system only displays fields and forwards buttons.
#pragma once

#include <string>
#include <vector>

namespace zk {

// What a button press leads to: stay open with a status text, or close with
// a result.
struct DialogStep {
    bool close = false;
    int result = 0;
    std::string status;
};

// "Enter Quorvane as..."
class LoginController {
public:
    virtual ~LoginController() = default;
    virtual std::string initial_name() = 0;
    virtual std::string initial_password() = 0;
    virtual std::string initial_status() = 0;
    virtual DialogStep ok(const std::string& name, const std::string& password) = 0;
    virtual DialogStep forgot(const std::string& name) = 0;
    // "Tourist...": the tourist dialog runs from here.
    virtual DialogStep tourist() = 0;
    // Called every 100 ms while open: a status text that arrived meanwhile
    // (empty for none).
    virtual std::string poll() = 0;
};

// "Welcome to Quorvane!"
class TouristController {
public:
    virtual ~TouristController() = default;
    virtual std::string initial_name() = 0;
    virtual DialogStep ok(const std::string& name) = 0;
};
// The tourist dialog's result when "Immigrate" was pressed.
constexpr int kTouristImmigrate = 2;

// "Quorvane Immigration"
struct ImmigrationFields {
    std::string name, password, confirm, email;
};
class ImmigrationController {
public:
    virtual ~ImmigrationController() = default;
    virtual ImmigrationFields initial_fields() = 0;
    virtual std::string information() = 0;
    virtual std::string initial_status() = 0;
    virtual bool ok_enabled() = 0;
    virtual DialogStep ok(const ImmigrationFields& fields) = 0;
    // A reply that arrived meanwhile may fill the e-mail field, change the
    // status and enable OK.
    struct Update {
        bool changed = false;
        std::string status;
        std::string email;  // filled in when not empty
        bool ok_enabled = false;
    };
    virtual Update poll() = 0;
};

// "Contact Citizen"
class ContactController {
public:
    virtual ~ContactController() = default;
    virtual DialogStep send(const std::string& name, const std::string& text) = 0;
    virtual std::string poll() = 0;
};

// "World Options"
struct WorldOptionsFields {
    std::string title, backdrop, ground, object_path, home_page, object_password, refresh, radius;
    std::string enter, build, eminent_domain, special_objects, special_actions, public_speakers;
    int red = 0, green = 0, blue = 0;
};
class WorldOptionsController {
public:
    virtual ~WorldOptionsController() = default;
    virtual std::string window_title() = 0;
    virtual bool editable() = 0;
    // True once the server's answer filled the fields (or failed).
    virtual bool ready() = 0;
    virtual WorldOptionsFields fields() = 0;
    // OK: answers whether the window closes.
    virtual bool ok(const WorldOptionsFields& fields) = 0;
};

// "Teleport": a world from the universe's list (or typed) and coordinates.
struct TeleportWorlds {
    bool changed = false;             // from poll: a list arrived meanwhile
    bool fill = false;                // the combo takes `names`
    std::vector<std::string> names;
    std::string text;                 // the combo's text (the current world)
};
class TeleportController {
public:
    virtual ~TeleportController() = default;
    virtual TeleportWorlds initial() = 0;
    // Called every 100 ms while open.
    virtual TeleportWorlds poll() = 0;
    virtual void ok(const std::string& world, const std::string& coordinates) = 0;
};

// "Remember this location"
class RememberController {
public:
    virtual ~RememberController() = default;
    // The longest name that still fits a line of the file.
    virtual int name_limit() = 0;
    // Answers whether the dialog closes.
    virtual bool ok(const std::string& name) = 0;
};

// The editor of the remembered locations: works on a copy until OK.
class LocationsController {
public:
    virtual ~LocationsController() = default;
    virtual std::vector<std::string> names() = 0;
    // The name as kept (cut to fit), or empty when refused.
    virtual std::string rename(int index, const std::string& name) = 0;
    virtual void remove(int index) = 0;
    // Answers whether the dialog closes (false: the file could not be
    // written and nothing changed).
    virtual bool ok() = 0;
};

enum class AboutButton { none, ok, skip, cancel };

struct AboutView {
    std::string title, version, build, message;
    bool ok = false, skip = false, cancel = false;
    // Nothing more happens until the user presses a button.
    bool waiting_for_user = false;
};

class DialogPort {
public:
    virtual ~DialogPort() = default;

    // The splash / About dialog (modeless).
    virtual void about_show(const AboutView& view) = 0;
    virtual void about_hide() = 0;
    // Lets the window system run for up to `ms`; answers a button pressed
    // meanwhile.
    virtual AboutButton about_wait(int ms) = 0;

    // Modal dialogs; each answers the result of the step that closed it
    // (1 when the window was closed or cancelled).
    virtual int run_login(LoginController& c) = 0;
    virtual int run_tourist(TouristController& c) = 0;
    virtual int run_immigration(ImmigrationController& c) = 0;
    virtual void run_contact(ContactController& c) = 0;
    // Shows a telegram that arrived.
    virtual void show_telegram(const std::string& from, const std::string& text) = 0;
    virtual void run_world_options(WorldOptionsController& c) { (void)c; }
    virtual void run_teleport(TeleportController& c) { (void)c; }
    virtual void run_remember(RememberController& c) { (void)c; }
    virtual void run_locations(LocationsController& c) { (void)c; }
};

void dialogs_set_port(DialogPort* port);
DialogPort& dialogs();
bool dialogs_present();

}  // namespace zk
