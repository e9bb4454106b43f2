#pragma once
// The declaration automaton: the one place that decides, for an open
// element and the name of a child, the child's declaration in force, its
// type, its text kind, whether its siblings form an array and its JSON key;
// for an element and an attribute name, the attribute's declaration and key;
// for an element and an xsi:type name, the state the switch leads to.
//
// A state is (declaration, type in force, in-progress set, active), interned
// per conversion. What a state and a name lead to is worked out by the
// resolution policy the first time a conversion meets the pair, and found by
// one hash probe after that: memory grows with the distinct (state, name)
// pairs a document visits (up to a bound past which pairs are worked out
// afresh each time), never with its length.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "storage/key_table.hpp"
#include "storage/loads.hpp"
#include "storage/name_hash.hpp"
#include "schema/model.hpp"

namespace tessaly::converter {

using StateId = std::uint32_t;
// An interned set of named types whose resolution is in progress on the way
// down to a state; 0 is the empty set.
using SetId = std::uint32_t;

struct DeclState {
    const schema::ElementDef* decl = nullptr;  // null: no declaration
    const schema::TypeDef* type = nullptr;     // the type in force; null with no declaration
    SetId in_progress = 0;
    bool active = true;  // false: below here everything stands as written
    // Set by a policy: the element was found through a group reference that
    // repeats, so it may occur more than once whatever its own bounds say.
    bool repeats = false;

    // Worked out once per state.
    bool complex = false;  // its type declares children and attributes
    bool always_array = false;
    schema::JsonType text_kind = schema::JsonType::String;
};

// The in-progress sets of one conversion: persistent lists, each set a node
// holding one type-name id and the set it was made from, interned so that
// equal sets have equal ids.
class InProgressSets {
public:
    InProgressSets();
    // `set` with `id` added; `set` itself when it holds `id` already.
    SetId with(SetId set, schema::TypeNameId id);
    bool contains(SetId set, schema::TypeNameId id) const;

private:
    struct Node {
        schema::TypeNameId id;
        SetId rest;
    };
    std::vector<Node> nodes_;  // nodes_[0] stands for the empty set
    std::unordered_map<std::uint64_t, SetId> interned_;
};

// The rules of one resolution profile: which declaration applies where.
// Asked once per distinct state and name; its answers must depend on
// nothing else.
class ResolutionPolicy {
public:
    virtual ~ResolutionPolicy() = default;
    // The state of element `local`, opened below `parent` when that declares
    // children, else at the top (parent null).
    virtual DeclState child(const DeclState* parent, std::string_view local, InProgressSets& sets) const = 0;
    // The state that `found` takes when its tag's xsi:type names the type
    // `type_local`; nothing when no such type switches it.
    virtual std::optional<DeclState> switch_type(const DeclState& found, std::string_view type_local,
                                                 InProgressSets& sets) const = 0;
    // The declaration of attribute `name` on an element of complex state `state`.
    virtual const schema::AttributeDef* attribute(const DeclState& state, std::string_view name) const = 0;
};

class DeclAutomaton {
public:
    // Attribute keys are `attribute_prefix` and the name (no prefix when '\0').
    DeclAutomaton(const ResolutionPolicy& policy, storage::KeyTable& keys, char attribute_prefix);
    ~DeclAutomaton();
    DeclAutomaton(const DeclAutomaton&) = delete;
    DeclAutomaton& operator=(const DeclAutomaton&) = delete;

    // The parent of a top-level element.
    static constexpr StateId kTop = UINT32_MAX;

    struct Opened {
        StateId state;
        storage::KeyId key;
    };
    // The element `local` opened below an element of state `parent` (or kTop).
    // Below an element that declares no children, the lookups are the top's.
    Opened open(StateId parent, std::string_view local) {
        const std::uint32_t context = parent != kTop && states_[parent].complex ? parent : kTop;
        const std::size_t first = local.empty() ? 0 : static_cast<unsigned char>(local[0]);
        Recent& recent = recent_elements_[(context * 64 + first * 8 + local.size()) % kRecent];
        if (recent.name && recent.context == context && recent.size == local.size() && recent.holds(local)) [[likely]]
            return {recent.a, recent.b};
        return open_unseen(context, local, recent);
    }

    // The state an xsi:type naming `type_local` gives an element found in
    // state `found`: `found` itself when the name switches nothing.
    StateId switch_type(StateId found, std::string_view type_local);

    struct Attribute {
        const schema::AttributeDef* decl;  // null: undeclared
        storage::KeyId key;
    };
    // Attribute `name`, the tag's `place`-th (from 0), of an element of
    // complex state `state`.
    Attribute attribute(StateId state, std::string_view name, std::size_t place) {
        Recent& recent = recent_attributes_[(state * 8 + std::min<std::size_t>(place, 7)) % kRecent];
        if (recent.name && recent.context == state && recent.place == place && recent.size == name.size() &&
            recent.holds(name)) [[likely]]
            return {attribute_decls_[recent.a], recent.b};
        return attribute_unseen(state, name, place, recent);
    }

    const DeclState& state(StateId id) const { return states_[id]; }

private:
    class Transitions;
    struct Recent;
    StateId intern(DeclState s);
    // The lookups that miss the recent tables, out of line: they hash, and
    // the first time a pair comes, ask the policy.
    Opened open_unseen(std::uint32_t context, std::string_view local, Recent& recent);
    Attribute attribute_unseen(StateId state, std::string_view name, std::size_t place, Recent& recent);

    // Equal lengths given, whether a stored name equals `name`: a few word
    // loads rather than a library call.
    static bool same_name(const char* stored, std::string_view name) {
        const std::size_t n = name.size();
        const char* p = name.data();
        if (n > 16) return std::memcmp(stored, p, n) == 0;
        using storage::load_u64;
        if (n >= 8) return load_u64(stored) == load_u64(p) && load_u64(stored + n - 8) == load_u64(p + n - 8);
        return n == 0 || storage::tail_word(stored, n) == storage::tail_word(p, n);
    }

    const ResolutionPolicy& policy_;
    storage::KeyTable& keys_;
    char attribute_prefix_;
    InProgressSets sets_;
    std::vector<DeclState> states_;
    std::unordered_map<std::uint64_t, std::vector<StateId>> interned_;
    std::unique_ptr<Transitions> elements_, switches_, attributes_;
    std::vector<const schema::AttributeDef*> attribute_decls_;
    // The lookups met last, in small direct-mapped tables in front of the
    // hash tables: an element's children by the name's first byte and
    // length, a tag's attributes by their place in it. Tags of one kind
    // mostly carry the same names in the same order, and children of one
    // kind come in runs, so most lookups are one comparison of names,
    // without hashing. Only answers the hash tables hold are kept here.
    struct Recent {
        Recent() = default;
        Recent(const char* stored, std::size_t n, std::uint32_t context, std::size_t place, std::uint32_t a,
               std::uint32_t b)
            : name(stored), word(first_word(stored, n)), size(static_cast<std::uint32_t>(n)), context(context),
              place(static_cast<std::uint32_t>(place)), a(a), b(b) {}

        // The name's first eight bytes, or all of a shorter one, as compared
        // below: the stored side of most comparisons is then read already.
        static std::uint64_t first_word(const char* p, std::size_t n) {
            if (n == 0) return 0;
            return n < 8 ? storage::tail_word(p, n) : storage::load_u64(p);
        }
        // Equal lengths given, whether the stored name equals `name`.
        bool holds(std::string_view name) const {
            const std::size_t n = name.size();
            if (n < 8) return n == 0 || word == storage::tail_word(name.data(), n);
            return word == storage::load_u64(name.data()) && same_name(this->name, name);
        }

        const char* name = nullptr;  // the hash table's copy; null: empty
        std::uint64_t word = 0;
        std::uint32_t size = 0;
        std::uint32_t context = 0;  // the parent's or the element's state
        std::uint32_t place = 0;    // attributes only
        std::uint32_t a = 0, b = 0;  // the answer, as the hash table holds it
    };
    static constexpr std::size_t kRecent = 1024;
    std::unique_ptr<Recent[]> recent_elements_, recent_attributes_;
};

}  // namespace tessaly::converter
