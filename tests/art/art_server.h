// A program's art cache over a real HTTP server that serves what a test
// publishes, for the modules that fetch and convert art.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "art/chunk.h"
#include "art/database.h"
#include "art/download.h"
#include "art/http.h"
#include "art/image.h"
#include "art/texture.h"
#include "core/settings.h"
#include "support/http_server.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace zk::test {

class ArtServer : public ::testing::Test {
protected:
    void SetUp() override {
        settings_set_directory(dir.path());
        write_file(dir.file("zelnik.ini"), "[proxy]\n");
        ASSERT_TRUE(database_init());
        ASSERT_EQ(http_init(), 0);
        start();
    }
    void TearDown() override {
        stop();
        http_term();
    }
    // A program's start and end over the same art directory.
    virtual void start() {
        ASSERT_TRUE(download_init());
        download_set_path(server.host() + "/objects");
        download_set_refresh(480);
        chunk_reset();
    }
    virtual void stop() { texture_reset(), image_reset(), chunk_term(), download_term(); }
    // Until every request is answered and every picture converted.
    bool settle() {
        return wait_until([] {
            http_update(), download_update(), image_update();
            return download_count() == 0 && image_queued() == 0;
        }, 10000);
    }
    // `path` under the object path, e.g. "models/box.zip".
    void publish(const std::string& path, const std::string& bytes) {
        std::lock_guard<std::mutex> hold(lock);
        files["/objects/" + path] = bytes;
    }
    std::multiset<std::string> seen() {
        std::lock_guard<std::mutex> hold(lock);
        return targets;
    }

    TempDir dir;

private:
    void serve(const HttpRequestSeen& req, HttpConn& conn) {
        std::lock_guard<std::mutex> hold(lock);
        targets.insert(req.target);
        auto it = files.find(req.target);
        const std::string date = "Last-Modified: Sat, 01 Feb 2025 10:00:00 GMT\r\n";
        conn.send(it == files.end() ? http_response(404, "") : http_response(200, it->second, date));
    }
    std::mutex lock;
    std::map<std::string, std::string> files;
    std::multiset<std::string> targets;

protected:
    HttpServer server{[this](const HttpRequestSeen& r, HttpConn& c) { serve(r, c); }};
};

}  // namespace zk::test
