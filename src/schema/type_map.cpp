#include "schema/type_map.hpp"

namespace tessaly::schema {

namespace {

struct Entry {
    std::string_view name;
    JsonType type;
};

constexpr JsonType S = JsonType::String;
constexpr JsonType I = JsonType::Integer;
constexpr JsonType F = JsonType::Float;
constexpr JsonType B = JsonType::Boolean;

// One row per name length; no length holds more than six names, so a scan of
// the row is as cheap as anything cleverer and keeps the table readable.
constexpr Entry k2[] = {{"ID", S}};
constexpr Entry k3[] = {{"int", I}};
constexpr Entry k4[] = {{"Name", S}, {"date", S}, {"time", S}, {"gDay", S}, {"long", I}, {"byte", I}};
constexpr Entry k5[] = {{"token", S}, {"IDREF", S}, {"QName", S}, {"gYear", S}, {"short", I}, {"float", F}};
constexpr Entry k6[] = {{"string", S}, {"NCName", S}, {"IDREFS", S}, {"ENTITY", S}, {"anyURI", S}, {"gMonth", S},
                        {"double", F}};
constexpr Entry k7[] = {{"NMTOKEN", S}, {"integer", I}, {"decimal", F}, {"boolean", B}};
constexpr Entry k8[] = {{"language", S}, {"NMTOKENS", S}, {"ENTITIES", S},
                        {"NOTATION", S}, {"dateTime", S}, {"duration", S}};
constexpr Entry k9[] = {{"gMonthDay", S}, {"hexBinary", S}};
constexpr Entry k10[] = {{"gYearMonth", S}};
constexpr Entry k11[] = {{"unsignedInt", I}};
constexpr Entry k12[] = {{"base64Binary", S}, {"unsignedLong", I}, {"unsignedByte", I}};
constexpr Entry k13[] = {{"anySimpleType", S}, {"unsignedShort", I}};
constexpr Entry k15[] = {{"negativeInteger", I}, {"positiveInteger", I}};
constexpr Entry k16[] = {{"normalizedString", S}};
constexpr Entry k18[] = {{"nonPositiveInteger", I}, {"nonNegativeInteger", I}};

template <std::size_t N>
JsonType scan(const Entry (&row)[N], std::string_view local) noexcept {
    for (const auto& e : row)
        if (e.name == local) return e.type;
    return JsonType::Absent;
}

}  // namespace

JsonType xsd_builtin_to_json(std::string_view local) noexcept {
    switch (local.size()) {
        case 2: return scan(k2, local);
        case 3: return scan(k3, local);
        case 4: return scan(k4, local);
        case 5: return scan(k5, local);
        case 6: return scan(k6, local);
        case 7: return scan(k7, local);
        case 8: return scan(k8, local);
        case 9: return scan(k9, local);
        case 10: return scan(k10, local);
        case 11: return scan(k11, local);
        case 12: return scan(k12, local);
        case 13: return scan(k13, local);
        case 15: return scan(k15, local);
        case 16: return scan(k16, local);
        case 18: return scan(k18, local);
        default: return JsonType::Absent;  // 0, 1, 14, 17 and 19 or more
    }
}

}  // namespace tessaly::schema
