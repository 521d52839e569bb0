// The program's own dialogs in Qt: thin views over their controllers.
#pragma once

#include <memory>

#include "platform/dialogs.h"

class QDialog;

namespace zk {

class QtDialogs : public DialogPort {
public:
    QtDialogs();
    ~QtDialogs() override;

    void about_show(const AboutView& view) override;
    void about_hide() override;
    AboutButton about_wait(int ms) override;
    int run_login(LoginController& c) override;
    int run_tourist(TouristController& c) override;
    int run_immigration(ImmigrationController& c) override;
    void run_contact(ContactController& c) override;
    void show_telegram(const std::string& from, const std::string& text) override;
    void run_world_options(WorldOptionsController& c) override;
    // In teleport_dialogs.cpp.
    void run_teleport(TeleportController& c) override;
    void run_remember(RememberController& c) override;
    void run_locations(LocationsController& c) override;

    // The splash dialog while it exists (tests).
    QDialog* about_dialog() const;

private:
    struct About;
    std::unique_ptr<About> about_;
    AboutView view_;
    bool unattended_ = false;
};

}  // namespace zk
