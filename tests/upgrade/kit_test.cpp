#include "upgrade/kit.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>

#include <filesystem>
#include <functional>
#include <map>

#include "support/process.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace zk;
using zk::test::read_file;
using zk::test::write_file;

namespace {

using Snapshot = std::map<std::string, std::string>;  // path -> hash, "link" or "dir"

Snapshot snapshot(const std::string& root) {
    Snapshot s;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), root).generic_string();
        if (it->is_symlink()) {
            s[rel] = "link";
            it.disable_recursion_pending();
        } else if (it->is_directory()) {
            s[rel] = "dir";
        } else {
            const std::string b = read_file(it->path().string());
            s[rel] = sha256_hex(sha256(b.data(), b.size()));
        }
    }
    return s;
}

Snapshot without_dirs(Snapshot s) {
    std::erase_if(s, [](const auto& e) { return e.second == "dir"; });
    return s;
}

// Bytes that do not compress, as machine code nearly does not.
std::string noise(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>((seed = seed * 1664525u + 1013904223u) >> 24);
    return s;
}

void put(const std::string& root, const std::string& rel, const std::string& content) {
    fs::create_directories(fs::path(root + "/" + rel).parent_path());
    write_file(root + "/" + rel, content);
}

// An installation and the next version of it: a binary-like file with a
// small change, one file unchanged, one changed, one removed, one added
// deep down; the user's settings and cache never take part.
struct Versions {
    test::TempDir tmp;
    std::string old_dir = tmp.file("old"), new_dir = tmp.file("new"), kit;
    Versions() {
        std::string binary = noise(1 << 20, 7);
        put(old_dir, "zelnik", binary);
        binary.replace(300000, 12, "build 163   ");
        put(new_dir, "zelnik", binary);
        for (const auto& d : {old_dir, new_dir}) put(d, "keep.txt", "same");
        put(old_dir, "sub/changed.dat", "one");
        put(new_dir, "sub/changed.dat", "two, longer");
        put(old_dir, "gone.txt", "bye");
        put(new_dir, "added/deep/file name.txt", "hello");
        fs::permissions(new_dir + "/zelnik", fs::perms::owner_exec, fs::perm_options::add);
        put(old_dir, "zelnik.ini", "[debug]\nold=1\n");
        put(new_dir, "zelnik.ini", "[debug]\nnew=1\n");
        EXPECT_EQ(kit_build(old_dir, new_dir, kit), kKitOk);
    }
    // A fresh installation of the old version, with the user's own files.
    std::string install(const std::string& name = "prog") {
        const std::string dir = tmp.file(name);
        fs::remove_all(dir);
        fs::copy(old_dir, dir, fs::copy_options::recursive);
        put(dir, "cache/tmp/x", "user's");
        return dir;
    }
    Snapshot expected_new(const std::string& dir) {
        Snapshot s = without_dirs(snapshot(new_dir));
        Snapshot d = without_dirs(snapshot(dir));
        s["zelnik.ini"] = d["zelnik.ini"];
        s["cache/tmp/x"] = d["cache/tmp/x"];
        return s;
    }
    int apply(const std::string& dir, const std::string& bytes, KitCallback cb = nullptr, void* user = nullptr) {
        return kit_apply(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), dir, cb, user);
    }
};

struct Seen {
    std::vector<int> messages;
    std::vector<std::string> names;
    int progress = -1;
    bool monotone = true;
    int stop_at_name = -1;
};

const char* record(int message, const void* arg, void* user) {
    Seen& s = *static_cast<Seen*>(user);
    s.messages.push_back(message);
    if (message == 7) {
        s.names.emplace_back(static_cast<const char*>(arg));
        if (static_cast<int>(s.names.size()) == s.stop_at_name) return nullptr;
    }
    if (message == 5) {
        const int v = *static_cast<const uint16_t*>(arg);
        s.monotone = s.monotone && v >= s.progress && v <= kKitProgressFull;
        s.progress = v;
    }
    return "";
}

}  // namespace

TEST(Kit, RoundTripTurnsOldIntoNewWithSmallDelta) {
    Versions v;
    Kit kit;
    ASSERT_EQ(kit_read(reinterpret_cast<const uint8_t*>(v.kit.data()), v.kit.size(), kit), kKitOk);
    std::map<std::string, KitOp> ops;
    for (const auto& f : kit.files) ops[f.path] = f.op;
    EXPECT_EQ(ops, (std::map<std::string, KitOp>{{"zelnik", KitOp::delta},
                                                 {"sub/changed.dat", KitOp::whole},
                                                 {"gone.txt", KitOp::remove},
                                                 {"added/deep/file name.txt", KitOp::whole}}));
    EXPECT_LT(v.kit.size(), 2000u) << "a 12-byte change in 1 MiB of incompressible bytes";

    const std::string dir = v.install();
    Seen seen;
    ASSERT_EQ(v.apply(dir, v.kit, record, &seen), kKitOk);
    EXPECT_EQ(without_dirs(snapshot(dir)), v.expected_new(dir));
    EXPECT_NE(fs::status(dir + "/zelnik").permissions() & fs::perms::owner_exec, fs::perms::none);
    ASSERT_FALSE(seen.messages.empty());
    EXPECT_EQ(seen.messages.front(), 22);
    EXPECT_TRUE(seen.monotone);
    EXPECT_EQ(seen.progress, kKitProgressFull);
    EXPECT_NE(std::find(seen.names.begin(), seen.names.end(), "zelnik"), seen.names.end());
    // Applied once, the kit no longer fits: nothing changes the second time.
    const Snapshot after = snapshot(dir);
    EXPECT_EQ(v.apply(dir, v.kit), kKitMismatch);
    EXPECT_EQ(snapshot(dir), after);
}

TEST(Kit, DamagedOrHostileKitsAreRefusedWithoutTouchingAFile) {
    Versions v;
    Kit good;
    ASSERT_EQ(kit_read(reinterpret_cast<const uint8_t*>(v.kit.data()), v.kit.size(), good), kKitOk);
    auto edited = [&](const std::function<void(Kit&)>& change) {
        Kit k = good;
        change(k);
        return kit_write(k);
    };
    auto first = [](Kit& k, KitOp op) -> KitFile& {
        return *std::find_if(k.files.begin(), k.files.end(), [op](const KitFile& f) { return f.op == op; });
    };
    const test::TempDir outside;
    struct Case {
        const char* name;
        std::string kit;
        int rc;
        std::function<void(const std::string&)> prepare;
    };
    std::string flipped = v.kit;
    flipped[flipped.size() / 2] ^= 0x40;
    const std::vector<Case> cases = {
        {"flipped byte", flipped, kKitDamaged, {}},
        {"truncated", v.kit.substr(0, v.kit.size() - 7), kKitDamaged, {}},
        {"empty", "", kKitDamaged, {}},
        {"wrong after hash", edited([&](Kit& k) { first(k, KitOp::delta).after[3] ^= 1; }), kKitBadResult, {}},
        {"wrong size", edited([&](Kit& k) { first(k, KitOp::whole).size += 1; }), kKitDamaged, {}},
        {"delta for other bytes", edited([&](Kit& k) { first(k, KitOp::delta).before = sha256("x", 1); }),
         kKitMismatch, {}},
        {"parent", edited([](Kit& k) { k.files[0].path = "../evil"; }), kKitUnsafePath, {}},
        {"inner parent", edited([](Kit& k) { k.files[0].path = "sub/../../evil"; }), kKitUnsafePath, {}},
        {"absolute", edited([&](Kit& k) { k.files[0].path = outside.path() + "/evil"; }), kKitUnsafePath, {}},
        {"backslash", edited([](Kit& k) { k.files[0].path = "..\\evil"; }), kKitUnsafePath, {}},
        {"journal name", edited([](Kit& k) { k.files[0].path = kKitJournal; }), kKitUnsafePath, {}},
        {"file and directory", edited([](Kit& k) { k.files[1].path = k.files[0].path + "/x"; }), kKitDamaged, {}},
        {"installed file edited", v.kit, kKitMismatch, [](const std::string& d) { write_file(d + "/gone.txt", "b"); }},
        {"added file already there", v.kit, kKitMismatch,
         [](const std::string& d) { put(d, "added/deep/file name.txt", "mine"); }},
        {"link out of the directory", v.kit, kKitUnsafePath,
         [&](const std::string& d) {
             fs::rename(d + "/sub", outside.file("sub"));
             fs::create_directory_symlink(outside.file("sub"), d + "/sub");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = v.install();
        if (c.prepare) c.prepare(dir);
        const Snapshot before = snapshot(dir), before_outside = snapshot(outside.path());
        Seen seen;
        EXPECT_EQ(v.apply(dir, c.kit, record, &seen), c.rc);
        EXPECT_EQ(snapshot(dir), before);
        EXPECT_EQ(snapshot(outside.path()), before_outside);
        EXPECT_EQ(seen.messages.back(), 2) << "the refusal is told";
    }
}

TEST(Kit, InterruptedApplyRecoversToExactlyOldOrNew) {
    Versions v;
    const std::string probe = v.install("probe");
    const Snapshot old_set = without_dirs(snapshot(probe)), new_set = v.expected_new(probe);
    bool saw_old = false, saw_new = false;
    for (int kill_at = 0;; ++kill_at) {
        SCOPED_TRACE(kill_at);
        const std::string dir = v.install();
        kit_test_interrupt_after(kill_at);
        const int rc = v.apply(dir, v.kit);
        // The recovery itself may be killed too, once, at a point of its own.
        kit_test_interrupt_after(kill_at % 3);
        kit_recover(dir);
        kit_test_interrupt_after(-1);
        bool forward = false;
        ASSERT_EQ(kit_recover(dir, &forward), kKitOk);
        const Snapshot got = without_dirs(snapshot(dir));
        EXPECT_TRUE(got == old_set || got == new_set);
        saw_old |= got == old_set;
        saw_new |= got == new_set;
        if (got == old_set) {
            EXPECT_FALSE(fs::exists(dir + "/added")) << "created directories go again";
        }
        if (rc == kKitOk) break;
        ASSERT_LT(kill_at, 50);
    }
    EXPECT_TRUE(saw_old && saw_new);
    // Closing the window mid-way aborts the apply and leaves the old version.
    const std::string dir = v.install();
    Seen seen;
    seen.stop_at_name = 5;
    EXPECT_EQ(v.apply(dir, v.kit, record, &seen), kKitAborted);
    EXPECT_EQ(without_dirs(snapshot(dir)), old_set);
    EXPECT_FALSE(fs::exists(dir + "/" + kKitJournal));
}

TEST(Kit, BuilderRefusesLinksAndSkipsTheUsersFiles) {
    Versions v;
    Kit kit;
    ASSERT_EQ(kit_read(reinterpret_cast<const uint8_t*>(v.kit.data()), v.kit.size(), kit), kKitOk);
    for (const auto& f : kit.files) EXPECT_NE(f.path, "zelnik.ini");
    fs::create_symlink("/etc/passwd", v.new_dir + "/passwd");
    std::string out, error;
    EXPECT_EQ(kit_build(v.old_dir, v.new_dir, out, &error), kKitUnsafePath);
    EXPECT_NE(error.find("passwd"), std::string::npos);
    EXPECT_EQ(kit_build(v.old_dir, v.tmp.file("missing"), out, &error), kKitIo);
}

// An apply killed at random moments (a forked child, as spawning a program
// per kill would take minutes), then the recovery that `upgrade` runs at
// its next start: every tenth time the real program's, else the same call.
TEST(Kit, KilledApplyNeverLeavesAMix) {
    test::TempDir tmp;
    for (int i = 0; i < 8; ++i) {
        put(tmp.file("old"), "f" + std::to_string(i) + "/data", noise(16000, i));
        put(tmp.file("new"), "f" + std::to_string(i) + "/data", noise(16000, i + 100));
    }
    put(tmp.file("old"), "gone", "0");
    put(tmp.file("new"), "added/one", "1");
    std::string kit;
    ASSERT_EQ(kit_build(tmp.file("old"), tmp.file("new"), kit), kKitOk);
    const Snapshot old_set = without_dirs(snapshot(tmp.file("old"))), new_set = without_dirs(snapshot(tmp.file("new")));
    const std::string dir = tmp.file("prog");
    auto apply_in_child = [&] {
        fs::remove_all(dir);
        fs::copy(tmp.file("old"), dir, fs::copy_options::recursive);
        const pid_t pid = fork();
        if (pid == 0) _exit(kit_apply(reinterpret_cast<const uint8_t*>(kit.data()), kit.size(), dir));
        return pid;
    };
    // How long a whole apply takes, so that kills spread over all of it.
    auto t0 = std::chrono::steady_clock::now();
    int status = 0;
    waitpid(apply_in_child(), &status, 0);
    const int span_us = static_cast<int>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count());
    ASSERT_EQ(status, 0);
    ASSERT_EQ(without_dirs(snapshot(dir)), new_set);
    std::srand(162);
    int olds = 0, news = 0, killed = 0;
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        const pid_t pid = apply_in_child();
        usleep(static_cast<useconds_t>(std::rand() % (span_us + 1)));
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        killed += WIFSIGNALED(status);
        if (i % 10 == 0) {
            test::Process recover(ZELNIK_UPGRADE_BINARY, {"--recover", dir}, tmp.path(), "recover");
            ASSERT_EQ(recover.wait(20000), 0);
        } else {
            ASSERT_EQ(kit_recover(dir), kKitOk);
        }
        const Snapshot got = without_dirs(snapshot(dir));
        ASSERT_TRUE(got == old_set || got == new_set);
        olds += got == old_set;
        news += got == new_set;
    }
    std::printf("200 kills over %d us: %d old, %d new, %d died before the end\n", span_us, olds, news, killed);
    EXPECT_GT(olds, 0);
    EXPECT_GT(news, 0);
}
