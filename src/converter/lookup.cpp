#include "converter/lookup.hpp"

#include "converter/coerce.hpp"
#include "xml/names.hpp"
#include "xml/reader.hpp"

namespace tessaly::converter {

namespace {

// Attribute `a`, the tag's `place`-th, as a member typed by its declaration.
[[gnu::always_inline]] inline void add_attribute(const xml::Attribute& a, std::size_t place, StateId state, DeclAutomaton& automaton,
                          InputText& input, std::vector<storage::Member>& out) {
    // The name is only peeked at: the automaton keeps its own copy.
    const DeclAutomaton::Attribute at = automaton.attribute(state, input.peek(a.name), place);
    std::string_view value = input.keep(a.value);
    storage::append_member(out, at.key,
                           at.decl ? coerce_value(value, at.decl->json_type, &input.arena()) : storage::Value::string(value));
}

}  // namespace

StateId override_with_xsi_type(std::string_view attribute_text, StateId found, DeclAutomaton& automaton,
                               InputText& input) {
    xml::AttributeReader attrs(attribute_text);
    xml::Attribute a;
    while (attrs.next(a)) {
        if (a.name != "xsi:type") continue;
        return automaton.switch_type(found, xml::local_name(input.peek(a.value)));
    }
    return found;
}

void collect_attributes(std::string_view attribute_text, StateId state, DeclAutomaton& automaton, InputText& input,
                        std::vector<storage::Member>& out) {
    xml::AttributeReader attrs(attribute_text);
    xml::Attribute a;
    for (std::size_t place = 0; attrs.next(a); ++place) add_attribute(a, place, state, automaton, input, out);
}

StateId collect_attributes_switching(std::string_view attribute_text, StateId found, DeclAutomaton& automaton,
                                     InputText& input, std::vector<storage::Member>& out) {
    const std::size_t begin = out.size();
    xml::AttributeReader attrs(attribute_text);
    xml::Attribute a;
    for (std::size_t place = 0; attrs.next(a); ++place) {
        if (a.name.size() == 8 && a.name == "xsi:type") {
            const StateId switched = automaton.switch_type(found, xml::local_name(input.peek(a.value)));
            if (switched != found) {
                // Read again under the type it names; its xsi:type is not looked at again.
                out.resize(begin);
                if (automaton.state(switched).complex) collect_attributes(attribute_text, switched, automaton, input, out);
                return switched;
            }
        }
        add_attribute(a, place, found, automaton, input, out);
    }
    return found;
}

}  // namespace tessaly::converter
