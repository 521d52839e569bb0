// The object behavior language: its tokens, clauses, commands and the
// places teleports reach, on live objects with placeholder models, and the
// click in the 3D view that activates them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "art/texture.h"
#include "core/tasks.h"
#include "people/console.h"
#include "render/camera.h"
#include "view/camera.h"
#include "view/click.h"
#include "view/mouse.h"
#include "view/scene.h"
#include "view/self.h"
#include "world/animation.h"
#include "world/behavior.h"
#include "world/sign.h"
#include "world/visible_env.h"
#include "world/world.h"

namespace zk {
namespace {

std::vector<std::string> g_log;  // what reached the hooks, in order

std::string flag(bool b) { return b ? "1" : "0"; }

std::string joined() {
    std::string out;
    for (const std::string& l : g_log) out += (out.empty() ? "" : "|") + l;
    return out;
}

std::string tokens(const char* text, bool numbers) {
    std::string out;
    for (const BehaviorToken& t : behavior_tokens(text, numbers)) {
        if (!out.empty()) out += ' ';
        switch (t.kind) {
        case BehaviorTokenKind::end: out += "|"; break;
        case BehaviorTokenKind::word: out += (t.quoted ? "Q:" : "W:") + t.text; break;
        case BehaviorTokenKind::number: out += "N:" + std::to_string(t.value).substr(0, 12); break;
        default: out += t.text;
        }
    }
    return out;
}

TEST(BehaviorTokens, NumbersQuotesAndSingleCharacters) {
    const struct {
        const char* text;
        bool numbers;
        const char* expected;
    } cases[] = {
        {"40n 50w", true, "N:40.000000 W:n N:50.000000 W:w |"},
        {"40n", false, "W:40n |"},
        {"1.2.3 . 5. .5 1..2", true, "W:1.2.3 W:. W:5. N:0.500000 W:1..2 |"},
        {"+1 -2.25,;", true, "+ N:1.000000 - N:2.250000 , ; |"},
        {"\"a, b; c\" d \"open", false, "Q:a, b; c W:d Q:open |"},
        {"\"\"\"\"x", false, "Q: Q: W:x |"},
        {"a,b;c\t-d", false, "W:a , W:b ; W:c - W:d |"},
        {"99999999999999999999999999", true, "N:1000000000.0 |"},
        {"sign\0hidden", false, "W:sign |"},
    };
    for (const auto& c : cases) EXPECT_EQ(tokens(c.text, c.numbers), c.expected) << c.text;
}

class Behavior : public ::testing::Test {
protected:
    void SetUp() override {
        g_log.clear();
        // Entering a world here resets nothing else (other tests bind start-up's reset).
        saved_world_hooks_ = world_hooks();
        world_hooks() = WorldHooks{};
        object_hooks().action_check = behavior_action_check;
        object_hooks().action_create = behavior_action_create;
        animation_hooks().adone = behavior_adone;
        // What start-up binds: signs and animations die with their instance.
        model_hooks().instance_released = [](model_ref* m) {
            sign_instance_released(m);
            animation_instance_released(m);
        };
        BehaviorHooks& h = behavior_hooks();
        h.sound = [](object* o, const std::string& f, bool e) {
            g_log.push_back("sound " + f + " " + flag(o) + flag(e));
        };
        h.noise = [](const std::string& f, bool e) { g_log.push_back("noise " + f + " " + flag(e)); };
        h.url = [](const std::string& a, bool c) { g_log.push_back("url " + a + " " + flag(c)); };
        h.picture = [](object* o, const std::string& a, int s, bool e) {
            g_log.push_back("picture " + a + " " + std::to_string(s) + " " + flag(o) + flag(e));
        };
        h.avatars = [](bool on) { g_log.push_back("avatars " + flag(on)); };
        h.history_push = [] { g_log.push_back("history"); };
        ASSERT_TRUE(scene_init());
        ASSERT_EQ(camera_init(), 0);
        self_init();
        mouse_init();
        ASSERT_EQ(self_set_position(1, 2, 3, 10), 1);
    }
    void TearDown() override {
        visible_reset();
        while (object* o = object_first()) object_destroy(o);
        drain_signs();
        animation_step(tick_now());
        texture_reset();
        model_hooks() = ModelHooks{};
        behavior_reset();
        behavior_hooks() = BehaviorHooks{};
        animation_hooks().adone = nullptr;
        object_hooks().action_check = nullptr;
        world_term();
        world_hooks() = saved_world_hooks_;
        self_term();
        camera_term();
        scene_term();
    }
    static object* make(const std::string& action, uint32_t owner = 1, bool run_create = true) {
        return object_create(0.5, 0, 0.25, 0, "box", "its description", action, 1, owner, run_create, 0);
    }
    static void drain_signs() {
        static uint32_t clock = 0;
        for (int i = 0; i < 8 && sign_queued(); ++i) sign_step(clock += kSignInterval);
    }
    static void expect_at(double x, double y, double z, float yaw) {
        double px, py, pz;
        self_position(&px, &py, &pz);
        EXPECT_NEAR(px, x, 1e-4);
        EXPECT_NEAR(py, y, 1e-4);
        EXPECT_NEAR(pz, z, 1e-4);
        EXPECT_NEAR(self_yaw(), yaw, 1e-3);
    }
    test::VisibleWorld world_;
    WorldHooks saved_world_hooks_;
};

TEST_F(Behavior, TeleportPositionsAbsoluteRelativeAndBroken) {
    const struct {
        const char* action;
        int result;
        double x, y, z;
        float yaw;
    } cases[] = {
        {"activate teleport 40n 50w", 1, 50, 0.1, 40, 0},
        {"activate teleport 40S 50E 2a 90", 1, -50, 2, -40, 90},
        {"ACTIVATE Teleport 4.5north 1.5west 45", 1, 1.5, 0.1, 4.5, 45},
        {"activate teleport +1 -2", 1, -1, 2, 4, 10},
        {"activate teleport +0 +0 +1a -20", 1, 1, 3, 3, -10},
        {"activate teleport - 1 + 0 + 30", 1, 1, 2, 2, 40},
        {"bump sign x; activate teleport 2n 3w; activate teleport 9n 9w", 1, 3, 0.1, 2, 0},
        {"activate teleport 40000n 0w", 1, 1, 2, 3, 10},  // beyond the world: ignored by movement
        {"activate teleport 40n +50", 0, 1, 2, 3, 10},     // plain and signed mixed
        {"activate teleport 40n 50w -2a", 0, 1, 2, 3, 10},
        {"activate teleport 40w 50n", 0, 1, 2, 3, 10},
        {"activate teleport 40n 50w 2b", 0, 1, 2, 3, 10},
        {"activate teleport 40n", 0, 1, 2, 3, 10},
        {"activate teleport +1", 0, 1, 2, 3, 10},
        {"activate teleport", 0, 1, 2, 3, 10},
        {"activate teleport zk, sign", 0, 1, 2, 3, 10},  // a world then ","
        {"activate warp zk 1n 1w", 0, 1, 2, 3, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        ASSERT_EQ(self_set_position(1, 2, 3, 10), 1);
        g_log.clear();
        object* o = make(c.action);
        EXPECT_EQ(behavior_run(o, BehaviorTrigger::activate), c.result);
        expect_at(c.x, c.y, c.z, c.yaw);
        const std::vector<std::string> moved = {"noise deport1.wav 1", "history"};
        EXPECT_EQ(g_log, c.result ? moved : std::vector<std::string>{}) << "sound, then history";
        object_destroy(o);
    }
}

TEST_F(Behavior, TeleportToAWorldAndWarpGlides) {
    object* o = make("activate teleport bad.name 1n 1w");
    EXPECT_EQ(behavior_run(o, BehaviorTrigger::activate), 0);
    EXPECT_EQ(console_recent().back(),
              "Switchboard Operator: Sorry, there is no world called \"bad.name\" running at this time.");
    EXPECT_EQ(g_log, std::vector<std::string>{"noise deport1.wav 1"}) << "the sound plays first";
    expect_at(1, 2, 3, 10);
    EXPECT_TRUE(world_name().empty());
    object_destroy(o);

    o = make("activate teleport lagoon 5n 6w, visible off");
    EXPECT_EQ(behavior_run(o, BehaviorTrigger::activate), 1);
    EXPECT_EQ(world_name(), "lagoon");
    expect_at(6, 0.1, 5, 0);
    EXPECT_TRUE(object_visible(o)) << "the object belonged to the world left behind";
    object_destroy(o);
    o = make("activate teleport zk");
    EXPECT_EQ(behavior_run(o, BehaviorTrigger::activate), 1);
    EXPECT_EQ(world_name(), "zk");
    expect_at(0, 0.1, 0, 0);

    // A warp glides; only a long one is remembered in the history.
    ASSERT_EQ(self_set_position(1, 2, 3, 10), 1);
    g_log.clear();
    o->action = "activate warp +0 +1";
    EXPECT_EQ(behavior_run(o, BehaviorTrigger::activate), 1);
    EXPECT_TRUE(self_gliding());
    EXPECT_EQ(g_log, std::vector<std::string>{"noise warp1.wav 1"});
    for (uint32_t t = 1000; t < 30000 && (self_gliding() || self_arriving()); t += 100) self_step(t);
    double x, y, z;
    self_position(&x, &y, &z);
    EXPECT_NEAR(x, 2, 0.1) << "one cell west";
    EXPECT_NEAR(z, 3, 0.1);
    g_log.clear();
    o->action = "activate warp 40n 50w";
    EXPECT_EQ(behavior_run(o, BehaviorTrigger::activate), 1);
    EXPECT_EQ(g_log, (std::vector<std::string>{"noise warp1.wav 1", "history"}));
}

TEST_F(Behavior, CreateClausesNeverMoveTheUser) {
    for (const char* action :
         {"create teleport 40n 50w, visible off", "create warp +0 +1, visible off", "create teleport, visible off"}) {
        g_log.clear();
        object* o = make(action);
        expect_at(1, 2, 3, 10);
        EXPECT_FALSE(self_gliding());
        EXPECT_TRUE(object_visible(o)) << action << ": the clause ends at the teleport";
        EXPECT_TRUE(g_log.empty());
    }
}

TEST_F(Behavior, NamedTargetsAreTheOwnersObjectsOfThatName) {
    object* mine = make("create name box", 7);
    object* mine_too = make("create name BOX", 7);
    object* theirs = make("create name box");
    object* other = make("create name lid", 7);
    object* control = make("activate visible box off, solid Box no; bump visible off", 7);
    EXPECT_EQ(object_name(mine_too), "BOX");
    EXPECT_EQ(behavior_run(control, BehaviorTrigger::activate), 1);
    for (object* o : {mine, mine_too}) {
        EXPECT_FALSE(object_visible(o));
        EXPECT_TRUE(model_hidden(o->model));
        EXPECT_FALSE(object_solid(o));
    }
    for (object* o : {theirs, other, control})
        EXPECT_TRUE(object_visible(o) && object_solid(o) && !model_hidden(o->model));
    EXPECT_EQ(behavior_run(control, BehaviorTrigger::bump), 1);
    EXPECT_FALSE(object_visible(control));

    // While building reveals invisible objects, the flag changes but the
    // model stays shown.
    visible_reveal_on();
    object* hidden = make("create sign welcome color=red, visible off");
    EXPECT_FALSE(object_visible(hidden));
    EXPECT_FALSE(model_hidden(hidden->model));
    EXPECT_EQ(sign_queued(), 1u);
    visible_reveal_off();
}

TEST_F(Behavior, ArgumentsBooleansAndKeywords) {
    const struct {
        const char* action;
        int result;
        bool visible, solid;
        size_t signs;
        const char* log;
    } cases[] = {
        {"create visible OFF, solid False", 1, false, false, 0, ""},
        {"create visible yes, solid on, visible no", 1, false, true, 0, ""},
        {"create visible box", 0, true, true, 0, ""},
        {"create solid 1", 0, true, true, 0, ""},
        {"create sign \"Hello, world; again\" bcolor=navyblue COLOR=ffcc00 name=me2", 1, true, true, 0, ""},
        {"create sign \"Hello, world; again\" bcolor=teal, solid off", 1, true, false, 1, ""},
        {"create sign one two", 0, true, true, 0, ""},
        {"create sign color=red color=blue", 0, true, true, 0, ""},
        {"create sign, visible off", 1, false, true, 1, ""},
        {"create explode, visible off", 0, true, true, 0, ""},
        {"create visible off,", 0, false, true, 0, ""},
        {"create visible off foo, solid off", 1, false, true, 0, ""},
        {"create avatars off, avatars TRUE, cursor on", 1, true, true, 0, "avatars 0|avatars 1"},
        {"create url http://x/a, picture p.jpg update=-5, picture q.jpg name=me2 update=40", 1, true, true, 0,
         "url http://x/a 1|picture p.jpg 0 11"},
        {"create picture a.jpg b.jpg", 0, true, true, 0, ""},
        {"create picture a.jpg update=x", 0, true, true, 0, ""},
        {"sound:ding.wav", 1, true, true, 0, "sound ding.wav 11"},
        {"create noise \"two words.wav\"", 1, true, true, 0, "noise two words.wav 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        drain_signs();
        object* o = make(c.action, 1, false);
        g_log.clear();
        EXPECT_EQ(behavior_run(o, BehaviorTrigger::create), c.result);
        EXPECT_EQ(object_visible(o), c.visible);
        EXPECT_EQ(object_solid(o), c.solid);
        EXPECT_EQ(sign_queued(), c.signs);
        EXPECT_EQ(joined(), c.log);
        object_destroy(o);
    }
}

TEST_F(Behavior, ValidationPassOnlyFetchesAhead) {
    const struct {
        const char* action;
        int well_formed;
        const char* log;
    } cases[] = {
        {"create sound a.wav, noise b.wav, picture p.jpg; activate picture q.jpg update=3, teleport 1n 1w; "
         "bump sound c.wav",
         1, "sound a.wav 10|noise b.wav 0|picture q.jpg 3 00|sound c.wav 10"},
        {"create visible ; activate noise x.wav", 0, "noise x.wav 0"},
        {"explode visible off; adone noise y.wav", 0, "noise y.wav 0"},
        {"create teleport 1n 1w, noise z.wav; bump noise w.wav", 1, "noise w.wav 0"},
        {"\"create\" noise q.wav", 1, "noise q.wav 0"},
        {"; create noise q.wav", 0, ""},
        {"create animate me door 3 3 200, animate me door 3 2 200", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        object* o = make("");
        o->action = c.action;
        g_log.clear();
        EXPECT_EQ(behavior_check(o), c.well_formed);
        EXPECT_EQ(joined(), c.log);
        EXPECT_EQ(animation_count(), 0u);
        object_destroy(o);
    }
}

TEST_F(Behavior, AnimationArgumentsAndAdone) {
    const struct {
        const char* action;
        int result;
        int frame;  // the index shown, -1 for no animation
    } cases[] = {
        {"create animate me door 3 3 200", 1, 0},
        {"create animate me door 3 3 200, frame -1", 1, 2},
        {"create animate me door 3 3 200, frame 5", 1, 1},
        {"create animate me door 3 3 200, frame 99999999999999999999", 1, 0},
        {"create animate me door 3 3 200, frame +99999999999999999999", 1, 1},
        {"create animate me door 3 3 200, frame 0", 1, 0},
        {"create animate me door 3 2 200 3 1, frame 2", 1, 1},
        {"create animate me abc 99 99 100, frame 99", 1, 98},
        {"create animate me doorway8 3 3 200", 1, -1},
        {"create animate me abcdefg 10 10 100", 1, -1},
        {"create animate me abc 100 100 100", 1, -1},
        {"create animate me door 3 2 200 3 4", 1, -1},
        {"create animate me door 3 2 200", 0, -1},
        {"create animate me door 3 2 200 1", 0, -1},
        {"create animate me door x 3 200", 0, -1},
        {"create animate me door 3 3 200, frame me2 +1, frame", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        object* o = make("");
        o->action = c.action;
        EXPECT_EQ(behavior_run(o, BehaviorTrigger::create), c.result);
        EXPECT_EQ(animation_current(o), c.frame);
        object_destroy(o);
        animation_step(tick_now());
    }

    // Stopped from looping, the animation runs to its last frame, stops, and
    // runs adone, which here starts it again: at most once per frame.
    object* o = make("create animate me door 3 3 200, astart off; adone visible off, astart");
    EXPECT_EQ(animation_current(o), 0);
    animation_step(tick_now() + 250);
    EXPECT_EQ(animation_current(o), 1);
    EXPECT_TRUE(object_visible(o));
    animation_step(tick_now() + 10000);
    EXPECT_EQ(animation_current(o), 2);
    EXPECT_FALSE(object_visible(o));
    object_set_visible(o, true);
    animation_step(tick_now() + 20000);
    EXPECT_FALSE(object_visible(o)) << "adone again";
}

TEST_F(Behavior, ActivationOpensBareAddressesAndRefusesNestedRuns) {
    const struct {
        const char* action;
        const char* log;
    } cases[] = {
        {"http://example.com/page", "url http://example.com/page 0"},
        {"http://example.com/ page", ""},
        {"Sound:ding.wav", ""},
        {"activate url http://a/", "url http://a/ 0"},
        {"activate explode", ""},
        {"bump noise x.wav", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        object* o = make(c.action);
        g_log.clear();
        behavior_activate(o);
        EXPECT_EQ(g_log.empty() ? "" : g_log.back(), std::string(c.log));
        object_destroy(o);
    }

    // A hook that runs behavior again while a command runs finds the
    // interpreter busy.
    static object* inner = nullptr;
    static int nested = -1;
    inner = make("activate visible off");
    behavior_hooks().noise = [](const std::string&, bool) {
        nested = behavior_run(inner, BehaviorTrigger::activate) + behavior_check(inner);
    };
    object* outer = make("activate noise x.wav");
    behavior_activate(outer);
    EXPECT_EQ(nested, 0);
    EXPECT_TRUE(object_visible(inner));
}

TEST_F(Behavior, QueueRunsOneFirstCommandPerFrame) {
    EXPECT_TRUE(behavior_queue("teleport 4n 5w, avatars off"));
    EXPECT_TRUE(behavior_queue("visible off"));
    EXPECT_TRUE(behavior_queue("picture a.jpg"));
    EXPECT_TRUE(behavior_queue(std::string(300, ' ') + "avatars on"));
    for (size_t i = behavior_queued(); i < behavior_queue_limit; ++i) EXPECT_TRUE(behavior_queue("avatars on"));
    EXPECT_FALSE(behavior_queue("avatars on"));
    behavior_update();
    expect_at(5, 0.1, 4, 0);
    EXPECT_EQ(g_log, (std::vector<std::string>{"noise deport1.wav 1", "history"}));
    behavior_update();
    behavior_update();
    behavior_update();
    EXPECT_EQ(g_log.back(), "picture a.jpg 0 01") << "without an object, prepared without a target";
    EXPECT_EQ(behavior_queued(), behavior_queue_limit - 4);
}

TEST_F(Behavior, HostileTextsEndQuietly) {
    const std::string texts[] = {
        std::string(255, '"'),
        "activate " + std::string(246, ','),
        "activate sign " + std::string(241, '"'),
        "create 1.2.3; bump .; activate ..., sign .",
        "activate frame 1e999, astart on x on y, astop \"\"",
        "adone animate me " + std::string(7, 'a') + " 99 99 1 " + std::string(200, '9'),
        "activate ; ; ; ;;;; teleport",
        "activate teleport " + std::string(200, '9') + "n 1w",
        "activate teleport +.5 -.5 +" + std::string(200, '1'),
        "create sound: ; bump sound:x",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        object* o = make(text.substr(0, 255));
        behavior_check(o);
        for (BehaviorTrigger t : {BehaviorTrigger::bump, BehaviorTrigger::activate, BehaviorTrigger::adone})
            behavior_run(o, t);
        behavior_activate(o);
        object_destroy(o);
    }
}

TEST_F(Behavior, ClickActivatesInPickerModeOnly) {
    test::VisibleWorld::put_cell(0, 0, 1, "activate noise click.wav");
    ASSERT_GT(test::VisibleWorld::frames_until_done(), 0);
    model_flush();
    // Just in front of the object's placeholder triangle, eye at 0.01.
    ASSERT_EQ(self_set_position(0.5, 0.01 - 0.9 * self_model_height(), 0.2, 0), 1);
    camera_update();
    float px = 0, py = 0;
    ASSERT_TRUE(rw_camera_project(camera_main(), RwV3{0.5f, 0.006f, 0.25f}, &px, &py));
    const object* under = view_object_at(int(px), int(py));
    ASSERT_NE(under, nullptr);
    EXPECT_EQ(under->action, "activate noise click.wav");
    EXPECT_EQ(view_object_at(0, 0), nullptr);

    mouse_as_mover();
    g_log.clear();
    view_click(int(px), int(py));
    EXPECT_FALSE(mouse_is_mover());
    EXPECT_TRUE(g_log.empty()) << "the first click only gives up mover mode";
    view_click(int(px), int(py));
    EXPECT_EQ(g_log, std::vector<std::string>{"noise click.wav 1"});
}

}  // namespace
}  // namespace zk
