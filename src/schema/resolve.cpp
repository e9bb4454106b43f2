#include "schema/resolve.hpp"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace tessaly::schema {

namespace {

// At most this many base links are followed from one type when looking for
// the simple type whose kind it takes.
constexpr int kMaxSimpleLinks = 20;

}  // namespace

void resolve_simple_kinds(ParseContext& ctx) {
    auto& types = ctx.model.types;
    const auto& bases = ctx.simple_bases;
    if (bases.empty()) return;

    // Each derived type takes the final kind of the first simple type found
    // along its base chain. That defines a graph with one edge per type; its
    // cycles keep their own kinds and everything leading into a cycle takes
    // the kind the cycle keeps, which makes the result independent of the
    // order in which the types are visited.
    struct Node {
        TypeDef* self = nullptr;          // the type, when it is a simple entry of `types`
        const TypeDef* target = nullptr;  // the simple type found, or null when none
        std::int32_t next = -1;           // the target's node, when the target derives too
        enum : std::uint8_t { Unseen, OnPath, Done } state = Unseen;
        JsonType kind = JsonType::String;  // final kind, once Done
    };
    std::vector<Node> nodes(bases.size());
    ViewMap<std::int32_t> index(ctx.arena.get());
    index.reserve(bases.size());
    {
        std::int32_t i = 0;
        for (const auto& [name, base] : bases) index.emplace(name, i++);
    }
    {
        std::int32_t i = 0;
        for (const auto& [name, base] : bases) {
            Node& n = nodes[i++];  // the index numbers the names in this order
            auto self = types.find(name);
            if (self != types.end() && !self->second.is_complex()) n.self = &self->second;
            std::string_view cur = base;
            for (int link = 1; link <= kMaxSimpleLinks; ++link) {
                auto t = types.find(cur);
                if (t != types.end() && !t->second.is_complex()) {
                    n.target = &t->second;
                    auto j = index.find(cur);
                    if (j != index.end()) n.next = j->second;
                    break;
                }
                auto further = bases.find(cur);
                if (further == bases.end()) break;
                cur = further->second;
            }
        }
    }

    auto own_kind = [](const Node& n) { return n.self ? n.self->simple : JsonType::String; };
    std::vector<std::int32_t> path;
    for (std::int32_t start = 0; start < static_cast<std::int32_t>(nodes.size()); ++start) {
        if (nodes[start].state != Node::Unseen) continue;
        path.clear();
        std::int32_t cur = start;
        // Walk forward until the final kind is known at the end of the path.
        for (;;) {
            Node& n = nodes[cur];
            if (n.state == Node::Done) break;
            if (n.state == Node::OnPath) {
                // A cycle: its members keep their own kinds.
                auto pos = std::find(path.begin(), path.end(), cur);
                for (auto it = pos; it != path.end(); ++it) {
                    nodes[*it].kind = own_kind(nodes[*it]);
                    nodes[*it].state = Node::Done;
                }
                path.erase(pos, path.end());
                break;
            }
            n.state = Node::OnPath;
            path.push_back(cur);
            if (!n.target || n.next < 0) break;
            cur = n.next;
        }
        // Settle the path from its end backwards.
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            Node& n = nodes[*it];
            if (!n.target)
                n.kind = own_kind(n);
            else if (n.next < 0)
                n.kind = n.target->simple;
            else
                n.kind = nodes[n.next].kind;
            n.state = Node::Done;
        }
    }
    // Applied only after every kind is known: a target's kind is read before
    // it changes. An entry that is not a simple type (a later complex type of
    // the same name replaced it) is left alone.
    for (const Node& n : nodes)
        if (n.self) n.self->simple = n.kind;
}

void inherit_complex_bases(ParseContext& ctx) {
    const auto& bases = ctx.complex_bases;
    if (bases.empty()) return;

    // A complex type inherits the own content of every complex type met on
    // its base chain, nearest first, until the chain leaves the named bases
    // or comes back to a name it has met. The base links form a graph with
    // one edge per name, so each chain is a path that may end in a cycle.
    // Instead of copying that content (which grows with the square of a
    // chain's length), each type gets a link to the first complex type on
    // its chain and the number of types to take along the links: a type's
    // chain continues exactly as the chain of that first type does, and
    // ends no later. Both follow from the next name's values, so every name
    // is settled once, walking paths forwards and settling them backwards.
    struct Node {
        ComplexTypeDef* self = nullptr;    // the type, when it is complex
        TypeNameId self_id = kNoTypeName;  // its name's number, when it is complex
        std::int32_t next = -1;            // the base's node, when the base has a base too
        TypeNameId base_id = kNoTypeName;  // the base's name's number, when the base is complex
        enum : std::uint8_t { Unseen, OnPath, Done } state = Unseen;
        std::uint32_t path_index = 0;
        TypeNameId first = kNoTypeName;  // the first complex type after this one
        std::uint32_t count = 0;         // complex types on the chain after this one
    };
    std::vector<Node> nodes(bases.size());
    ViewMap<std::int32_t> index(ctx.arena.get());
    index.reserve(bases.size());
    {
        std::int32_t i = 0;
        for (const auto& [name, base] : bases) index.emplace(name, i++);
    }
    // A name's type, when it is complex, and its number; through the
    // numbering, so that each name is looked up once.
    auto complex_of = [&](std::string_view name) -> std::pair<ComplexTypeDef*, TypeNameId> {
        auto found = ctx.type_ids.find(name);
        if (found == ctx.type_ids.end()) return {nullptr, kNoTypeName};
        const TypeNameId id = found->second;
        TypeDef* t = ctx.types_by_id[static_cast<std::size_t>(id)];
        if (!t || !t->is_complex()) return {nullptr, kNoTypeName};
        return {&t->complex, id};
    };
    {
        std::int32_t i = 0;
        for (const auto& [name, base] : bases) {
            Node& n = nodes[i++];  // the index numbers the names in this order
            std::tie(n.self, n.self_id) = complex_of(name);
            n.base_id = complex_of(base).second;
            auto j = index.find(base);
            if (j != index.end()) n.next = j->second;
        }
    }

    // The values of a node whose base is settled (or has no base of its own).
    auto settle_tail = [&](Node& n) {
        const bool base_counts = n.base_id != kNoTypeName;
        if (n.next < 0) {
            n.first = n.base_id;
            n.count = base_counts ? 1 : 0;
        } else {
            const Node& b = nodes[n.next];
            n.first = base_counts ? n.base_id : b.first;
            n.count = (base_counts ? 1 : 0) + b.count;
        }
        n.state = Node::Done;
    };
    // A cycle's members each take the cycle's other complex types, starting
    // with the next one along it.
    auto settle_cycle = [&](std::span<const std::int32_t> cycle) {
        std::uint32_t complex_members = 0;
        for (std::int32_t m : cycle) complex_members += nodes[m].self ? 1 : 0;
        const std::size_t len = cycle.size();
        TypeNameId ahead = kNoTypeName;  // the first complex member at or after position k
        for (std::size_t k = 2 * len; k-- > 1;) {
            const Node& at = nodes[cycle[k % len]];
            if (at.self) ahead = at.self_id;
            if (k > len) continue;
            Node& n = nodes[cycle[k - 1]];
            n.first = ahead == n.self_id ? kNoTypeName : ahead;
            n.count = complex_members - (n.self ? 1 : 0);
            n.state = Node::Done;
        }
    };

    std::vector<std::int32_t> path;
    for (std::int32_t start = 0; start < static_cast<std::int32_t>(nodes.size()); ++start) {
        if (nodes[start].state != Node::Unseen) continue;
        path.clear();
        std::int32_t cur = start;
        while (cur >= 0 && nodes[cur].state == Node::Unseen) {
            nodes[cur].state = Node::OnPath;
            nodes[cur].path_index = static_cast<std::uint32_t>(path.size());
            path.push_back(cur);
            cur = nodes[cur].next;
        }
        std::size_t tail_end = path.size();
        if (cur >= 0 && nodes[cur].state == Node::OnPath) {
            tail_end = nodes[cur].path_index;
            settle_cycle(std::span<const std::int32_t>(path).subspan(tail_end));
        }
        for (std::size_t k = tail_end; k-- > 0;) settle_tail(nodes[path[k]]);
    }
    for (const Node& n : nodes) {
        if (!n.self) continue;
        n.self->base = n.first;
        n.self->inherited_count = n.count;
    }
}

void index_type_names(ParseContext& ctx) {
    SchemaModel& model = ctx.model;
    ctx.type_ids.clear();
    ctx.type_name_order.clear();
    ctx.types_by_id.clear();
    ctx.element_links.clear();
    // The names of `types` first, each new; then the names that element
    // declarations give, in the order of their table, where not numbered yet.
    const std::size_t most = model.types.size() + ctx.element_types.size();
    ctx.type_ids.reserve(most);
    ctx.type_name_order.reserve(most);
    ctx.types_by_id.reserve(most);
    for (auto& [name, type] : model.types) {
        ctx.type_ids.emplace(name, static_cast<TypeNameId>(ctx.type_name_order.size()));
        ctx.type_name_order.push_back(name);
        ctx.types_by_id.push_back(&type);
    }
    ctx.element_links.reserve(ctx.element_types.size());
    for (const auto& [element, type] : ctx.element_types) {
        auto [it, added] = ctx.type_ids.try_emplace(type, static_cast<TypeNameId>(ctx.type_name_order.size()));
        if (added) {
            ctx.type_name_order.push_back(type);
            ctx.types_by_id.push_back(nullptr);
        }
        ctx.element_links.emplace(element, it->second);
    }
}

void publish_type_names(ParseContext& ctx) {
    SchemaModel& model = ctx.model;
    model.type_name_ids.clear();
    model.type_names.clear();
    model.type_name_ids.reserve(model.types.size());
    model.type_names.reserve(ctx.type_name_order.size());
    for (std::string_view name : ctx.type_name_order) {
        model.type_name_ids.emplace(std::string(name), static_cast<TypeNameId>(model.type_names.size()));
        model.type_names.emplace_back(name);
    }
}

void number_type_names(ParseContext& ctx) {
    index_type_names(ctx);
    publish_type_names(ctx);
}

void link_named_types(ParseContext& ctx) {
    SchemaModel& model = ctx.model;

    // What each element name resolves to was found once per name when the
    // names were numbered, rather than once per declaration.
    const auto& links = ctx.element_links;
    auto link = [&](ElementDef& e) {
        auto it = links.find(e.name.local);
        e.named_type = it == links.end() ? kNoTypeName : it->second;
    };

    // Every declaration of the model, at any depth of inline types, without
    // recursion: inline types can nest as deep as the schema text does.
    std::vector<TypeDef*> todo;
    todo.reserve(model.types.size() + model.elements.size());
    for (auto& [name, type] : model.types) todo.push_back(&type);
    for (auto& [name, e] : model.elements) {
        link(e);
        todo.push_back(&e.type_def);
    }
    while (!todo.empty()) {
        TypeDef* t = todo.back();
        todo.pop_back();
        if (!t->is_complex()) continue;
        for (ElementDef& c : t->complex.children) {
            link(c);
            todo.push_back(&c.type_def);
        }
    }

    model.anonymous = ElementDef{};
    model.anonymous.name.local.clear();
    model.anonymous.min_occurs = 1;
    model.anonymous.max_occurs = MaxOccurs::bounded(1);
    model.anonymous.type_def = TypeDef::simple_of(JsonType::String);
}

void record_unresolved_types(ParseContext& ctx) {
    // The maps have no order of their own: the names are listed sorted.
    std::vector<std::string> missing;
    auto check = [&](std::string_view type) {
        if (!ctx.model.types.contains(type)) missing.emplace_back(type);
    };
    // The types of element declarations were numbered: the numbers past
    // those of `types` name no type.
    for (const auto& [element, id] : ctx.element_links)
        if (!ctx.types_by_id[static_cast<std::size_t>(id)])
            missing.emplace_back(ctx.type_name_order[static_cast<std::size_t>(id)]);
    for (const auto& [name, base] : ctx.complex_bases) check(base);
    for (const auto& [name, base] : ctx.simple_bases) check(base);
    std::sort(missing.begin(), missing.end());
    missing.erase(std::unique(missing.begin(), missing.end()), missing.end());
    ctx.model.report.unresolved.types = std::move(missing);
}

void resolve(ParseContext& context) {
    number_type_names(context);
    resolve_simple_kinds(context);
    inherit_complex_bases(context);
    link_named_types(context);
    record_unresolved_types(context);
}

}  // namespace tessaly::schema
