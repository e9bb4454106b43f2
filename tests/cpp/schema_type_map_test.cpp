// The built-in type names and the kinds they map to; every other name,
// however near, maps to none.
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "schema/type_map.hpp"

namespace tessaly::schema {
namespace {

using J = JsonType;

const std::vector<std::pair<std::string, JsonType>>& builtins() {
    static const auto table = [] {
        const std::pair<JsonType, const char*> kinds[] = {
            {J::String,
             "ID Name date time gDay token IDREF QName gYear string NCName IDREFS ENTITY anyURI gMonth NMTOKEN "
             "language NMTOKENS ENTITIES NOTATION dateTime duration gMonthDay hexBinary gYearMonth base64Binary "
             "anySimpleType normalizedString"},
            {J::Integer,
             "int long byte short integer unsignedInt unsignedLong unsignedByte unsignedShort negativeInteger "
             "positiveInteger nonPositiveInteger nonNegativeInteger"},
            {J::Float, "float double decimal"},
            {J::Boolean, "boolean"},
        };
        std::vector<std::pair<std::string, JsonType>> t;
        for (const auto& [kind, names] : kinds) {
            std::istringstream in(names);
            for (std::string n; in >> n;) t.emplace_back(n, kind);
        }
        return t;
    }();
    return table;
}

bool is_builtin(const std::string& s) {
    for (const auto& [name, type] : builtins())
        if (name == s) return true;
    return false;
}

TEST(TypeMap, BuiltinNamesAndTheirNearMisses) {
    ASSERT_EQ(builtins().size(), 45u);
    for (const auto& [name, type] : builtins()) {
        EXPECT_EQ(xsd_builtin_to_json(name), type) << name;
        // Case changes, prefixes and extensions: the comparison is exact over the whole name.
        std::vector<std::string> near = {name + "x", " " + name, "xs:" + name};
        for (std::size_t i = 0; i < name.size(); ++i) {
            std::string flipped = name;
            flipped[i] = static_cast<char>(flipped[i] ^ 0x20);
            near.push_back(flipped);
            near.push_back(name.substr(0, i));
        }
        for (const std::string& n : near)
            if (!is_builtin(n)) EXPECT_EQ(xsd_builtin_to_json(n), J::Absent) << n;
    }
    for (const std::string& n : std::vector<std::string>{"", "i", "Int", "INT", "bool", "anyType", "normalizedstring", "dateTimeStamp",
                                "dayTimeDuration", "yearMonthDuration", "anyAtomicType", "xs:int",
                                // 14 and 17 bytes: no name of these lengths exists; then 19 bytes and more
                                "unsignedIntege", "gYearMonthDays", "nonNegativeIntege", "positiveIntegerXY",
                                "nonNegativeIntegers", "nonNegativeIntegerXX", std::string("int\0", 4), std::string("in\0", 3)})
        EXPECT_EQ(xsd_builtin_to_json(n), J::Absent) << n;
}

}  // namespace
}  // namespace tessaly::schema
