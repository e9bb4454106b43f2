#include "schema/parser.hpp"

#include "messages.hpp"
#include "schema/type_map.hpp"
#include "xml/utf8.hpp"

namespace tessaly::schema {

namespace {

// Schema text is UTF-8 checked when it is read, so decoding with replacement
// almost never changes anything; the copy is made only when it does.
class LossyText {
public:
    explicit LossyText(std::string_view raw) : raw_(raw) {
        if (!xml::is_utf8(raw)) {
            owned_.emplace();
            xml::append_utf8_lossy(*owned_, raw);
        }
    }
    std::string_view view() const { return owned_ ? std::string_view(*owned_) : raw_; }
    std::string str() const { return std::string(view()); }

private:
    std::string_view raw_;
    std::optional<std::string> owned_;
};

// The XSD element names the parser acts on. Tag names are compared raw:
// replacement only ever puts U+FFFD where bytes were invalid and keeps every
// ':', so a raw local name equals one of these ASCII names exactly when its
// decoded form does.
enum class XsdName : std::uint8_t {
    Schema, Compositor, ComplexType, SimpleType, Derivation, Attribute, Element, Include, Other
};

XsdName classify(std::string_view local) noexcept {
    switch (local.size()) {
        case 3:
            if (local == "all") return XsdName::Compositor;
            break;
        case 6:
            if (local == "schema") return XsdName::Schema;
            if (local == "choice") return XsdName::Compositor;
            if (local == "import") return XsdName::Include;
            break;
        case 7:
            if (local == "element") return XsdName::Element;
            if (local == "include") return XsdName::Include;
            break;
        case 8:
            if (local == "sequence") return XsdName::Compositor;
            break;
        case 9:
            if (local == "extension") return XsdName::Derivation;
            if (local == "attribute") return XsdName::Attribute;
            break;
        case 10:
            if (local == "simpleType") return XsdName::SimpleType;
            break;
        case 11:
            if (local == "complexType") return XsdName::ComplexType;
            if (local == "restriction") return XsdName::Derivation;
            break;
        default: break;
    }
    return XsdName::Other;
}

// The attributes the parser reads, collected in one walk over the tag; the
// first occurrence of a name wins. Names are matched raw for the same reason
// as tag names; values stay raw until they are used.
struct XsdAttributes {
    std::optional<std::string_view> name, ref, type, min_occurs, max_occurs, use, mixed, base, schema_location;
};

XsdAttributes collect_attributes(std::string_view attribute_text) {
    XsdAttributes a;
    xml::AttributeReader reader(attribute_text);
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
            case 14:
                if (n == "schemaLocation") take(a.schema_location);
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

void element_start(ParseContext& ctx, const XsdAttributes& a, XsdStack& stack) {
    std::uint64_t min = min_occurs_of(a.min_occurs);
    MaxOccurs max = max_occurs_of(a.max_occurs);

    if (a.ref) {
        // A reference is kept by the referenced local name only; it is never
        // followed, so its type comes from resolution by name, if at all.
        frame::ComplexType* ct = nearest_complex_type(stack);
        if (!ct) return;
        LossyText ref(*a.ref);
        ElementDef d;
        d.name.local = std::string(resolve_prefixed_name(ctx, ref.view()).local);
        d.min_occurs = min;
        d.max_occurs = max;
        ct->children.push_back(std::move(d));
        return;
    }
    if (!a.name) return;

    LossyText name(*a.name);
    ElementDef d;
    d.name.local = name.str();
    d.min_occurs = min;
    d.max_occurs = max;
    if (a.type) {
        LossyText type(*a.type);
        PrefixedName t = resolve_prefixed_name(ctx, type.view());
        if (is_xsd_namespace(t.namespace_uri)) {
            JsonType k = xsd_builtin_to_json(t.local);
            d.type_def.simple = k == JsonType::Absent ? JsonType::String : k;
        } else {
            ctx.element_types.insert_or_assign(d.name.local, std::string(t.local));
        }
    }

    std::string frame_name = d.name.local;
    if (!stack.empty() && std::holds_alternative<frame::SchemaRoot>(stack.back())) {
        ctx.model.elements.insert_or_assign(frame_name, std::move(d));
    } else if (frame::ComplexType* ct = nearest_complex_type(stack)) {
        ct->children.push_back(std::move(d));
    }
    // Pushed even when the declaration was dropped, so that an anonymous type
    // inside it is not given to an enclosing element.
    stack.emplace_back(std::in_place_type<frame::Element>, std::move(frame_name));
}

void attribute_start(ParseContext& ctx, const XsdAttributes& a, XsdStack& stack) {
    frame::ComplexType* ct = nearest_complex_type(stack);
    if (!ct) return;
    AttributeDef d;
    if (a.name) d.name = LossyText(*a.name).str();
    d.required = a.use && *a.use == "required";
    LossyText type(a.type.value_or(std::string_view{}));
    PrefixedName t = resolve_prefixed_name(ctx, type.view());
    if (is_xsd_namespace(t.namespace_uri)) {
        JsonType k = xsd_builtin_to_json(t.local);
        if (k != JsonType::Absent) d.json_type = k;
    }
    ct->attributes.push_back(std::move(d));
}

void derivation_start(ParseContext& ctx, const XsdAttributes& a, XsdStack& stack) {
    if (!a.base) return;
    LossyText base(*a.base);
    PrefixedName b = resolve_prefixed_name(ctx, base.view());
    bool builtin = is_xsd_namespace(b.namespace_uri);
    if (!stack.empty()) {
        if (auto* ct = std::get_if<frame::ComplexType>(&stack.back())) {
            if (builtin)
                ct->text_type = xsd_builtin_to_json(b.local);
            else if (ct->name)
                ctx.complex_bases.insert_or_assign(*ct->name, std::string(b.local));
        } else if (auto* st = std::get_if<frame::SimpleType>(&stack.back())) {
            if (builtin)
                st->base_kind = xsd_builtin_to_json(b.local);
            else if (st->name)
                ctx.simple_bases.insert_or_assign(*st->name, std::string(b.local));
        }
    }
    stack.emplace_back(std::in_place_type<frame::Derivation>);
}

std::optional<std::string> optional_text(const std::optional<std::string_view>& raw) {
    if (!raw) return std::nullopt;
    return LossyText(*raw).str();
}

template <class Frame>
void pop_if(XsdStack& stack) {
    if (!stack.empty() && std::holds_alternative<Frame>(stack.back())) stack.pop_back();
}

}  // namespace

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

void prescan_root(ParseContext& context, std::string_view text) {
    xml::Reader reader(text);
    for (;;) {
        auto ev = reader.next();
        if (!ev || ev->kind == xml::EventKind::EndOfInput) return;
        if (ev->kind != xml::EventKind::StartTag && ev->kind != xml::EventKind::EmptyTag) continue;
        // Every occurrence of a repeated attribute counts here, in order.
        xml::AttributeReader attrs(ev->body, /*skip_repeated=*/false);
        xml::Attribute a;
        while (attrs.next(a)) {
            if (a.name == "targetNamespace") {
                if (!context.target_namespace) context.target_namespace = LossyText(a.value).str();
            } else if (a.name.starts_with("xmlns:")) {
                context.prefixes.insert_or_assign(LossyText(a.name.substr(6)).str(), LossyText(a.value).str());
            }
        }
        return;
    }
}

namespace {

void attach_inline_type(ParseContext& context, TypeDef type, XsdStack& stack);

// Handles one start tag (or the start of an empty-element tag); gives the
// location of an include or import.
std::optional<std::string> handle_start_element(ParseContext& context, const xml::Event& tag, XsdStack& stack) {
    switch (classify(local_name(tag.name))) {
        case XsdName::Schema: stack.emplace_back(std::in_place_type<frame::SchemaRoot>); break;
        case XsdName::Compositor: stack.emplace_back(std::in_place_type<frame::Compositor>); break;
        case XsdName::ComplexType: {
            XsdAttributes a = collect_attributes(tag.body);
            frame::ComplexType f;
            f.name = optional_text(a.name);
            f.mixed = a.mixed && *a.mixed == "true";
            stack.emplace_back(std::in_place_type<frame::ComplexType>, std::move(f));
            break;
        }
        case XsdName::SimpleType: {
            XsdAttributes a = collect_attributes(tag.body);
            stack.emplace_back(std::in_place_type<frame::SimpleType>, optional_text(a.name));
            break;
        }
        case XsdName::Derivation: derivation_start(context, collect_attributes(tag.body), stack); break;
        case XsdName::Attribute: attribute_start(context, collect_attributes(tag.body), stack); break;
        case XsdName::Element: element_start(context, collect_attributes(tag.body), stack); break;
        case XsdName::Include: {
            XsdAttributes a = collect_attributes(tag.body);
            if (a.schema_location) return LossyText(*a.schema_location).str();
            break;
        }
        case XsdName::Other: break;
    }
    return std::nullopt;
}

void handle_end_element(ParseContext& context, std::string_view local, XsdStack& stack) {
    switch (classify(local)) {
        case XsdName::Element: pop_if<frame::Element>(stack); break;
        case XsdName::Compositor: pop_if<frame::Compositor>(stack); break;
        case XsdName::Derivation: pop_if<frame::Derivation>(stack); break;
        case XsdName::Schema:
            if (!stack.empty()) stack.pop_back();
            break;
        case XsdName::SimpleType: {
            if (stack.empty()) break;
            XsdStackFrame top = std::move(stack.back());
            stack.pop_back();
            auto* st = std::get_if<frame::SimpleType>(&top);
            if (!st) break;
            TypeDef t = TypeDef::simple_of(st->base_kind == JsonType::Absent ? JsonType::String : st->base_kind);
            if (st->name)
                context.model.types.insert_or_assign(std::move(*st->name), std::move(t));
            else
                attach_inline_type(context, std::move(t), stack);
            break;
        }
        case XsdName::ComplexType: {
            if (stack.empty()) break;
            XsdStackFrame top = std::move(stack.back());
            stack.pop_back();
            auto* ct = std::get_if<frame::ComplexType>(&top);
            if (!ct) break;
            ComplexTypeDef c;
            c.children = std::move(ct->children);
            c.attributes = std::move(ct->attributes);
            c.mixed = ct->mixed;
            c.text_type = ct->text_type;
            TypeDef t = TypeDef::complex_of(std::move(c));
            if (ct->name)
                context.model.types.insert_or_assign(std::move(*ct->name), std::move(t));
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

void attach_inline_type(ParseContext& context, TypeDef type, XsdStack& stack) {
    const frame::Element* open = nullptr;
    for (auto it = stack.rbegin(); it != stack.rend() && !open; ++it) open = std::get_if<frame::Element>(&*it);
    if (!open) return;
    const std::string& n = open->name;

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

DocumentParser::DocumentParser(ParseContext& context, std::string text)
    : context_(context), text_(std::move(text)), reader_(text_) {
    prescan_root(context_, text_);
}

Result<std::optional<std::string>> DocumentParser::next_location() {
    for (;;) {
        auto ev = reader_.next();
        if (!ev) return fail(messages::xml_parse_error(ev.error()));
        switch (ev->kind) {
            case xml::EventKind::StartTag:
                if (auto location = handle_start_element(context_, *ev, stack_)) return location;
                break;
            case xml::EventKind::EmptyTag: {
                auto location = handle_start_element(context_, *ev, stack_);
                handle_end_element(context_, local_name(ev->name), stack_);
                if (location) return location;
                break;
            }
            case xml::EventKind::EndTag: handle_end_element(context_, local_name(ev->name), stack_); break;
            case xml::EventKind::EndOfInput: return std::nullopt;
            default: break;  // text, comments, declarations and references carry nothing
        }
    }
}

}  // namespace tessaly::schema
