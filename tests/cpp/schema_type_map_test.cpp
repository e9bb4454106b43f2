#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "schema/type_map.hpp"

namespace tessaly::schema {
namespace {

using J = JsonType;

const std::vector<std::pair<std::string, JsonType>>& builtins() {
    static const std::vector<std::pair<std::string, JsonType>> table = {
        {"ID", J::String},           {"Name", J::String},
        {"date", J::String},         {"time", J::String},
        {"gDay", J::String},         {"token", J::String},
        {"IDREF", J::String},        {"QName", J::String},
        {"gYear", J::String},        {"string", J::String},
        {"NCName", J::String},       {"IDREFS", J::String},
        {"ENTITY", J::String},       {"anyURI", J::String},
        {"gMonth", J::String},       {"NMTOKEN", J::String},
        {"language", J::String},     {"NMTOKENS", J::String},
        {"ENTITIES", J::String},     {"NOTATION", J::String},
        {"dateTime", J::String},     {"duration", J::String},
        {"gMonthDay", J::String},    {"hexBinary", J::String},
        {"gYearMonth", J::String},   {"base64Binary", J::String},
        {"anySimpleType", J::String}, {"normalizedString", J::String},
        {"int", J::Integer},         {"long", J::Integer},
        {"byte", J::Integer},        {"short", J::Integer},
        {"integer", J::Integer},     {"unsignedInt", J::Integer},
        {"unsignedLong", J::Integer}, {"unsignedByte", J::Integer},
        {"unsignedShort", J::Integer}, {"negativeInteger", J::Integer},
        {"positiveInteger", J::Integer}, {"nonPositiveInteger", J::Integer},
        {"nonNegativeInteger", J::Integer}, {"float", J::Float},
        {"double", J::Float},        {"decimal", J::Float},
        {"boolean", J::Boolean},
    };
    return table;
}

bool is_builtin(const std::string& s) {
    for (const auto& [name, type] : builtins())
        if (name == s) return true;
    return false;
}

TEST(TypeMap, EveryBuiltinNameMapsToItsKind) {
    ASSERT_EQ(builtins().size(), 45u);
    for (const auto& [name, type] : builtins()) EXPECT_EQ(xsd_builtin_to_json(name), type) << name;
}

TEST(TypeMap, NearMissesOfBuiltinNamesAreAbsent) {
    // Case changes, prefixes and extensions of every name: the comparison is
    // exact over the whole name.
    for (const auto& [name, type] : builtins()) {
        for (std::size_t i = 0; i < name.size(); ++i) {
            std::string flipped = name;
            char c = flipped[i];
            flipped[i] = (c >= 'a' && c <= 'z') ? char(c - 32) : (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
            if (flipped != name && !is_builtin(flipped)) {
                EXPECT_EQ(xsd_builtin_to_json(flipped), J::Absent) << flipped;
            }
            std::string prefix = name.substr(0, i);
            if (!is_builtin(prefix)) {
                EXPECT_EQ(xsd_builtin_to_json(prefix), J::Absent) << prefix;
            }
        }
        EXPECT_EQ(xsd_builtin_to_json(name + "x"), J::Absent) << name;
        EXPECT_EQ(xsd_builtin_to_json(" " + name), J::Absent) << name;
        EXPECT_EQ(xsd_builtin_to_json("xs:" + name), J::Absent) << name;
    }
}

TEST(TypeMap, NamesOutsideTheTableAreAbsent) {
    for (const char* name : {"", "i", "Int", "INT", "bool", "anyType", "normalizedstring", "dateTimeStamp",
                             "dayTimeDuration", "yearMonthDuration", "anyAtomicType", "xs:int",
                             // 14 and 17 bytes: no name of these lengths exists
                             "unsignedIntege", "gYearMonthDays", "nonNegativeIntege", "positiveIntegerXY",
                             // 19 bytes and more
                             "nonNegativeIntegers", "nonNegativeIntegerXX"})
        EXPECT_EQ(xsd_builtin_to_json(name), J::Absent) << name;
}

TEST(TypeMap, NameWithEmbeddedNulIsAbsent) {
    EXPECT_EQ(xsd_builtin_to_json(std::string_view("int\0", 4)), J::Absent);
    EXPECT_EQ(xsd_builtin_to_json(std::string_view("in\0", 3)), J::Absent);
}

}  // namespace
}  // namespace tessaly::schema
