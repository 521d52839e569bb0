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
uint32_t fake_clock() { return g_fake_now.load(); }

const std::string kBody5000 = pattern_bytes(5000, 7);
const char* kDate = "Sat, 01 Feb 2025 10:00:00 GMT";
const std::string kClose = "Connection: close\r\n";

// Answers that do not depend on the request; those saying so end the connection.
const std::map<std::string, std::string> kCanned = {
    {"/file5000", http_response(200, kBody5000, std::string("Last-Modified: ") + kDate + "\r\n")},
    {"/nolength", http_response(200, "some body", kClose, false)},
    {"/badlength", http_response(200, "", "Content-Length: 12abc\r\n" + kClose, false)},
    {"/empty", http_response(200, "")},
    {"/forbidden", http_response(403, "no")},
    {"/huge", "HTTP/1.1 200 OK\r\nContent-Length: 300000000000\r\n" + kClose + "\r\n"},
    {"/longdate", http_response(200, "x", "Last-Modified: " + std::string(60, 'd') + "\r\n")},
    {"/half", [] {  // ends half-way through the body
         const std::string whole = http_response(200, pattern_bytes(4000), kClose);
         return whole.substr(0, whole.size() - 2000);
     }()},
    {"/big", http_response(200, pattern_bytes(300000, 5))},
    {"/moved", http_response(302, "<a href=/file5000>here</a>", "Location: /file5000\r\n")},
};

// The object server of most tests.
void objects(const HttpRequestSeen& req, HttpConn& conn) {
    const std::string& t = req.target;
    if (auto it = kCanned.find(t); it != kCanned.end()) {
        conn.send(it->second);
        if (it->second.find(kClose) != std::string::npos) conn.close();
    } else if (t == "/dated") {
        if (req.header("if-modified-since") == kDate)
            conn.send("HTTP/1.1 304 Not Modified\r\n\r\n");
        else
            conn.send(http_response(200, "fresh", "Last-Modified: Sun, 02 Feb 2025 11:00:00 GMT\r\n"));
    } else if (t == "/stall") {
        conn.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(100, 'a'));
        conn.stall();
    } else if (t == "/promise") {
        // Promises far more than it sends.
        conn.send("HTTP/1.1 200 OK\r\nContent-Length: 200000000\r\n\r\n" + pattern_bytes(300000));
        conn.stall();
    } else if (t == "/gated") {
        conn.wait_gate(1);  // answers once the gate opens
        conn.send(http_response(200, pattern_bytes(4096, 3)));
    } else {
        conn.send(http_response(404, ""));
    }
}

bool finished(http_request* r, int ms = 10000) {
    return test::wait_until([r] { return http_rc(r) != kHttpInProgress; }, ms);
}

std::string body(http_request* r) { return std::string(reinterpret_cast<const char*>(http_buffer(r)), http_size(r)); }

uint32_t received(http_request* r) {
    uint32_t n = 0;
    http_progress(r, &n, nullptr);
    return n;
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

TEST_F(Http, HostSuffixGivesThePortAndPathsAreEncoded) {
    static std::atomic<uint32_t> counted;
    counted = 0;
    http_set_byte_counter([](uint32_t bytes) { counted += bytes; });
    http_request* r = http_get(server.host().c_str(), "file5000");
    EXPECT_EQ(http_port(r), server.port());
    EXPECT_EQ(http_host(r), "127.0.0.1");
    ASSERT_TRUE(finished(r));
    ASSERT_EQ(http_rc(r), kHttpComplete);
    EXPECT_EQ(body(r), kBody5000);
    EXPECT_EQ(http_date(r), kDate);
    EXPECT_EQ(counted.load(), 5000u);
    http_set_byte_counter(nullptr);
    EXPECT_EQ(server.last_request().header("user-agent"), "Quorvane Browser");
    http_done(r);

    r = fetch("a b#c\x01");
    EXPECT_EQ(http_rc(r), kHttpNotFound);
    EXPECT_EQ(server.last_request().target, "/a%20b%23c%01");
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

TEST_F(Http, ConditionalGetsAndLastModified) {
    const char* fresh = "Sun, 02 Feb 2025 11:00:00 GMT";
    const char* old = "Mon, 01 Jan 2024 00:00:00 GMT";
    struct Case {
        const char* path;
        const char* date;
        int rc;
        const char* sent;  // If-Modified-Since
        const char* got;   // http_date
    } cases[] = {
        {"dated", kDate, kHttpNotModified, kDate, kDate},  // a 304 keeps the sent date
        {"dated", old, kHttpComplete, old, fresh},
        {"dated", "", kHttpComplete, "", fresh},
        // A line break would add header lines of its own: not sent.
        {"dated", "Sat, 01 Feb 2025\r\nX-Injected: 1", kHttpComplete, "", fresh},
        {"longdate", nullptr, kHttpComplete, "", ""},  // longer than the date field
    };
    for (const Case& c : cases) {
        http_request* r = http_conditional_get(server.host().c_str(), c.path, c.date);
        ASSERT_TRUE(finished(r));
        EXPECT_EQ(http_rc(r), c.rc) << c.date;
        EXPECT_EQ(http_date(r), c.got) << c.date;
        EXPECT_EQ(server.last_request().header("if-modified-since"), c.sent) << c.date;
        EXPECT_EQ(server.last_request().header("x-injected"), "");
        http_done(r);
    }
}

TEST_F(Http, AnswersWithoutAUsableBodyAndTheSizeLimit) {
    struct Case {
        const char* path;
        uint32_t max;
        int rc;
        uint32_t received;
    } cases[] = {
        {"nolength", 0, kHttpNoLength, 0},
        {"badlength", 0, kHttpNoLength, 0},
        {"empty", 0, kHttpEmpty, 0},
        {"forbidden", 0, 403, 0},
        {"missing", 0, kHttpNotFound, 0},
        {"file5000", 4096, kHttpTooLarge, 0},  // refused unread
        {"file5000", 5000, kHttpComplete, 5000},
        {"huge", 0, kHttpTooLarge, 0},  // no limit still has a ceiling
        {"half", 0, kHttpErrorBase + CURLE_PARTIAL_FILE, 2000},
        {"moved", 0, kHttpComplete, 5000},
    };
    for (const Case& c : cases) {
        http_request* r = fetch(c.path, nullptr, c.max);
        EXPECT_EQ(http_rc(r), c.rc) << c.path;
        EXPECT_EQ(received(r), c.received) << c.path;
        EXPECT_EQ(http_buffer(r) == nullptr, c.received == 0) << c.path;
        http_done(r);
    }
    // Set after the start, while the server holds the headers back.
    http_request* r = http_get(server.host().c_str(), "gated");
    EXPECT_EQ(http_state(r), "starting");
    http_set_max(r, 4095);
    server.set_gate(1);
    ASSERT_TRUE(finished(r));
    EXPECT_EQ(http_rc(r), kHttpTooLarge);
    http_done(r);
}

TEST_F(Http, BodyBufferGrowsWithWhatArrivesNotWithWhatIsAnnounced) {
    http_request* r = http_get(server.host().c_str(), "promise");
    ASSERT_TRUE(test::wait_until([&] { return received(r) == 300000; }, 5000));
    EXPECT_EQ(http_size(r), 200000000u);
    EXPECT_GE(http_capacity(r), 300000u);
    EXPECT_LE(http_capacity(r), 1u << 20);
    http_done(r);
    // Grown in several steps, the body still arrives whole.
    r = fetch("big");
    ASSERT_EQ(http_rc(r), kHttpComplete);
    EXPECT_EQ(body(r), pattern_bytes(300000, 5));
    http_done(r);
}

TEST_F(Http, StalledServerIsCancelledAfter30SecondsWithoutProgressAcrossAClockWrap) {
    http_set_clock(fake_clock);
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
        EXPECT_EQ(http_state(r), "");
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

    // Term cancels what runs and frees everything.
    stalled();
    http_get(":1", "x");  // failed at once
    t0 = std::chrono::steady_clock::now();
    http_term();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(http_request_count(), 0);
    EXPECT_EQ(http_workers_running(), 0);
    // Without a session nothing can be asked.
    r = http_get(server.host().c_str(), "file5000");
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
        if (i % 2 == 0)
            http_done(r);  // let go while the worker runs (or just ended)
        else
            waiting.push_back(r);
        if (waiting.size() >= 20) {
            for (http_request* w : waiting) {
                EXPECT_TRUE(test::wait_until([w] { return http_rc(w) != kHttpInProgress || http_buffer(w); }, 5000));
                complete += http_rc(w) == kHttpComplete;
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

TEST_F(Http, ConnectionsAreReusedPerServerAndARefusedOneFails) {
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
    const std::string gone = other.host();
    other.stop();
    r = http_get(gone.c_str(), "file5000");
    ASSERT_TRUE(finished(r));
    EXPECT_EQ(http_rc(r), kHttpErrorBase + CURLE_COULDNT_CONNECT);
    http_done(r);
}

TEST_F(Http, ProxyChangeCancelsEveryRequestAndDropsConnections) {
    http_request* done_one = fetch("file5000");
    ASSERT_EQ(http_rc(done_one), kHttpComplete);
    http_request* running = stalled();
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
    // An address without a port is not given a negative one.
    for (auto [ini, proxy] : {std::pair{"address=proxy.example\n", "proxy.example"},
                              {"address=proxy.example\nport=3128\n", "proxy.example:3128"},
                              {"address=\nport=3128\n", nullptr}}) {
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
    EXPECT_STREQ(proxy_string(), proxy.host().c_str());
    http_request* r = http_get("objects.invalid:81", "m/chair.zip");
    ASSERT_TRUE(finished(r));
    ASSERT_EQ(http_rc(r), kHttpComplete);
    EXPECT_EQ(body(r), "via proxy http://objects.invalid:81/m/chair.zip");
    http_done(r);

    // A port that is not a port, or an address with a line break: nothing at all happens.
    for (auto [address, port] : {std::pair{"other.example", ""}, {"other.example", "80x"}, {"other.example", "-1"},
                                 {"other.example", "0"}, {"other.example", "65536"}, {"other.example", "999999"},
                                 {"a\nb", "80"}}) {
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
