#include "schema/resolve.hpp"

#include <algorithm>
#include <cstdint>
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
    StringMap<std::int32_t> index;
    index.reserve(bases.size());
    {
        std::int32_t i = 0;
        for (const auto& [name, base] : bases) index.emplace(name, i++);
    }
    for (const auto& [name, base] : bases) {
        Node& n = nodes[index.find(name)->second];
        auto self = types.find(name);
        if (self != types.end() && !self->second.is_complex()) n.self = &self->second;
        const std::string* cur = &base;
        for (int link = 1; link <= kMaxSimpleLinks; ++link) {
            auto t = types.find(*cur);
            if (t != types.end() && !t->second.is_complex()) {
                n.target = &t->second;
                auto j = index.find(*cur);
                if (j != index.end()) n.next = j->second;
                break;
            }
            auto further = bases.find(*cur);
            if (further == bases.end()) break;
            cur = &further->second;
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
    auto& types = ctx.model.types;
    const auto& bases = ctx.complex_bases;

    // Every type inherits from its bases as they stood before this pass, so
    // all inherited lists are gathered first and applied afterwards.
    struct Pending {
        ComplexTypeDef* target;
        std::vector<ElementDef> children;
        std::vector<AttributeDef> attributes;
    };
    std::vector<Pending> pending;
    std::vector<std::string_view> walked;
    for (const auto& [name, first_base] : bases) {
        auto self = types.find(name);
        if (self == types.end() || !self->second.is_complex()) continue;
        Pending p{&self->second.complex, {}, {}};
        walked.assign(1, name);
        const std::string* cur = &first_base;
        while (cur) {
            if (std::find(walked.begin(), walked.end(), *cur) != walked.end()) break;
            walked.push_back(*cur);
            auto t = types.find(*cur);
            if (t != types.end() && t->second.is_complex()) {
                const ComplexTypeDef& c = t->second.complex;
                p.children.insert(p.children.end(), c.children.begin(), c.children.end());
                p.attributes.insert(p.attributes.end(), c.attributes.begin(), c.attributes.end());
            }
            auto further = bases.find(*cur);
            cur = further == bases.end() ? nullptr : &further->second;
        }
        if (!p.children.empty() || !p.attributes.empty()) pending.push_back(std::move(p));
    }
    for (Pending& p : pending) {
        auto& children = p.target->children;
        p.children.insert(p.children.end(), std::make_move_iterator(children.begin()),
                          std::make_move_iterator(children.end()));
        children = std::move(p.children);
        auto& attributes = p.target->attributes;
        p.attributes.insert(p.attributes.end(), std::make_move_iterator(attributes.begin()),
                            std::make_move_iterator(attributes.end()));
        attributes = std::move(p.attributes);
    }
}

void link_named_types(ParseContext& ctx) {
    SchemaModel& model = ctx.model;

    model.type_name_ids.clear();
    TypeNameId next_id = 0;
    for (const auto& [name, type] : model.types) model.type_name_ids.try_emplace(name, next_id++);
    for (const auto& [element, type] : ctx.element_types) {
        if (model.type_name_ids.try_emplace(type, next_id).second) ++next_id;
    }

    // What each element name resolves to, found once per name rather than
    // once per declaration.
    struct Link {
        TypeNameId id;
        const TypeDef* def;
    };
    StringMap<Link> links;
    links.reserve(ctx.element_types.size());
    for (const auto& [element, type] : ctx.element_types)
        links.emplace(element, Link{model.type_name_id(type), model.find_type(type)});

    auto link = [&](ElementDef& e) {
        auto it = links.find(e.name.local);
        if (it == links.end()) {
            e.named_type = kNoTypeName;
            e.named_type_def = nullptr;
        } else {
            e.named_type = it->second.id;
            e.named_type_def = it->second.def;
        }
    };

    // Every declaration of the model, at any depth of inline types, without
    // recursion: inline types can nest as deep as the schema text does.
    std::vector<TypeDef*> todo;
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

void resolve(ParseContext& context) {
    resolve_simple_kinds(context);
    inherit_complex_bases(context);
    link_named_types(context);
}

}  // namespace tessaly::schema
