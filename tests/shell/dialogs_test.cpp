#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <functional>

#include "core/settings.h"
#include "common/messages.h"
#include "net/login.h"
#include "shell/qt/dialogs_qt.h"
#include "support/temp_dir.h"

using namespace zk;

namespace {

// Runs `step` on the next modal dialog once it is up.
class WhenModal {
public:
    explicit WhenModal(std::function<void(QDialog&)> step) : step_(std::move(step)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!d) return;
            timer_.stop();
            step_(*d);
        });
        timer_.start(20);
    }

private:
    std::function<void(QDialog&)> step_;
    QTimer timer_;
};

}  // namespace

TEST(Dialogs, TheTouristDialogChecksTheNameAndSetsTheIdentity) {
    test::TempDir dir;
    settings_set_directory(dir.path());
    settings_put_string("citizen", "tourist", "Bo");
    unsetenv("ZELNIK_UNATTENDED");
    QtDialogs qt;
    dialogs_set_port(&qt);
    identity_clear();

    std::string first_status, initial;
    WhenModal checks([&](QDialog& d) {
        EXPECT_EQ(d.windowTitle().toStdString(), "Welcome to Quorvane!");
        auto* name = d.findChild<QLineEdit*>("name");
        auto* status = d.findChild<QLabel*>("status");
        auto* ok = d.findChild<QPushButton*>("ok");
        ASSERT_TRUE(name && status && ok);
        initial = name->text().toStdString();
        EXPECT_EQ(name->maxLength(), 16);
        name->setText("A");
        ok->click();
        first_status = status->text().toStdString();
        EXPECT_TRUE(d.isVisible()) << "a bad name keeps the dialog open";
        name->setText("Ann Lee");
        ok->click();
    });
    EXPECT_EQ(tourist(), 0);
    EXPECT_EQ(initial, "Bo");
    EXPECT_EQ(first_status, load_message(72));
    EXPECT_EQ(identity_name(), "\"Ann Lee\"");
    EXPECT_EQ(settings_get_string("citizen", "tourist"), "Ann Lee");

    // Cancel leaves the identity as it was.
    WhenModal cancels([](QDialog& d) { d.findChild<QPushButton*>("cancel")->click(); });
    EXPECT_EQ(tourist(), 1);
    EXPECT_EQ(identity_name(), "\"Ann Lee\"");
    dialogs_set_port(nullptr);
    identity_clear();
    setenv("ZELNIK_UNATTENDED", "1", 1);
}
