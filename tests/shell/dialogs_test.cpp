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
void when_modal(std::function<void(QDialog&)> step) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, step] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        timer->stop();
        timer->deleteLater();
        step(*d);
    });
    timer->start(20);
}

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
    when_modal([&](QDialog& d) {
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
    when_modal([](QDialog& d) { d.findChild<QPushButton*>("cancel")->click(); });
    EXPECT_EQ(tourist(), 1);
    EXPECT_EQ(identity_name(), "\"Ann Lee\"");
    dialogs_set_port(nullptr);
    identity_clear();
    setenv("ZELNIK_UNATTENDED", "1", 1);
}
