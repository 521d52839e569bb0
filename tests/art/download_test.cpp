// The download manager against a real HTTP server on loopback.
#include "art/download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "art/database.h"
#include "art/http.h"
#include "core/settings.h"
#include "support/http_server.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace zk {
namespace {

using test::HttpConn;
using test::HttpRequestSeen;
using test::http_response;

const char* kDate = "Sat, 01 Feb 2025 10:00:00 GMT";

struct Answer {
    int result = -1;
    std::string body;
};

void remember(void* data, int result, const uint8_t* buffer, uint32_t size) {
    auto* a = static_cast<Answer*>(data);
    a->result = result;
    if (buffer) a->body.assign(reinterpret_cast<const char*>(buffer), size);
}

std::atomic<uint32_t> g_now{1000};
uint32_t fake_clock() { return g_now.load(); }

class Download : public ::testing::Test {
protected:
    void SetUp() override {
        settings_set_directory(dir.path());
        test::write_file(dir.file("zelnik.ini"), "[proxy]\n");
        ASSERT_TRUE(database_init());
        ASSERT_EQ(http_init(), 0);
        ASSERT_TRUE(download_init());
        EXPECT_TRUE(download_set_path(server.host() + "/objects"));
        download_set_refresh(480);
    }
    void TearDown() override {
        download_term();
        http_term();
        http_set_clock(nullptr);
    }
    // Runs the download task until every request is answered.
    bool settle() {
        return test::wait_until([] {
            http_update();
            download_update();
            return download_count() == 0;
        }, 10000);
    }
    Answer fetch(const std::string& name, void (*mark)(download*) = nullptr) {
        Answer a;
        download* d = download_file("textures", name, kDownloadTexture, remember, &a);
        EXPECT_NE(d, nullptr);
        if (mark) mark(d);
        EXPECT_TRUE(settle());
        return a;
    }
    std::vector<std::string> seen() {
        std::lock_guard<std::mutex> hold(lock);
        return targets;
    }

    void serve(const HttpRequestSeen& req, HttpConn& conn) {
        {
            std::lock_guard<std::mutex> hold(lock);
            targets.push_back(req.target + (req.header("if-modified-since").empty() ? "" : " conditional"));
        }
        if (gated) conn.wait_gate(1);
        if (req.target.find("missing") != std::string::npos) {
            conn.send(http_response(404, ""));
        } else if (req.target.find("empty") != std::string::npos) {
            conn.send(http_response(200, ""));
        } else if (req.target.find("stall") != std::string::npos) {
            conn.send("HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n" + std::string(10, 'a'));
            conn.stall();
        } else if (req.header("if-modified-since") == kDate) {
            conn.send("HTTP/1.1 304 Not Modified\r\n\r\n");
        } else {
            conn.send(http_response(200, "body of " + req.target, std::string("Last-Modified: ") + kDate + "\r\n"));
        }
    }

    test::TempDir dir;
    std::mutex lock;
    std::vector<std::string> targets;
    std::atomic<bool> gated{false};
    test::HttpServer server{[this](const HttpRequestSeen& r, HttpConn& c) { serve(r, c); }};
};

TEST_F(Download, OneRecordPerKeyAndTheStoredDateDecidesWhetherToAsk) {
    Answer first;
    ASSERT_NE(download_file("textures", "wood.jpg", kDownloadTexture, remember, &first), nullptr);
    EXPECT_EQ(download_file("textures", "wood.jpg", kDownloadTexture, remember, &first), nullptr);
    ASSERT_TRUE(settle());
    EXPECT_EQ(first.result, kDownloadFetched);
    EXPECT_EQ(first.body, "body of /objects/textures/wood.jpg");

    // Within the refresh interval nothing goes on the wire.
    EXPECT_EQ(fetch("wood.jpg").result, kDownloadUpToDate);
    EXPECT_EQ(seen().size(), 1u);
    // Asked anyway: a conditional request, answered 304.
    EXPECT_EQ(fetch("wood.jpg", download_ignore_refresh).result, kDownloadUpToDate);
    // Forced: a plain request and the body.
    Answer forced = fetch("wood.jpg", download_force);
    EXPECT_EQ(forced.result, kDownloadFetched);
    EXPECT_EQ(seen(), (std::vector<std::string>{"/objects/textures/wood.jpg", "/objects/textures/wood.jpg conditional",
                                                 "/objects/textures/wood.jpg"}));
    // Outside the interval the stored date is sent.
    download_set_refresh(0);
    EXPECT_EQ(fetch("wood.jpg").result, kDownloadUpToDate);
    EXPECT_EQ(seen().back(), "/objects/textures/wood.jpg conditional");
    // The dates outlive the program.
    download_term();
    ASSERT_TRUE(download_init());
    download_set_path(server.host() + "/objects");
    download_set_refresh(480);
    EXPECT_EQ(fetch("wood.jpg").result, kDownloadUpToDate);
    EXPECT_EQ(seen().size(), 4u);
}

TEST_F(Download, ThreeAtATimeAndTheAvatarListFirst) {
    gated = true;
    std::vector<Answer> answers(6);
    for (int i = 0; i < 5; ++i)
        ASSERT_NE(download_file("textures", "t" + std::to_string(i), kDownloadTexture, remember, &answers[i]), nullptr);
    ASSERT_NE(download_file("avatars", "avatars.zip", kDownloadAvatars, remember, &answers[5]), nullptr);
    download_update();
    ASSERT_TRUE(test::wait_until([&] { return seen().size() == 3; }, 5000));
    http_update();
    download_update();
    EXPECT_EQ(seen().size(), 3u) << "a fourth started while three run";
    const std::vector<std::string> first = seen();
    EXPECT_NE(std::find(first.begin(), first.end(), "/objects/avatars/avatars.zip"), first.end())
        << "the avatar list waits behind textures";
    server.set_gate(1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(seen().size(), 6u);
    for (const Answer& a : answers) EXPECT_EQ(a.result, kDownloadFetched);
}

TEST_F(Download, FailuresEndInResultZero) {
    // A missing file fails, and is asked for again next time.
    EXPECT_EQ(fetch("missing.bmp").result, kDownloadFailed);
    EXPECT_EQ(fetch("missing.bmp").result, kDownloadFailed);
    EXPECT_EQ(seen().size(), 2u);
    // So does a fetch that brought no bytes: its holder must hear that its
    // record is gone.
    EXPECT_EQ(fetch("empty.bmp").result, kDownloadFailed);
    EXPECT_EQ(seen().size(), 3u);

    // A server that stalls is given three tries of 30 s each.
    http_set_clock(fake_clock);
    Answer stalled;
    ASSERT_NE(download_file("models", "stall.zip", kDownloadModel, remember, &stalled), nullptr);
    for (int i = 0; i < 300 && stalled.result < 0; ++i) {
        download_update();
        test::wait_until([] { return false; }, 10);
        g_now += 5000;
        http_update();
    }
    EXPECT_EQ(stalled.result, kDownloadFailed);
    EXPECT_EQ(seen().size(), 6u);
    http_set_clock(nullptr);

    // A reset lets everything go without calling back.
    Answer dropped;
    ASSERT_NE(download_url(server.host() + "/pics/stall.jpg", 0, remember, &dropped), nullptr);
    ASSERT_NE(download_file("textures", "stall.jpg", kDownloadTexture, remember, &dropped), nullptr);
    download_update();
    download_reset();
    EXPECT_EQ(download_count(), 0);
    EXPECT_EQ(dropped.result, -1);
    EXPECT_EQ(download_url("no-path", 0, remember, &dropped), nullptr);
}

TEST_F(Download, AUrlOverItsLimitIsStoppedAtItsHeaders) {
    // 300,000 bytes announced and 10 sent: refused at once, not after a stall.
    Answer big, small;
    ASSERT_NE(download_url(server.host() + "/pics/stall.jpg", 100, remember, &big), nullptr);
    ASSERT_NE(download_url(server.host() + "/pics/small.jpg", 1, remember, &small), nullptr);
    ASSERT_TRUE(settle());
    EXPECT_EQ(big.result, kDownloadFailed);
    EXPECT_EQ(small.result, kDownloadFetched);
    EXPECT_EQ(small.body, "body of /pics/small.jpg");
}

TEST_F(Download, TheWindowsPlaceIsWrittenAtMostOnceASecondAndAtTheEnd) {
    for (int x = 0; x < 50; ++x) download_window_moved(x, 7);
    EXPECT_EQ(settings_get_int("layout", "download_x"), 0) << "a drag rewrote the settings file each step";
    download_term();
    EXPECT_EQ(settings_get_int("layout", "download_x"), 49);
    EXPECT_EQ(settings_get_int("layout", "download_y"), 7);
    ASSERT_TRUE(download_init());
}

TEST_F(Download, ObjectPathsNeverLeaveTheArtCache) {
    const std::filesystem::path root = std::filesystem::path(dir.path()) / "cache" / "art";
    for (const char* path : {"..", "../../etc", "a/../../b", "/abs", "host\\..\\..\\x", ".", "h:80/.."}) {
        download_set_path(path);
        const std::filesystem::path art(art_dir());
        EXPECT_EQ(art.parent_path(), root) << path;
        EXPECT_NE(art.filename(), "..") << path;
        EXPECT_NE(art.filename(), ".") << path;
        EXPECT_TRUE(std::filesystem::is_directory(art / "textures")) << path;
    }
    EXPECT_FALSE(download_set_path("h:80/.."));
    EXPECT_TRUE(download_set_path(""));
    EXPECT_EQ(std::filesystem::path(art_dir()).filename(), "localhost-objects");
}

}  // namespace
}  // namespace zk

namespace zk {
namespace {

TEST(DownloadOptions, LimitsDefaultFromTheOlderSwitchAndTheEditIsBounded) {
    test::TempDir dir;
    settings_set_directory(dir.path());
    struct Case {
        const char* ini;
        uint32_t pictures, audio;
    } cases[] = {
        {"", 100, 100},
        {"[performance]\nurls=0\n", 0, 0},
        {"[performance]\nurls=0\n[downloads]\npictures=1\n", 1, 0},
        {"[downloads]\npictures=250\naudio=0\n", 250, 0},
    };
    for (const Case& c : cases) {
        test::write_file(dir.file("zelnik.ini"), c.ini);
        dloptions_init();
        EXPECT_EQ(dloptions_pictures(), c.pictures) << c.ini;
        EXPECT_EQ(dloptions_audio(), c.audio) << c.ini;
    }
    EXPECT_EQ(dloptions_page_limit(0).choice, 0);
    EXPECT_EQ(dloptions_page_limit(1).choice, 2);
    EXPECT_EQ(dloptions_page_limit(250).kilobytes, 250);
    for (auto [text, stored] : {std::pair{"5", 10u}, {"1000", 999u}, {"120", 120u}, {"12x", 100u}, {"", 100u}})
        EXPECT_EQ(dloptions_setting(1, text), stored) << text;
    EXPECT_EQ(dloptions_setting(2, "5"), 1u);
    dloptions_apply(0, 300);
    dloptions_init();
    EXPECT_EQ(dloptions_pictures(), 0u);
    EXPECT_EQ(dloptions_audio(), 300u);
}

}  // namespace
}  // namespace zk
