#include "art/http.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <map>
#include <string>

#include "core/settings.h"
#include "support/http_server.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace zk {
namespace {

using namespace test;

std::atomic<uint32_t> g_fake_now{1000};

const char* kDate = "Sat, 01 Feb 2025 10:00:00 GMT";
const std::string kFresh = "Sun, 02 Feb 2025 11:00:00 GMT";
const std::string kClose = "Connection: close\r\n";

// Answers that do not depend on the request; those saying so end the connection.
const std::map<std::string, std::string> kCanned = {
    {"/file5000", http_response(200, pattern_bytes(5000, 7), std::string("Last-Modified: ") + kDate + "\r\n")},
    {"/nolength", http_response(200, "some body", kClose, false)},
    {"/badlength", http_response(200, "", "Content-Length: 12abc\r\n" + kClose, false)},
    {"/empty", http_response(200, "")},
    {"/huge", "HTTP/1.1 200 OK\r\nContent-Length: 300000000000\r\n" + kClose + "\r\n"},
    {"/longdate", http_response(200, "x", "Last-Modified: " + std::string(60, 'd') + "\r\n")},
    {"/half", [] {  // ends half-way through the body
         const std::string whole = http_response(200, pattern_bytes(4000), kClose);
         return whole.substr(0, whole.size() - 2000);
     }()},
    {"/moved", http_response(302, "<a href=/file5000>here</a>", "Location: /file5000\r\n")},
};

void objects(const HttpRequestSeen& req, HttpConn& conn) {
    const std::string& t = req.target;
    if (auto it = kCanned.find(t); it != kCanned.end()) {
        conn.send(it->second);
        if (it->second.find(kClose) != std::string::npos) conn.close();
    } else if (t == "/dated") {
        conn.send(req.header("if-modified-since") == kDate
                      ? "HTTP/1.1 304 Not Modified\r\n\r\n"
                      : http_response(200, "fresh", "Last-Modified: " + kFresh + "\r\n"));
    } else if (t == "/stall") {
        conn.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(100, 'a'));
        conn.stall();
    } else if (t == "/promise") {
        conn.send("HTTP/1.1 200 OK\r\nContent-Length: 200000000\r\n\r\n" + pattern_bytes(300000));
        conn.stall();
    } else {
        conn.send(http_response(404, ""));
    }
}

bool finished(http_request* r, int ms = 10000) {
    return test::wait_until([r] { return http_rc(r) != kHttpInProgress; }, ms);
}

uint32_t received(http_request* r) {
    uint32_t n = 0;
    http_progress(r, &n, nullptr);
    return n;
}

std::string body(http_request* r) { return std::string(reinterpret_cast<const char*>(http_buffer(r)), received(r)); }

class Http : public ::testing::Test {
protected:
    void SetUp() override {
        settings_set_directory(dir.path());
        test::write_file(dir.file("zelnik.ini"), "[proxy]\n");
        proxy_init();
        ASSERT_EQ(http_init(), 0);
    }
    void TearDown() override {
        http_term();
        http_set_clock(nullptr);
        EXPECT_EQ(http_request_count(), 0);
        EXPECT_EQ(http_workers_running(), 0);
    }
    // Fetches and waits; the caller calls http_done.
    http_request* fetch(const char* path, const char* date = nullptr, uint32_t max = 0) {
        const std::string host = server.host();
        http_request* r =
            max ? http_get_max(host.c_str(), path, date, max) : http_conditional_get(host.c_str(), path, date);
        EXPECT_TRUE(finished(r));
        return r;
    }
    // Starts a request that the server answers with 100 bytes and then stalls.
    http_request* stalled() {
        http_request* r = http_get(server.host().c_str(), "stall");
        EXPECT_TRUE(test::wait_until([&] { return received(r) == 100; }, 5000));
        EXPECT_EQ(http_state(r), "100 of 1000");
        return r;
    }

    test::TempDir dir;
    HttpServer server{objects};
};

TEST_F(Http, HostsGiveThePortPathsAreEncodedAndBadHostsFailAtOnce) {
    http_request* r = fetch("a b#c\x01");
    EXPECT_EQ(http_rc(r), kHttpNotFound);
    EXPECT_EQ(server.last_request().target, "/a%20b%23c%01");
    http_done(r);
    for (auto [host, port] : {std::pair{"localhost", 80}, {"https://localhost", 443}, {"https://localhost:8443", 8443}}) {
        r = http_get(host, "x");
        EXPECT_EQ(http_port(r), port) << host;
        EXPECT_EQ(http_host(r), "localhost") << host;
        http_done(r);  // whatever it is doing
    }
    // No host at all; characters that would change the address are refused, not sent.
    const std::string long_host(300, 'h');
    for (auto [host, rc] : {std::pair{":8080", kHttpNoHost}, {"https://:443", kHttpNoHost},
                            {"evil.example/x?", kHttpNoConnection}, {"a b", kHttpNoConnection},
                            {"user@host", kHttpNoConnection}, {"host\r\nX: y", kHttpNoConnection},
                            {long_host.c_str(), kHttpNoConnection}}) {
        r = http_get(host, "x");
        EXPECT_EQ(http_rc(r), rc) << host;
        EXPECT_EQ(http_state(r), "") << host;
        http_done(r);
    }
    EXPECT_EQ(server.requests(), 1);
}

TEST_F(Http, AnswersWithoutAUsableBodyConditionsAndTheSizeLimit) {
    static std::atomic<uint32_t> counted;
    counted = 0;
    http_set_byte_counter([](uint32_t bytes) { counted += bytes; });
    struct Case {
        const char* path;
        uint32_t max;
        int rc;
        uint32_t received;
        const char* date = nullptr;  // to send as If-Modified-Since
        const char* sent = "";       // what the server saw of it
        const char* got = "";        // http_date
    } cases[] = {
        {"nolength", 0, kHttpNoLength, 0},
        {"badlength", 0, kHttpNoLength, 0},
        {"empty", 0, kHttpEmpty, 0},
        {"file5000", 4096, kHttpTooLarge, 0},  // refused unread
        {"file5000", 5000, kHttpComplete, 5000, nullptr, "", kDate},
        {"huge", 0, kHttpTooLarge, 0},  // no limit still has a ceiling
        {"half", 0, kHttpErrorBase + CURLE_PARTIAL_FILE, 2000},
        {"moved", 0, kHttpComplete, 5000, nullptr, "", kDate},
        {"dated", 0, kHttpNotModified, 0, kDate, kDate, kDate},  // a 304 keeps the sent date
        {"dated", 0, kHttpComplete, 5, "", "", kFresh.c_str()},
        // A line break would add header lines of its own: not sent.
        {"dated", 0, kHttpComplete, 5, "Sat, 01 Feb 2025\r\nX-Injected: 1", "", kFresh.c_str()},
        {"longdate", 0, kHttpComplete, 1},  // longer than the date field
    };
    uint32_t bodies = 0;
    for (const Case& c : cases) {
        http_request* r = fetch(c.path, c.date, c.max);
        EXPECT_EQ(http_rc(r), c.rc) << c.path;
        EXPECT_EQ(received(r), c.received) << c.path;
        EXPECT_EQ(http_buffer(r) == nullptr, c.received == 0) << c.path;
        EXPECT_EQ(http_date(r), c.got) << c.path;
        EXPECT_EQ(server.last_request().header("if-modified-since"), c.sent) << c.path;
        bodies += c.received;
        http_done(r);
    }
    http_set_byte_counter(nullptr);
    EXPECT_EQ(counted.load(), bodies);
}

TEST_F(Http, BodyBufferGrowsWithWhatArrivesNotWithWhatIsAnnounced) {
    http_request* r = http_get(server.host().c_str(), "promise");
    ASSERT_TRUE(test::wait_until([&] { return received(r) == 300000; }, 5000));
    EXPECT_EQ(http_size(r), 200000000u);
    EXPECT_GE(http_capacity(r), 300000u);
    EXPECT_LE(http_capacity(r), 1u << 20);
    // Grown in several steps, what arrived is whole.
    EXPECT_EQ(body(r), pattern_bytes(300000));
    http_done(r);
}

TEST_F(Http, StalledServerIsCancelledAfter30SecondsWithoutProgressAcrossAClockWrap) {
    http_set_clock([] { return g_fake_now.load(); });
    for (uint32_t start : {1000u, 0xFFFFFF00u}) {
        g_fake_now = start;
        http_request* r = stalled();
        g_fake_now = start + kHttpStallMs;  // past zero for the second start
        http_update();
        EXPECT_EQ(http_rc(r), kHttpInProgress) << start;
        g_fake_now = start + kHttpStallMs + 1;
        http_update();
        EXPECT_EQ(http_rc(r), kHttpCancelled) << start;
        // The worker notices and ends; the result stays.
        EXPECT_TRUE(test::wait_until([] { return http_workers_running() == 0; }, 5000));
        EXPECT_EQ(http_rc(r), kHttpCancelled);
        http_done(r);
    }
}

TEST_F(Http, DoneAndTermNeverWaitForWhatRuns) {
    http_request* r = stalled();
    auto t0 = std::chrono::steady_clock::now();
    http_done(r);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
    EXPECT_EQ(http_request_count(), 0);
    http_done(r);  // no longer in the list: ignored, never dereferenced
    // The worker releases the record itself (ASan would see a leak or a double release).
    EXPECT_TRUE(test::wait_until([] { return http_workers_running() == 0; }, 5000));

    // Term cancels what runs and frees everything (checked at the test's end).
    stalled();
    http_get(":1", "x");  // failed at once
    t0 = std::chrono::steady_clock::now();
    http_term();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    // Without a session nothing can be asked.
    r = http_get(server.host().c_str(), "file5000");
    EXPECT_EQ(http_rc(r), kHttpNoConnection);
    http_done(r);
}

// Every other one is let go at once, the rest twenty requests later once
// answered or half-way: while the worker runs, just as it ends, or after.
TEST_F(Http, ThousandRequestsEachReleasedOnce) {
    http_request* held[20] = {};
    int complete = 0;
    for (int i = 0; i < 1000; ++i) {
        http_request* r = http_get(server.host().c_str(), i % 10 == 0 ? "stall" : "file5000");
        ASSERT_NE(r, nullptr);
        if (i % 2 == 1) std::swap(r, held[i / 2 % 20]);
        if (i % 2 == 1 && r) {
            EXPECT_TRUE(test::wait_until([r] { return http_rc(r) != kHttpInProgress || http_buffer(r); }, 5000));
            complete += http_rc(r) == kHttpComplete;
        }
        if (r) http_done(r);  // none while the ring fills
        test::wait_until([] { return http_workers_running() < 40; }, 10000);  // a modest number at a time
    }
    for (http_request* r : held) http_done(r);
    EXPECT_GT(complete, 100);
    EXPECT_TRUE(test::wait_until([] { return http_workers_running() == 0; }, 20000));
}

TEST_F(Http, ConnectionsAreReusedPerServerUntilTheProxyChanges) {
    HttpServer other{objects};
    for (const std::string& host : {server.host(), server.host(), other.host(), server.host()}) {
        http_request* r = http_get(host.c_str(), "file5000");
        ASSERT_TRUE(finished(r));
        EXPECT_EQ(http_rc(r), kHttpComplete);
        http_done(r);
    }
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(http_connection_count(), 2);
    // A change cancels every request, finished or not, and drops the connections.
    http_request* done_one = fetch("file5000");
    http_request* running = stalled();
    http_proxy_changed();
    EXPECT_EQ(http_rc(done_one), kHttpCancelled);
    EXPECT_EQ(http_rc(running), kHttpCancelled);
    EXPECT_EQ(http_connection_count(), 0);
    http_done(done_one);
    http_done(running);
    // New requests run on the new session: a server that is gone refuses them.
    const std::string gone = other.host();
    other.stop();
    http_request* r = http_get(gone.c_str(), "file5000");
    ASSERT_TRUE(finished(r));
    EXPECT_EQ(http_rc(r), kHttpErrorBase + CURLE_COULDNT_CONNECT);
    http_done(r);
}

TEST_F(Http, ProxySettingsAndTheProxyPage) {
    // An address without a port is not given a negative one.
    for (auto [ini, proxy] : {std::pair{"address=proxy.example\n", "proxy.example"},
                              {"address=p\nport=3128\n", "p:3128"}, {"address=\nport=3128\n", nullptr}}) {
        test::write_file(dir.file("zelnik.ini"), std::string("[proxy]\n") + ini);
        proxy_init();
        EXPECT_STREQ(proxy_string(), proxy) << ini;
    }
    EXPECT_FALSE(proxy_page().use_proxy);

    // Our test server stands in as the proxy: it sees the absolute address.
    HttpServer proxy{[](const HttpRequestSeen& req, HttpConn& conn) {
        conn.send(http_response(200, "via proxy " + req.target));
    }};
    ASSERT_TRUE(proxy_apply(true, " 127.0.0.1 ", std::to_string(proxy.port())));
    http_request* r = http_get("objects.invalid:81", "m/chair.zip");
    ASSERT_TRUE(finished(r));
    ASSERT_EQ(http_rc(r), kHttpComplete);
    EXPECT_EQ(body(r), "via proxy http://objects.invalid:81/m/chair.zip");
    http_done(r);

    // A port that is not a port, or an address with a line break: nothing at all happens.
    for (auto [address, port] : {std::pair{"a\nb", "80"}, {"b", ""}, {"b", "80x"}, {"b", "-1"}, {"b", "0"},
                                 {"b", "65536"}, {"b", "999999"}}) {
        EXPECT_FALSE(proxy_apply(true, address, port)) << address << port;
        EXPECT_STREQ(proxy_string(), proxy.host().c_str());
    }
    // Read back at the next start.
    proxy_init();
    ProxyPage page = proxy_page();
    EXPECT_TRUE(page.use_proxy);
    EXPECT_EQ(page.address, "127.0.0.1");
    EXPECT_EQ(page.port, std::to_string(proxy.port()));

    // Off: the address is written empty and the proxy is gone.
    ASSERT_TRUE(proxy_apply(false, "ignored", "x"));
    EXPECT_EQ(proxy_string(), nullptr);
    proxy_init();
    EXPECT_EQ(proxy_string(), nullptr);
}

}  // namespace
}  // namespace zk
