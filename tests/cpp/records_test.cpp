// Byte ranges through every window size a file may be read with: a range
// that starts in the middle of the file restarts the reader at a record, and
// the concatenated ranges must be the sequential records whatever the cuts.
// Record start tags inside a comment, CDATA or an attribute value are
// stepped over by a range that starts before the construct; one that starts
// inside it cannot tell (the README says so), so those cuts are left out.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "schema/model.hpp"
#include "tessaly/records.hpp"

namespace tessaly::core {
namespace {

std::string records_of(const std::string& path, const schema::SchemaModel& model, RecordOptions options) {
    auto stream = RecordStream::open_file(path, model, "r/a", Convention::BadgerFish, options);
    EXPECT_TRUE(stream.has_value());
    std::string text;
    std::vector<std::size_t> ends;
    Result<bool> more = true;
    while (more && *more) more = (*stream)->read(text, ends, 1);
    EXPECT_TRUE(more.has_value()) << more.error().display();
    return text;
}

TEST(Records, RangesAtEveryCutAndWindowConcatenateToTheSequentialRecords) {
    const std::string doc = "<?xml version=\"1.0\"?>\n<r><a k=\"1\">x<b>2</b></a> <!-- <a> --> <a>&amp;<![CDATA[<a>]]></a>"
                            "<z t='<a>'><y/></z>\n<a/></r>";
    const std::string path = (std::filesystem::temp_directory_path() / "tessaly_records_test.xml").string();
    std::ofstream(path, std::ios::binary) << doc;
    schema::SchemaModel model;
    const std::string whole = records_of(path, model, {});
    ASSERT_EQ(whole, "{\"$\":\"x\",\"b\":\"2\"}\n\"&<a>\"\nnull\n");
    for (std::size_t window : {1u, 5u, 64u}) {
        for (std::size_t cut = 0; cut <= doc.size(); ++cut) {
            bool inside = false;
            for (auto [open, close] : {std::pair{"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<z", ">"}}) {
                const std::size_t a = doc.find(open), b = doc.find(close, a);
                inside = inside || (cut > a && cut <= b);
            }
            if (inside) continue;
            RecordOptions first{.window_size = window, .byte_range = ByteRange{0, cut}};
            RecordOptions second{.window_size = window, .byte_range = ByteRange{cut, doc.size()}};
            EXPECT_EQ(records_of(path, model, first) + records_of(path, model, second), whole)
                << "window " << window << ", cut " << cut;
        }
    }
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace tessaly::core
