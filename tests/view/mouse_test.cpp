// The mouse as mover and picker, and the description tip.
#include <gtest/gtest.h>

#include "support/fake_ui.h"
#include "view/focus.h"
#include "view/mouse.h"
#include "world/cell.h"

namespace zk {
namespace {

class Pointer : public ::testing::Test {
protected:
    void SetUp() override {
        ui_.fake.placement.width = 400;
        ui_.fake.placement.height = 300;
        ui_.fake.window_created = true;
        mouse_init();
        focus_init();
        focus_hooks() = FocusHooks{};
        under = nullptr;
        focus_hooks().pick = [](int, int) { return under; };
        focus_hooks().view_size = [](int* w, int* h) { *w = 400, *h = 300; };
    }
    void TearDown() override {
        mouse_as_picker();
        focus_hooks() = FocusHooks{};
        focus_drop();
    }
    test::ScopedFakeUi ui_;
    static inline object* under = nullptr;
};

TEST_F(Pointer, MoverModeHidesTheCursorAtTheCentreAndReadsItsOffset) {
    EXPECT_FALSE(mouse_is_mover());
    EXPECT_FALSE(ui_.fake.toolbar_pressed[kCommandMouseMover]);
    int f = 7, t = 7;
    mouse_mover_input(&f, &t);
    EXPECT_EQ(f, 0);
    EXPECT_EQ(t, 0);

    ui_.fake.cursor_x = 30, ui_.fake.cursor_y = 40;
    mouse_as_mover();
    EXPECT_TRUE(ui_.fake.toolbar_pressed[kCommandMouseMover]);
    EXPECT_TRUE(ui_.fake.cursor_hidden);
    EXPECT_EQ(ui_.fake.cursor_x, 200);
    EXPECT_EQ(ui_.fake.cursor_y, 150);
    ui_.fake.cursor_x = 190, ui_.fake.cursor_y = 130;  // up and left
    mouse_mover_input(&f, &t);
    EXPECT_EQ(f, 20);
    EXPECT_EQ(t, 10);
    EXPECT_EQ(ui_.fake.cursor_x, 200);  // put back
    mouse_mover_input(&f, &t);
    EXPECT_EQ(f, 0);

    // An inactive window gives no input.
    ui_.fake.active = false;
    ui_.fake.cursor_x = 0;
    mouse_mover_input(&f, &t);
    EXPECT_EQ(t, 0);
    ui_.fake.active = true;

    // Losing activation gives the cursor back until the window is active again.
    mouse_deactivate();
    EXPECT_FALSE(ui_.fake.cursor_hidden);
    EXPECT_EQ(ui_.fake.cursor_x, 30);
    mouse_activate();
    EXPECT_TRUE(ui_.fake.cursor_hidden);
    EXPECT_TRUE(mouse_is_mover());

    mouse_as_picker();
    EXPECT_FALSE(ui_.fake.cursor_hidden);
    EXPECT_EQ(ui_.fake.cursor_x, 30);
    EXPECT_EQ(ui_.fake.cursor_y, 40);
    EXPECT_FALSE(ui_.fake.toolbar_pressed[kCommandMouseMover]);
}

TEST_F(Pointer, TheTipAppearsAfterHalfASecondOnOneDescribedObjectInPickerMode) {
    object sign;
    sign.description = "Welcome to the lagoon";
    under = &sign;
    ui_.fake.cursor_x = 100, ui_.fake.cursor_y = 50;
    focus_step(1000);
    EXPECT_FALSE(focus_tip().shown);
    focus_step(1500);
    EXPECT_FALSE(focus_tip().shown);
    focus_step(1501);
    ASSERT_TRUE(focus_tip().shown);
    EXPECT_EQ(focus_tip().text, "Welcome to the lagoon");
    EXPECT_EQ(focus_tip().left, 110);
    EXPECT_EQ(focus_tip().top, 60);
    EXPECT_LE(focus_tip().width, focus_tip_max_width);

    // The corner stays where it was first drawn while the cursor moves on
    // the same object.
    ui_.fake.cursor_x = 120;
    focus_step(1600);
    EXPECT_TRUE(focus_tip().shown);
    EXPECT_EQ(focus_tip().left, 110);

    // Another object starts the wait again, and its tip stays inside the
    // view; none drops the tip.
    object other;
    other.description = std::string(60, 'w');
    under = &other;
    ui_.fake.cursor_x = 395, ui_.fake.cursor_y = 295;
    focus_step(1700);
    EXPECT_FALSE(focus_tip().shown);
    EXPECT_EQ(focus_tip().text, other.description);
    focus_step(2300);
    ASSERT_TRUE(focus_tip().shown);
    EXPECT_LE(focus_tip().left + focus_tip().width + 3, 400);
    EXPECT_LE(focus_tip().top + focus_tip().height + 1, 300);
    EXPECT_GE(focus_tip().left, 0);
    EXPECT_GE(focus_tip().top, 0);
    under = nullptr;
    focus_step(2400);
    EXPECT_EQ(focus_tip().text, "");

    // No tip without a description, in mover mode or while editing.
    object plain;
    under = &plain;
    focus_step(3000);
    focus_step(4000);
    EXPECT_FALSE(focus_tip().shown);
    under = &sign;
    focus_step(5000);
    mouse_as_mover();
    focus_step(6000);
    EXPECT_FALSE(focus_tip().shown);
    mouse_as_picker();
    static bool editing;
    editing = true;
    focus_hooks().editing = [] { return editing; };
    focus_step(7000);
    focus_step(8000);
    EXPECT_FALSE(focus_tip().shown);
    EXPECT_EQ(focus_tip().text, "");
}

}  // namespace
}  // namespace zk
