// Each of the demo world's models loaded as a newcomer's browser loads it
// (download, unzip, read the text shape, convert and store it) against the
// same model loaded again from the chunk store, as every later start does.
// The models' textures are converted beforehand, so both loads measure the
// model alone. Prints both times per model and their ratio.
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "art/chunk.h"
#include "art/database.h"
#include "art/download.h"
#include "art/files.h"
#include "art/http.h"
#include "art/image.h"
#include "art/model.h"
#include "art/texture.h"
#include "art/zip.h"
#include "core/settings.h"
#include "platform/files.h"
#include "render/clump.h"
#include "results.h"
#include "server/assets/demo_worlds.h"
#include "server/demo.h"
#include "support/http_server.h"
#include "support/temp_dir.h"

using namespace zk;
using Clock = std::chrono::steady_clock;

namespace {

std::map<std::string, std::string> g_files;  // request target -> bytes

std::vector<std::string> names_in(const std::string& dir, const std::string& suffix) {
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
                out.push_back(n.substr(0, n.size() - suffix.size()));
        }
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Passes of the frame loop until `done`, as the task runner would run them.
template <class F>
bool run_until(F&& done) {
    const auto limit = Clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (Clock::now() > limit) return false;
        http_update(), download_update(), image_update(), model_flush();
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return true;
}

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The median time of `runs` loads of the model: from the server when
// `fresh` (its stored forms and text deleted first), else from the chunk
// store, which must show it at the first flush. -1 when a load fails.
double median_load(const std::string& name, int runs, bool fresh) {
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        if (fresh) {
            chunk_delete("models", name);
            chunk_delete(model_flat_prefix("models"), name);
            file_delete(art_dir() + "/models/" + name + ".rwx");
        }
        const auto t0 = Clock::now();
        model_ref* ref = model_reference("models", name, nullptr);
        const bool ok = fresh ? run_until([&] { return chunk_exists("models", name) && model_ready(ref); })
                              : (model_flush(), model_ready(ref));
        times.push_back(ms_since(t0));
        model_dereference(ref);
        model_reset();
        if (!ok) return -1;
    }
    return median(times);
}

}  // namespace

int main() {
    const std::string objects = ZELNIK_OBJECTS;
    for (const char* sub : {"models", "textures"})
        for (const std::string& suffix : {std::string(".zip"), std::string(".jpg")})
            for (const std::string& n : names_in(objects + "/" + sub, suffix)) {
                std::string bytes;
                if (file_read_all(objects + "/" + sub + "/" + n + suffix, bytes, 64 << 20))
                    g_files[std::string("/zk/") + sub + "/" + n + suffix] = bytes;
            }
    const std::vector<std::string> models = names_in(objects + "/models", ".zip");
    if (models.empty()) {
        std::fprintf(stderr, "no models under %s\n", objects.c_str());
        return 1;
    }
    test::HttpServer server([](const test::HttpRequestSeen& req, test::HttpConn& conn) {
        auto it = g_files.find(req.target);
        conn.send(it == g_files.end() ? test::http_response(404, "")
                                      : test::http_response(200, it->second,
                                                            "Last-Modified: Sat, 01 Feb 2025 10:00:00 GMT\r\n"));
    });
    test::TempDir dir;
    test::write_file(dir.file("zelnik.ini"), "[proxy]\n");
    settings_set_directory(dir.path());
    if (!database_init() || http_init() != 0 || !download_init() || !model_init()) return 1;
    download_set_path(server.host() + "/zk");
    download_set_refresh(480);
    chunk_reset();
    // The world's password for its encrypted model, as world entry hands it over.
    const std::string password = server::demo_encipher_password(server::kDemoWorlds[0].object_password);
    zip_set_password(reinterpret_cast<const uint8_t*>(password.data()), password.size());
    RwScene* scene = rw_scene_create();
    model_set_scene(scene);

    // Every texture converted and stored once.
    std::vector<texture*> textures;
    for (const std::string& t : names_in(objects + "/textures", ".jpg")) textures.push_back(texture_download(t, nullptr, nullptr));
    if (!run_until([&] { return std::all_of(textures.begin(), textures.end(), texture_loaded); })) return 1;

    std::printf("%-12s %10s %10s %7s\n", "model", "first ms", "store ms", "ratio");
    double first_total = 0, store_total = 0;
    for (const std::string& name : models) {
        const double f = median_load(name, 3, true), s = median_load(name, 21, false);
        if (f < 0 || s < 0) {
            std::fprintf(stderr, "%s: %s\n", name.c_str(), f < 0 ? "never converted" : "not loaded from the store at once");
            return 1;
        }
        first_total += f, store_total += s;
        std::printf("%-12s %10.3f %10.3f %7.1f\n", name.c_str(), f, s, f / s);
    }
    std::printf("%-12s %10.3f %10.3f %7.1f   (goal: the store at least 10 times faster)\n", "all", first_total,
                store_total, first_total / store_total);
    bench_result("demo models loaded from the chunk store", store_total, "ms", "first load, converting", first_total,
                 "ratio <= 0.1");
    model_set_scene(nullptr);
    rw_scene_destroy(scene);
    texture_term();
    model_term();
    image_term();
    chunk_term();
    download_term();
    http_term();
    return 0;
}
