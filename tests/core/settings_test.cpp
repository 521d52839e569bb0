#include <gtest/gtest.h>

#include "core/settings.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

TEST(Settings, IntegersStringsDecimalsAndSecretsWithTheirMissingValues) {
    TempDir dir;
    settings_set_directory(dir.path());
    EXPECT_FALSE(settings_file_exists());
    write_file(dir.file("zelnik.ini"), "[layout]\nmain_width=640\nborder=0.5\nvborder=abc\n[start]\nworld=Atlantis\n");
    EXPECT_TRUE(settings_file_exists());
    EXPECT_EQ(settings_get_int("layout", "main_width"), 640);
    EXPECT_EQ(settings_get_int("layout", "main_height"), -1);
    EXPECT_DOUBLE_EQ(settings_get_decimal("layout", "border", 0.68), 0.5);
    EXPECT_DOUBLE_EQ(settings_get_decimal("layout", "vborder", 0.75), 0.75);
    EXPECT_DOUBLE_EQ(settings_get_decimal("layout", "none", 0.75), 0.75);
    EXPECT_EQ(settings_get_string("start", "world"), "Atlantis");
    EXPECT_EQ(settings_get_string("start", "nothing"), "");

    EXPECT_TRUE(settings_put_int("layout", "main_height", 333));
    EXPECT_EQ(settings_get_int("layout", "main_height"), 333);
    EXPECT_TRUE(settings_put_string("citizen", "tourist", ""));
    EXPECT_EQ(settings_get_string("citizen", "tourist"), "");
    EXPECT_NE(read_file(dir.file("zelnik.ini")).find("tourist=\n"), std::string::npos)
        << "an empty text leaves an empty value";
    ASSERT_TRUE(settings_put_string("citizen", "name", std::string(300, 'n')));
    EXPECT_EQ(settings_get_string("citizen", "name"), std::string(127, 'n')) << "cut at 127 characters";

    // A secret is not stored in plain.
    ASSERT_TRUE(settings_put_secret("citizen", "pass", "open sesame"));
    std::string file = read_file(dir.file("zelnik.ini"));
    EXPECT_EQ(file.find("open sesame"), std::string::npos);
    EXPECT_NE(file.find("pass="), std::string::npos);
    EXPECT_EQ(settings_get_secret("citizen", "pass"), "open sesame");
    EXPECT_EQ(settings_get_secret("citizen", "missing"), "");
    // A hand-damaged value reads as no password rather than garbage.
    ASSERT_TRUE(settings_put_string("citizen", "pass", "xyz"));
    EXPECT_EQ(settings_get_secret("citizen", "pass"), "");
}
