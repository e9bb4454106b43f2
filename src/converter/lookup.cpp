#include "converter/lookup.hpp"

#include "converter/coerce.hpp"
#include "converter/names.hpp"
#include "xml/reader.hpp"

namespace tessaly::converter {

namespace {

DeclView global_decl(std::string_view local, const schema::SchemaModel& model) {
    if (model.elements.empty()) return {};
    const schema::ElementDef* e = model.find_element(local);
    return e ? global_view(*e) : DeclView{};
}

}  // namespace

DeclView find_elem_def(std::string_view local, std::span<const BuildFrame> open, const schema::SchemaModel& model,
                       json::Arena& arena) {
    if (!open.empty()) {
        const DeclView& parent = open.back().def;
        if (parent && parent.type->is_complex()) return find_child(parent, local, arena);
    }
    return global_decl(local, model);
}

DeclView override_with_xsi_type(std::string_view attribute_text, DeclView found, const schema::SchemaModel& model,
                                InputText& input) {
    if (!may_switch_type(attribute_text, model)) return found;
    xml::AttributeReader attrs(attribute_text);
    xml::Attribute a;
    while (attrs.next(a)) {
        if (a.name != "xsi:type") continue;
        std::string_view value = input.peek(a.value);
        std::size_t colon = value.find(':');
        std::string_view local = colon == std::string_view::npos ? value : value.substr(colon + 1);
        const schema::TypeDef* type = model.find_type(local);
        if (!type) continue;
        return xsi_type_view(model, found.decl, *type, model.type_name_id(local), input.arena());
    }
    return found;
}

void collect_attributes(std::string_view attribute_text, const DeclView& def, InputText& input,
                        DeclKeys<schema::AttributeDef>& keys, std::vector<json::Member>& out) {
    if (!def || !def.type->is_complex()) return;
    const schema::ComplexTypeDef& type = def.type->complex;
    xml::AttributeReader attrs(attribute_text);
    xml::Attribute a;
    while (attrs.next(a)) {
        // The name is only peeked at: the key keeps its own copy.
        std::string_view name = input.peek(a.name);
        const schema::AttributeDef* decl = nullptr;
        schema::visit_content(type, [&](const schema::ComplexTypeDef& part) {
            for (const auto& d : part.attributes)
                if (same_name(d.name, name)) {
                    decl = &d;
                    return true;
                }
            return false;
        });
        json::KeyId key = keys.key(name, decl);
        std::string_view value = input.keep(a.value);
        json::append_member(out, key, decl ? coerce_value(value, decl->json_type) : json::Value::string(value));
    }
}

}  // namespace tessaly::converter
