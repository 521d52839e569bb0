#include "shell/qt/dialogs_qt.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/messages.h"
#include "shell/qt/scheduler.h"

namespace zk {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string s(const QString& t) { return t.toStdString(); }

QLineEdit* line_edit(int limit, const char* name, bool password = false) {
    auto* e = new QLineEdit;
    e->setMaxLength(limit);
    e->setObjectName(name);
    if (password) e->setEchoMode(QLineEdit::Password);
    return e;
}

QLabel* status_line() {
    auto* l = new QLabel;
    l->setObjectName("status");
    l->setWordWrap(true);
    l->setMinimumWidth(320);
    return l;
}

// Applies a button's outcome: show its status, or close the dialog with
// its result (kept apart from QDialog's own codes, where 0 is Rejected).
void apply(QDialog& d, QLabel* status, const DialogStep& step, int& outcome) {
    if (step.close) {
        outcome = step.result;
        d.accept();
        return;
    }
    status->setText(q(step.status));
}

void close_with(QDialog& d, int& outcome, int result) {
    outcome = result;
    d.accept();
}

QPushButton* button(QDialogButtonBox* box, const char* text, const char* name, QDialogButtonBox::ButtonRole role) {
    QPushButton* b = box->addButton(text, role);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

struct QtDialogs::About {
    QDialog dialog;
    QLabel *version, *build, *message;
    QPushButton *ok, *skip, *cancel;
    AboutButton pressed = AboutButton::none;
};

QtDialogs::QtDialogs() {
    const char* u = std::getenv("ZELNIK_UNATTENDED");
    unattended_ = u && *u && *u != '0';
}

QtDialogs::~QtDialogs() = default;

QDialog* QtDialogs::about_dialog() const { return about_ ? &about_->dialog : nullptr; }

void QtDialogs::about_show(const AboutView& view) {
    view_ = view;
    if (!about_) {
        about_ = std::make_unique<About>();
        QDialog& d = about_->dialog;
        d.setObjectName("about");
        auto* layout = new QVBoxLayout(&d);
        about_->version = new QLabel;
        about_->build = new QLabel;
        about_->message = new QLabel;
        about_->message->setObjectName("message");
        about_->message->setWordWrap(true);
        about_->message->setMinimumWidth(360);
        layout->addWidget(about_->version);
        layout->addWidget(about_->build);
        layout->addWidget(about_->message);
        auto* box = new QDialogButtonBox;
        about_->ok = button(box, "OK", "ok", QDialogButtonBox::AcceptRole);
        about_->skip = button(box, "Skip", "skip", QDialogButtonBox::ActionRole);
        about_->cancel = button(box, "Cancel", "cancel", QDialogButtonBox::RejectRole);
        layout->addWidget(box);
        About* a = about_.get();
        QObject::connect(a->ok, &QPushButton::clicked, [a] { a->pressed = AboutButton::ok; });
        QObject::connect(a->skip, &QPushButton::clicked, [a] { a->pressed = AboutButton::skip; });
        QObject::connect(a->cancel, &QPushButton::clicked, [a] { a->pressed = AboutButton::cancel; });
        // Closing the window is Cancel.
        QObject::connect(&d, &QDialog::rejected, [a] { a->pressed = AboutButton::cancel; });
    }
    About& a = *about_;
    a.dialog.setWindowTitle(q(view.title));
    a.version->setText(q(view.version));
    a.build->setText(q(view.build));
    a.message->setText(q(view.message));
    a.ok->setVisible(view.ok);
    a.skip->setVisible(view.skip);
    a.cancel->setVisible(view.cancel);
    a.dialog.show();
    a.dialog.raise();
    if (unattended_ && view.waiting_for_user) std::fprintf(stderr, "%s: %s\n", view.title.c_str(), view.message.c_str());
}

void QtDialogs::about_hide() {
    if (about_) about_->dialog.hide();
}

AboutButton QtDialogs::about_wait(int ms) {
    if (!about_) return AboutButton::none;
    About& a = *about_;
    if (unattended_ && view_.waiting_for_user) {
        // Nobody is there to choose: go on when that is offered, else leave;
        // ZELNIK_UNATTENDED_UPGRADE=1 accepts an offered upgrade instead.
        const char* upgrade = std::getenv("ZELNIK_UNATTENDED_UPGRADE");
        if (view_.ok && upgrade && *upgrade == '1') return AboutButton::ok;
        return view_.skip ? AboutButton::skip : AboutButton::cancel;
    }
    a.pressed = AboutButton::none;
    QElapsedTimer t;
    t.start();
    while (a.pressed == AboutButton::none && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return a.pressed;
}

int QtDialogs::run_login(LoginController& c) {
    if (unattended_) {
        DialogStep step = c.ok(c.initial_name(), c.initial_password());
        if (!step.close) std::fprintf(stderr, "Enter %s as...: %s\n", product_name(), step.status.c_str());
        return step.close ? step.result : 1;
    }
    QDialog d;
    d.setWindowTitle(QString("Enter %1 as...").arg(product_name()));
    auto* form = new QFormLayout(&d);
    QLineEdit* name = line_edit(16, "name");
    QLineEdit* password = line_edit(12, "password", true);
    name->setText(q(c.initial_name()));
    password->setText(q(c.initial_password()));
    form->addRow("&Name:", name);
    form->addRow("&Password:", password);
    QLabel* status = status_line();
    status->setText(q(c.initial_status()));
    form->addRow(status);
    auto* box = new QDialogButtonBox;
    QPushButton* ok = button(box, "OK", "ok", QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    QPushButton* forgot = button(box, "I &Forgot", "forgot", QDialogButtonBox::ActionRole);
    QPushButton* tourist = button(box, "&Tourist...", "tourist", QDialogButtonBox::ActionRole);
    QPushButton* cancel = button(box, "Cancel", "cancel", QDialogButtonBox::RejectRole);
    form->addRow(box);
    int outcome = 1;
    QObject::connect(ok, &QPushButton::clicked, [&] {
        status->setText(load_message(154));
        apply(d, status, c.ok(s(name->text()), s(password->text())), outcome);
    });
    QObject::connect(forgot, &QPushButton::clicked, [&] { apply(d, status, c.forgot(s(name->text())), outcome); });
    QObject::connect(tourist, &QPushButton::clicked, [&] { apply(d, status, c.tourist(), outcome); });
    QObject::connect(cancel, &QPushButton::clicked, [&] { close_with(d, outcome, 1); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        std::string text = c.poll();
        if (!text.empty()) status->setText(q(text));
    });
    poll.start(100);
    return run_modal_dialog(d) == QDialog::Accepted ? outcome : 1;
}

int QtDialogs::run_tourist(TouristController& c) {
    if (unattended_) {
        DialogStep step = c.ok(c.initial_name());
        if (!step.close) std::fprintf(stderr, "Welcome to %s!: %s\n", product_name(), step.status.c_str());
        return step.close ? step.result : 1;
    }
    QDialog d;
    d.setObjectName("tourist");
    d.setWindowTitle(QString("Welcome to %1!").arg(product_name()));
    auto* form = new QFormLayout(&d);
    QLineEdit* name = line_edit(16, "name");
    name->setText(q(c.initial_name()));
    form->addRow("&Name:", name);
    QLabel* status = status_line();
    form->addRow(status);
    auto* box = new QDialogButtonBox;
    QPushButton* ok = button(box, "OK", "ok", QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    QPushButton* cancel = button(box, "Cancel", "cancel", QDialogButtonBox::RejectRole);
    QPushButton* immigrate = button(box, "Immigrate", "immigrate", QDialogButtonBox::ActionRole);
    form->addRow(box);
    int outcome = 1;
    QObject::connect(ok, &QPushButton::clicked, [&] { apply(d, status, c.ok(s(name->text())), outcome); });
    QObject::connect(cancel, &QPushButton::clicked, [&] { close_with(d, outcome, 1); });
    QObject::connect(immigrate, &QPushButton::clicked, [&] { close_with(d, outcome, kTouristImmigrate); });
    return run_modal_dialog(d) == QDialog::Accepted ? outcome : 1;
}

int QtDialogs::run_immigration(ImmigrationController& c) {
    if (unattended_) return 1;
    QDialog d;
    d.setObjectName("immigration");
    d.setWindowTitle(QString("%1 Immigration").arg(product_name()));
    auto* form = new QFormLayout(&d);
    auto* info = new QLabel(q(c.information()));
    info->setWordWrap(true);
    form->addRow(info);
    ImmigrationFields f = c.initial_fields();
    QLineEdit* name = line_edit(16, "name");
    QLineEdit* password = line_edit(12, "password", true);
    QLineEdit* confirm = line_edit(12, "confirm", true);
    QLineEdit* email = line_edit(50, "email");
    name->setText(q(f.name));
    password->setText(q(f.password));
    confirm->setText(q(f.confirm));
    email->setText(q(f.email));
    form->addRow("&Name:", name);
    form->addRow("&Password:", password);
    form->addRow("&Confirm password:", confirm);
    form->addRow("&E-mail address:", email);
    QLabel* status = status_line();
    status->setText(q(c.initial_status()));
    form->addRow(status);
    auto* box = new QDialogButtonBox;
    QPushButton* ok = button(box, "OK", "ok", QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    ok->setEnabled(c.ok_enabled());
    QPushButton* cancel = button(box, "Cancel", "cancel", QDialogButtonBox::RejectRole);
    form->addRow(box);
    int outcome = 1;
    QObject::connect(ok, &QPushButton::clicked, [&] {
        apply(d, status, c.ok({s(name->text()), s(password->text()), s(confirm->text()), s(email->text())}), outcome);
    });
    QObject::connect(cancel, &QPushButton::clicked, [&] { close_with(d, outcome, 1); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        ImmigrationController::Update u = c.poll();
        if (!u.changed) return;
        status->setText(q(u.status));
        if (!u.email.empty()) email->setText(q(u.email));
        ok->setEnabled(u.ok_enabled);
    });
    poll.start(100);
    return run_modal_dialog(d) == QDialog::Accepted ? outcome : 1;
}

void QtDialogs::run_contact(ContactController& c) {
    if (unattended_) return;
    QDialog d;
    d.setObjectName("contact");
    d.setWindowTitle("Contact Citizen");
    auto* form = new QFormLayout(&d);
    QLineEdit* name = line_edit(16, "name");
    QLineEdit* text = line_edit(245, "text");
    form->addRow("&Citizen:", name);
    form->addRow("&Telegram:", text);
    QLabel* status = status_line();
    form->addRow(status);
    auto* box = new QDialogButtonBox;
    QPushButton* send = button(box, "&Send", "send", QDialogButtonBox::ActionRole);
    for (const char* unused : {"Join", "Call", "Add", "Remove"}) button(box, unused, unused, QDialogButtonBox::ActionRole)->setEnabled(false);
    QPushButton* ok = button(box, "OK", "ok", QDialogButtonBox::AcceptRole);
    form->addRow(box);
    int outcome = 0;
    QObject::connect(send, &QPushButton::clicked, [&] { apply(d, status, c.send(s(name->text()), s(text->text())), outcome); });
    QObject::connect(ok, &QPushButton::clicked, [&] { d.accept(); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        std::string t = c.poll();
        if (!t.empty()) status->setText(q(t));
    });
    poll.start(100);
    run_modal_dialog(d);
}

void QtDialogs::run_world_options(WorldOptionsController& c) {
    if (unattended_) return;
    QDialog d;
    d.setObjectName("world_options");
    d.setWindowTitle(q(c.window_title()));
    auto* form = new QFormLayout(&d);
    struct Field {
        const char* label;
        std::string WorldOptionsFields::*member;
        int limit;
        QLineEdit* edit = nullptr;
    };
    std::vector<Field> fields = {
        {"&Title:", &WorldOptionsFields::title, 255},
        {"&Backdrop:", &WorldOptionsFields::backdrop, 255},
        {"&Ground:", &WorldOptionsFields::ground, 255},
        {"Object &Path:", &WorldOptionsFields::object_path, 255},
        {"&Home Page:", &WorldOptionsFields::home_page, 255},
        {"Object Pass&word:", &WorldOptionsFields::object_password, 200},
        {"Object &Refresh (minutes):", &WorldOptionsFields::refresh, 255},
        {"Restricted Ra&dius:", &WorldOptionsFields::radius, 255},
        {"&Enter:", &WorldOptionsFields::enter, 255},
        {"B&uild:", &WorldOptionsFields::build, 255},
        {"E&minent Domain:", &WorldOptionsFields::eminent_domain, 255},
        {"Special &Objects:", &WorldOptionsFields::special_objects, 255},
        {"Special &Actions:", &WorldOptionsFields::special_actions, 255},
        {"Public &Speakers:", &WorldOptionsFields::public_speakers, 255},
    };
    for (Field& f : fields) {
        f.edit = line_edit(f.limit, f.label);
        f.edit->setEnabled(false);
        form->addRow(f.label, f.edit);
    }
    int red = 0, green = 0, blue = 0;
    auto* swatch = new QLabel;
    swatch->setObjectName("swatch");
    swatch->setFixedSize(48, 20);
    swatch->setAutoFillBackground(true);
    auto paint = [&] {
        QPalette p = swatch->palette();
        p.setColor(QPalette::Window, QColor(red, green, blue));
        swatch->setPalette(p);
    };
    auto* change = new QPushButton("Change...");
    change->setObjectName("change");
    change->setEnabled(false);
    auto* colour_row = new QHBoxLayout;
    colour_row->addWidget(swatch);
    colour_row->addWidget(change);
    form->addRow("Backdrop Color:", colour_row);
    auto* box = new QDialogButtonBox;
    QPushButton* ok = button(box, "OK", "ok", QDialogButtonBox::AcceptRole);
    ok->setEnabled(false);
    QPushButton* cancel = button(box, "Cancel", "cancel", QDialogButtonBox::RejectRole);
    form->addRow(box);
    QObject::connect(change, &QPushButton::clicked, [&] {
        QColor chosen = QColorDialog::getColor(QColor(red, green, blue), &d, "Backdrop Color");
        if (!chosen.isValid()) return;
        red = chosen.red();
        green = chosen.green();
        blue = chosen.blue();
        paint();
    });
    QObject::connect(ok, &QPushButton::clicked, [&] {
        WorldOptionsFields f;
        for (Field& field : fields) f.*(field.member) = s(field.edit->text());
        f.red = red;
        f.green = green;
        f.blue = blue;
        if (c.ok(f)) d.accept();
    });
    QObject::connect(cancel, &QPushButton::clicked, [&] { d.reject(); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!c.ready()) return;
        poll.stop();
        d.setWindowTitle(q(c.window_title()));
        WorldOptionsFields f = c.fields();
        const bool editable = c.editable();
        for (Field& field : fields) {
            field.edit->setText(q(f.*(field.member)));
            field.edit->setEnabled(editable);
        }
        red = f.red;
        green = f.green;
        blue = f.blue;
        paint();
        change->setEnabled(editable);
        ok->setEnabled(editable);
    });
    poll.start(100);
    run_modal_dialog(d);
}

void QtDialogs::show_telegram(const std::string& from, const std::string& text) {
    std::fprintf(stderr, "Read telegram: %s: %s\n", from.c_str(), text.c_str());
    if (unattended_) return;
    QMessageBox box(QMessageBox::Information, "Read telegram",
                    q((from.empty() ? std::string("A tourist") : from) + " says:\n\n" + text), QMessageBox::Ok);
    run_modal_dialog(box);
}

}  // namespace zk
