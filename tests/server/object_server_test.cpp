#include <gtest/gtest.h>

#include <httplib.h>
#include <sys/stat.h>
#include <utime.h>

#include <string>

#include "server/object_server.h"
#include "support/server_harness.h"
#include "support/temp_dir.h"

using namespace zk;
using zk::test::TempDir;
using zk::test::write_file;

namespace {

// A raw request, so that the exact path reaches the server unchanged.
std::string raw_get(uint16_t port, const std::string& path) {
    test::Client c(port);
    c.send_bytes("GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    std::string all, part;
    while (c.read_exact(part, 1)) all += part;
    return all;
}

}  // namespace

TEST(ObjectServer, ServesFilesWithDatesAndAnswersConditionalRequests) {
    TempDir dir;
    mkdir(dir.file("zk").c_str(), 0755);
    mkdir(dir.file("zk/models").c_str(), 0755);
    write_file(dir.file("zk/models/tree.zip"), std::string("PK\x03\x04 model bytes", 17));
    utimbuf times{1700000000, 1700000000};
    utime(dir.file("zk/models/tree.zip").c_str(), &times);

    server::ObjectServer objects(dir.path());
    ASSERT_EQ(objects.start("127.0.0.1", 0), "");
    httplib::Client client("127.0.0.1", objects.port());

    auto r = client.Get("/zk/models/tree.zip");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->body, std::string("PK\x03\x04 model bytes", 17));
    EXPECT_EQ(r->get_header_value("Last-Modified"), "Tue, 14 Nov 2023 22:13:20 GMT");
    EXPECT_EQ(r->get_header_value("Content-Type"), "application/zip");

    r = client.Get("/zk/models/tree.zip", {{"If-Modified-Since", "Tue, 14 Nov 2023 22:13:20 GMT"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 304);
    EXPECT_TRUE(r->body.empty());
    r = client.Get("/zk/models/tree.zip", {{"If-Modified-Since", "Tue, 14 Nov 2023 22:13:19 GMT"}});
    EXPECT_EQ(r->status, 200) << "a newer file is sent again";
    r = client.Get("/zk/models/tree.zip", {{"If-Modified-Since", "not a date"}});
    EXPECT_EQ(r->status, 200);

    r = client.Get("/zk/models/none.zip");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404);
    r = client.Get("/zk/models");
    EXPECT_EQ(r->status, 404) << "directories are not served";
}

TEST(ObjectServer, NeverServesOutsideItsTree) {
    TempDir dir;
    mkdir(dir.file("tree").c_str(), 0755);
    mkdir(dir.file("tree/zk").c_str(), 0755);
    write_file(dir.file("secret.txt"), "do not serve");
    write_file(dir.file("tree/zk/.hidden"), "hidden");
    // Kits come from a folder of their own, with the same care.
    mkdir(dir.file("kits").c_str(), 0755);
    write_file(dir.file("kits/kit162.rtp"), "kit bytes");
    server::ObjectServer objects(dir.file("tree"), dir.file("kits"));
    ASSERT_EQ(objects.start("127.0.0.1", 0), "");
    EXPECT_NE(raw_get(objects.port(), "/upgrade/kit162.rtp").find("\r\n\r\nkit bytes"), std::string::npos);
    for (const char* path : {"/../secret.txt", "/zk/../../secret.txt", "/zk/%2e%2e/%2e%2e/secret.txt",
                             "/zk/..%2f..%2fsecret.txt", "/zk/.hidden", "/zk\\..\\..\\secret.txt",
                             "/upgrade/../secret.txt", "/upgrade/../../secret.txt"}) {
        std::string reply = raw_get(objects.port(), path);
        EXPECT_EQ(reply.find("do not serve"), std::string::npos) << path;
        EXPECT_EQ(reply.find("hidden\n"), std::string::npos) << path;
    }
}

TEST(ObjectServer, PathsAreCleanedOrRefused) {
    EXPECT_EQ(server::object_path_clean("/zk//models/a.zip"), "/zk/models/a.zip");
    EXPECT_EQ(server::object_path_clean("/zk/../x"), "");
    EXPECT_EQ(server::object_path_clean("/zk/a\\b"), "");
    EXPECT_EQ(server::object_path_clean(std::string("/zk/a\0b", 7)), "");
}
