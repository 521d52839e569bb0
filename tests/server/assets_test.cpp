#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <csetjmp>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "art/zip.h"
#include "people/registry.h"
#include "people/sequencer.h"
#include "render/clump.h"
#include "render/rwx.h"
#include "render/raster.h"
#include "server/assets/avatars.h"
#include "server/assets/demo_worlds.h"
#include "server/assets/generate.h"
#include "server/assets/images.h"
#include "server/assets/rwx_check.h"
#include "server/assets/zip_writer.h"
#include "server/demo.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::server;
using zk::test::read_file;
using zk::test::TempDir;
using zk::test::write_file;

namespace {

// The member as the browser's own reader writes it out, opened with
// `password` (given as the world sends it, enciphered) when it is sealed.
std::string unzip(const std::string& zip, const std::string& password, int* sealed = nullptr) {
    const std::string wire = demo_encipher_password(password);
    zip_set_password(reinterpret_cast<const uint8_t*>(wire.data()), wire.size());
    TempDir dir;
    const int rc = zip_extract(reinterpret_cast<const uint8_t*>(zip.data()), zip.size(), dir.file("member"), sealed);
    zip_set_password(nullptr, 0);
    EXPECT_EQ(rc, kZipOk);
    return read_file(dir.file("member"));
}

struct JpegError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void on_jpeg_error(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }

// Decodes the whole picture: a colour JPEG of the given size, without warnings.
void check_jpeg(const std::string& bytes, int width, int height) {
    jpeg_decompress_struct c{};
    JpegError err{};
    c.err = jpeg_std_error(&err.base);
    err.base.error_exit = on_jpeg_error;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&c);
        ADD_FAILURE() << "not a readable JPEG";
        return;
    }
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&c, TRUE);
    jpeg_start_decompress(&c);
    std::vector<unsigned char> row(static_cast<size_t>(c.output_width) * static_cast<size_t>(c.output_components));
    while (c.output_scanline < c.output_height) {
        JSAMPROW p = row.data();
        jpeg_read_scanlines(&c, &p, 1);
    }
    EXPECT_EQ(static_cast<int>(c.output_width), width);
    EXPECT_EQ(static_cast<int>(c.output_height), height);
    EXPECT_EQ(c.output_components, 3);
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    EXPECT_EQ(err.base.num_warnings, 0);
}

// The mask as the browser's bitmap reader sees it: 8 bits, the image's
// size, and grey levels equal to its alpha row for row (clear is black).
void check_mask(const std::string& bmp, const Image& image) {
    int rc = -1;
    std::unique_ptr<RwRaster, void (*)(RwRaster*)> r(
        rw_bmp_decode(reinterpret_cast<const uint8_t*>(bmp.data()), bmp.size(), &rc), rw_raster_destroy);
    ASSERT_TRUE(r) << "bitmap result " << rc;
    EXPECT_EQ(r->depth, 8);
    ASSERT_EQ(r->width, image.width);
    ASSERT_EQ(r->height, image.height);
    std::vector<uint8_t> grey;
    for (int y = 0; y < r->height; ++y)
        for (int x = 0; x < r->width; ++x) grey.push_back(r->pixel(x, y).g);
    EXPECT_EQ(grey, image.alpha);
}

std::string assets_dir() { return ZK_ASSETS_DIR; }

}  // namespace

// Sealed members and large incompressible data are the reader's tests
// (art/zip_test); these are the edges of the writer.
TEST(ZipWriter, EmptyDataRoundTripsAndBadNamesAreRefused) {
    EXPECT_EQ(unzip(zip_single("x.bin", ""), ""), "");
    EXPECT_TRUE(zip_single("", "data").empty());
    EXPECT_TRUE(zip_single(std::string(256, 'n'), "data").empty());
    EXPECT_FALSE(zip_single(std::string(255, 'n'), "data").empty());
}

// Every recipe's picture and mask are checked in Generator.BuildsEveryWorldsTree.
TEST(Textures, OddWidthMasksReadBackRowForRow) {
    Image image;
    image.width = 5;
    image.height = 2;
    image.rgb.assign(5 * 2 * 3, 100);
    image.alpha = {0, 255, 0, 255, 0, 255, 255, 255, 0, 0};
    check_mask(bmp_mask(image), image);
}

TEST(Textures, InconsistentImagesAreRefused) {
    Image image;
    image.width = 4;
    image.height = 4;
    image.rgb.assign(10, 0);  // too short for 4 x 4
    EXPECT_TRUE(jpeg_encode(image, 80).empty());
    image.alpha.assign(3, 255);
    EXPECT_TRUE(bmp_mask(image).empty());
    EXPECT_TRUE(make_texture(TextureRecipe{"no-such-texture", "", 16, 16}).rgb.empty());
    EXPECT_TRUE(make_texture(TextureRecipe{"grass", "", 0, 16}).rgb.empty());
}

// ---- model check --------------------------------------------------------

// What the reader refuses is the browser's tests (render/shape_test); here,
// that the check reports it with its line and counts what the model uses.
TEST(RwxCheck, SummarisesTexturesMasksAndTags) {
    const RwxSummary s = rwx_check(
        "modelbegin\n clumpbegin\n  Texture Leaves.JPG mask LeavesM.bmp\n"
        "  Vertex 0 0 0 UV 0 0\n  Vertex 1 0 0 UV 1 0\n  Vertex 1 1 0 UV 1 1\n  Vertex 0 1 0\n"
        "  Quad 1 2 3 4 Tag 100\n  Polygon 3 4 3 2 tag 200 # closing\n  Texture NULL\n clumpend\nModelEnd\n");
    EXPECT_EQ(s.error, "");
    EXPECT_EQ(s.vertices, 4);
    EXPECT_EQ(s.faces, 2);
    EXPECT_EQ(s.textures, (std::set<std::string>{"leaves"}));
    EXPECT_EQ(s.masks, (std::set<std::string>{"leavesm"}));
    EXPECT_EQ(s.tags, (std::set<int>{100, 200}));
    // A nested clump keeps its own vertices and the outer one resumes after it.
    const RwxSummary nested = rwx_check(
        "ModelBegin\nClumpBegin\nVertex 0 0 0\nVertex 1 0 0\nClumpBegin\nVertex 0 1 0\nClumpEnd\n"
        "Vertex 0 0 1\nTriangle 1 2 3\nClumpEnd\nModelEnd\n");
    EXPECT_EQ(nested.error, "");
    EXPECT_EQ(nested.clumps, 2);
    EXPECT_EQ(nested.vertices, 4);
    EXPECT_EQ(nested.faces, 1);
}

TEST(RwxCheck, DamagedModelsAreCaughtAtTheirLine) {
    const std::string head = "ModelBegin\nClumpBegin\nVertex 0 0 0\nVertex 1 0 0\nVertex 0 1 0\n";
    struct Case {
        std::string text, expect;
    } cases[] = {
        {head + "Triangle 1 2 4\nClumpEnd\nModelEnd\n", "line 6: vertex index 4 out of range"},
        {head + "Triangle 1 2 x\nClumpEnd\nModelEnd\n", "line 6: bad vertex index 'x'"},
        {"", "line 0: no clump"},
        {head + std::string("Vertex 0 0\0 0\n", 14) + "ClumpEnd\nModelEnd\n", "line 6: NUL"},
        // Vertex numbers count per clump: the second clump has only one.
        {head + "Triangle 1 2 3\nClumpEnd\nClumpBegin\nVertex 0 0 0\nTriangle 1 1 2\nClumpEnd\nModelEnd\n",
         "line 10: vertex index 2 out of range"},
    };
    for (const Case& c : cases) {
        const RwxSummary s = rwx_check(c.text);
        EXPECT_EQ(s.error.rfind(c.expect, 0), 0u) << "got '" << s.error << "' for:\n" << c.text;
        EXPECT_EQ(s.faces, 0);
    }
}

// ---- the generated object path trees ------------------------------------

namespace {

time_t mtime_of(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

}  // namespace

TEST(Generator, BuildsEveryWorldsTree) {
    TempDir out;
    ASSERT_EQ(generate_demo_objects(assets_dir(), out.path()), "");
    for (const DemoWorld& world : kDemoWorlds) {
        const std::string root = out.path() + "/" + std::string(world.name);
        EXPECT_EQ(read_file(root + "/world.txt"), read_file(assets_dir() + "/worlds/" + std::string(world.name) + ".txt"));
        int models = 0, encrypted = 0;
        for (const auto& entry : std::filesystem::directory_iterator(assets_dir() + "/models")) {
            const std::string name = entry.path().stem().string();
            const std::string zip = read_file(root + "/models/" + name + ".zip");
            int sealed = 0;
            const bool secret = name == world.secret_model;
            EXPECT_EQ(unzip(zip, secret ? std::string(world.object_password) : "", &sealed),
                      read_file(entry.path().string()))
                << name;
            EXPECT_EQ(sealed, secret) << name;
            encrypted += sealed;
            ++models;
        }
        EXPECT_GE(models, 10);
        EXPECT_EQ(encrypted, 1);
        for (const TextureRecipe& r : texture_recipes()) {
            SCOPED_TRACE(std::string(r.name));
            const Image image = make_texture(r);
            check_jpeg(read_file(root + "/textures/" + std::string(r.name) + ".jpg"), r.width, r.height);
            // One flat colour, or a mask that hides all or nothing, is a broken recipe.
            bool varied = false;
            for (size_t i = 3; i < image.rgb.size() && !varied; ++i) varied = image.rgb[i] != image.rgb[i % 3];
            EXPECT_TRUE(varied);
            if (r.mask.empty()) continue;
            EXPECT_EQ(std::set<uint8_t>(image.alpha.begin(), image.alpha.end()), (std::set<uint8_t>{0, 255}));
            check_mask(unzip(read_file(root + "/textures/" + std::string(r.mask) + ".zip"), ""), image);
        }
    }
}

TEST(Generator, LeavesUnchangedFilesAloneAndStopsOnABrokenModelOrAMissingTexture) {
    TempDir src, out;
    std::filesystem::copy(assets_dir(), src.path(), std::filesystem::copy_options::recursive);
    ASSERT_EQ(generate_demo_objects(src.path(), out.path()), "");
    const std::string file = out.path() + "/zk/models/wall.zip";
    const std::string texture = out.path() + "/zk/textures/brick.jpg";
    struct timespec old[2] = {{1000000, 0}, {1000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
    ASSERT_EQ(utimensat(AT_FDCWD, texture.c_str(), old, 0), 0);
    write_file(out.path() + "/zk/models/bench.zip", "stale");
    ASSERT_EQ(generate_demo_objects(src.path(), out.path()), "");
    EXPECT_EQ(mtime_of(file), 1000000);
    EXPECT_EQ(mtime_of(texture), 1000000);
    EXPECT_NE(read_file(out.path() + "/zk/models/bench.zip"), "stale");

    write_file(src.file("models/broken.rwx"), "ModelBegin\nClumpBegin\nVertex 0 0 0\nTriangle 1 1 9\nClumpEnd\nModelEnd\n");
    std::string e = generate_demo_objects(src.path(), out.path());
    EXPECT_NE(e.find("models/broken.rwx: line 4"), std::string::npos) << e;

    write_file(src.file("models/broken.rwx"),
               "ModelBegin\nClumpBegin\nTexture marble\nVertex 0 0 0\nVertex 1 0 0\nVertex 0 1 0\n"
               "Triangle 1 2 3\nClumpEnd\nModelEnd\n");
    e = generate_demo_objects(src.path(), out.path());
    EXPECT_NE(e.find("'marble'"), std::string::npos) << e;

    std::filesystem::remove(src.file("models/broken.rwx"));
    write_file(src.file("worlds/zk.txt"), read_file(src.file("worlds/zk.txt")) + "0 0 0 0 unicorn\n");
    e = generate_demo_objects(src.path(), out.path());
    EXPECT_NE(e.find("no model called unicorn"), std::string::npos) << e;
}

// The demo avatars read cleanly with the browser's own readers: three types
// with their figures, sequences for every action they name, and figures
// whose parts are the joints the sequences drive.
TEST(DemoAvatars, RegistrySequencesAndFiguresReadWithTheBrowsersReaders) {
    using namespace zk;
    ASSERT_EQ(registry_load_text(server::avatar_registry()), 0) << registry_error();
    ASSERT_EQ(registry_count(), 3);
    const auto sequences = server::avatar_sequences();
    const auto figures = server::avatar_figures();
    for (int type = 0; type < 3; ++type) {
        const AvatarEntry* e = registry_entry(type);
        ASSERT_TRUE(e);
        const std::string model = registry_model_file(type);
        ASSERT_TRUE(figures.count(model.substr(0, model.size() - 4))) << model;
        EXPECT_EQ(e->implicit_sequences.size(), 3u);
        EXPECT_EQ(e->explicit_sequences.size(), 2u);
        for (const auto* list : {&e->implicit_sequences, &e->explicit_sequences})
            for (const std::string& name : *list) EXPECT_TRUE(sequences.count(name)) << name;
    }
    std::set<int> joints;
    for (const auto& [name, text] : figures) {
        RwClump* figure = rw_read_shape_text(text);
        ASSERT_TRUE(figure) << name;
        joints.clear();
        rw_clump_for_all(figure, [&](RwClump* c) {
            if (c->tag > 0) joints.insert(c->tag);
            return true;
        });
        EXPECT_EQ(joints.size(), 14u) << name;
        rw_clump_destroy(figure);
    }
    for (const auto& [name, bytes] : sequences) {
        Sequence s;
        ASSERT_TRUE(sequence_parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &s)) << name;
        EXPECT_EQ(s.name, name);
        EXPECT_GT(s.length_ms, 0u);
        for (int j = 1; j <= kJointCount; ++j)
            if (s.driven & (1u << j)) {
                EXPECT_TRUE(joints.count(j)) << name << " drives joint " << j;
            }
    }
}
