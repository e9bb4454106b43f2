#include "converter/automaton.hpp"

#include <cstring>

#include "storage/name_hash.hpp"

namespace tessaly::converter {

// ---- in-progress sets ------------------------------------------------------

InProgressSets::InProgressSets() : nodes_{{schema::kNoTypeName, 0}} {}

SetId InProgressSets::with(SetId set, schema::TypeNameId id) {
    if (contains(set, id)) return set;
    const std::uint64_t key = (std::uint64_t{set} << 32) | static_cast<std::uint32_t>(id);
    auto [it, added] = interned_.try_emplace(key, static_cast<SetId>(nodes_.size()));
    if (added) nodes_.push_back({id, set});
    return it->second;
}

bool InProgressSets::contains(SetId set, schema::TypeNameId id) const {
    for (; set != 0; set = nodes_[set].rest)
        if (nodes_[set].id == id) return true;
    return false;
}

// ---- transitions -----------------------------------------------------------

// (state, name) -> two numbers, in one open-addressed table. The names are
// copied in, since the bytes they are looked up by belong to the input.
class DeclAutomaton::Transitions {
public:
    Transitions() : slots_(64) {}

    struct Found {
        std::uint32_t a, b;
    };

    // The value of (context, name), or null; `stored` is set to the table's
    // copy of the name, which lives as long as the table.
    const Found* find(std::uint32_t context, std::string_view name, std::uint64_t& hash_out,
                      const char** stored = nullptr) const {
        const std::uint64_t h = storage::hash_name(name, context);
        hash_out = h;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const Slot& s = slots_[i];
            if (!s.name) return nullptr;
            if (s.hash == h && s.context == context && s.size == name.size() && same_name(s.name, name)) {
                if (stored) *stored = s.name;
                return &s.value;
            }
        }
    }

    // Remembers (context, name). A document with a great many distinct names
    // (a million attributes on one tag) stops being remembered past a bound;
    // those pairs are worked out again each time they come, so memory stays
    // bounded however many names a document invents.
    // Whether the pair was remembered.
    bool insert(std::uint32_t context, std::string_view name, std::uint64_t h, Found value) {
        if (count_ >= kMaxEntries) return false;
        auto& copy = names_.emplace_back(new char[name.size() + 1]);
        std::memcpy(copy.get(), name.data(), name.size());
        place({h, copy.get(), static_cast<std::uint32_t>(name.size()), context, value});
        if (++count_ * 2 > slots_.size()) grow();
        return true;
    }

private:
    static constexpr std::size_t kMaxEntries = std::size_t{1} << 16;

    struct Slot {
        std::uint64_t hash = 0;
        const char* name = nullptr;  // null: empty
        std::uint32_t size = 0;
        std::uint32_t context = 0;
        Found value{};
    };
    void place(const Slot& s) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = s.hash & mask;
        while (slots_[i].name) i = (i + 1) & mask;
        slots_[i] = s;
    }
    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& s : old)
            if (s.name) place(s);
    }

    std::vector<Slot> slots_;
    std::vector<std::unique_ptr<char[]>> names_;
    std::size_t count_ = 0;
};

// ---- the automaton ---------------------------------------------------------

namespace {

// Lookups below an element that declares no children are those of the top.
constexpr std::uint32_t kTopContext = DeclAutomaton::kTop;  // as open() computes it

void derive(DeclState& s) {
    s.complex = s.decl && s.type->is_complex();
    s.always_array = s.decl && (s.decl->max_occurs.always_array() || s.repeats);
    if (!s.decl)
        s.text_kind = schema::JsonType::String;
    else
        s.text_kind = s.type->is_complex() ? s.type->complex.text_type : s.type->simple;
    // Below an inactive state nothing depends on the set: one state serves all.
    if (!s.active) s.in_progress = 0;
}

}  // namespace

DeclAutomaton::DeclAutomaton(const ResolutionPolicy& policy, storage::KeyTable& keys, char attribute_prefix)
    : policy_(policy),
      keys_(keys),
      attribute_prefix_(attribute_prefix),
      elements_(std::make_unique<Transitions>()),
      switches_(std::make_unique<Transitions>()),
      attributes_(std::make_unique<Transitions>()),
      recent_elements_(std::make_unique<Recent[]>(kRecent)),
      recent_attributes_(std::make_unique<Recent[]>(kRecent)) {}

DeclAutomaton::~DeclAutomaton() = default;

StateId DeclAutomaton::intern(DeclState s) {
    derive(s);
    std::uint64_t h = reinterpret_cast<std::uintptr_t>(s.decl) * 0x9E3779B97F4A7C15ull;
    h = storage::mix_word(h, reinterpret_cast<std::uintptr_t>(s.type));
    h = storage::mix_word(h, (std::uint64_t{s.in_progress} << 2) | (s.repeats ? 2 : 0) | (s.active ? 1 : 0));
    auto& ids = interned_[h];
    for (StateId id : ids) {
        const DeclState& t = states_[id];
        if (t.decl == s.decl && t.type == s.type && t.in_progress == s.in_progress && t.active == s.active &&
            t.repeats == s.repeats)
            return id;
    }
    const auto id = static_cast<StateId>(states_.size());
    states_.push_back(s);
    ids.push_back(id);
    return id;
}

DeclAutomaton::Opened DeclAutomaton::open_unseen(std::uint32_t context, std::string_view local, Recent& recent) {
    std::uint64_t h;
    const char* stored = nullptr;
    if (const auto* found = elements_->find(context, local, h, &stored)) [[likely]] {
        recent = Recent(stored, local.size(), context, 0, found->a, found->b);
        return {found->a, found->b};
    }
    const DeclState* p = context == kTopContext ? nullptr : &states_[context];
    const StateId child = intern(policy_.child(p, local, sets_));
    const storage::KeyId key = keys_.intern(local);
    elements_->insert(context, local, h, {child, key});
    return {child, key};
}

StateId DeclAutomaton::switch_type(StateId found, std::string_view type_local) {
    std::uint64_t h;
    if (const auto* known = switches_->find(found, type_local, h)) return known->a;
    auto switched = policy_.switch_type(states_[found], type_local, sets_);
    const StateId to = switched ? intern(*switched) : found;
    switches_->insert(found, type_local, h, {to, 0});
    return to;
}

DeclAutomaton::Attribute DeclAutomaton::attribute_unseen(StateId state, std::string_view name, std::size_t place,
                                                         Recent& recent) {
    std::uint64_t h;
    const char* stored = nullptr;
    if (const auto* found = attributes_->find(state, name, h, &stored)) [[likely]] {
        recent = Recent(stored, name.size(), state, place, found->a, found->b);
        return {attribute_decls_[found->a], found->b};
    }
    const schema::AttributeDef* decl = policy_.attribute(states_[state], name);
    const storage::KeyId key = keys_.intern(name, attribute_prefix_);
    if (attributes_->insert(state, name, h, {static_cast<std::uint32_t>(attribute_decls_.size()), key}))
        attribute_decls_.push_back(decl);
    return {decl, key};
}

}  // namespace tessaly::converter
