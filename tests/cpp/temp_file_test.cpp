// The temporary file's own guarantees; what callers see of it (nothing left
// behind, planted links, unusable directories) is in tests/python/test_temp_file.py.
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

std::string slurp(const std::string& path) {
    std::stringstream ss;
    ss << std::ifstream(path, std::ios::binary).rdbuf();
    return ss.str();
}

TEST(TempFile, FreshOwnerOnlyNamesHoldTheBytesUntilTheObjectGoes) {
    char pattern[] = "/tmp/tessaly_temp_file_test_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern, contents("<xs:schema>\0\xff</xs:schema>", 25);
    std::string path;
    {
        auto file = TempFile::create(dir, "_tessaly_", ".xsd", contents);
        auto other = TempFile::create(dir, "_tessaly_", ".xsd", "b");
        ASSERT_TRUE(file && other) << (file ? other.error() : file.error());
        path = file->path();
        EXPECT_NE(path, other->path());
        const std::string name = path.substr(dir.size() + 1);
        EXPECT_EQ(path.substr(0, dir.size() + 1), dir + "/");
        EXPECT_TRUE(name.starts_with("_tessaly_") && name.ends_with(".xsd") && name.size() > 13) << name;
        struct stat st;
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(slurp(path), contents);
        EXPECT_EQ(slurp(other->path()), "b");
        TempFile moved(std::move(*file));  // the moved-from object removes nothing
        EXPECT_EQ(moved.path(), path);
    }
    EXPECT_EQ(::rmdir(dir.c_str()), 0) << "a file was left behind";
}

TEST(TempFile, DirectoryFollowsTmpdirAndFallsBackToTmp) {
    const char* saved = std::getenv("TMPDIR");
    const std::string keep = saved ? saved : "";
    for (const char* value : {"/var/somewhere", "", static_cast<const char*>(nullptr)}) {
        value ? ::setenv("TMPDIR", value, 1) : ::unsetenv("TMPDIR");
        EXPECT_EQ(tessaly::io::temp_dir(), value && *value ? value : "/tmp");
    }
    if (saved) ::setenv("TMPDIR", keep.c_str(), 1);
}

}  // namespace
