#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "art/database.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "support/wire.h"
#include "world/cell.h"

using namespace zk;
using namespace zk::test;

namespace {

TEST(CellCoordinates, CellsSectorsAndPlaceTexts) {
    // Far outside the grid the cell stays at its edge instead of wrapping.
    const std::pair<double, int> cells[] = {{-0.5, -1},     {-0.000001, 0}, {5.999, 5},  {-0.0, 0},
                                            {-1.0, -1},     {-1.000001, -1}, {-1.00002, -2}, {7.0, 7},
                                            {1e12, 32767}, {-1e12, -32768}};
    for (auto [at, cell] : cells) EXPECT_EQ(cell_index(at), cell) << at;
    const std::pair<int, int> sectors[] = {{-3, 0}, {2, 0}, {3, 1}, {8, 1}, {9, 2}, {-4, -1}, {-9, -1}, {-10, -2}};
    for (auto [cell, sector] : sectors) EXPECT_EQ(cell_sector(cell), sector) << cell;
    // Z first, then x; west is positive x.
    const std::tuple<double, double, std::string> places[] = {
        {0.4, 0.9, "ground zero"}, {-0.0000001, 0.2, "ground zero"}, {3.2, 12.7, "12N 3W"},
        {-0.5, -0.5, "1S 1E"},     {-41.5, 7.0, "7N 42E"},           {0.5, -3.0, "3S 0W"}};
    for (const auto& [x, z, text] : places) EXPECT_EQ(cell_place_text(x, z), text) << x << "," << z;
}

class CellCache : public ::testing::Test {
protected:
    void SetUp() override {
        ui_set_port(&ui_);
        ASSERT_TRUE(database_init());
        ASSERT_TRUE(cell_init());
        ASSERT_EQ(cell_open(dir(), false), 1);
    }
    void TearDown() override {
        while (object* o = object_first()) object_destroy(o);
        cell_term();
        object_hooks() = ObjectHooks{};
        ui_set_port(nullptr);
    }
    std::string dir() const { return temp_.path() + "/cache/property/zk"; }

    // Loads the cell and answers its objects in cache order.
    static std::vector<object*> load(int16_t x, int16_t z) {
        std::vector<object*> out;
        cell_start(x, z);
        object* o = nullptr;
        while (cell_next(&o)) out.push_back(o);
        return out;
    }
    static std::vector<std::string> models(int16_t x, int16_t z) {
        std::vector<std::string> out;
        for (object* o : load(x, z)) out.push_back(o->model_name);
        return out;
    }
    static int add(uint8_t number, const std::string& model) {
        return cell_element_add(number, 0, 0, 0, 0, 0, 0, model, "", "");
    }

    TempDir temp_;
    test::FakeUi ui_;
};

TEST_F(CellCache, RecordKeepsTheCacheLayoutAndPositionAndADamagedOneEndsTheCell) {
    cell_update_begin(-3, 5);
    ASSERT_EQ(cell_element_add(7, 0x11223344, 0x55667788, 250, 1500, -100, -905, "tree01", "an oak", "create sign"), 1);
    // Number, owner and timestamp big-endian, position and yaw little-endian,
    // the three text lengths, then the texts: the layout caches were stored in.
    const Bytes layout = Wire().u8(7).u32(0x11223344).u32(0x55667788).raw({250, 0, 0xDC, 0x05, 0x9C, 0xFF, 0x77, 0xFC})
                             .raw({6, 6, 11}).text("tree01an oakcreate sign").b;
    EXPECT_EQ(Bytes(cell_work_data(), cell_work_data() + cell_work_length()), layout);
    ASSERT_EQ(cell_update_end(), 1);
    auto objects = load(-3, 5);
    ASSERT_EQ(objects.size(), 1u);
    object* o = objects[0];
    double x, y, z;
    object_position(o, &x, &y, &z);
    EXPECT_DOUBLE_EQ(x, -3 + 0.25);
    EXPECT_DOUBLE_EQ(y, 1.5);
    EXPECT_DOUBLE_EQ(z, 5 - 0.1);
    EXPECT_FLOAT_EQ(object_yaw(o), -90.5f);
    EXPECT_EQ(object_number(o), 7);
    EXPECT_EQ(object_owner(o), 0x11223344u);
    EXPECT_EQ(object_timestamp(o), 0x55667788u);
    EXPECT_EQ(o->model_name + "|" + o->description + "|" + o->action, "tree01|an oak|create sign");
    EXPECT_EQ(object_sound(o), nullptr);

    // A second record whose texts claim more than the entry holds ends the
    // cell without reading past it.
    const Bytes entry =
        Bytes(cell_work_data(), cell_work_data() + cell_work_length()) + Wire().zeros(17).u8(200).zeros(2).text("xy").b;
    cell_start_records(-3, 5, entry.data(), entry.size());
    ASSERT_EQ(cell_next(&o), 1);
    EXPECT_EQ(o->model_name, "tree01");
    EXPECT_EQ(cell_next(&o), 0);
}

TEST_F(CellCache, DeleteRemovesTheFirstMatchAndAnEmptiedCellReadsBackEmpty) {
    cell_update_begin(0, 0);
    add(1, "one");
    add(2, "two");
    add(1, "one-again");
    add(3, "three");
    EXPECT_EQ(cell_element_delete(77), 0);
    EXPECT_EQ(cell_element_delete(1), 1);
    ASSERT_EQ(cell_update_end(), 1);
    EXPECT_EQ(models(0, 0), (std::vector<std::string>{"two", "one-again", "three"}));

    cell_update_begin(0, 0);
    for (uint8_t n : {1, 3, 2}) EXPECT_EQ(cell_element_delete(n), 1);
    EXPECT_EQ(cell_update_end(), 1);
    EXPECT_TRUE(load(0, 0).empty());
}

TEST_F(CellCache, ABusyCellGrowsToItsLimitWithoutLosingObjectsAndOversizedTextsAreRefused) {
    cell_update_begin(12, -7);
    EXPECT_EQ(add(1, std::string(256, 'm')), 0);
    EXPECT_EQ(cell_work_length(), 0u);
    const std::string t(255, 't');
    uint32_t added = 0;
    while (cell_element_add(static_cast<uint8_t>(added), added, 0, 0, 0, 0, 0, t, t, t) == 1) ++added;
    EXPECT_EQ(added, 256u);
    EXPECT_LE(cell_work_length(), cell_buffer_limit);
    EXPECT_EQ(add(0, "x"), 0);
    ASSERT_EQ(cell_update_end(), 1);
    auto objects = load(12, -7);
    ASSERT_EQ(objects.size(), 256u);
    for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(objects[i]->owner, i);
    for (object* o : objects) EXPECT_EQ(o->model_name + o->description + o->action, t + t + t);
}

TEST_F(CellCache, CacheSurvivesARestartAndAnEpochChangeEmptiesIt) {
    cell_update_begin(3, -4);
    add(5, "hut");
    ASSERT_EQ(cell_update_end(), 1);
    // Sector stamps are kept apart from the cell at the same x and z, and x
    // apart from z.
    ASSERT_EQ(cell_sector_set_timestamp(3, -4, 0xDEADBEEF), 1);
    ASSERT_EQ(cell_sector_set_timestamp(-4, 3, 0x01020304), 1);
    cell_term();

    ASSERT_TRUE(cell_init());
    ASSERT_EQ(cell_open(dir(), false), 1);
    EXPECT_EQ(models(3, -4), std::vector<std::string>{"hut"});
    EXPECT_EQ(cell_sector_timestamp(3, -4), 0xDEADBEEFu);
    EXPECT_EQ(cell_sector_timestamp(-4, 3), 0x01020304u);

    ASSERT_EQ(cell_open(dir(), true), 1);
    EXPECT_TRUE(load(3, -4).empty());
    EXPECT_EQ(cell_sector_timestamp(3, -4), 0u);
}

std::vector<std::string> hook_log;

TEST_F(CellCache, CreationPlacesTheModelAndRunsTheActionOnlyWhenAsked) {
    hook_log.clear();
    ObjectHooks& h = object_hooks();
    h.model_reference = [](const std::string& name) {
        hook_log.push_back("ref " + name);
        return reinterpret_cast<model_ref*>(hook_log.size());
    };
    h.model_place = [](model_ref* m, double x, double y, double z, float yaw) {
        hook_log.push_back("place " + std::to_string(reinterpret_cast<uintptr_t>(m)) + " " + std::to_string(x) + " " +
                           std::to_string(y) + " " + std::to_string(z) + " " + std::to_string(yaw));
    };
    h.model_dereference = [](model_ref* m) { hook_log.push_back("deref " + std::to_string(uintptr_t(m))); };
    h.action_check = [](object* o) { hook_log.push_back("check " + o->action); };
    h.action_create = [](object* o) {
        hook_log.push_back("create " + o->action);
        object_set_visible(o, false);
    };
    h.sound_destroy = [](sound_instance*) { hook_log.push_back("sound"); };

    object* a = object_create(1.5, 0.25, 2.0, 45.0f, "box", "", "create visible no", 3, 9, true, 100);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(object_model(a), reinterpret_cast<model_ref*>(1));
    EXPECT_FALSE(object_visible(a));
    object* b = object_create(0, 0, 0, 0, "wall", "", "create x", 4, 9, false, 100);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(object_visible(b));
    EXPECT_EQ(hook_log, (std::vector<std::string>{"ref box", "place 1 1.500000 0.250000 2.000000 45.000000",
                                                  "check create visible no", "create create visible no", "ref wall",
                                                  "place 5 0.000000 0.000000 0.000000 0.000000", "check create x"}));
    EXPECT_EQ(object_create(0, 0, 0, 0, std::string(256, 'm'), "", "", 1, 1, false, 0), nullptr);

    hook_log.clear();
    object_set_sound(a, reinterpret_cast<sound_instance*>(8));
    object_destroy(a);
    EXPECT_EQ(hook_log, (std::vector<std::string>{"deref 1", "sound"}));
    // An object that was never linked leaves the list alone.
    auto* loose = new object;
    object_destroy(loose);
    EXPECT_EQ(object_first(), b);
    EXPECT_EQ(b->next, nullptr);
}

TEST_F(CellCache, DuplicateIsAFreshUnsentCopyOwnedByTheUser) {
    object* a = object_create(3, 1, 4, 90, "chair", "seat", "create name chair1", 12, 555, false, 999);
    object_set_name(a, "chair1");
    object_set_solid(a, false);
    object_set_visible(a, false);
    object* d = object_duplicate(a);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(object_first(), d);
    EXPECT_EQ(d->model_name + "|" + d->description + "|" + d->action, "chair|seat|create name chair1");
    EXPECT_TRUE(object_name(d).empty());
    EXPECT_TRUE(object_solid(d));
    EXPECT_TRUE(object_visible(d));
    EXPECT_EQ(object_timestamp(d), 0u);
    EXPECT_EQ(object_owner(d), 0u);  // nobody is logged in here
    EXPECT_GE(object_number(d), 32);
    EXPECT_LE(object_number(d), 254);
    // The original is untouched.
    EXPECT_EQ(object_name(a), "chair1");
    EXPECT_EQ(object_owner(a), 555u);
}

TEST_F(CellCache, NameSearchMatchesNameIgnoringCaseAndOwnerExactly) {
    object* a = object_create(0, 0, 0, 0, "m", "", "", 1, 10, false, 0);
    object* b = object_create(0, 0, 0, 0, "m", "", "", 2, 20, false, 0);
    object* c = object_create(0, 0, 0, 0, "m", "", "", 3, 10, false, 0);
    object_create(0, 0, 0, 0, "m", "", "", 4, 10, false, 0);  // unnamed
    object_set_name(a, "Door");
    object_set_name(b, "door");
    object_set_name(c, "DOOR");
    std::vector<object*> found;
    for (object* o = object_find_first("dOoR", 10); o; o = object_find_next()) found.push_back(o);
    EXPECT_EQ(found, (std::vector<object*>{c, a}));
    EXPECT_EQ(object_find_first("door", 20), b);
    EXPECT_EQ(object_find_next(), nullptr);
    EXPECT_EQ(object_find_first("", 10), nullptr);
    EXPECT_EQ(object_find_first("doo", 10), nullptr);
    // Destroying the object the search stands on moves the search on.
    ASSERT_EQ(object_find_first("door", 10), c);
    object_destroy(b);
    EXPECT_EQ(object_find_next(), a);
}

}  // namespace
