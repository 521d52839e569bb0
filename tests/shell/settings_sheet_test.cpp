#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>

#include <functional>
#include <memory>
#include <regex>
#include <set>

#include "art/disk.h"
#include "art/download.h"
#include "art/http.h"
#include "art/model.h"
#include "core/settings.h"
#include "shell/options.h"
#include "shell/qt/settings_sheet.h"
#include "shell/qt/toolbar_icons.h"
#include "sound/sound.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

namespace {

// A fresh program directory with every page's module read from it, and a
// sheet over it.
struct Sheet {
    TempDir dir;
    std::unique_ptr<SettingsSheet> sheet;
    Sheet() {
        settings_set_directory(dir.path());
        options_register();
        disk_init();
        proxy_init();
        sndoptions_init();
        dloptions_init();
        advanced_init();
        sheet = std::make_unique<SettingsSheet>();
        sheet->show();
    }
    ~Sheet() {
        sheet.reset();
        http_term();
        disk_term();
    }
    template <class W>
    W* at(int id) {
        W* w = sheet->findChild<W*>(QString("control_%1").arg(id));
        if (!w) ADD_FAILURE() << "no control " << id;
        return w;
    }
    QPushButton* button(QDialogButtonBox::StandardButton which) {
        return sheet->findChild<QDialogButtonBox*>()->button(which);
    }
    // The sections the settings file holds.
    std::set<std::string> sections() {
        std::set<std::string> found;
        const std::string ini = read_file(settings_path());
        const std::regex header("\\[([a-z]+)\\]");
        for (std::sregex_iterator m(ini.begin(), ini.end(), header), end; m != end; ++m) found.insert((*m)[1]);
        return found;
    }
};

}  // namespace

TEST(SettingsSheet, EachPageAppliesItsOwnControlsAndNothingElse) {
    const struct {
        const char* page;
        std::function<void(Sheet&)> change;
        std::function<void()> check;
    } cases[] = {
        {"performance",
         [](Sheet& s) {
             s.at<QCheckBox>(803)->click();
             s.at<QSpinBox>(806)->setValue(9);
         },
         [] {
             EXPECT_EQ(settings_get_int("performance", "panning"), 1);
             EXPECT_EQ(settings_get_int("performance", "framerate"), 9);
             EXPECT_TRUE(options_performance_page().panning);
             EXPECT_EQ(options_performance_page().framerate, 9);
         }},
        {"disk",
         [](Sheet& s) {
             s.at<QRadioButton>(601)->click();
             EXPECT_FALSE(s.at<QSpinBox>(604)->isEnabled());
             s.at<QCheckBox>(605)->click();
             s.at<QSpinBox>(607)->setValue(7);
         },
         [] {
             EXPECT_EQ(disk_limit_mb(), 0);
             EXPECT_EQ(disk_delete_days(), 7);
             EXPECT_EQ(settings_get_int("disk", "limit"), 0);
             EXPECT_EQ(settings_get_int("disk", "delete"), 7);
         }},
        {"proxy",
         [](Sheet& s) {
             s.at<QCheckBox>(401)->click();
             s.at<QLineEdit>(402)->setText("cache.example");
             s.at<QLineEdit>(403)->setText("3128");
         },
         [] {
             ASSERT_TRUE(proxy_string());
             EXPECT_STREQ(proxy_string(), "cache.example:3128");
             EXPECT_EQ(settings_get_int("proxy", "port"), 3128);
         }},
        {"sound", [](Sheet& s) { s.at<QCheckBox>(1102)->click(); },
         [] {
             EXPECT_FALSE(wav_enabled());
             EXPECT_TRUE(midi_enabled());
             EXPECT_EQ(settings_get_int("sound", "sounds"), 0);
             EXPECT_EQ(settings_get_int("sound", "music"), 1);
         }},
        {"downloads",
         [](Sheet& s) {
             s.at<QRadioButton>(1203)->click();
             s.at<QRadioButton>(1207)->click();
             EXPECT_TRUE(s.at<QSpinBox>(1210)->isEnabled());
             s.at<QSpinBox>(1210)->setValue(250);
         },
         [] {
             EXPECT_EQ(dloptions_pictures(), 1u);
             EXPECT_EQ(dloptions_audio(), 250u);
             EXPECT_EQ(settings_get_int("downloads", "audio"), 250);
         }},
        {"advanced", [](Sheet& s) { s.at<QCheckBox>(302)->click(); },
         [] {
             EXPECT_TRUE(advanced_switches().keep_bmp);
             EXPECT_FALSE(advanced_switches().keep_rwx);
             EXPECT_EQ(settings_get_int("advanced", "keep_bmp"), 1);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        Sheet s;
        QPushButton* apply = s.button(QDialogButtonBox::Apply);
        EXPECT_FALSE(apply->isEnabled());
        c.change(s);
        EXPECT_TRUE(apply->isEnabled());
        apply->click();
        EXPECT_FALSE(apply->isEnabled());
        c.check();
        EXPECT_EQ(s.sections(), std::set<std::string>{c.page}) << "untouched pages are not applied";
    }
}

TEST(SettingsSheet, ABadProxyPortAppliesNothingAndCancelNothingEither) {
    {
        Sheet s;
        auto* tabs = s.sheet->findChild<QTabWidget*>();
        ASSERT_EQ(tabs->count(), 6);
        EXPECT_EQ(tabs->tabText(2), "Proxy");
        s.at<QCheckBox>(301)->click();
        s.at<QCheckBox>(401)->click();
        s.at<QLineEdit>(402)->setText("cache.example");
        s.at<QLineEdit>(403)->setText("31x8");
        s.button(QDialogButtonBox::Ok)->click();
        EXPECT_TRUE(s.sheet->isVisible()) << "the sheet stays open on the refused page";
        EXPECT_EQ(tabs->currentIndex(), 2);
        EXPECT_EQ(proxy_string(), nullptr);
        EXPECT_FALSE(advanced_switches().keep_rwx);
        EXPECT_TRUE(s.sections().empty());
        s.at<QLineEdit>(403)->setText("3128");
        s.button(QDialogButtonBox::Ok)->click();
        EXPECT_FALSE(s.sheet->isVisible());
        EXPECT_EQ(s.sheet->result(), QDialog::Accepted);
        EXPECT_TRUE(advanced_switches().keep_rwx);
        EXPECT_EQ(s.sections(), (std::set<std::string>{"advanced", "proxy"}));
    }
    Sheet s;
    s.at<QCheckBox>(1101)->click();
    s.at<QCheckBox>(301)->click();
    s.button(QDialogButtonBox::Cancel)->click();
    EXPECT_FALSE(s.sheet->isVisible());
    EXPECT_TRUE(midi_enabled());
    EXPECT_FALSE(advanced_switches().keep_rwx);
    EXPECT_TRUE(s.sections().empty());
}

TEST(ToolbarIcons, EachButtonHasItsOwnVisibleImageAtBothSizes) {
    const int commands[] = {106, 107, 118, 124, 125, 126, 127, 131, 134, 135, 136, 137, 139, 146, 147};
    std::vector<QImage> seen;
    for (int command : commands) {
        const QIcon icon = toolbar_icon(command);
        ASSERT_FALSE(icon.isNull()) << command;
        for (int size : {16, 32}) {
            const QImage image = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
            int inked = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) inked += qAlpha(image.pixel(x, y)) > 128;
            EXPECT_GT(inked, size * size / 10) << command << " at " << size;
            EXPECT_LT(inked, size * size) << command << " at " << size;
            if (size == 16) {
                for (const QImage& other : seen) EXPECT_NE(image, other) << command << " looks like another button";
                seen.push_back(image);
            }
        }
    }
    EXPECT_TRUE(toolbar_icon(101).isNull());
}
