// The console's rules, the chat entry's line and own balloon, balloons in
// the view, and the gesture buttons, against the scripted window port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/login.h"
#include "people/avatar.h"
#include "people/balloon.h"
#include "people/chat.h"
#include "people/console.h"
#include "people/gesture.h"
#include "people/registry.h"
#include "render/camera.h"
#include "render/math.h"
#include "support/fake_ui.h"
#include "view/camera.h"
#include "view/self.h"

using namespace zk;

namespace {

uint32_t g_now = 1000;

class Chat : public ::testing::Test {
protected:
    void SetUp() override {
        console_term();
        balloon_term();
        ASSERT_EQ(camera_init(), 0);
        chat_set_clock([] { return g_now; });
        chat_init();
    }
    void TearDown() override {
        chat_init();
        chat_set_clock(nullptr);
        camera_term();
        balloon_term();
        console_term();
        identity_clear();
        avatar_hooks() = AvatarHooks{};
        avatar_set_enabled(false);
    }
    test::ScopedFakeUi ui_;
};

TEST_F(Chat, ConsoleLinesAreSafeStyledAndCut) {
    struct Case {
        int style;
        std::string text, shown;
        uint32_t rgb;
        bool bold;
    };
    const std::string e2(5000, 'x');
    std::string accents;
    for (int i = 0; i < 5000; ++i) accents += "\xC3\xA9";
    const std::vector<Case> cases = {
        {0, "Ann: hello: there", "Ann:\thello: there", 0x000000, false},
        {1, "Bo: hi", "Bo:\thi", 0x000000, true},
        {2, "Cy: hi", "Cy:\thi", 0x007070, false},
        {3, "Di: hi", "Di:\thi", 0x238E23, false},
        {4, "\"Ed\": hi", "\"Ed\":\thi", 0x707070, false},
        {7, "url:x no blank", "url:x no blank", 0x000000, false},
        // Windows-1252 where the bytes are not UTF-8; controls become blanks.
        {0, "Fa: caf\xC3\xA9 caf\xE9 \x80\x9D\t\r\n\x1b[2J\xE2\x80\xAE", "Fa:\tcaf\xC3\xA9 caf\xC3\xA9 \xE2\x82\xAC     [2J ",
         0, false},
        {0, "Gu: " + e2 + e2, "Gu:\t" + std::string(kConsoleLineMax - 4, 'x'), 0, false},
        {0, accents, accents.substr(0, kConsoleLineMax - 1), 0, false},  // whole characters only
    };
    auto& f = ui_.fake;
    std::string expected;
    for (const Case& c : cases) {
        console_print(c.style, c.text);
        expected += (expected.empty() ? "" : "\r\n") + c.shown;
        EXPECT_EQ(f.console_styles.back(), std::make_pair(c.rgb, c.bold)) << c.text;
    }
    EXPECT_EQ(f.console, expected);

    // Past 30000 characters every print drops the oldest line, however long.
    console_term();
    f.console.clear();
    console_print(0, std::string(1200, 'L'));  // no line break in its first 999
    const std::string line(98, 'y');
    while (console_count() <= kConsoleTrimAt) console_print(0, line);
    size_t full = console_count();
    console_print(0, line);
    EXPECT_EQ(console_count(), full - (kConsoleLineMax + 2) + 100);
    EXPECT_EQ(f.console.substr(0, 100), line + "\r\n");
    while (console_count() <= kConsoleTrimAt) console_print(0, line);
    full = console_count();
    console_print(0, line);
    EXPECT_EQ(console_count(), full);
    EXPECT_EQ(f.console.size() + 2, console_count());
}

TEST_F(Chat, EnterSendsTheNamedLineAndTheOwnBalloonFollowsTheView) {
    auto& f = ui_.fake;
    identity_set("Ann", "", 1);
    avatar_set_enabled(true);
    avatar_hooks().console_print = console_print;
    rw_camera_set_matrix(camera_main(), matrix_translation(0, 0, -5));  // facing the own head

    chat_enter("");
    EXPECT_EQ(f.console, "");
    EXPECT_EQ(f.chat_resets, 0);
    chat_enter("hello: you");
    EXPECT_EQ(f.console, "Ann:\thello: you");
    EXPECT_EQ(f.chat_resets, 1);
    chat_update();
    EXPECT_FALSE(chat_own_balloon());  // first person

    camera_track_self(0);
    chat_update();
    balloon_update();
    ASSERT_EQ(f.balloons.size(), 1u);
    EXPECT_EQ(f.balloons[0].text, "Ann: hello: you");
    camera_track_ahead();
    chat_update();
    balloon_update();
    EXPECT_FALSE(chat_own_balloon());
    EXPECT_TRUE(f.balloons.empty());

    camera_track_self(0);
    g_now += kChatShownMs + 1;
    chat_update();
    balloon_update();
    ASSERT_EQ(f.balloons.size(), 1u);
    EXPECT_EQ(f.balloons[0].text, "Ann");
    identity_set("\"Bo\"", "", 0);
    chat_name_changed();
    balloon_update();
    EXPECT_EQ(f.balloons[0].text, "\"Bo\"");
}

TEST_F(Chat, BalloonsSitOverTheirPointAlsoInTheHalfSizeView) {
    auto& f = ui_.fake;
    Balloon* front = balloon_create();
    Balloon* behind = balloon_create();
    balloon_place(front, 1, 0, 5);
    balloon_place(behind, 0, 0, -5);
    balloon_set_text(front, "hi\x07");
    balloon_set_text(behind, "unseen");
    // A 196 x 116 view: (1, 0, 5) shows at (78.4, 58).
    balloon_update();
    const std::vector<BalloonDraw> full = {{78 - 40, 58 - 32, "hi "}};
    EXPECT_EQ(f.balloons, full);
    camera_set_panning(true);
    camera_decide_half_size(true);
    ASSERT_TRUE(camera_half_size());
    balloon_update();  // (39.2, 29) in the half view, doubled
    EXPECT_EQ(f.balloons, full);
    balloon_destroy(front);
    balloon_update();
    EXPECT_TRUE(f.balloons.empty());
    EXPECT_EQ(balloon_count(), 1u);
}

TEST_F(Chat, GestureButtonsGetFreeMnemonicsAndPlayTheirAction) {
    EXPECT_EQ(gesture_make_labels({"wave", "wink", "dance", "dive", "hop", "r&b"}),
              (std::vector<std::string>{"WAV&E", "W&INK", "&DANCE", "DIVE", "HO&P", "&R&&B"}));
    ASSERT_EQ(registry_load_text("# animation registry version 0.3\nversion 3\n"
                                 "avatar name = bob beginexp wave = w1 bow = b1 endexp endavatar\n"),
              0);
    avatar_set_own_type(0);
    gesture_rebuild();
    EXPECT_EQ(ui_.fake.gestures, (std::vector<std::string>{"WAV&E", "&BOW"}));
    EXPECT_TRUE(gesture_command(3001));
    EXPECT_EQ(self_gesture(), 2);
    EXPECT_FALSE(gesture_command(3002));
    self_set_gesture(0);
    registry_reset("");  // a type without an entry has no buttons to play
    gesture_rebuild();
    EXPECT_TRUE(ui_.fake.gestures.empty());
    EXPECT_FALSE(gesture_command(3000));
}

}  // namespace
