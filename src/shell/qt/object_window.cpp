#include "shell/qt/object_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMoveEvent>
#include <QScreen>
#include <QToolBar>
#include <QVBoxLayout>

#include "shell/qt/main_window.h"
#include "world/pdialog.h"
#include "world/pick.h"

namespace zk {

namespace {

constexpr int kFieldLimit = 250;

struct Command {
    int id;
    const char* menu;  // the key after the tab is a reminder, not a shortcut: the fields need those keys
    const char* tip;
    const char* button;
};
constexpr Command kCommands[] = {
    {108, "Delete\tDel", "Delete", "Del"},          {109, "Duplicate\tIns", "Duplicate", "Dup"},
    {110, "Move Up\t+", "Move up", "+"},            {111, "Move Down\t-", "Move down", "-"},
    {112, "Move Back\tUpArrow", "Move back", "\u2191"}, {113, "Move Forward\tDownArrow", "Move forward", "\u2193"},
    {114, "Move Left\tLeftArrow", "Move left", "\u2190"}, {115, "Move Right\tRightArrow", "Move right", "\u2192"},
    {116, "Turn Left\tPgUp", "Turn left", "\u21ba"}, {117, "Turn Right\tPgDn", "Turn right", "\u21bb"},
};

}  // namespace

class ObjectWindow::Port : public ObjectWindowPort {
public:
    explicit Port(ObjectWindow* w) : w_(w) {}

    void show(bool on, bool placed, int x, int y) override {
        if (!on) {
            w_->hide();
            return;
        }
        if (!placed) {
            // Beside the main window, a third of the way down, on the screen.
            const QRect main = w_->owner_->frameGeometry();
            x = main.right() + 1;
            y = main.top() + main.height() / 3;
            if (const QScreen* s = w_->owner_->screen()) {
                const QRect area = s->availableGeometry();
                const QSize size = w_->frameGeometry().size();
                x = std::max(area.left(), std::min(x, area.right() - size.width()));
                y = std::max(area.top(), std::min(y, area.bottom() - size.height()));
            }
        }
        w_->move(x, y);
        w_->show();
    }
    bool shown() override { return w_->isVisible(); }
    void set_fields(const ObjectFields& f) override {
        const std::string* texts[] = {&f.model, &f.description, &f.action, &f.owner};
        for (int i = 0; i < 4; ++i) w_->fields_[i]->setText(QString::fromStdString(*texts[i]));
    }
    ObjectFields fields() override {
        auto text = [&](int i) { return w_->fields_[i]->text().toStdString(); };
        return {text(0), text(1), text(2), text(3)};
    }
    void set_owner_name(const std::string& t) override { w_->owner_name_->setText(QString::fromStdString(t)); }
    void set_time_built(const std::string& t) override { w_->time_built_->setText(QString::fromStdString(t)); }
    void enable(bool on) override {
        for (QLineEdit* f : w_->fields_) f->setEnabled(on);
        for (QAction* a : w_->commands_) a->setEnabled(on);
    }
    void focus_view() override {
        w_->owner_->activateWindow();
        w_->owner_->view_area()->setFocus();
    }

private:
    ObjectWindow* w_;
};

ObjectWindow::ObjectWindow(MainWindow* owner) : QWidget(owner, Qt::Tool), owner_(owner) {
    setObjectName("object_window");
    setWindowTitle("Object properties");
    auto* layout = new QVBoxLayout(this);
    auto* menus = new QMenuBar(this);
    QMenu* object_menu = menus->addMenu("&Object");
    QMenu* edit_menu = menus->addMenu("&Edit");
    auto* tools = new QToolBar(this);
    layout->setMenuBar(menus);
    layout->addWidget(tools);
    for (const Command& c : kCommands) {
        QAction* item = object_menu->addAction(c.menu);
        QAction* button = tools->addAction(c.button);
        item->setObjectName(QString("object_command_%1").arg(c.id));
        button->setToolTip(c.tip);
        for (QAction* a : {item, button}) {
            connect(a, &QAction::triggered, this, [id = c.id] { pick_command(id); });
            commands_.push_back(a);
        }
        if (c.id == 109) object_menu->addSeparator();
    }
    for (QWidget* b : tools->findChildren<QWidget*>()) b->setFocusPolicy(Qt::NoFocus);
    QAction* undo = edit_menu->addAction("&Undo Changes");
    undo->setObjectName("object_command_140");
    connect(undo, &QAction::triggered, this, [] { pick_command(140); });
    commands_.push_back(undo);

    auto* grid = new QGridLayout;
    layout->addLayout(grid);
    const char* labels[] = {"Object:", "Description:", "Action:", "Owner:"};
    const char* names[] = {"object_model", "object_description", "object_action", "object_owner"};
    for (int i = 0; i < 4; ++i) {
        QLineEdit* f = fields_[i] = new QLineEdit(this);
        f->setObjectName(names[i]);
        f->setMaxLength(kFieldLimit);
        f->setMinimumWidth(i == 3 ? 80 : 260);
        // The limit is in bytes as sent, whatever the characters.
        connect(f, &QLineEdit::textEdited, this, [f](const QString& text) {
            QString t = text;
            while (t.toUtf8().size() > kFieldLimit) t.chop(1);
            if (t != text) f->setText(t);
        });
        connect(f, &QLineEdit::returnPressed, this, [] { pick_off(); });
        grid->addWidget(new QLabel(labels[i], this), i, 0);
        grid->addWidget(f, i, 1, 1, i == 3 ? 1 : 2);
        if (i > 0) setTabOrder(fields_[i - 1], f);
    }
    owner_name_ = new QLabel(this);
    owner_name_->setObjectName("object_owner_name");
    grid->addWidget(owner_name_, 3, 2);
    time_built_ = new QLabel(this);
    time_built_->setObjectName("object_time_built");
    grid->addWidget(new QLabel("Built:", this), 4, 0);
    grid->addWidget(time_built_, 4, 1, 1, 2);

    port_ = new Port(this);
    port_->enable(false);
    object_window_set_port(port_);
}

ObjectWindow::~ObjectWindow() {
    object_window_set_port(nullptr);
    delete port_;
}

void ObjectWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (isVisible()) pdialog_moved(pos().x(), pos().y());
}

void ObjectWindow::closeEvent(QCloseEvent* event) {
    // Only the user's closing counts: the program's own at exit keeps the
    // window's state for the next start.
    if (!event->spontaneous()) return QWidget::closeEvent(event);
    event->ignore();
    pdialog_closed();
}

void object_window_install(MainWindow* owner) { new ObjectWindow(owner); }

}  // namespace zk
