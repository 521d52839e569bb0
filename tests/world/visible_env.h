// The visibility manager's surroundings for tests and measurements: a real
// cell cache, placeholder models in a scene of their own, a fake window
// system, and ports that put the clocks, the user and the frame rate in the
// test's hands.
#pragma once

#include <cstdint>
#include <string>

#include "core/settings.h"
#include "art/database.h"
#include "art/model.h"
#include "render/clump.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "world/cell.h"
#include "world/visible.h"

namespace zk::test {

struct VisibleWorld {
    static inline uint32_t now = 10000;
    static inline uint32_t clock = 0;
    static inline uint32_t cost = 0;   // ms each cell visit takes on the load clock
    static inline bool known = true;
    static inline bool teleport = false;
    static inline bool outstanding = false;
    static inline double x = 0.5, y = 0, z = 0.5;
    static inline double vx = 0, vz = 0;
    static inline float fps = 5;

    explicit VisibleWorld(const std::string& ini = "") {
        write_file(dir.file("zelnik.ini"), ini);
        settings_set_directory(dir.path());
        ui_set_port(&ui);
        database_init();
        cell_init();
        cell_open(dir.path() + "/cache/property/zk", false);
        model_init();
        // What start-up binds once the model cache is up.
        object_hooks().model_reference = model_reference_object;
        object_hooks().model_place = model_place;
        object_hooks().model_dereference = model_dereference;
        scene = rw_scene_create();
        model_set_scene(scene);
        now = 10000, clock = 0, cost = 0;
        known = true, teleport = false, outstanding = false;
        x = 0.5, y = 0, z = 0.5, vx = 0, vz = 0;
        fps = 5;
        VisiblePorts& p = visible_ports();
        p.now = [] { return now; };
        // Every reading moves the load clock on, so each visit costs `cost`.
        p.clock = [] { return clock += cost; };
        p.attributes_known = [] { return known; };
        p.teleport_pending = [] { return teleport; };
        p.query_outstanding = [] { return outstanding; };
        p.position = [](double* px, double* py, double* pz) { *px = x, *py = y, *pz = z; };
        p.velocity = [](double* px, double* pz) { *px = vx, *pz = vz; };
        p.frame_rate = [] { return fps; };
        visible_init();
    }

    ~VisibleWorld() {
        visible_term();
        visible_ports_restore();
        model_set_scene(nullptr);
        rw_scene_destroy(scene);
        model_term();
        object_hooks().model_reference = nullptr;
        object_hooks().model_place = nullptr;
        object_hooks().model_dereference = nullptr;
        object_hooks().action_create = nullptr;
        cell_term();
        ui_set_port(nullptr);
    }

    // `count` objects in a cell, placed at (0.5, 0, 0.25) within it.
    static void put_cell(int16_t cx, int16_t cz, int count, const std::string& action = "") {
        cell_update_begin(cx, cz);
        for (int i = 0; i < count; ++i) {
            cell_element_delete(uint8_t(i + 1));
            cell_element_add(uint8_t(i + 1), 7, 1700000000, 500, 0, 250, int16_t(i * 900), "box", "", action);
        }
        cell_update_end();
    }

    // Every cell the table reaches around (0, 0), `count` objects each.
    static void fill_around_origin(int count) {
        const VisibleOffset* t = visible_table();
        for (int i = 0; i < visible_table_size; ++i) put_cell(t[i].dx, t[i].dz, count);
    }

    // Frames until a pass has gone through the whole range.
    static int frames_until_done(int limit = 100) {
        for (int n = 1; n <= limit; ++n) {
            visible_update();
            if (visible_done() && visible_current_cell() >= visible_range()) return n;
        }
        return -1;
    }

    TempDir dir;
    FakeUi ui;
    RwScene* scene = nullptr;
};

}  // namespace zk::test
