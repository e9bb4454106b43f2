#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "io/temp_file.hpp"

namespace {

using tessaly::io::TempFile;

class TempFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tessaly_temp_file_test_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { ::rmdir(dir_.c_str()); }  // fails, and so shows, when a file is left

    bool dir_is_empty() const { return ::rmdir(dir_.c_str()) == 0 && ::mkdir(dir_.c_str(), 0700) == 0; }

    std::string dir_;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST_F(TempFileTest, HoldsTheBytesOwnerOnlyAndIsRemovedWithTheObject) {
    const std::string contents("<xs:schema>\0\xff</xs:schema>", 25);
    std::string path;
    {
        auto file = TempFile::create(dir_, "_tessaly_", ".xsd", contents);
        ASSERT_TRUE(file.has_value()) << file.error();
        path = file->path();
        std::string name = path.substr(dir_.size() + 1);
        EXPECT_EQ(path.substr(0, dir_.size() + 1), dir_ + "/");
        EXPECT_EQ(name.rfind("_tessaly_", 0), 0u) << name;
        EXPECT_GT(name.size(), std::string("_tessaly_.xsd").size());
        EXPECT_EQ(name.substr(name.size() - 4), ".xsd");
        struct stat st;
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(slurp(path), contents);

        TempFile moved(std::move(*file));  // the moved-from object removes nothing
        EXPECT_EQ(moved.path(), path);
    }
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
    EXPECT_TRUE(dir_is_empty());
}

TEST_F(TempFileTest, NamesDifferBetweenLiveFiles) {
    auto a = TempFile::create(dir_, "_tessaly_", ".xsd", "a");
    auto b = TempFile::create(dir_, "_tessaly_", ".xsd", "b");
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->path(), b->path());
    EXPECT_EQ(slurp(a->path()), "a");
    EXPECT_EQ(slurp(b->path()), "b");
}

TEST(TempDir, FollowsTmpdirAndFallsBackToTmp) {
    const char* saved = std::getenv("TMPDIR");
    std::string keep = saved ? saved : "";
    ::setenv("TMPDIR", "/var/somewhere", 1);
    EXPECT_EQ(tessaly::io::temp_dir(), "/var/somewhere");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(tessaly::io::temp_dir(), "/tmp");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(tessaly::io::temp_dir(), "/tmp");
    if (saved) ::setenv("TMPDIR", keep.c_str(), 1);
}

}  // namespace
