// The Teleport menu's dialogs: Teleport (605), Remember this location (617)
// and the editor of the remembered locations (618). Their logic is in
// shell/teleport; these only show it.
#include <QComboBox>
#include <algorithm>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "shell/qt/dialogs_qt.h"
#include "shell/qt/scheduler.h"

namespace zk {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string s(const QString& t) { return t.toStdString(); }

QPushButton* add_button(QDialogButtonBox* box, const char* text, const char* name, QDialogButtonBox::ButtonRole role) {
    QPushButton* b = box->addButton(text, role);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

// Fills the combo with a list (when it brings one) and shows the world.
void show_worlds(QComboBox* combo, const TeleportWorlds& w) {
    if (w.fill) {
        combo->clear();
        for (const std::string& name : w.names) combo->addItem(q(name));
    }
    const int at = combo->findText(q(w.text));
    if (at >= 0) combo->setCurrentIndex(at);
    else combo->setEditText(q(w.text));
}

}  // namespace

void QtDialogs::run_teleport(TeleportController& c) {
    if (unattended_) return;
    QDialog d;
    d.setObjectName("teleport");
    d.setWindowTitle("Teleport");
    auto* form = new QFormLayout(&d);
    auto* coordinates = new QLineEdit;
    coordinates->setObjectName("coordinates");
    coordinates->setMaxLength(255);
    form->addRow("&Coordinates:", coordinates);
    form->addRow("", new QLabel("(e.g. \"40N 50W\")"));
    auto* world = new QComboBox;
    world->setObjectName("world");
    world->setEditable(true);
    world->setInsertPolicy(QComboBox::NoInsert);
    world->lineEdit()->setMaxLength(255);
    world->setMinimumWidth(200);
    form->addRow(" &World:", world);
    auto* box = new QDialogButtonBox;
    QPushButton* ok = add_button(box, "OK", "ok", QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    QPushButton* cancel = add_button(box, "Cancel", "cancel", QDialogButtonBox::RejectRole);
    form->addRow(box);
    show_worlds(world, c.initial());
    coordinates->setFocus();
    QObject::connect(ok, &QPushButton::clicked, [&] {
        c.ok(s(world->currentText()), s(coordinates->text()));
        d.accept();
    });
    QObject::connect(cancel, &QPushButton::clicked, [&] { d.reject(); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const TeleportWorlds w = c.poll();
        if (w.changed) show_worlds(world, w);
    });
    poll.start(100);
    run_modal_dialog(d);
}

void QtDialogs::run_remember(RememberController& c) {
    if (unattended_) return;
    QDialog d;
    d.setObjectName("remember");
    d.setWindowTitle("Remember this location");
    auto* layout = new QVBoxLayout(&d);
    auto* label = new QLabel("Remember this location as:");
    auto* name = new QLineEdit;
    name->setObjectName("name");
    name->setMaxLength(std::max(1, c.name_limit()));
    name->setMinimumWidth(260);
    label->setBuddy(name);
    layout->addWidget(label);
    layout->addWidget(name);
    auto* box = new QDialogButtonBox;
    QPushButton* ok = add_button(box, "OK", "ok", QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    QPushButton* cancel = add_button(box, "Cancel", "cancel", QDialogButtonBox::RejectRole);
    layout->addWidget(box);
    QObject::connect(ok, &QPushButton::clicked, [&] {
        if (c.ok(s(name->text()))) d.accept();
    });
    QObject::connect(cancel, &QPushButton::clicked, [&] { d.reject(); });
    run_modal_dialog(d);
}

void QtDialogs::run_locations(LocationsController& c) {
    if (unattended_) return;
    QDialog d;
    d.setObjectName("locations");
    d.setWindowTitle("Edit Locations");
    auto* layout = new QHBoxLayout(&d);
    auto* tree = new QTreeWidget;
    tree->setObjectName("names");
    tree->setColumnCount(1);
    tree->header()->hide();
    tree->setRootIsDecorated(false);
    tree->setEditTriggers(QAbstractItemView::EditKeyPressed);
    tree->setMinimumSize(240, 200);
    for (const std::string& name : c.names()) {
        auto* item = new QTreeWidgetItem(tree, QStringList(q(name)));
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        // What a refused rename puts back.
        item->setData(0, Qt::UserRole, q(name));
    }
    layout->addWidget(tree);
    auto* buttons = new QVBoxLayout;
    auto* ok = new QPushButton("OK");
    ok->setObjectName("ok");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel");
    cancel->setObjectName("cancel");
    auto* rename = new QPushButton("&Rename");
    rename->setObjectName("rename");
    auto* remove = new QPushButton("&Delete");
    remove->setObjectName("delete");
    for (QPushButton* b : {ok, cancel, rename, remove}) {
        if (b != ok) b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch();
    layout->addLayout(buttons);
    auto selected = [tree]() -> QTreeWidgetItem* {
        const QList<QTreeWidgetItem*> items = tree->selectedItems();
        return items.isEmpty() ? nullptr : items.front();
    };
    auto buttons_follow = [&] {
        const bool any = selected() != nullptr;
        rename->setEnabled(any);
        remove->setEnabled(any);
    };
    buttons_follow();
    QObject::connect(tree, &QTreeWidget::itemSelectionChanged, buttons_follow);
    // The editor's Enter keeps the name, its Escape never gets here.
    QObject::connect(tree, &QTreeWidget::itemChanged, [&](QTreeWidgetItem* item, int) {
        const std::string kept = c.rename(tree->indexOfTopLevelItem(item), s(item->text(0)));
        const QSignalBlocker quiet(tree);
        if (kept.empty()) {
            item->setText(0, item->data(0, Qt::UserRole).toString());
            return;
        }
        item->setText(0, q(kept));
        item->setData(0, Qt::UserRole, q(kept));
    });
    QObject::connect(rename, &QPushButton::clicked, [&] {
        if (QTreeWidgetItem* item = selected()) tree->editItem(item, 0);
    });
    QObject::connect(remove, &QPushButton::clicked, [&] {
        if (QTreeWidgetItem* item = selected()) {
            c.remove(tree->indexOfTopLevelItem(item));
            delete item;
            buttons_follow();
        }
    });
    QObject::connect(ok, &QPushButton::clicked, [&] {
        if (c.ok()) d.accept();
    });
    QObject::connect(cancel, &QPushButton::clicked, [&] { d.reject(); });
    run_modal_dialog(d);
}

}  // namespace zk
