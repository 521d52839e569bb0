#include "art/http.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>

#include "core/settings.h"
#include "support/http_server.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace zk {
namespace {

using test::HttpConn;
using test::HttpRequestSeen;
using test::HttpServer;
using test::http_response;
using test::pattern_bytes;

std::atomic<uint32_t> g_fake_now{1000};
uint32_t fake_clock() { return g_fake_now.load(); }

const std::string kBody5000 = pattern_bytes(5000, 7);
const char* kDate = "Sat, 01 Feb 2025 10:00:00 GMT";

// The object server of most tests.
void objects(const HttpRequestSeen& req, HttpConn& conn) {
    const std::string& t = req.target;
    if (t == "/file5000") {
        conn.send(http_response(200, kBody5000, std::string("Last-Modified: ") + kDate + "\r\n"));
    } else if (t == "/nolength") {
        conn.send(http_response(200, "some body", "Connection: close\r\n", false));
        conn.close();
    } else if (t == "/badlength") {
        conn.send(http_response(200, "", "Content-Length: 12abc\r\nConnection: close\r\n", false));
        conn.close();
    } else if (t == "/empty") {
        conn.send(http_response(200, ""));
    } else if (t == "/forbidden") {
        conn.send(http_response(403, "no"));
    } else if (t == "/missing") {
        conn.send(http_response(404, "gone"));
    } else if (t == "/huge") {
        conn.send("HTTP/1.1 200 OK\r\nContent-Length: 300000000000\r\n\r\n");
        conn.close();
    } else if (t == "/dated") {
        if (req.header("if-modified-since") == kDate)
            conn.send("HTTP/1.1 304 Not Modified\r\n\r\n");
        else
            conn.send(http_response(200, "fresh", "Last-Modified: Sun, 02 Feb 2025 11:00:00 GMT\r\n"));
    } else if (t == "/longdate") {
        conn.send(http_response(200, "x", "Last-Modified: " + std::string(60, 'd') + "\r\n"));
    } else if (t == "/half") {
        std::string body = pattern_bytes(4000);
        std::string whole = http_response(200, body);
        conn.send(whole.substr(0, whole.size() - body.size() + 2000));
        conn.close();
    } else if (t == "/stall") {
        conn.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(100, 'a'));
        conn.stall();
    } else if (t == "/promise") {
        // Promises far more than it sends.
        conn.send("HTTP/1.1 200 OK\r\nContent-Length: 200000000\r\n\r\n" + pattern_bytes(300000));
        conn.stall();
    } else if (t == "/big") {
        conn.send(http_response(200, pattern_bytes(300000, 5)));
    } else if (t == "/staged") {
        // Headers after gate 1, the first 1024 bytes after gate 2, the rest after gate 3.
        std::string body = pattern_bytes(4096, 3);
        conn.wait_gate(1);
        conn.send("HTTP/1.1 200 OK\r\nContent-Length: 4096\r\n\r\n");
        conn.wait_gate(2);
        conn.send(body.substr(0, 1024));
        conn.wait_gate(3);
        conn.send(body.substr(1024));
    } else if (t == "/moved") {
        conn.send(http_response(302, "<a href=/file5000>here</a>", "Location: /file5000\r\n"));
    } else {
        conn.send(http_response(404, ""));
    }
}

bool finished(http_request* r, int ms = 10000) {
    return test::wait_until([r] { return http_rc(r) != kHttpInProgress; }, ms);
}

class Http : public ::testing::Test {
protected:
    void SetUp() override {
        settings_set_directory(dir.path());
        test::write_file(dir.file("zelnik.ini"), "[proxy]\n");
        proxy_init();
        ASSERT_EQ(http_init(), 0);
        http_set_clock(nullptr);
    }
    void TearDown() override {
        http_term();
        http_set_clock(nullptr);
        EXPECT_EQ(http_request_count(), 0);
        EXPECT_EQ(http_workers_running(), 0);
    }
    // Fetches and waits; the caller calls http_done.
    http_request* fetch(const char* path, const char* date = nullptr, uint32_t max = 0) {
        http_request* r = http_get_max(server.host().c_str(), path, date, max);
        EXPECT_NE(r, nullptr);
        EXPECT_TRUE(finished(r));
        return r;
    }

    test::TempDir dir;
    HttpServer server{objects};
};

TEST_F(Http, HostSuffixGivesThePortAndTheDefaultIs80) {
    http_request* r = http_get(server.host().c_str(), "file5000");
    EXPECT_EQ(http_port(r), server.port());
    EXPECT_EQ(http_host(r), "127.0.0.1");
    ASSERT_TRUE(finished(r));
    ASSERT_EQ(http_rc(r), kHttpComplete);
    EXPECT_EQ(http_size(r), 5000u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(http_buffer(r)), 5000), kBody5000);
    EXPECT_EQ(http_date(r), kDate);
    EXPECT_EQ(server.last_request().header("user-agent"), "Quorvane Browser");
    EXPECT_EQ(server.last_request().target, "/file5000");
    http_done(r);

    for (auto [host, port] : {std::pair{"localhost", 80}, {"https://localhost", 443}, {"https://localhost:8443", 8443}}) {
        r = http_get(host, "x");
        EXPECT_EQ(http_port(r), port) << host;
        EXPECT_EQ(http_host(r), "localhost") << host;
        http_done(r);  // whatever it is doing
    }
}

TEST_F(Http, HostsThatCannotBeAskedFailAtOnce) {
    // No host at all; characters that would change the address are refused, not sent.
    const std::string long_host(300, 'h');
    for (auto [host, rc] : {std::pair{":8080", kHttpNoHost}, {"https://:443", kHttpNoHost},
                            {"evil.example/x?", kHttpNoConnection}, {"a b", kHttpNoConnection},
                            {"user@host", kHttpNoConnection}, {"host\r\nX: y", kHttpNoConnection},
                            {long_host.c_str(), kHttpNoConnection}}) {
        http_request* r = http_get(host, "x");
        EXPECT_EQ(http_rc(r), rc) << host;
        EXPECT_EQ(http_state(r), "") << host;
        http_done(r);
    }
    EXPECT_EQ(server.requests(), 0);
}

TEST_F(Http, ConditionalGetAnsweredNotModifiedKeepsTheSentDate) {
    http_request* r = fetch("dated", kDate);
    EXPECT_EQ(http_rc(r), kHttpNotModified);
    EXPECT_EQ(http_date(r), kDate);
    EXPECT_EQ(server.last_request().header("if-modified-since"), kDate);
    http_done(r);

    r = http_conditional_get(server.host().c_str(), "dated", "Mon, 01 Jan 2024 00:00:00 GMT");
    ASSERT_TRUE(finished(r));
    EXPECT_EQ(http_rc(r), kHttpComplete);
    EXPECT_EQ(http_date(r), "Sun, 02 Feb 2025 11:00:00 GMT");
    http_done(r);

    // An empty date is a plain get.
    r = http_conditional_get(server.host().c_str(), "dated", "");
    ASSERT_TRUE(finished(r));
    EXPECT_EQ(http_rc(r), kHttpComplete);
    EXPECT_EQ(server.last_request().header("if-modified-since"), "");
    http_done(r);

    // A date with a line break would add header lines of its own: not sent.
    r = fetch("dated", "Sat, 01 Feb 2025\r\nX-Injected: 1");
    EXPECT_EQ(http_rc(r), kHttpComplete);
    EXPECT_EQ(server.last_request().header("x-injected"), "");
    EXPECT_EQ(server.last_request().header("if-modified-since"), "");
    http_done(r);

    // A Last-Modified longer than the date field leaves the date empty.
    r = fetch("longdate");
    EXPECT_EQ(http_rc(r), kHttpComplete);
    EXPECT_EQ(http_date(r), "");
    http_done(r);
}

TEST_F(Http, MaximumSizeRefusesLargerBodiesUnread) {
    http_request* r = fetch("file5000", nullptr, 4096);
    EXPECT_EQ(http_rc(r), kHttpTooLarge);
    EXPECT_EQ(http_buffer(r), nullptr);
    uint32_t received = 1, length = 1;
    http_progress(r, &received, &length);
    EXPECT_EQ(received, 0u);
    http_done(r);

    r = fetch("file5000", nullptr, 5000);
    EXPECT_EQ(http_rc(r), kHttpComplete);
    http_done(r);

    r = fetch("file5000", nullptr, 0);
    EXPECT_EQ(http_rc(r), kHttpComplete);
    http_progress(r, &received, &length);
    EXPECT_EQ(received, 5000u);
    EXPECT_EQ(length, 5000u);
    http_done(r);

    // Set after the start, while the server holds the headers back.
    r = http_get(server.host().c_str(), "staged");
    http_set_max(r, 4095);
    server.set_gate(1);
    ASSERT_TRUE(finished(r));
    EXPECT_EQ(http_rc(r), kHttpTooLarge);
    http_done(r);

    // No limit still has a ceiling: the length alone is refused.
    r = fetch("huge");
    EXPECT_EQ(http_rc(r), kHttpTooLarge);
    http_done(r);
}

TEST_F(Http, BodyBufferGrowsWithWhatArrivesNotWithWhatIsAnnounced) {
    http_request* r = http_get(server.host().c_str(), "promise");
    ASSERT_TRUE(test::wait_until([&] {
        uint32_t received = 0;
        http_progress(r, &received, nullptr);
        return received == 300000;
    }, 5000));
    EXPECT_EQ(http_size(r), 200000000u);
    EXPECT_GE(http_capacity(r), 300000u);
    EXPECT_LE(http_capacity(r), 1u << 20);
    http_done(r);
    // Grown in several steps, the body still arrives whole.
    r = fetch("big");
    ASSERT_EQ(http_rc(r), kHttpComplete);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(http_buffer(r)), http_size(r)), pattern_bytes(300000, 5));
    http_done(r);
}

TEST_F(Http, AnswersWithoutAUsableBodyAndErrorStatuses) {
    struct Case {
        const char* path;
        int rc;
    } cases[] = {
        {"nolength", kHttpNoLength}, {"badlength", kHttpNoLength}, {"empty", kHttpEmpty},
        {"forbidden", 403},          {"missing", kHttpNotFound},
    };
    for (const Case& c : cases) {
        http_request* r = fetch(c.path);
        EXPECT_EQ(http_rc(r), c.rc) << c.path;
        EXPECT_EQ(http_buffer(r), nullptr) << c.path;
        http_done(r);
    }
}

TEST_F(Http, ConnectionClosedHalfWayFails) {
    http_request* r = fetch("half");
    EXPECT_EQ(http_rc(r), kHttpErrorBase + CURLE_PARTIAL_FILE);
    uint32_t received = 0, length = 0;
    http_progress(r, &received, &length);
    EXPECT_EQ(length, 4000u);
    EXPECT_EQ(received, 2000u);
    http_done(r);
}

TEST_F(Http, RefusedConnectionFails) {
    HttpServer gone{objects};
    std::string host = gone.host();
    gone.stop();
    http_request* r = http_get(host.c_str(), "file5000");
    ASSERT_TRUE(finished(r));
    EXPECT_EQ(http_rc(r), kHttpErrorBase + CURLE_COULDNT_CONNECT);
    http_done(r);
}

TEST_F(Http, StalledServerIsCancelledAfter30SecondsWithoutProgress) {
    http_set_clock(fake_clock);
    g_fake_now = 1000;
    http_request* r = http_get(server.host().c_str(), "stall");
    uint32_t received = 0;
    ASSERT_TRUE(test::wait_until([&] {
        http_progress(r, &received, nullptr);
        return received == 100;
    }, 5000));
    uint32_t stamped = g_fake_now.load();
    g_fake_now = stamped + kHttpStallMs;
    http_update();
    EXPECT_EQ(http_rc(r), kHttpInProgress);
    g_fake_now = stamped + kHttpStallMs + 1;
    http_update();
    EXPECT_EQ(http_rc(r), kHttpCancelled);
    // The worker notices and ends; the result stays.
    EXPECT_TRUE(test::wait_until([] { return http_workers_running() == 0; }, 5000));
    EXPECT_EQ(http_rc(r), kHttpCancelled);
    EXPECT_EQ(http_state(r), "");
    http_done(r);
}

TEST_F(Http, ClockWrapDoesNotCancelEarly) {
    http_set_clock(fake_clock);
    g_fake_now = 0xFFFFFF00u;
    http_request* r = http_get(server.host().c_str(), "stall");
    ASSERT_TRUE(test::wait_until([&] {
        uint32_t received = 0;
        http_progress(r, &received, nullptr);
        return received == 100;
    }, 5000));
    g_fake_now = 0xFFFFFF00u + 20000;  // wrapped past zero
    http_update();
    EXPECT_EQ(http_rc(r), kHttpInProgress);
    http_done(r);
}

TEST_F(Http, StateFollowsTheRequest) {
    http_request* r = http_get(server.host().c_str(), "staged");
    EXPECT_EQ(http_state(r), "starting");
    server.set_gate(1);
    ASSERT_TRUE(test::wait_until([&] { return http_buffer(r) != nullptr; }, 5000));
    EXPECT_EQ(http_state(r), "receiving response");
    server.set_gate(2);
    ASSERT_TRUE(test::wait_until([&] { return http_state(r) != "receiving response"; }, 5000));
    EXPECT_EQ(http_state(r), "1024 of 4096");
    server.set_gate(3);
    ASSERT_TRUE(finished(r));
    EXPECT_EQ(http_rc(r), kHttpComplete);
    EXPECT_TRUE(test::wait_until([&] { return http_state(r).empty(); }, 5000));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(http_buffer(r)), 4096), pattern_bytes(4096, 3));
    http_done(r);
}

TEST_F(Http, DoneOnARunningRequestReturnsAtOnce) {
    http_request* r = http_get(server.host().c_str(), "stall");
    ASSERT_TRUE(test::wait_until([&] { return http_buffer(r) != nullptr; }, 5000));
    auto t0 = std::chrono::steady_clock::now();
    http_done(r);
    auto spent = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(spent, std::chrono::milliseconds(100));
    EXPECT_EQ(http_request_count(), 0);
    // A record no longer in the list is ignored.
    http_done(r);  // r is never dereferenced here: it is not in the list
    // The worker releases the record itself (ASan would see a leak or a
    // double release).
    EXPECT_TRUE(test::wait_until([] { return http_workers_running() == 0; }, 5000));
}

TEST_F(Http, TermCancelsWhatRunsAndFreesEverything) {
    http_request* running = http_get(server.host().c_str(), "stall");
    http_request* failed = http_get(":1", "x");
    ASSERT_TRUE(test::wait_until([&] { return http_buffer(running) != nullptr; }, 5000));
    (void)failed;
    auto t0 = std::chrono::steady_clock::now();
    http_term();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(http_request_count(), 0);
    EXPECT_EQ(http_workers_running(), 0);
    // Without a session nothing can be asked.
    http_request* r = http_get(server.host().c_str(), "file5000");
    EXPECT_EQ(http_rc(r), kHttpNoConnection);
    http_done(r);
    ASSERT_EQ(http_init(), 0);
    r = fetch("file5000");
    EXPECT_EQ(http_rc(r), kHttpComplete);
    http_done(r);
}

TEST_F(Http, ThousandRequestsEachReleasedOnce) {
    const std::string host = server.host();
    std::vector<http_request*> waiting;
    int complete = 0;
    for (int i = 0; i < 1000; ++i) {
        http_request* r = http_get(host.c_str(), i % 10 == 0 ? "stall" : "file5000");
        ASSERT_NE(r, nullptr);
        if (i % 2 == 0) {
            http_done(r);  // let go while the worker runs (or just ended)
        } else {
            waiting.push_back(r);
        }
        if (waiting.size() >= 20) {
            for (http_request* w : waiting) {
                if (http_rc(w) == kHttpInProgress && !test::wait_until([w] {
                        return http_rc(w) != kHttpInProgress || http_buffer(w) != nullptr;
                    }, 5000))
                    ADD_FAILURE() << "no answer";
                if (http_rc(w) == kHttpComplete) ++complete;
                http_done(w);
            }
            waiting.clear();
        }
        // Keep the number of live workers modest.
        test::wait_until([] { return http_workers_running() < 40; }, 10000);
    }
    for (http_request* w : waiting) http_done(w);
    EXPECT_GT(complete, 100);
    EXPECT_TRUE(test::wait_until([] { return http_workers_running() == 0; }, 20000));
    EXPECT_EQ(http_request_count(), 0);
}

TEST_F(Http, ConnectionsAreReusedPerServer) {
    for (int i = 0; i < 3; ++i) {
        http_request* r = fetch("file5000");
        EXPECT_EQ(http_rc(r), kHttpComplete);
        http_done(r);
    }
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(http_connection_count(), 1);
    HttpServer other{objects};
    http_request* r = http_get(other.host().c_str(), "file5000");
    ASSERT_TRUE(finished(r));
    http_done(r);
    EXPECT_EQ(http_connection_count(), 2);
}

TEST_F(Http, RedirectsAreFollowedAndPathsEncoded) {
    http_request* r = fetch("moved");
    EXPECT_EQ(http_rc(r), kHttpComplete);
    EXPECT_EQ(http_size(r), 5000u);
    http_done(r);
    r = fetch("a b#c\x01");
    EXPECT_EQ(http_rc(r), kHttpNotFound);
    EXPECT_EQ(server.last_request().target, "/a%20b%23c%01");
    http_done(r);
}

TEST_F(Http, ReceivedBytesFeedTheByteCounter) {
    static std::atomic<uint32_t> counted{0};
    http_set_byte_counter([](uint32_t bytes) { counted += bytes; });
    http_request* r = fetch("file5000");
    ASSERT_EQ(http_rc(r), kHttpComplete);
    EXPECT_EQ(counted.load(), 5000u);
    http_done(r);
    http_set_byte_counter(nullptr);
}

TEST_F(Http, ProxyChangeCancelsEveryRequestAndDropsConnections) {
    http_request* done_one = fetch("file5000");
    ASSERT_EQ(http_rc(done_one), kHttpComplete);
    http_request* running = http_get(server.host().c_str(), "stall");
    ASSERT_TRUE(test::wait_until([&] { return http_buffer(running) != nullptr; }, 5000));
    EXPECT_EQ(http_connection_count(), 1);
    http_proxy_changed();
    EXPECT_EQ(http_rc(done_one), kHttpCancelled);
    EXPECT_EQ(http_rc(running), kHttpCancelled);
    EXPECT_EQ(http_connection_count(), 0);
    EXPECT_TRUE(test::wait_until([] { return http_workers_running() == 0; }, 5000));
    EXPECT_EQ(http_rc(running), kHttpCancelled);
    http_done(done_one);
    http_done(running);
    // New requests run on the new session.
    http_request* r = fetch("file5000");
    EXPECT_EQ(http_rc(r), kHttpComplete);
    http_done(r);
}

TEST_F(Http, ProxySettingsAndTheProxyPage) {
    EXPECT_EQ(proxy_string(), nullptr);
    EXPECT_FALSE(proxy_page().use_proxy);

    // Our test server stands in as the proxy: it sees the absolute address.
    HttpServer proxy{[](const HttpRequestSeen& req, HttpConn& conn) {
        conn.send(http_response(200, "via proxy " + req.target));
    }};
    ASSERT_TRUE(proxy_apply(true, " 127.0.0.1 ", std::to_string(proxy.port())));
    EXPECT_STREQ(proxy_string(), proxy.host().c_str());
    EXPECT_EQ(settings_get_string("proxy", "address"), "127.0.0.1");
    EXPECT_EQ(settings_get_int("proxy", "port"), proxy.port());
    http_request* r = http_get("objects.invalid:81", "m/chair.zip");
    ASSERT_TRUE(finished(r));
    ASSERT_EQ(http_rc(r), kHttpComplete);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(http_buffer(r)), http_size(r)),
              "via proxy http://objects.invalid:81/m/chair.zip");
    http_done(r);

    // Read back at the next start.
    proxy_init();
    ProxyPage page = proxy_page();
    EXPECT_TRUE(page.use_proxy);
    EXPECT_EQ(page.address, "127.0.0.1");
    EXPECT_EQ(page.port, std::to_string(proxy.port()));

    // A port that is not a port: nothing at all happens.
    for (const char* bad : {"", "80x", "-1", "0", "65536", "999999"}) {
        EXPECT_FALSE(proxy_apply(true, "other.example", bad)) << bad;
        EXPECT_STREQ(proxy_string(), proxy.host().c_str());
    }
    EXPECT_FALSE(proxy_apply(true, "a\nb", "80"));
    EXPECT_EQ(settings_get_string("proxy", "address"), "127.0.0.1");

    // Off: the address is written empty and the proxy is gone.
    ASSERT_TRUE(proxy_apply(false, "ignored", "x"));
    EXPECT_EQ(proxy_string(), nullptr);
    EXPECT_EQ(settings_get_string("proxy", "address"), "");
    proxy_init();
    EXPECT_EQ(proxy_string(), nullptr);
}

TEST_F(Http, ProxyWithoutAPortIsNotGivenANegativeOne) {
    test::write_file(dir.file("zelnik.ini"), "[proxy]\naddress=proxy.example\n");
    proxy_init();
    EXPECT_STREQ(proxy_string(), "proxy.example");
    test::write_file(dir.file("zelnik.ini"), "[proxy]\naddress=proxy.example\nport=3128\n");
    proxy_init();
    EXPECT_STREQ(proxy_string(), "proxy.example:3128");
    test::write_file(dir.file("zelnik.ini"), "[proxy]\naddress=\nport=3128\n");
    proxy_init();
    EXPECT_EQ(proxy_string(), nullptr);
}

}  // namespace
}  // namespace zk
