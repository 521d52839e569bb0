#include "shell/qt/settings_sheet.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "art/disk.h"
#include "art/download.h"
#include "art/http.h"
#include "art/model.h"
#include "shell/options.h"
#include "shell/qt/scheduler.h"
#include "sound/sound.h"

namespace zk {

namespace {

using Touched = std::function<void()>;

template <class W>
W* control(W* w, int id) {
    w->setObjectName(QString("control_%1").arg(id));
    return w;
}

QCheckBox* check(int id, const char* text, bool on, const Touched& touched) {
    auto* c = control(new QCheckBox(text), id);
    c->setChecked(on);
    QObject::connect(c, &QCheckBox::toggled, [touched] { touched(); });
    return c;
}

QRadioButton* radio(int id, const char* text, bool on, const Touched& touched) {
    auto* r = control(new QRadioButton(text), id);
    r->setChecked(on);
    // Both the button that goes off and the one that comes on report; only
    // the user's choice counts.
    QObject::connect(r, &QRadioButton::toggled, [touched](bool checked) {
        if (checked) touched();
    });
    return r;
}

QSpinBox* spin(int id, int low, int high, int value, const Touched& touched) {
    auto* s = control(new QSpinBox, id);
    s->setRange(low, high);
    s->setValue(value);
    QObject::connect(s, &QSpinBox::valueChanged, [touched] { touched(); });
    return s;
}

QLabel* buddy_label(const char* text, QWidget* buddy) {
    auto* l = new QLabel(text);
    l->setBuddy(buddy);
    return l;
}

// A line of widgets with the rest of the width left empty.
QHBoxLayout* row(std::initializer_list<QWidget*> widgets, int indent = 0) {
    auto* h = new QHBoxLayout;
    if (indent) h->addSpacing(indent);
    for (QWidget* w : widgets) h->addWidget(w);
    h->addStretch(1);
    return h;
}

std::function<bool()> performance_page(QWidget* page, const Touched& touched) {
    const PerformancePage p = options_performance_page();
    auto* avatars = check(801, "Show &Multiple Avatar Types", p.avatars, touched);
    auto* lifeforms = check(802, "Show A&vatar Animations", p.lifeforms, touched);
    auto* panning = check(803, "Enable &high speed panning", p.panning, touched);
    auto* framerate = spin(806, 3, 12, p.framerate, touched);
    auto* visibility = spin(807, 25, 120, p.visibility, touched);
    auto* grid = new QGridLayout;
    grid->addWidget(buddy_label("&Frame rate to keep:", framerate), 0, 0);
    grid->addWidget(framerate, 0, 1);
    grid->addWidget(new QLabel("frames a second"), 0, 2);
    grid->addWidget(buddy_label("M&inimum visibility:", visibility), 1, 0);
    grid->addWidget(visibility, 1, 1);
    grid->addWidget(new QLabel("metres"), 1, 2);
    grid->setColumnStretch(3, 1);
    auto* v = new QVBoxLayout(page);
    v->addWidget(avatars);
    v->addWidget(lifeforms);
    v->addWidget(panning);
    v->addLayout(grid);
    v->addStretch(1);
    return [=] {
        options_performance_apply(PerformancePage{avatars->isChecked(), lifeforms->isChecked(), panning->isChecked(),
                                                  framerate->value(), visibility->value()});
        return true;
    };
}

std::function<bool()> disk_usage_page(QWidget* page, const Touched& touched) {
    const DiskPage p = disk_page();
    auto* none = radio(601, "&No Limit", !p.limited, touched);
    auto* limited = radio(602, "&Limit to", p.limited, touched);
    auto* size = spin(604, kDiskLimitMin, kDiskLimitMax, p.limit_mb, touched);
    auto* by_age = check(605, "&Delete files not used for", p.by_age, touched);
    auto* days = spin(607, kDiskDaysMin, kDiskDaysMax, p.days, touched);
    auto* total = control(new QLabel(QString::fromStdString(p.total)), 608);
    size->setEnabled(p.limited);
    days->setEnabled(p.by_age);
    QObject::connect(limited, &QRadioButton::toggled, size, &QWidget::setEnabled);
    QObject::connect(by_age, &QCheckBox::toggled, days, &QWidget::setEnabled);
    // The total changes as a pass in the background ends.
    auto* refresh = new QTimer(page);
    QObject::connect(refresh, &QTimer::timeout, total, [total] { total->setText(QString::fromStdString(disk_page().total)); });
    refresh->start(1000);

    auto* box = new QGroupBox("Cache size");
    auto* b = new QVBoxLayout(box);
    b->addWidget(none);
    b->addLayout(row({limited, size, new QLabel("megabytes")}));
    b->addLayout(row({by_age, days, new QLabel("days")}));
    auto* v = new QVBoxLayout(page);
    v->addWidget(box);
    v->addLayout(row({new QLabel("The cache holds now:"), total}));
    v->addStretch(1);
    return [=] {
        disk_page_apply(limited->isChecked(), size->value(), by_age->isChecked(), days->value());
        return true;
    };
}

std::function<bool()> proxy_settings_page(QWidget* page, const Touched& touched) {
    const ProxyPage p = proxy_page();
    auto* use = check(401, "Use proxy server", p.use_proxy, touched);
    auto* address = control(new QLineEdit(QString::fromStdString(p.address)), 402);
    auto* port = control(new QLineEdit(QString::fromStdString(p.port)), 403);
    address->setMaxLength(255);
    for (QLineEdit* e : {address, port}) {
        e->setEnabled(p.use_proxy);
        QObject::connect(use, &QCheckBox::toggled, e, &QWidget::setEnabled);
        QObject::connect(e, &QLineEdit::textEdited, [touched] { touched(); });
    }
    auto* grid = new QGridLayout;
    grid->addWidget(buddy_label("&Address:", address), 0, 0);
    grid->addWidget(address, 0, 1);
    grid->addWidget(buddy_label("P&ort:", port), 1, 0);
    grid->addWidget(port, 1, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    auto* v = new QVBoxLayout(page);
    v->addWidget(use);
    v->addLayout(grid);
    v->addStretch(1);
    return [=] { return proxy_apply(use->isChecked(), address->text().toStdString(), port->text().toStdString()); };
}

std::function<bool()> sound_page(QWidget* page, const Touched& touched) {
    auto* music = check(1101, "Play background &music (MIDI files)", midi_enabled(), touched);
    auto* sounds = check(1102, "Play &sound effects (WAV files)", wav_enabled(), touched);
    auto* v = new QVBoxLayout(page);
    v->addWidget(music);
    v->addWidget(sounds);
    v->addStretch(1);
    return [=] {
        sndoptions_apply(music->isChecked(), sounds->isChecked());
        return true;
    };
}

// One of the two settings of the Downloads page: none, up to a size, all.
struct LimitControls {
    QRadioButton *none, *up_to, *all;
    QSpinBox* kilobytes;
    uint32_t setting() const {
        const int choice = none->isChecked() ? 0 : up_to->isChecked() ? 1 : 2;
        return dloptions_setting(choice, kilobytes->cleanText().toStdString());
    }
};

LimitControls limit_box(QVBoxLayout* into, const char* title, uint32_t setting, const int ids[4],
                        const char* texts[4], const Touched& touched) {
    const DownloadLimit l = dloptions_page_limit(setting);
    LimitControls c;
    c.none = radio(ids[0], texts[0], l.choice == 0, touched);
    c.up_to = radio(ids[1], texts[1], l.choice == 1, touched);
    c.kilobytes = spin(ids[3], 10, 999, l.kilobytes, touched);
    auto* unit = buddy_label(texts[3], c.kilobytes);
    c.all = radio(ids[2], texts[2], l.choice == 2, touched);
    c.kilobytes->setEnabled(l.choice == 1);
    QObject::connect(c.up_to, &QRadioButton::toggled, c.kilobytes, &QWidget::setEnabled);
    auto* box = new QGroupBox(title);
    auto* b = new QVBoxLayout(box);
    b->addWidget(c.none);
    b->addLayout(row({c.up_to, c.kilobytes, unit}));
    b->addWidget(c.all);
    into->addWidget(box);
    return c;
}

std::function<bool()> downloads_page(QWidget* page, const Touched& touched) {
    // The spin boxes stand for the edit fields 1204 and 1209 with their spins.
    static const int picture_ids[4] = {1201, 1202, 1203, 1205};
    static const char* picture_texts[4] = {"Do &not download any pictures", "&Download pictures less than",
                                           "Download all &pictures", "&K in size"};
    static const int audio_ids[4] = {1206, 1207, 1208, 1210};
    static const char* audio_texts[4] = {"Do not download any &sounds", "Download s&ounds less than",
                                         "Download &all sounds", "K in si&ze"};
    auto* v = new QVBoxLayout(page);
    const LimitControls pictures = limit_box(v, "Pictures", dloptions_pictures(), picture_ids, picture_texts, touched);
    const LimitControls audio = limit_box(v, "Sounds and music", dloptions_audio(), audio_ids, audio_texts, touched);
    v->addStretch(1);
    return [=] {
        dloptions_apply(pictures.setting(), audio.setting());
        return true;
    };
}

std::function<bool()> advanced_page(QWidget* page, const Touched& touched) {
    const AdvancedSwitches s = advanced_switches();
    auto* rwx = check(301, "Keep .rw&x files", s.keep_rwx, touched);
    auto* bmp = check(302, "Keep .&bmp files", s.keep_bmp, touched);
    auto* v = new QVBoxLayout(page);
    v->addWidget(rwx);
    v->addWidget(bmp);
    v->addStretch(1);
    return [=] {
        advanced_apply(AdvancedSwitches{rwx->isChecked(), bmp->isChecked()});
        return true;
    };
}

}  // namespace

SettingsSheet::SettingsSheet(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Settings");
    setModal(true);
    tabs_ = new QTabWidget;
    tabs_->setUsesScrollButtons(false);  // all six tabs in view: the sheet widens
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply);
    QPushButton* apply_button = buttons_->button(QDialogButtonBox::Apply);
    apply_button->setEnabled(false);

    add_page("Performance", performance_page);
    add_page("Disk Usage", disk_usage_page);
    proxy_page_ = add_page("Proxy", proxy_settings_page);
    add_page("Sound", sound_page);
    add_page("Downloads", downloads_page);
    add_page("Advanced", advanced_page);

    connect(apply_button, &QPushButton::clicked, this, [this] { apply(); });
    connect(buttons_, &QDialogButtonBox::accepted, this, [this] {
        if (apply()) accept();
    });
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* v = new QVBoxLayout(this);
    v->addWidget(tabs_);
    v->addWidget(buttons_);
}

int SettingsSheet::add_page(const QString& title, Builder build) {
    const int index = static_cast<int>(pages_.size());
    auto* page = new QWidget;
    pages_.push_back({});
    pages_[index].apply = build(page, [this, index] {
        pages_[index].touched = true;
        buttons_->button(QDialogButtonBox::Apply)->setEnabled(true);
    });
    tabs_->addTab(page, title);
    return index;
}

bool SettingsSheet::apply() {
    // Only the Proxy page can refuse its values; it goes first so that a
    // refusal leaves every setting as it was and the sheet open on it.
    Page& proxy = pages_[proxy_page_];
    if (proxy.touched && !proxy.apply()) {
        tabs_->setCurrentIndex(proxy_page_);
        if (auto* port = findChild<QLineEdit*>("control_403")) {
            port->setFocus();
            port->selectAll();
        }
        return false;
    }
    proxy.touched = false;
    // Untouched pages stay as they are: applying the Proxy page again would
    // restart every download for nothing.
    for (Page& page : pages_)
        if (page.touched) {
            page.apply();
            page.touched = false;
        }
    buttons_->button(QDialogButtonBox::Apply)->setEnabled(false);
    return true;
}

void settings_sheet_exec(QWidget* parent) {
    SettingsSheet sheet(parent);
    run_modal_dialog(sheet);
}

}  // namespace zk
