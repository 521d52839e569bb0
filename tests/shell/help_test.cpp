#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <set>
#include <thread>

#include "shell/help.h"
#include "shell/url.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

namespace {

struct OpeningUi : FakeUi {
    std::vector<std::string> opened;
    bool address_open(const std::string& address) override {
        opened.push_back(address);
        return true;
    }
};

std::string page_text(const HelpPage& page) { return {reinterpret_cast<const char*>(page.bytes), page.size}; }

ino_t inode(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

bool wait_for(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

}  // namespace

TEST(Help, PagesAreWrittenKeptWhenEqualAndNeverWrittenThroughALink) {
    TempDir dir;
    std::set<std::string> names;
    for (const HelpPage& page : help_pages()) names.insert(page.name);
    ASSERT_EQ(names, (std::set<std::string>{"index.html", "getting-started.html", "chat.html", "building.html",
                                            "settings.html", "keys.html"}));
    // Every link leads to a shipped page; nothing is fetched or run.
    const std::regex link("href=\"([^\"]*)\"");
    for (const HelpPage& page : help_pages()) {
        const std::string text = page_text(page);
        for (std::sregex_iterator m(text.begin(), text.end(), link), end; m != end; ++m)
            EXPECT_TRUE(names.count((*m)[1])) << page.name << " links " << (*m)[1];
        EXPECT_EQ(text.find("<script"), std::string::npos) << page.name;
        EXPECT_EQ(text.find("src="), std::string::npos) << page.name;
    }

    EXPECT_EQ(help_write_pages(dir.path()), "file://" + dir.path() + "/help/index.html");
    const std::string help = dir.file("help/");
    for (const HelpPage& page : help_pages()) EXPECT_EQ(read_file(help + page.name), page_text(page)) << page.name;

    // A changed page and a missing one come back; an equal one is left alone;
    // a link in a page's place is replaced, not written through.
    TempDir outside;
    write_file(outside.file("victim"), "mine");
    write_file(help + "index.html", "old");
    unlink((help + "keys.html").c_str());
    unlink((help + "chat.html").c_str());
    ASSERT_EQ(symlink(outside.file("victim").c_str(), (help + "chat.html").c_str()), 0);
    const ino_t kept = inode(help + "settings.html");
    EXPECT_FALSE(help_write_pages(dir.path()).empty());
    for (const HelpPage& page : help_pages()) EXPECT_EQ(read_file(help + page.name), page_text(page)) << page.name;
    EXPECT_EQ(read_file(outside.file("victim")), "mine");
    EXPECT_EQ(inode(help + "settings.html"), kept);

    // help/ itself a link: refused, nothing written where it points.
    TempDir linked;
    ASSERT_EQ(symlink(outside.path().c_str(), linked.file("help").c_str()), 0);
    EXPECT_EQ(help_write_pages(linked.path()), "");
    EXPECT_FALSE(access(outside.file("index.html").c_str(), F_OK) == 0);
    EXPECT_EQ(help_write_pages(""), "");
}

TEST(Url, OnlyWebAddressesAreOpenedAndFilesOnlyForTheProgram) {
    OpeningUi ui;
    ui_set_port(&ui);
    url_init("");
    const std::string longest = "http://h/" + std::string(2048 - 9, 'a');
    const struct {
        std::string given, opened;  // "" opened: refused
    } cases[] = {
        {"http://a.example/x?y=1", "http://a.example/x?y=1"},
        {"HTTPS://A.example", "HTTPS://A.example"},
        {"File:///etc/passwd", ""},
        {"  www.example.com/a b ", "http://www.example.com/a b"},
        {"localhost:8080/x", "http://localhost:8080/x"},
        {longest, longest},
        {longest + "a", ""},
        {"javascript:alert(1)", ""},
        {"JavaScript://x/%0aalert(1)", ""},
        {"data:text/html,<b>x</b>", ""},
        {"ftp://host/file", ""},
        {"host:80x/", ""},
        {"http://a\nb", ""},
        {"http://a\x7f", ""},
        {"-oProxyCommand=x", ""},
        {"", ""},
        {"   ", ""},
    };
    EXPECT_TRUE(url_open("File:///tmp/help/index.html", true));
    for (const auto& c : cases) {
        ui.opened.clear();
        EXPECT_EQ(url_open(c.given), !c.opened.empty()) << c.given;
        EXPECT_EQ(ui.opened, c.opened.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.opened})
            << c.given;
    }
    ui_set_port(nullptr);
}

TEST(Url, TheConfiguredBrowserGetsTheAddressAsItsOneArgument) {
    TempDir dir;
    const std::string out = dir.file("got"), script = dir.file("browser");
    write_file(script, "#!/bin/sh\nprintf '%s|%s\\n' \"$#\" \"$1\" >> '" + out + "'\n");
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    OpeningUi ui;
    ui_set_port(&ui);
    url_init(script);
    // Refused before anything starts, then one that goes through.
    EXPECT_FALSE(url_open("javascript:x"));
    const std::string tricky = "example.com/a b'c\"d;touch " + dir.file("ran") + ";$(touch " + dir.file("ran") + ")`x`";
    EXPECT_TRUE(url_open(tricky));
    ASSERT_TRUE(wait_for([&] { return !read_file(out).empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(read_file(out), "1|http://" + tricky + "\n");
    EXPECT_NE(access(dir.file("ran").c_str(), F_OK), 0);
    EXPECT_TRUE(ui.opened.empty());
    url_init(dir.file("no-such-browser"));
    EXPECT_FALSE(url_open("http://a.example/"));
    url_term();
    ui_set_port(nullptr);
}
