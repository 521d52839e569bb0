#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <csetjmp>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "art/zip.h"
#include "common/pkcipher.h"
#include "server/assets/demo_worlds.h"
#include "server/assets/generate.h"
#include "server/assets/images.h"
#include "server/assets/rwx_check.h"
#include "server/assets/zip_writer.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::server;
using zk::test::read_file;
using zk::test::TempDir;
using zk::test::write_file;

namespace {

uint32_t le16(const std::string& s, size_t at) {
    return uint32_t{static_cast<uint8_t>(s.at(at))} | uint32_t{static_cast<uint8_t>(s.at(at + 1))} << 8;
}
uint32_t le32(const std::string& s, size_t at) { return le16(s, at) | le16(s, at + 2) << 16; }

// The member as the browser's own reader writes it out, opened with
// `password` (given as the world sends it, enciphered) when it is sealed.
std::string unzip(const std::string& zip, const std::string& password, int* sealed = nullptr) {
    PkCipher key(secret_key());
    std::string wire;
    for (char c : password) wire.push_back(static_cast<char>(key.encrypt(static_cast<uint8_t>(c))));
    zip_set_password(reinterpret_cast<const uint8_t*>(wire.data()), wire.size());
    TempDir dir;
    const int rc = zip_extract(reinterpret_cast<const uint8_t*>(zip.data()), zip.size(), dir.file("member"), sealed);
    zip_set_password(nullptr, 0);
    EXPECT_EQ(rc, kZipOk);
    return read_file(dir.file("member"));
}

struct Decoded {
    bool ok = false;
    int width = 0, height = 0, components = 0;
};

struct JpegError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void on_jpeg_error(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }

Decoded decode_jpeg(const std::string& bytes) {
    Decoded d;
    jpeg_decompress_struct c{};
    JpegError err{};
    c.err = jpeg_std_error(&err.base);
    err.base.error_exit = on_jpeg_error;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&c);
        d.ok = false;
        return d;
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
    d.width = static_cast<int>(c.output_width);
    d.height = static_cast<int>(c.output_height);
    d.components = c.output_components;
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    d.ok = err.base.num_warnings == 0;
    return d;
}

// Checks a mask bitmap and answers its pixel rows, top row first.
void check_mask_bmp(const std::string& bmp, int width, int height) {
    ASSERT_GE(bmp.size(), 54u + 1024u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(le32(bmp, 2), bmp.size());
    const uint32_t offset = le32(bmp, 10);
    EXPECT_EQ(le32(bmp, 14), 40u);
    EXPECT_EQ(static_cast<int>(le32(bmp, 18)), width);
    EXPECT_EQ(static_cast<int>(le32(bmp, 22)), height);
    EXPECT_EQ(le16(bmp, 26), 1u);
    EXPECT_EQ(le16(bmp, 28), 8u);
    EXPECT_EQ(le32(bmp, 30), 0u);
    const uint32_t colours = le32(bmp, 46);
    EXPECT_EQ(colours, 256u);
    EXPECT_EQ(offset, 54u + colours * 4);
    // Black first (transparent), white last (opaque).
    EXPECT_EQ(le32(bmp, 54), 0u);
    EXPECT_EQ(le32(bmp, 54 + 255 * 4), 0x00FFFFFFu);
    const size_t stride = (static_cast<size_t>(width) + 3) & ~size_t{3};
    ASSERT_EQ(bmp.size(), offset + stride * static_cast<size_t>(height));
    size_t clear = 0, solid = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto v = static_cast<uint8_t>(bmp[offset + static_cast<size_t>(y) * stride + static_cast<size_t>(x)]);
            ASSERT_TRUE(v == 0 || v == 255) << "pixel " << x << "," << y;
            (v ? solid : clear)++;
        }
    // A mask that hides everything or nothing is a broken mask.
    EXPECT_GT(clear, 0u);
    EXPECT_GT(solid, 0u);
}

std::string assets_dir() { return ZK_ASSETS_DIR; }

}  // namespace

// ---- zip writer ---------------------------------------------------------

// Plain and sealed members are the reader's tests (art/zip_test); these
// are the edges of the writer.
TEST(ZipWriter, IncompressibleAndEmptyDataRoundTrip) {
    std::mt19937 rng(7);
    std::string noise(200000, '\0');
    for (char& c : noise) c = static_cast<char>(rng());
    for (const std::string& data : {noise, std::string()}) EXPECT_EQ(unzip(zip_single("x.bin", data), ""), data);
}

TEST(ZipWriter, RefusesBadNames) {
    EXPECT_TRUE(zip_single("", "data").empty());
    EXPECT_TRUE(zip_single(std::string(256, 'n'), "data").empty());
    EXPECT_FALSE(zip_single(std::string(255, 'n'), "data").empty());
}

// ---- textures and masks -------------------------------------------------

TEST(Textures, EveryRecipeEncodesToAJpegOfItsSize) {
    ASSERT_GE(texture_recipes().size(), 7u);
    for (const TextureRecipe& r : texture_recipes()) {
        const Image image = make_texture(r);
        ASSERT_EQ(image.width, r.width) << r.name;
        ASSERT_EQ(image.height, r.height) << r.name;
        const Decoded d = decode_jpeg(jpeg_encode(image, 85));
        EXPECT_TRUE(d.ok) << r.name;
        EXPECT_EQ(d.width, r.width) << r.name;
        EXPECT_EQ(d.height, r.height) << r.name;
        EXPECT_EQ(d.components, 3) << r.name;
        // A texture that is one flat colour means a broken shader.
        bool varied = false;
        for (size_t i = 3; i < image.rgb.size() && !varied; ++i) varied = image.rgb[i] != image.rgb[i % 3];
        EXPECT_TRUE(varied) << r.name;
    }
}

TEST(Textures, MasksAreEightBitBottomUpBitmapsOfTheTextureSize) {
    int masks = 0;
    for (const TextureRecipe& r : texture_recipes()) {
        const Image image = make_texture(r);
        const std::string bmp = bmp_mask(image);
        if (r.mask.empty()) {
            EXPECT_TRUE(bmp.empty()) << r.name;
            continue;
        }
        ++masks;
        check_mask_bmp(bmp, r.width, r.height);
        // Stored bottom-up: the first stored row is the image's last row.
        const uint32_t offset = le32(bmp, 10);
        const size_t w = static_cast<size_t>(r.width);
        EXPECT_EQ(bmp.substr(offset, w),
                  std::string(reinterpret_cast<const char*>(&image.alpha[(static_cast<size_t>(r.height) - 1) * w]), w));
    }
    EXPECT_GE(masks, 1);
}

TEST(Textures, OddWidthMaskRowsArePadded) {
    Image image;
    image.width = 5;
    image.height = 2;
    image.rgb.assign(5 * 2 * 3, 100);
    image.alpha = {0, 255, 0, 255, 0, 255, 255, 255, 0, 0};
    const std::string bmp = bmp_mask(image);
    check_mask_bmp(bmp, 5, 2);
    const uint32_t offset = le32(bmp, 10);
    EXPECT_EQ(bmp.substr(offset, 8), std::string("\xff\xff\xff\0\0\0\0\0", 8));  // bottom row, then padding
    EXPECT_EQ(bmp.substr(offset + 8, 8), std::string("\0\xff\0\xff\0\0\0\0", 8));
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

TEST(RwxCheck, EveryShippedModelIsSound) {
    int models = 0;
    std::set<int> tags;
    std::set<std::string> masks;
    for (const auto& entry : std::filesystem::directory_iterator(assets_dir() + "/models")) {
        if (entry.path().extension() != ".rwx") continue;
        ++models;
        const RwxSummary s = rwx_check(read_file(entry.path().string()));
        EXPECT_EQ(s.error, "") << entry.path();
        EXPECT_GT(s.faces, 0) << entry.path();
        tags.insert(s.tags.begin(), s.tags.end());
        masks.insert(s.masks.begin(), s.masks.end());
    }
    EXPECT_GE(models, 10);
    EXPECT_TRUE(tags.count(100));  // a sign face
    EXPECT_TRUE(tags.count(200));  // a picture face
    EXPECT_FALSE(masks.empty());
}

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
}

TEST(RwxCheck, DamagedModelsAreCaughtAtTheirLine) {
    const std::string head = "ModelBegin\nClumpBegin\nVertex 0 0 0\nVertex 1 0 0\nVertex 0 1 0\n";
    struct Case {
        std::string text, expect;
    } cases[] = {
        {head + "Triangle 1 2 4\nClumpEnd\nModelEnd\n", "line 6: vertex index 4 out of range"},
        {head + "Triangle 0 1 2\nClumpEnd\nModelEnd\n", "line 6: vertex index 0 out of range"},
        {head + "Triangle 1 2\nClumpEnd\nModelEnd\n", "line 6: missing vertex indices"},
        {head + "Triangle 1 2 x\nClumpEnd\nModelEnd\n", "line 6: bad vertex index 'x'"},
        {head + "Polygon 4 1 2 3\nClumpEnd\nModelEnd\n", "line 6: missing vertex indices"},
        {head + "Polygon 2 1 2\nClumpEnd\nModelEnd\n", "line 6: bad polygon vertex count"},
        {head + "Quad 1 2 3 1 Tag\nClumpEnd\nModelEnd\n", "line 6: bad tag"},
        {head + "ClumpEnd\nClumpEnd\nModelEnd\n", "line 7: ClumpEnd without"},
        {head + "ProtoInstance door\nClumpEnd\nModelEnd\n", "line 6: unknown prototype door"},
        {"ModelBegin\nProtoBegin door\nClumpBegin\n", "line 3: ProtoBegin without ProtoEnd"},
        {"ModelBegin\nModelEnd\n", "line 2: no clump"},
        {"", "line 0: no clump"},
        {head + "Vertex 1 nan? 0\nClumpEnd\nModelEnd\n", "line 6: bad number 'nan?'"},
        {head + "Vertex 1 0 0 UV 0\nClumpEnd\nModelEnd\n", "line 6: missing numbers after Vertex"},
        {head + "Color 1 1\nClumpEnd\nModelEnd\n", "line 6: missing numbers after Color"},
        {head + std::string("Vertex 0 0\0 0\n", 14) + "ClumpEnd\nModelEnd\n", "line 6: NUL"},
    };
    for (const Case& c : cases) {
        const RwxSummary s = rwx_check(c.text);
        EXPECT_EQ(s.error.rfind(c.expect, 0), 0u) << "got '" << s.error << "' for:\n" << c.text;
        EXPECT_EQ(s.faces, 0);
    }
}

TEST(RwxCheck, VertexNumbersCountPerClump) {
    // The second clump has only one vertex; 2 belongs to the first.
    const RwxSummary s = rwx_check(
        "ModelBegin\nClumpBegin\nVertex 0 0 0\nVertex 1 0 0\nVertex 0 1 0\nTriangle 1 2 3\nClumpEnd\n"
        "ClumpBegin\nVertex 0 0 0\nTriangle 1 1 2\nClumpEnd\nModelEnd\n");
    EXPECT_EQ(s.error.rfind("line 10: vertex index 2 out of range", 0), 0u) << s.error;
    // A nested clump keeps its own vertices and the outer one resumes after it.
    const RwxSummary nested = rwx_check(
        "ModelBegin\nClumpBegin\nVertex 0 0 0\nVertex 1 0 0\nClumpBegin\nVertex 0 1 0\nClumpEnd\n"
        "Vertex 0 0 1\nTriangle 1 2 3\nClumpEnd\nModelEnd\n");
    EXPECT_EQ(nested.error, "");
    EXPECT_EQ(nested.clumps, 2);
    EXPECT_EQ(nested.vertices, 4);
    EXPECT_EQ(nested.faces, 1);
}

TEST(RwxCheck, DeepNestingIsRefusedNotOverflowed) {
    std::string text = "ModelBegin\n";
    for (int i = 0; i < 10000; ++i) text += "ClumpBegin\n";
    EXPECT_NE(rwx_check(text).error.find("nested too deeply"), std::string::npos);
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
            ASSERT_FALSE(zip.empty()) << name;
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
            const Decoded d = decode_jpeg(read_file(root + "/textures/" + std::string(r.name) + ".jpg"));
            EXPECT_TRUE(d.ok) << r.name;
            EXPECT_EQ(d.width, r.width);
            EXPECT_EQ(d.height, r.height);
            if (r.mask.empty()) continue;
            check_mask_bmp(unzip(read_file(root + "/textures/" + std::string(r.mask) + ".zip"), ""), r.width,
                           r.height);
        }
    }
}

TEST(Generator, LeavesUnchangedFilesAlone) {
    TempDir out;
    ASSERT_EQ(generate_demo_objects(assets_dir(), out.path()), "");
    const std::string file = out.path() + "/zk/models/wall.zip";
    const std::string texture = out.path() + "/zk/textures/brick.jpg";
    struct timespec old[2] = {{1000000, 0}, {1000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
    ASSERT_EQ(utimensat(AT_FDCWD, texture.c_str(), old, 0), 0);
    write_file(out.path() + "/zk/models/bench.zip", "stale");
    ASSERT_EQ(generate_demo_objects(assets_dir(), out.path()), "");
    EXPECT_EQ(mtime_of(file), 1000000);
    EXPECT_EQ(mtime_of(texture), 1000000);
    EXPECT_NE(read_file(out.path() + "/zk/models/bench.zip"), "stale");
}

TEST(Generator, StopsOnABrokenModelOrAMissingTexture) {
    TempDir src, out;
    std::filesystem::copy(assets_dir(), src.path(), std::filesystem::copy_options::recursive);
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
