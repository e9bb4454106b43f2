#include "converter/walker.hpp"

#include <cstring>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

#include "converter/coerce.hpp"
#include "converter/frame.hpp"
#include "converter/input_text.hpp"
#include "converter/policy_for.hpp"
#include "converter/lookup.hpp"
#include "converter/references.hpp"
#include "converter/shape.hpp"
#include "converter/text.hpp"
#include "xml/names.hpp"

namespace tessaly::converter {

namespace {

using xml::local_name;

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// A ReadAhead (over memory or a window) rather than a Reader.
template <class Events>
constexpr bool kReadsAhead = std::is_base_of_v<xml::ReadAhead, Events>;

// `Records`: only the selected elements are built, each handed out by
// next_record() as soon as it closes, and everything outside them is read
// and dropped. A whole-document walk is compiled without any of that.
template <bool Records>
class Walker {
public:
    // `window_valid`: see InputText.
    Walker(const bool* window_valid, const schema::SchemaModel& model, Convention convention, storage::Arena& arena,
           storage::KeyTable& keys, const RecordSelector* records = nullptr)
        : records_(records),
          input_(window_valid, arena),
          model_(model),
          convention_(convention),
          arena_(arena),
          scratch_(keys),
          keeps_attributes_(keeps_attributes(convention)),
          policy_(make_policy(model)),
          automaton_(*policy_, keys, attribute_key_prefix(convention)) {}

    // `Events`: a Reader, or a ReadAhead, which gives the same events.
    template <class Events>
    Result<std::optional<storage::Value>> run(Events& reader, InterruptCheck interrupt) {
        while (true) {
            const Handled h = next_event<false>(reader, interrupt, until_check_);
            if (h == Handled::Event) [[likely]] continue;
            if (h == Handled::Failed) return fail(std::move(*error_));
            return root_;
        }
    }

    // The next record, or nothing at the end of the input or (outside a
    // record) once the reader has passed `stop_at`. A ReadAhead is read
    // from the start of a document to its end only.
    template <class Events>
    Result<std::optional<storage::Value>> next_record(Events& reader, InterruptCheck interrupt,
                                                      std::uint64_t stop_at) {
        Handled h;
        if (kReadsAhead<Events> || (stop_at == UINT64_MAX && assumed_ == 0)) [[likely]] {
            // A local count stays in a register while the events go by.
            unsigned until_check = until_check_;
            while ((h = next_event<false>(reader, interrupt, until_check)) == Handled::Event) {
            }
            until_check_ = until_check;
        } else if constexpr (std::is_same_v<Events, xml::Reader>) {
            while (true) {
                if (record_at_ == kNone && stop_at != UINT64_MAX && reader.position() >= stop_at) {
                    h = Handled::End;
                    break;
                }
                h = next_event_in_range(reader, interrupt);
                if (h != Handled::Event) break;
            }
        }
        if (h == Handled::Record) return record_;
        if (h == Handled::Failed) return fail(std::move(*error_));
        return std::nullopt;
    }

    // The elements of the record path above a record, opened without their
    // tags (their attributes and xsi:type are not known): a walk that starts
    // at a record's start tag in the middle of a document.
    void open_ancestors(std::uint64_t origin, std::function<void(xml::ReadError&)> place_error) {
        origin_ = origin;
        place_error_ = std::move(place_error);
        for (std::size_t i = 0; i + 1 < records_->path.size(); ++i) {
            const std::string& local = records_->path[i];
            auto [state, key] = automaton_.open(stack_.empty() ? DeclAutomaton::kTop : stack_.back().state, local);
            stack_.emplace_back(state, key, attributes_.size(), children_.size(), TextRegion(arena_));
        }
        on_path_ = assumed_ = stack_.size();
    }

private:
    // Failed: error_ says why. Record: record_ holds the record just closed.
    enum class Handled : unsigned char { Event, Record, End, Failed };

    [[gnu::cold, gnu::noinline]] Handled failed(TessalyError e) {
        error_ = std::move(e);
        return Handled::Failed;
    }

    [[gnu::cold, gnu::noinline]] Handled read_failed(xml::ReadError e) {
        if (place_error_) place_error_(e);
        return failed(messages::xml_read_error(e));
    }

    // The next event of a walk over a byte range (one that stops at a byte
    // or began in the middle of a document): out of line, so that the usual
    // walk has one copy of the loop.
    [[gnu::noinline]] Handled next_event_in_range(xml::Reader& reader, InterruptCheck interrupt) {
        return next_event<true>(reader, interrupt, until_check_);
    }

    // `Placed`: elements may have been opened before the walk began
    // (assumed_ > 0), so an end tag may have to be checked against the record
    // path, and its place told in the error.
    template <bool Placed, class Events>
    [[gnu::always_inline]] inline Handled next_event(Events& reader, InterruptCheck interrupt,
                                                     unsigned& until_check) {
        if (--until_check == 0) [[unlikely]] {
            until_check = kInterruptStride;
            if (interrupt.requested && interrupt.requested(interrupt.context)) return failed(TessalyError::interrupted());
        }
        std::uint64_t at = 0;
        if constexpr (Placed) at = assumed_ > 0 ? reader.position() : 0;
        if constexpr (kReadsAhead<Events>) {
            // Used where it lies.
            auto read = reader.next();
            if (!read) [[unlikely]] return read_failed(std::move(read.error()));
            return on_event<Placed>(reader, **read, at);
        } else {
            xml::Event ev;
            if (auto read = reader.next(ev); !read) [[unlikely]] return read_failed(std::move(read.error()));
            return on_event<Placed>(reader, ev, at);
        }
    }

    // `at`: where the event began, when Placed and elements were opened
    // before the walk.
    template <bool Placed, class Events>
    [[gnu::always_inline]] inline Handled on_event(Events& reader, const xml::Event& ev, std::uint64_t at) {
        switch (ev.kind) {
            case xml::EventKind::StartTag: open(reader, ev); break;
            case xml::EventKind::EmptyTag:
                open(reader, ev);
                if (close_element(false) && Records) return Handled::Record;
                break;
            case xml::EventKind::EndTag:
                if (Placed && stack_.size() <= assumed_) {
                    // Closes an element opened before the walk began: it has to be the one the path names.
                    if (stack_.empty()) break;
                    std::string_view local = input_.peek(local_name(ev.name));
                    if (local != records_->path[stack_.size() - 1])
                        return failed(messages::record_path_mismatch(local, records_->path[stack_.size() - 1], origin_ + at));
                    --assumed_;
                }
                if (!stack_.empty() && close_element(true) && Records) return Handled::Record;
                break;
            case xml::EventKind::Text: on_text(ev.body); break;
            case xml::EventKind::CData:
                if (!stack_.empty() && !outside()) stack_.back().text.append(input_.keep(ev.body), arena_);
                break;
            case xml::EventKind::GeneralRef: on_reference(ev.name); break;
            case xml::EventKind::EndOfInput: return Handled::End;
            default: break;  // comments, declarations, processing instructions, DOCTYPE
        }
        return Handled::Event;
    }

    // Between records: nothing is collected.
    bool outside() const { return Records && record_at_ == kNone; }

    // Whether the element `local`, opened now outside any record, is one.
    bool starts_record(std::string_view local) {
        const std::vector<std::string>& path = records_->path;
        if (records_->anywhere) return local == path[0];
        const std::size_t depth = stack_.size();
        if (on_path_ != depth || depth >= path.size() || local != path[depth]) return false;
        ++on_path_;
        return on_path_ == path.size();
    }

    // The element of a start or empty-element tag, its attributes as read
    // ahead when they were, else from the tag's text.
    template <class Events>
    [[gnu::always_inline]] inline void open(Events& reader, const xml::Event& ev) {
        if constexpr (kReadsAhead<Events>) {
            std::string_view local = reader.local_name(ev);
            if constexpr (std::is_same_v<Events, xml::WindowedReadAhead>) local = input_.peek(local);
            if (const xml::ReadAttributes* read = reader.attributes()) [[likely]] {
                open_element(ev, local, *read);
                return;
            }
            open_element(ev, local, ev.body);
        } else {
            // Taken first: the steps after the key reuse the input's scratch space.
            open_element(ev, input_.peek(local_name(ev.name)), ev.body);
        }
    }

    // `local`: the tag's local name, as UTF-8 text.
    template <class Attributes>
    void open_element(const xml::Event& ev, std::string_view local, Attributes attributes) {
        const auto [found, key] = automaton_.open(stack_.empty() ? DeclAutomaton::kTop : stack_.back().state, local);
        StateId state = found;
        std::size_t attributes_begin = attributes_.size();
        if (!outside() && keeps_attributes_ && !ev.body.empty() && automaton_.state(state).complex) {
            // The attributes and any xsi:type switch in one walk over the tag.
            if (model_.types.empty()) {
                collect_attributes(attributes, state, automaton_, input_, attributes_);
            } else {
                state = collect_attributes_switching(attributes, state, automaton_, input_, attributes_);
            }
            stack_.emplace_back(state, key, attributes_begin, children_.size(), TextRegion(arena_));
            return;
        }
        if (may_switch_type(ev.body, model_)) state = override_with_xsi_type(attributes, state, automaton_, input_);
        if (outside()) {
            if (!starts_record(local)) {
                stack_.emplace_back(state, key, attributes_.size(), children_.size(), TextRegion(arena_));
                return;
            }
            record_at_ = stack_.size();
        }
        if (keeps_attributes_ && !ev.body.empty() && automaton_.state(state).complex)
            collect_attributes(attributes, state, automaton_, input_, attributes_);

        stack_.emplace_back(state, key, attributes_begin, children_.size(), TextRegion(arena_));
    }

    // An empty-element tag has no text to finalise; otherwise the same.
    // Whether the element was a record (never in a whole-document walk).
    bool close_element(bool has_end_tag) {
        if (outside()) {
            stack_.pop_back();
            if (on_path_ > stack_.size()) on_path_ = stack_.size();
            return false;
        }
        BuildFrame& f = stack_.back();
        const DeclState& state = automaton_.state(f.state);
        storage::Value text_value;  // null
        const storage::Value* text = nullptr;
        if (has_end_tag)
            if (auto t = f.text.finalize(arena_)) {
                text_value = coerce_value(*t, state.text_kind, &arena_);
                text = &text_value;
            }
        std::span<storage::Member> attrs(attributes_.data() + f.attributes_begin, attributes_.size() - f.attributes_begin);
        std::span<ChildSlot> kids(children_.data() + f.children_begin, children_.size() - f.children_begin);
        ClosedElement closed{f, attrs, text, kids};
        // Text that became a number, a boolean or nothing is no longer
        // needed; without children, nothing else was allocated since the tag.
        if (kids.empty() && !(text && text->views_text())) f.text_region.give_back(arena_);
        const bool is_record = Records && stack_.size() - 1 == record_at_;
        const bool top_level = !Records && stack_.size() == 1;
        // A later top-level element replaces an earlier one. One with
        // neither children nor attributes (as most are) is its text, or
        // null, in every convention.
        storage::Value v = text_value;
        if (top_level) v = serialize_root(closed, convention_, arena_, scratch_);
        else if (!kids.empty() || !attrs.empty()) v = frame_to_json(closed, convention_, arena_, scratch_);
        bool always_array = state.always_array;
        storage::KeyId key = f.key;
        // Cut back, never grown: no size is worked out.
        attributes_.erase(attributes_.begin() + f.attributes_begin, attributes_.end());
        children_.erase(children_.begin() + f.children_begin, children_.end());
        stack_.pop_back();
        if (is_record) {
            record_ = v;
            record_at_ = kNone;
            if (on_path_ > stack_.size()) on_path_ = stack_.size();
            return true;
        }
        if (top_level) {
            root_ = v;
        } else {
            children_.emplace_back(key, always_array, v);  // made in place, field by field
        }
        return false;
    }

    // Inlined into each copy of the event loop: the compiler would keep it
    // out of line once there are two.
    [[gnu::always_inline]] inline void on_text(std::string_view bytes) {
        if (stack_.empty() || bytes.empty() || outside()) return;
        // White space before any other text would be dropped by the frame
        // anyway, line ends and all: the indentation between tags is neither
        // scanned further nor copied. (Bytes that pass as white space are
        // valid UTF-8, so decoding would not have changed them.)
        BuildFrame& f = stack_.back();
        if (!f.text.has_content() && is_all_white_space(bytes)) return;
        std::string_view text = input_.peek(bytes);
        bool has_cr = xml::position_of(text, '\r') != std::string_view::npos;
        if (input_.in_place() && !has_cr) {
            f.text.append_content(text, arena_);
            return;
        }
        char* d = static_cast<char*>(arena_.allocate(text.size(), 1));
        std::size_t n = has_cr ? normalize_line_ends(text, d) : (std::memcpy(d, text.data(), text.size()), text.size());
        f.text.append_content({d, n}, arena_);
    }

    void on_reference(std::string_view name_bytes) {
        if (stack_.empty() || outside()) return;
        std::string_view name = input_.peek(name_bytes);
        RefBuffer buf;
        bool passthrough = false;
        std::string_view text = resolve_general_ref(name, buf, passthrough);
        if (passthrough) {
            char* d = static_cast<char*>(arena_.allocate(name.size() + 2, 1));
            d[0] = '&';
            std::memcpy(d + 1, name.data(), name.size());
            d[name.size() + 1] = ';';
            text = {d, name.size() + 2};
        } else if (text.data() == buf.bytes) {
            text = arena_.copy(text);
        }
        stack_.back().text.append(text, arena_);
    }

    const RecordSelector* records_;
    std::size_t record_at_ = kNone;  // the stack index of the open record
    std::size_t on_path_ = 0;        // how many frames from the bottom follow a full record path
    std::size_t assumed_ = 0;        // how many frames from the bottom were opened without tags
    storage::Value record_;  // the record just closed
    std::optional<TessalyError> error_;     // why the walk failed
    unsigned until_check_ = kInterruptStride;
    // A walk begun in the middle of a document: the offset where its reader
    // starts, and what turns a reader's error position into one in the document.
    std::uint64_t origin_ = 0;
    std::function<void(xml::ReadError&)> place_error_;
    InputText input_;
    const schema::SchemaModel& model_;
    Convention convention_;
    storage::Arena& arena_;
    ShapeScratch scratch_;
    bool keeps_attributes_;
    std::vector<BuildFrame> stack_;
    std::vector<ChildSlot> children_;
    std::vector<storage::Member> attributes_;
    std::optional<storage::Value> root_;
    std::unique_ptr<ResolutionPolicy> policy_;
    DeclAutomaton automaton_;
};

}  // namespace

Result<std::optional<storage::Value>> walk_document(xml::Reader& reader, const CheckedSource* window,
                                                    const schema::SchemaModel& model, Convention convention,
                                                    storage::Arena& arena, storage::KeyTable& keys,
                                                    InterruptCheck interrupt) {
    Walker<false> w(window ? window->all_valid_flag() : nullptr, model, convention, arena, keys);
    return w.run(reader, interrupt);
}

Result<std::optional<storage::Value>> walk_document(xml::ReadAhead& reader, const schema::SchemaModel& model,
                                                    Convention convention, storage::Arena& arena,
                                                    storage::KeyTable& keys, InterruptCheck interrupt) {
    Walker<false> w(nullptr, model, convention, arena, keys);
    return w.run(reader, interrupt);
}

Result<std::optional<storage::Value>> walk_document(xml::WindowedReadAhead& reader, const schema::SchemaModel& model,
                                                    Convention convention, storage::Arena& arena,
                                                    storage::KeyTable& keys, InterruptCheck interrupt) {
    Walker<false> w(reader.all_valid(), model, convention, arena, keys);
    return w.run(reader, interrupt);
}

struct RecordWalker::Impl {
    Impl(const schema::SchemaModel& model, Convention convention, storage::Arena& arena, storage::KeyTable& keys,
         const RecordSelector& records, const bool* window_valid)
        : walker(window_valid, model, convention, arena, keys, &records) {}
    Walker<true> walker;
};

RecordWalker::RecordWalker(const schema::SchemaModel& model, Convention convention, storage::Arena& arena,
                           storage::KeyTable& keys, const RecordSelector& records, const bool* window_valid)
    : impl_(std::make_unique<Impl>(model, convention, arena, keys, records, window_valid)) {}

RecordWalker::~RecordWalker() = default;

void RecordWalker::open_ancestors(std::uint64_t origin, std::function<void(xml::ReadError&)> place_error) {
    impl_->walker.open_ancestors(origin, std::move(place_error));
}

Result<std::optional<storage::Value>> RecordWalker::next(xml::Reader& reader, InterruptCheck interrupt,
                                                         std::uint64_t stop_at) {
    return impl_->walker.next_record(reader, interrupt, stop_at);
}

Result<std::optional<storage::Value>> RecordWalker::next(xml::WindowedReadAhead& reader, InterruptCheck interrupt) {
    return impl_->walker.next_record(reader, interrupt, UINT64_MAX);
}

}  // namespace tessaly::converter
