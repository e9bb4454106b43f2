#include "schema/parser.hpp"

#include <cstring>

#include "messages.hpp"
#include "schema/type_map.hpp"
#include "xml/utf8.hpp"

namespace tessaly::schema {

namespace {

// What the handlers of one document share: the load's context, the
// document's open constructs, and how values are taken from its text.
struct Doc {
    ParseContext& ctx;
    XsdStack& stack;
    // The whole text is UTF-8, and so then is every value in it (each lies
    // between ASCII delimiters): values are used as they are.
    bool utf8;
    // Emptied lists of children, kept for the next complex type or group.
    std::vector<std::vector<ElementDef>>& spare;

    // A list for a new frame's children: one that held an earlier frame's,
    // so that it seldom has to grow.
    std::vector<ElementDef> children_list() {
        if (spare.empty()) return {};
        std::vector<ElementDef> list = std::move(spare.back());
        spare.pop_back();
        return list;
    }
    // The children a frame collected, in a list of their own size; the
    // frame's list is kept for the next frame.
    std::vector<ElementDef> settle(std::vector<ElementDef>& collected) {
        std::vector<ElementDef> out;
        if (!collected.empty()) {
            out.reserve(collected.size());
            for (ElementDef& e : collected) out.push_back(std::move(e));
            collected.clear();
        }
        spare.push_back(std::move(collected));
        return out;
    }

    // A value as text: the raw bytes when they are UTF-8, else decoded with
    // replacement into a text the context keeps until the load ends.
    std::string_view text(std::string_view raw) {
        if (utf8 || xml::is_utf8(raw)) return raw;
        std::string& out = ctx.texts.emplace_back();
        xml::append_utf8_lossy(out, raw);
        return out;
    }
    std::optional<std::string_view> text(const std::optional<std::string_view>& raw) {
        if (!raw) return std::nullopt;
        return text(*raw);
    }
};

// Text outside a document (its root's bindings): decoded with replacement
// when it is not UTF-8.
std::string lossy_str(std::string_view raw) {
    if (xml::is_utf8(raw)) return std::string(raw);
    std::string out;
    xml::append_utf8_lossy(out, raw);
    return out;
}

// The attributes the parser reads, collected in one walk over the tag; the
// first occurrence of a name wins. Names are matched raw for the same reason
// as tag names; values stay raw until they are used.
struct XsdAttributes {
    std::optional<std::string_view> name, ref, type, min_occurs, max_occurs, use, mixed, base, schema_location,
        substitution_group, member_types;
};

XsdAttributes collect_attributes(std::string_view attribute_text) {
    XsdAttributes a;
    // Repeated names are not skipped by the reader: `take` keeps the first
    // occurrence of each name it reads, which is what skipping would give.
    xml::AttributeReader reader(attribute_text, /*skip_repeated=*/false);
    xml::Attribute attr;
    auto take = [&](std::optional<std::string_view>& slot) {
        if (!slot) slot = attr.value;
    };
    while (reader.next(attr)) {
        std::string_view n = attr.name;
        switch (n.size()) {
            case 3:
                if (n == "ref") take(a.ref);
                else if (n == "use") take(a.use);
                break;
            case 4:
                if (n == "name") take(a.name);
                else if (n == "type") take(a.type);
                else if (n == "base") take(a.base);
                break;
            case 5:
                if (n == "mixed") take(a.mixed);
                break;
            case 9:
                if (n == "minOccurs") take(a.min_occurs);
                else if (n == "maxOccurs") take(a.max_occurs);
                break;
            case 11:
                if (n == "memberTypes") take(a.member_types);
                break;
            case 14:
                if (n == "schemaLocation") take(a.schema_location);
                break;
            case 17:
                if (n == "substitutionGroup") take(a.substitution_group);
                break;
            default: break;
        }
    }
    return a;
}

bool is_xsd_namespace(const std::optional<std::string_view>& ns) { return ns && *ns == kXsdNamespace; }

frame::ComplexType* nearest_complex_type(XsdStack& stack) {
    for (auto it = stack.rbegin(); it != stack.rend(); ++it)
        if (auto* ct = std::get_if<frame::ComplexType>(&*it)) return ct;
    return nullptr;
}

// The stack position of the nearest ComplexType frame, or kDropped.
std::size_t nearest_complex_index(const XsdStack& stack) {
    for (std::size_t i = stack.size(); i-- > 0;)
        if (std::holds_alternative<frame::ComplexType>(stack[i])) return i;
    return frame::kDropped;
}

bool complete(const ParseContext& ctx) { return ctx.resolution == Resolution::Complete; }

// Whether a compositor between the top of the stack and the nearest complex
// type (or group) repeats: then everything declared here may occur more than once.
bool repeats_around(const XsdStack& stack) {
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        if (std::holds_alternative<frame::ComplexType>(*it)) return false;
        if (auto* c = std::get_if<frame::Compositor>(&*it); c && c->repeats) return true;
    }
    return false;
}

struct TypeRef {
    bool builtin = false;
    std::string_view local;
};

// A type or base value: in the XSD namespace or not, and its local part.
// The literal profile resolves every prefix through the bindings of all
// roots read so far and no prefix through the target namespace; the
// complete one through the bindings of the document's own root, no prefix
// through its default namespace (or, as literally, a target namespace that
// is the XSD one).
TypeRef type_ref(const ParseContext& ctx, std::string_view value) {
    if (!complete(ctx) || !ctx.bindings) {
        PrefixedName n = resolve_prefixed_name(ctx, value);
        return {is_xsd_namespace(n.namespace_uri), n.local};
    }
    std::size_t colon = value.find(':');
    if (colon == std::string_view::npos) {
        const auto& d = ctx.bindings->default_namespace;
        bool builtin = (d && *d == kXsdNamespace) || (ctx.target_namespace && *ctx.target_namespace == kXsdNamespace);
        return {builtin, value};
    }
    auto it = ctx.bindings->prefixes.find(value.substr(0, colon));
    return {it != ctx.bindings->prefixes.end() && it->second == kXsdNamespace, value.substr(colon + 1)};
}

JsonType builtin_kind(const ParseContext& ctx, std::string_view local) {
    return complete(ctx) ? xsd_builtin_to_json_complete(local) : xsd_builtin_to_json(local);
}

void element_start(Doc& doc, const XsdAttributes& a) {
    ParseContext& ctx = doc.ctx;
    XsdStack& stack = doc.stack;
    std::uint64_t min = min_occurs_of(a.min_occurs);
    MaxOccurs max = max_occurs_of(a.max_occurs);
    if (complete(ctx) && repeats_around(stack)) max = MaxOccurs::unbounded_value();

    if (a.ref) {
        // Literally a reference is kept by the referenced local name only and
        // never followed, so its type comes from resolution by name, if at
        // all; the complete profile follows it when converting.
        frame::ComplexType* ct = nearest_complex_type(stack);
        if (!ct) return;
        ElementDef& d = ct->children.emplace_back();
        d.name.local = std::string(local_part(doc.text(*a.ref)));
        d.min_occurs = min;
        d.max_occurs = max;
        if (complete(ctx)) d.particle = ElementDef::Particle::ElementRef;
        return;
    }
    if (!a.name) return;

    // The declaration is made where it goes: a global one in the model, a
    // local one among the children of the nearest complex type (or group).
    const std::string_view name = doc.text(*a.name);
    frame::Element f{name, frame::kDropped, 0};
    std::optional<ElementDef> dropped;  // made only for a declaration that goes nowhere
    ElementDef* d = nullptr;
    if (!stack.empty() && std::holds_alternative<frame::SchemaRoot>(stack.back())) {
        f.owner = frame::kGlobal;
        auto [it, inserted] = ctx.model.elements.try_emplace(std::string(name));
        if (!inserted) it->second = ElementDef{};  // a later declaration replaces
        d = &it->second;
    } else if (std::size_t owner = nearest_complex_index(stack); owner != frame::kDropped) {
        auto& children = std::get<frame::ComplexType>(stack[owner]).children;
        f.owner = owner;
        f.index = children.size();
        d = &children.emplace_back();
    } else {
        d = &dropped.emplace();
    }
    d->name.local = std::string(name);
    d->min_occurs = min;
    d->max_occurs = max;
    if (a.type) {
        TypeRef t = type_ref(ctx, doc.text(*a.type));
        d->has_type = complete(ctx);
        if (t.builtin) {
            JsonType k = builtin_kind(ctx, t.local);
            d->type_def.simple = k == JsonType::Absent ? JsonType::String : k;
        } else {
            ctx.element_types.insert_or_assign(name, t.local);
            if (complete(ctx)) d->type_name = std::string(t.local);
        }
    }
    if (complete(ctx) && a.substitution_group)
        d->substitution_head = std::string(local_name(doc.text(*a.substitution_group)));

    // Pushed even when the declaration was dropped, so that an anonymous type
    // inside it is not given to an enclosing element.
    stack.emplace_back(std::in_place_type<frame::Element>, f);
}

void complete_attribute_start(Doc& doc, const XsdAttributes& a);

void attribute_start(Doc& doc, const XsdAttributes& a) {
    ParseContext& ctx = doc.ctx;
    if (complete(ctx)) return complete_attribute_start(doc, a);
    frame::ComplexType* ct = nearest_complex_type(doc.stack);
    if (!ct) return;
    AttributeDef& d = ct->attributes.emplace_back();
    if (a.name) d.name = std::string(doc.text(*a.name));
    d.required = a.use && *a.use == "required";
    PrefixedName t = resolve_prefixed_name(ctx, doc.text(a.type.value_or(std::string_view{})));
    if (is_xsd_namespace(t.namespace_uri)) {
        JsonType k = xsd_builtin_to_json(t.local);
        if (k != JsonType::Absent) d.json_type = k;
    }
}

// An attribute of the complete profile: references and types kept by name
// for resolution, global ones kept, a frame pushed for an anonymous type.
void complete_attribute_start(Doc& doc, const XsdAttributes& a) {
    ParseContext& ctx = doc.ctx;
    XsdStack& stack = doc.stack;
    AttributeDef d;
    std::string_view name;
    if (a.name) name = doc.text(*a.name);
    d.required = a.use && *a.use == "required";
    if (a.ref) {
        d.kind = AttributeDef::Kind::Ref;
        name = local_name(doc.text(*a.ref));
    } else if (a.type) {
        TypeRef t = type_ref(ctx, doc.text(*a.type));
        JsonType k = t.builtin ? builtin_kind(ctx, t.local) : JsonType::Absent;
        if (k != JsonType::Absent) d.json_type = k;
        if (!t.builtin) d.type_name = std::string(t.local);
    }
    d.name = std::string(name);
    frame::Attribute f{name, frame::kDropped, 0};
    if (!stack.empty() && std::holds_alternative<frame::SchemaRoot>(stack.back())) {
        f.owner = frame::kGlobal;
        if (d.kind == AttributeDef::Kind::Declared) ctx.model.global_attributes.insert_or_assign(d.name, std::move(d));
    } else if (std::size_t owner = nearest_complex_index(stack); owner != frame::kDropped) {
        auto& attributes = std::get<frame::ComplexType>(stack[owner]).attributes;
        f.owner = owner;
        f.index = attributes.size();
        attributes.push_back(std::move(d));
    }
    stack.emplace_back(std::in_place_type<frame::Attribute>, f);
}

// A union of the complete profile: its memberTypes, each built in or named.
void union_start(Doc& doc, const Tag& tag, frame::SimpleType& st) {
    st.is_union = true;
    constexpr std::string_view kSpace = " \t\r\n";
    std::string_view rest = doc.text(collect_attributes(tag.body).member_types.value_or(std::string_view{}));
    for (std::size_t start; (start = rest.find_first_not_of(kSpace)) != std::string_view::npos;) {
        rest.remove_prefix(start);
        std::string_view member = rest.substr(0, rest.find_first_of(kSpace));
        rest.remove_prefix(member.size());
        TypeRef t = type_ref(doc.ctx, member);
        if (t.builtin)
            st.members.kinds.push_back(builtin_kind(doc.ctx, t.local));
        else
            st.members.names.emplace_back(t.local);
    }
}

// A group or attribute group of the complete profile: a definition collects
// like a complex type; a reference is an entry where it stands.
void group_start(Doc& doc, const XsdAttributes& a, bool attribute_group) {
    XsdStack& stack = doc.stack;
    if (a.name && !a.ref) {
        frame::ComplexType f;
        f.definition = attribute_group ? frame::ComplexType::Definition::AttributeGroup
                                       : frame::ComplexType::Definition::Group;
        f.name = doc.text(*a.name);
        f.children = doc.children_list();
        stack.emplace_back(std::in_place_type<frame::ComplexType>, std::move(f));
        return;
    }
    if (a.ref) {
        if (frame::ComplexType* ct = nearest_complex_type(stack)) {
            std::string name(local_name(doc.text(*a.ref)));
            if (attribute_group) {
                AttributeDef d;
                d.kind = AttributeDef::Kind::GroupRef;
                d.name = std::move(name);
                ct->attributes.push_back(std::move(d));
            } else {
                ElementDef d;
                d.particle = ElementDef::Particle::GroupRef;
                d.name.local = std::move(name);
                d.min_occurs = min_occurs_of(a.min_occurs);
                d.max_occurs = repeats_around(stack) ? MaxOccurs::unbounded_value() : max_occurs_of(a.max_occurs);
                ct->children.push_back(std::move(d));
            }
        }
    }
    stack.emplace_back(std::in_place_type<frame::Reference>);
}

// The end of a group or attribute group of the complete profile.
void group_end(Doc& doc) {
    ParseContext& ctx = doc.ctx;
    XsdStack& stack = doc.stack;
    if (stack.empty()) return;
    if (std::holds_alternative<frame::Reference>(stack.back())) {
        stack.pop_back();
        return;
    }
    auto* ct = std::get_if<frame::ComplexType>(&stack.back());
    if (!ct || ct->definition == frame::ComplexType::Definition::Type) return;
    ComplexTypeDef c;
    c.children = doc.settle(ct->children);
    c.attributes = std::move(ct->attributes);
    auto& into = ct->definition == frame::ComplexType::Definition::Group ? ctx.model.groups : ctx.model.attribute_groups;
    if (ct->name) into.insert_or_assign(std::string(*ct->name), std::move(c));
    stack.pop_back();
}

void derivation_start(Doc& doc, const XsdAttributes& a) {
    ParseContext& ctx = doc.ctx;
    XsdStack& stack = doc.stack;
    if (!a.base) return;
    TypeRef b = type_ref(ctx, doc.text(*a.base));
    bool builtin = b.builtin;
    if (!stack.empty()) {
        if (auto* ct = std::get_if<frame::ComplexType>(&stack.back())) {
            if (builtin)
                ct->text_type = builtin_kind(ctx, b.local);
            else if (ct->name)
                ctx.complex_bases.insert_or_assign(*ct->name, b.local);
            if (!builtin && complete(ctx)) ct->base_name = std::string(b.local);
        } else if (auto* st = std::get_if<frame::SimpleType>(&stack.back())) {
            if (builtin)
                st->base_kind = builtin_kind(ctx, b.local);
            else if (st->name)
                ctx.simple_bases.insert_or_assign(*st->name, b.local);
            if (!builtin && complete(ctx)) st->base_name = std::string(b.local);
        }
    }
    stack.emplace_back(std::in_place_type<frame::Derivation>);
}

template <class Frame>
void pop_if(XsdStack& stack) {
    if (!stack.empty() && std::holds_alternative<Frame>(stack.back())) stack.pop_back();
}

}  // namespace

JsonType union_kind(const std::vector<JsonType>& kinds) noexcept {
    if (kinds.empty()) return JsonType::String;
    bool integers = true, numbers = true, booleans = true, floats = false;
    for (JsonType k : kinds) {
        const bool integer = k == JsonType::Integer || k == JsonType::ExactInteger;
        const bool number = integer || k == JsonType::Float || k == JsonType::ExactDecimal;
        integers = integers && integer;
        numbers = numbers && number;
        booleans = booleans && k == JsonType::Boolean;
        floats = floats || k == JsonType::Float;
    }
    if (integers) return JsonType::ExactInteger;
    if (numbers) return floats ? JsonType::Float : JsonType::ExactDecimal;
    return booleans ? JsonType::Boolean : JsonType::String;
}

PrefixedName resolve_prefixed_name(const ParseContext& context, std::string_view name) noexcept {
    PrefixedName out;
    std::size_t colon = name.find(':');
    if (colon == std::string_view::npos) {
        out.local = name;
        if (context.target_namespace) out.namespace_uri = *context.target_namespace;
        return out;
    }
    out.local = name.substr(colon + 1);
    auto it = context.prefixes.find(name.substr(0, colon));
    if (it != context.prefixes.end()) out.namespace_uri = it->second;
    return out;
}

std::optional<std::uint64_t> parse_occurrence_number(std::string_view text) noexcept {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::uint64_t min_occurs_of(std::optional<std::string_view> attribute) noexcept {
    if (!attribute) return 1;
    return parse_occurrence_number(*attribute).value_or(1);
}

MaxOccurs max_occurs_of(std::optional<std::string_view> attribute) noexcept {
    if (!attribute) return MaxOccurs::bounded(1);
    if (*attribute == "unbounded") return MaxOccurs::unbounded_value();
    return MaxOccurs::bounded(parse_occurrence_number(*attribute).value_or(1));
}

void prescan_root(ParseContext& context, std::string_view text, Bindings* own) {
    xml::Reader reader(text);
    xml::Event ev;
    for (;;) {
        if (!reader.next(ev) || ev.kind == xml::EventKind::EndOfInput) return;
        if (ev.kind != xml::EventKind::StartTag && ev.kind != xml::EventKind::EmptyTag) continue;
        // Every occurrence of a repeated attribute counts here, in order.
        xml::AttributeReader attrs(ev.body, /*skip_repeated=*/false);
        xml::Attribute a;
        while (attrs.next(a)) {
            if (a.name == "targetNamespace") {
                if (!context.target_namespace) context.target_namespace = lossy_str(a.value);
            } else if (a.name.starts_with("xmlns:")) {
                context.prefixes.insert_or_assign(lossy_str(a.name.substr(6)), lossy_str(a.value));
                if (own) own->prefixes.insert_or_assign(lossy_str(a.name.substr(6)), lossy_str(a.value));
            } else if (own && a.name == "xmlns") {
                own->default_namespace = lossy_str(a.value);
            }
        }
        return;
    }
}

namespace {

void attach_inline_type(ParseContext& context, TypeDef type, XsdStack& stack);

// Handles one start tag (or the start of an empty-element tag) of kind
// `kind`; gives the location of an include or import.
std::optional<std::string> handle_start_element(Doc& doc, const Tag& tag) {
    const XsdName kind = tag.name;
    ParseContext& context = doc.ctx;
    XsdStack& stack = doc.stack;
    switch (kind) {
        case XsdName::Schema: stack.emplace_back(std::in_place_type<frame::SchemaRoot>); break;
        case XsdName::Compositor: {
            frame::Compositor f;
            if (complete(context)) f.repeats = max_occurs_of(collect_attributes(tag.body).max_occurs).always_array();
            stack.emplace_back(f);
            break;
        }
        case XsdName::ComplexType: {
            XsdAttributes a = collect_attributes(tag.body);
            frame::ComplexType& f = std::get<frame::ComplexType>(stack.emplace_back(std::in_place_type<frame::ComplexType>));
            f.name = doc.text(a.name);
            f.children = doc.children_list();
            f.mixed = a.mixed && *a.mixed == "true";
            break;
        }
        case XsdName::SimpleType: {
            XsdAttributes a = collect_attributes(tag.body);
            stack.emplace_back(std::in_place_type<frame::SimpleType>, doc.text(a.name));
            break;
        }
        case XsdName::Derivation: derivation_start(doc, collect_attributes(tag.body)); break;
        case XsdName::Attribute: attribute_start(doc, collect_attributes(tag.body)); break;
        case XsdName::Element: element_start(doc, collect_attributes(tag.body)); break;
        case XsdName::Include: {
            XsdAttributes a = collect_attributes(tag.body);
            if (a.schema_location) return std::string(doc.text(*a.schema_location));
            break;
        }
        case XsdName::Union:
            if (complete(context) && !stack.empty())
                if (auto* st = std::get_if<frame::SimpleType>(&stack.back())) union_start(doc, tag, *st);
            break;
        case XsdName::Group:
        case XsdName::AttributeGroup:
            // Literally these are read through as if they were not there.
            if (complete(context)) group_start(doc, collect_attributes(tag.body), kind == XsdName::AttributeGroup);
            break;
        case XsdName::Other: break;
    }
    return std::nullopt;
}

// Types are kept by local name, so a type derived from a type of the same
// local name in another namespace (UBL's udt:AmountType restricting
// ccts-cct:AmountType) would replace its own base and derive from itself.
// The complete profile gives it what it inherits at once instead: the base's
// text kind, children and attributes ahead of its own, and the base's base.
void store_named_type(ParseContext& context, std::string_view name, TypeDef t) {
    auto& types = context.model.types;
    if (complete(context) && t.base_name == name) {
        auto old = types.find(name);
        if (old != types.end()) {
            TypeDef& base = old->second;
            if (!t.is_complex()) {
                t.simple = base.is_complex() ? base.complex.text_type : base.simple;
                if (t.simple == JsonType::Absent) t.simple = JsonType::String;
            } else {
                if (t.complex.text_type == JsonType::Absent)
                    t.complex.text_type = base.is_complex() ? base.complex.text_type : base.simple;
                // Bounded over the load: a hostile schema could redefine one
                // name many times, each copy taking all the ones before.
                const std::size_t size = base.complex.children.size() + base.complex.attributes.size();
                if (base.is_complex() && context.merged_entries + size <= kMaxMergedEntries) {
                    context.merged_entries += size;
                    auto& c = t.complex;
                    c.children.insert(c.children.begin(), base.complex.children.begin(), base.complex.children.end());
                    c.attributes.insert(c.attributes.begin(), base.complex.attributes.begin(),
                                        base.complex.attributes.end());
                }
            }
            t.base_name = base.base_name;
            old->second = std::move(t);
            return;
        }
    }
    types.insert_or_assign(std::string(name), std::move(t));
}

void handle_end_element(Doc& doc, XsdName kind) {
    ParseContext& context = doc.ctx;
    XsdStack& stack = doc.stack;
    switch (kind) {
        case XsdName::Element: pop_if<frame::Element>(stack); break;
        case XsdName::Compositor: pop_if<frame::Compositor>(stack); break;
        case XsdName::Derivation: pop_if<frame::Derivation>(stack); break;
        case XsdName::Attribute: pop_if<frame::Attribute>(stack); break;
        case XsdName::Group:
        case XsdName::AttributeGroup:
            if (complete(context)) group_end(doc);
            break;
        case XsdName::Schema:
            if (!stack.empty()) stack.pop_back();
            break;
        case XsdName::SimpleType: {
            // The top frame goes, whatever it is.
            if (stack.empty()) break;
            auto* st = std::get_if<frame::SimpleType>(&stack.back());
            if (!st) {
                stack.pop_back();
                break;
            }
            TypeDef t = TypeDef::simple_of(st->base_kind == JsonType::Absent ? JsonType::String : st->base_kind);
            t.base_name = std::move(st->base_name);
            const std::optional<std::string_view> name = st->name;
            if (st->is_union) {
                // Named members are resolved with the rest of the schema.
                t.simple = st->members.names.empty() ? union_kind(st->members.kinds) : JsonType::String;
                if (!st->members.names.empty() && name)
                    context.unions.insert_or_assign(std::string(*name), std::move(st->members));
            }
            stack.pop_back();
            if (name)
                store_named_type(context, *name, std::move(t));
            else
                attach_inline_type(context, std::move(t), stack);
            break;
        }
        case XsdName::ComplexType: {
            if (stack.empty()) break;
            auto* ct = std::get_if<frame::ComplexType>(&stack.back());
            if (!ct) {
                stack.pop_back();
                break;
            }
            TypeDef t;
            t.kind = TypeDef::Kind::Complex;
            t.complex.children = doc.settle(ct->children);
            t.complex.attributes = std::move(ct->attributes);
            t.complex.mixed = ct->mixed;
            t.complex.text_type = ct->text_type;
            t.base_name = std::move(ct->base_name);
            const std::optional<std::string_view> name = ct->name;
            stack.pop_back();
            if (name)
                store_named_type(context, *name, std::move(t));
            else
                attach_inline_type(context, std::move(t), stack);
            break;
        }
        default: break;
    }
}

// The first child of `ct` named `name`. A few children are scanned; past
// that, an index of first occurrences is brought up to date, so that a type
// with many children, each with an inline type, is not scanned once each.
ElementDef* first_child_named(frame::ComplexType& ct, std::string_view name) {
    constexpr std::size_t kScanned = 16;
    auto& children = ct.children;
    if (children.size() <= kScanned) {
        for (auto& c : children)
            if (c.name.local == name) return &c;
        return nullptr;
    }
    for (; ct.indexed < children.size(); ++ct.indexed) ct.first_child.try_emplace(children[ct.indexed].name.local, ct.indexed);
    auto it = ct.first_child.find(name);
    return it == ct.first_child.end() ? nullptr : &children[it->second];
}

// The complete profile gives an anonymous type to the declaration it stands
// in, and to nothing else: one inside a list, a union or a derivation is
// dropped.
void complete_attach(ParseContext& context, TypeDef type, XsdStack& stack) {
    if (stack.empty()) return;
    // An anonymous member of a union.
    if (auto* st = std::get_if<frame::SimpleType>(&stack.back()); st && st->is_union && !type.is_complex()) {
        if (type.base_name.empty())
            st->members.kinds.push_back(type.simple);
        else
            st->members.names.push_back(std::move(type.base_name));
        return;
    }
    if (auto* e = std::get_if<frame::Element>(&stack.back())) {
        ElementDef* d = nullptr;
        if (e->owner == frame::kGlobal) {
            auto g = context.model.elements.find(e->name);
            if (g != context.model.elements.end()) d = &g->second;
        } else if (e->owner != frame::kDropped) {
            d = &std::get<frame::ComplexType>(stack[e->owner]).children[e->index];
        }
        if (d) {
            d->type_def = std::move(type);
            d->has_type = true;
        }
        return;
    }
    auto* at = std::get_if<frame::Attribute>(&stack.back());
    if (!at || type.is_complex()) return;
    AttributeDef* d = nullptr;
    if (at->owner == frame::kGlobal) {
        auto g = context.model.global_attributes.find(at->name);
        if (g != context.model.global_attributes.end()) d = &g->second;
    } else if (at->owner != frame::kDropped) {
        d = &std::get<frame::ComplexType>(stack[at->owner]).attributes[at->index];
    }
    if (!d) return;
    d->json_type = type.simple;
    d->type_name = std::move(type.base_name);
}

void attach_inline_type(ParseContext& context, TypeDef type, XsdStack& stack) {
    if (complete(context)) return complete_attach(context, std::move(type), stack);
    const frame::Element* open = nullptr;
    for (auto it = stack.rbegin(); it != stack.rend() && !open; ++it) open = std::get_if<frame::Element>(&*it);
    if (!open) return;
    const std::string_view n = open->name;

    // A global declaration of the same name takes the type first, even when
    // the open element is a local one.
    auto& elements = context.model.elements;
    if (!elements.empty()) {
        auto g = elements.find(n);
        if (g != elements.end()) {
            g->second.type_def = std::move(type);
            return;
        }
    }
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        auto* ct = std::get_if<frame::ComplexType>(&*it);
        if (!ct) continue;
        if (ElementDef* c = first_child_named(*ct, n)) {
            c->type_def = std::move(type);
            return;
        }
    }
}

}  // namespace

DocumentParser::DocumentParser(ParseContext& context, std::string text, Utf8 utf8, std::string_view path)
    : context_(context),
      text_(context.texts.emplace_back(std::move(text))),
      path_(utf8 == Utf8::Deferred ? path : std::string_view{}),
      utf8_(utf8 != Utf8::Unknown || xml::is_utf8(text_)),
      tags_(text_, reads_ahead(context, text_.size())) {
    if (tags_.ahead()) context_.reading_ahead = true;
    // Checked here, while the tags are being read ahead, and before the first
    // of them is acted on.
    if (utf8 == Utf8::Deferred) not_utf8_ = !xml::is_utf8(text_);
    stack_.reserve(16);
    prescan_root(context_, text_, complete(context_) ? &bindings_ : nullptr);
}

DocumentParser::~DocumentParser() {
    if (tags_.ahead()) context_.reading_ahead = false;
}

Result<std::optional<std::string>> DocumentParser::next_location() {
    // Resumed after a followed document, whose bindings were in force.
    if (complete(context_)) context_.bindings = &bindings_;
    Doc doc{context_, stack_, utf8_, spare_children_};
    if (not_utf8_) return fail(messages::failed_to_read(path_, messages::kInvalidUtf8Stream));
    for (;;) {
        auto tag = tags_.next();
        if (!tag) return fail(messages::xml_parse_error(tag.error()));
        switch (tag->kind) {
            case xml::EventKind::StartTag:
                if (auto location = handle_start_element(doc, *tag)) return location;
                break;
            case xml::EventKind::EmptyTag: {
                auto location = handle_start_element(doc, *tag);
                handle_end_element(doc, tag->name);
                if (location) return location;
                break;
            }
            case xml::EventKind::EndTag: handle_end_element(doc, tag->name); break;
            default: return std::nullopt;  // the end of the document
        }
    }
}

}  // namespace tessaly::schema
