// The chunk store on a private art directory: conversion of shapes, its
// results and trace, damaged records, and textures in records and files.
#include "art/chunk.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "art/database.h"
#include "art/download.h"
#include "common/bytes.h"
#include "core/log.h"
#include "core/settings.h"
#include "render/models.h"
#include "render/rwx.h"
#include "render/stream.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

namespace zk {
namespace {

using Bytes = std::vector<uint8_t>;

// One chunk as a stream writes it.
Bytes clump_stream(uint32_t type = kChunkClump) {
    RwClump* c = rw_read_shape_text(test::kMaskedBox);
    RwStream* s = rw_stream_open_memory_write();
    EXPECT_TRUE(rw_stream_write_clump(s, c, kChunkClumpFlags));
    Bytes b = rw_stream_bytes(s);
    rw_stream_close(s);
    rw_clump_destroy(c);
    store_le32(b.data(), type);
    return b;
}

class Chunk : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(chdir(dir.path().c_str()), 0);  // the log is written there
        test::write_file(dir.file("zelnik.ini"), "[debug]\nchunk=1\n");
        settings_set_directory(dir.path());
        log_close();
        log_init();
        ASSERT_TRUE(database_init());
        ASSERT_TRUE(download_init());
        download_set_path("example.com/objects");
        chunk_reset();
        test::write_test_textures(dir);
        rw_texture_set_search_path(dir.path());
        test::write_file(dir.file("box.rwx"), test::kMaskedBox);
    }
    void TearDown() override {
        chunk_term();
        download_term();
        log_close();
        rw_texture_set_search_path("");
        EXPECT_EQ(chdir(old.c_str()), 0);
    }
    // Stores a record as is (an empty one: only looks), the way a damaged
    // disk might have left it. True when the key was there before.
    bool plant(const std::string& stem, const std::string& key, const Bytes& record = {}) {
        chunk_term();
        Database* db = database_open(art_dir() + "/" + stem, 32, 0, 16384, 4096, stem == "models", true);
        const bool was = database_key_exists(db, key) == 1;
        if (!record.empty()) {
            EXPECT_EQ(database_store(db, key, record.data(), static_cast<int>(record.size())), 1);
        }
        database_close(db);
        chunk_reset();
        return was;
    }
    test::ScopedFakeUi ui;
    test::TempDir dir;
    std::string old = std::filesystem::current_path().string();
};

TEST_F(Chunk, ModelRoundTripsWithItsHeader) {
    const Bytes header = {0, 5, 'c', 'r', 'a', 't', 'e', 0, 6, 'c', 'r', 'a', 't', 'e', 'm'};
    ASSERT_EQ(chunk_create(dir.file("box.rwx"), header, "models", "box"), chunk_ok);
    EXPECT_TRUE(chunk_exists("models", "box"));
    EXPECT_FALSE(chunk_exists("modelsflat", "box"));
    Bytes back;
    ASSERT_TRUE(chunk_header("models", "box", back));
    EXPECT_EQ(back, header);

    RwClump* shape = rw_read_shape_text(test::kMaskedBox);
    RwClump* loaded = chunk_load("models", "box");
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(rw_clump_encode(loaded), rw_clump_encode(shape));  // geometry, materials, texture names
    EXPECT_NE(loaded->materials.at(0).texture, nullptr);          // and the names resolve again
    rw_clump_destroy(loaded);
    rw_clump_destroy(shape);

    chunk_delete("models", "box");
    EXPECT_FALSE(chunk_exists("models", "box"));
}

TEST_F(Chunk, CreateAnswersAndTracesEachOutcome) {
    const std::string box = dir.file("box.rwx"), broken = dir.file("broken.rwx");
    test::write_file(broken, "ModelBegin\nClumpBegin\nVertex 1 2\n");
    struct Case {
        std::string path, name;
        int result;
        bool written;
        const char* last;
    } cases[] = {
        {box, std::string(26, 'a'), chunk_ok, true, "chunk_create complete"},
        {box, std::string(27, 'b'), chunk_key_too_long, true, "ERROR: filename too large for key"},
        {dir.file("missing.rwx"), "c", chunk_no_shape, false, "ERROR: RwReadShape failed, reason 4"},
        {broken, "d", chunk_no_shape, false, "ERROR: RwReadShape failed, reason 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log_close();
        EXPECT_EQ(chunk_create(c.path, Bytes{0}, "models", c.name), c.result);
        std::vector<std::string> lines = {"chunk_create: RwReadShape (" + c.path + ")"};
        if (c.written) lines.insert(lines.end(), {"RwOpenStream", "RwWriteStreamChunk", "RwCloseStream"});
        lines.push_back(c.last);
        EXPECT_EQ(test::log_messages(dir.file("zelnik.log")), lines);
        EXPECT_EQ(chunk_exists("models", c.name), c.result == chunk_ok);
        // Never stored under a cut key either.
        EXPECT_EQ(chunk_exists("models", c.name.substr(0, 26)), c.name.size() == 26);
    }
}

TEST_F(Chunk, DamagedRecordsAreDeletedWhenRead) {
    const Bytes good = clump_stream();
    auto record = [](Bytes head, const Bytes& stream) {
        head.insert(head.end(), stream.begin(), stream.end());
        return head;
    };
    struct Case {
        const char* what;
        Bytes record;
        bool header_sound, loads;
    } cases[] = {
        {"one byte", {1}, false, false},
        {"header as long as the record", {3, 0, 0}, false, false},
        {"header fills the record", {1, 0, 0}, false, false},
        {"header past the end", {9, 0, 0, 1, 2}, false, false},
        {"texture chunk", record({1, 0, 0}, clump_stream(kChunkTexture)), true, false},
        {"cut stream", record({1, 0, 0}, Bytes(good.begin(), good.end() - 1)), true, false},
        {"bytes behind the chunk", record({1, 0, 0}, record(good, {0})), true, false},
        {"stream shorter than a chunk head", record({1, 0, 0}, {1, 2, 3}), true, false},
        {"sound", record({2, 0, 7, 'x'}, good), true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        plant("models", "modelsbox", c.record);
        Bytes header;
        EXPECT_EQ(chunk_header("models", "box", header), c.header_sound);
        EXPECT_EQ(header, c.header_sound ? Bytes(c.record.begin() + 2, c.record.begin() + 2 + c.record[0]) : Bytes{});
        EXPECT_EQ(chunk_exists("models", "box"), c.header_sound);
        RwClump* loaded = chunk_load("models", "box");
        EXPECT_EQ(loaded != nullptr, c.loads);
        rw_clump_destroy(loaded);
        EXPECT_EQ(chunk_exists("models", "box"), c.loads);
    }
}

TEST_F(Chunk, TexturesRoundTripInRecordsAndFiles) {
    RwTexture* crate = rw_texture_read_named("crate");
    ASSERT_NE(crate, nullptr);
    RwRaster* mask = rw_raster_read_named("cratem");
    ASSERT_TRUE(rw_texture_mask(crate, mask));
    rw_raster_destroy(mask);
    auto same = [&](RwTexture* t) {
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(rw_texture_encode(t), rw_texture_encode(crate));  // name, raster and mask
        rw_texture_destroy(t);
    };
    ASSERT_TRUE(chunk_save_texture(crate, "crate"));
    same(chunk_load_texture("crate"));
    chunk_delete_texture("crate");
    EXPECT_EQ(chunk_load_texture("crate"), nullptr);

    // A name longer than the key is refused, not cut onto another's record.
    EXPECT_FALSE(chunk_save_texture(crate, std::string(33, 'w')));
    EXPECT_EQ(chunk_load_texture(std::string(32, 'w')), nullptr);

    // A record that holds no texture chunk goes when read.
    plant("textures", "crate", clump_stream());
    EXPECT_EQ(chunk_load_texture("crate"), nullptr);
    EXPECT_FALSE(plant("textures", "crate"));

    ASSERT_TRUE(chunk_save_texture_to_file(crate, dir.file("picture.tex")));
    same(chunk_load_texture_from_file(dir.file("picture.tex")));
    test::write_file(dir.file("cut.tex"), test::read_file(dir.file("picture.tex")).substr(0, 40));
    EXPECT_EQ(chunk_load_texture_from_file(dir.file("cut.tex")), nullptr);
    rw_texture_destroy(crate);
}

}  // namespace
}  // namespace zk
