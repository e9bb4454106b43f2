#include "converter/lookup.hpp"

#include <cstdint>

#include "converter/coerce.hpp"
#include "xml/names.hpp"
#include "xml/read_ahead.hpp"
#include "xml/reader.hpp"

namespace tessaly::converter {

namespace {

// `v`, converted from `peeked` (the attribute value `raw` as peeked at),
// moved onto a copy kept in the arena when it still shows text of `peeked`:
// a string, or a number kept as written. Text the conversion wrote into the
// arena itself stays where it is.
[[gnu::noinline]] storage::Value kept_in_arena(const storage::Value& v, std::string_view peeked, std::string_view raw,
                                               InputText& input) {
    const std::string_view s = v.as_string();
    const auto at = reinterpret_cast<std::uintptr_t>(s.data()), from = reinterpret_cast<std::uintptr_t>(peeked.data());
    if (s.empty() || at < from || at > from + peeked.size()) return v;  // an empty text is never read
    // Kept text is the peeked text copied: the same bytes at the same places.
    const std::string_view moved = input.keep(raw).substr(at - from, s.size());
    return v.kind() == storage::Kind::String ? storage::Value::string(moved) : storage::Value::number_text(moved);
}

// Attribute `a`, the tag's `place`-th, as a member typed by its declaration.
// Through a window the value is converted where it lies, and copied only
// when what it became still shows its text: most typed values do not.
[[gnu::always_inline]] inline void add_attribute(const xml::Attribute& a, std::size_t place, StateId state,
                                                 DeclAutomaton& automaton, InputText& input,
                                                 std::vector<storage::Member>& out) {
    // The name is only peeked at: the automaton keeps its own copy.
    const DeclAutomaton::Attribute at = automaton.attribute(state, input.peek(a.name), place);
    const schema::JsonType kind = at.decl ? at.decl->json_type : schema::JsonType::String;
    if (input.in_place() || kind == schema::JsonType::String) {
        const std::string_view value = input.keep(a.value);
        storage::append_member(out, at.key, at.decl ? coerce_value(value, kind, &input.arena()) : storage::Value::string(value));
        return;
    }
    const std::string_view value = input.peek(a.value);
    storage::Value v = coerce_value(value, kind, &input.arena());
    if (v.views_text()) v = kept_in_arena(v, value, a.value, input);
    storage::append_member(out, at.key, v);
}

// A walk over a tag's attributes, from its text or as read ahead.
xml::AttributeReader walk(std::string_view attribute_text) { return xml::AttributeReader(attribute_text); }
xml::AttributeList walk(xml::ReadAttributes read) { return xml::AttributeList(read); }

}  // namespace

template <class Attributes>
StateId override_with_xsi_type(Attributes attributes, StateId found, DeclAutomaton& automaton, InputText& input) {
    auto attrs = walk(attributes);
    xml::Attribute a;
    while (attrs.next(a)) {
        if (a.name != "xsi:type") continue;
        return automaton.switch_type(found, xml::local_name(input.peek(a.value)));
    }
    return found;
}

template <class Attributes>
void collect_attributes(Attributes attributes, StateId state, DeclAutomaton& automaton, InputText& input,
                        std::vector<storage::Member>& out) {
    auto attrs = walk(attributes);
    xml::Attribute a;
    for (std::size_t place = 0; attrs.next(a); ++place) add_attribute(a, place, state, automaton, input, out);
}

template <class Attributes>
StateId collect_attributes_switching(Attributes attributes, StateId found, DeclAutomaton& automaton, InputText& input,
                                     std::vector<storage::Member>& out) {
    const std::size_t begin = out.size();
    auto attrs = walk(attributes);
    xml::Attribute a;
    for (std::size_t place = 0; attrs.next(a); ++place) {
        if (a.name.size() == 8 && a.name == "xsi:type") {
            const StateId switched = automaton.switch_type(found, xml::local_name(input.peek(a.value)));
            if (switched != found) {
                // Read again under the type it names; its xsi:type is not looked at again.
                out.resize(begin);
                if (automaton.state(switched).complex) collect_attributes(attributes, switched, automaton, input, out);
                return switched;
            }
        }
        add_attribute(a, place, found, automaton, input, out);
    }
    return found;
}

template StateId override_with_xsi_type(std::string_view, StateId, DeclAutomaton&, InputText&);
template StateId override_with_xsi_type(xml::ReadAttributes, StateId, DeclAutomaton&, InputText&);
template void collect_attributes(std::string_view, StateId, DeclAutomaton&, InputText&, std::vector<storage::Member>&);
template void collect_attributes(xml::ReadAttributes, StateId, DeclAutomaton&, InputText&,
                                 std::vector<storage::Member>&);
template StateId collect_attributes_switching(std::string_view, StateId, DeclAutomaton&, InputText&,
                                              std::vector<storage::Member>&);
template StateId collect_attributes_switching(xml::ReadAttributes, StateId, DeclAutomaton&, InputText&,
                                              std::vector<storage::Member>&);

}  // namespace tessaly::converter
