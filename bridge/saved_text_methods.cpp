// FFI.saved_text_write and FFI.saved_text_read: the walks behind the
// framework's saved-state writer and reader (QMX::LiteralWriter and
// QMX::LiteralReader), which a game runs inside its tick. The writer asks its
// Ruby object what an entity or another object is written as and refuses
// through it, so every message stays in the framework; the reader takes its
// tokens from bridge/saved_text.cpp and only builds the values.
// The reader, and FFI.saved_data_marks for other data, note which Arrays and
// Hashes the loader must make anew to bring back the entities in them;
// FFI.saved_data_marked_steps says where in one such container they are.
//
// Both are loops over explicit stacks: no nesting can exhaust the machine's
// stack. Ruby code they call may raise; each walk runs under
// mrb_protect_error with its buffers in a record outside it, and the
// exception is raised again once they are released.
#include "ffi.h"
#include "float_text.h"
#include "saved_text.h"

#include <mruby/error.h>
#include <mruby/hash.h>

#include <cinttypes>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <deque>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// An element by index. The pointer is taken on its own: GCC 12 reads
// address 0 for RARRAY_PTR(a)[RARRAY_LEN(a) - 1] written as one expression.
mrb_value item(mrb_value array, mrb_int index) {
    const mrb_value *items = RARRAY_PTR(array);
    return items[index];
}

int push_pair(mrb_state *mrb, mrb_value key, mrb_value value, void *data) {
    mrb_ary_push(mrb, *(mrb_value *)data, key);
    mrb_ary_push(mrb, *(mrb_value *)data, value);
    return 0;
}

// Appends a container's children to keep: an Array's elements, a Hash's
// keys and values in pairs, in order.
void push_children(mrb_state *mrb, mrb_value keep, mrb_value container) {
    if (mrb_array_p(container)) mrb_ary_concat(mrb, keep, container);
    else mrb_hash_foreach(mrb, mrb_hash_ptr(container), push_pair, &keep);
}

// --- Symbols a load makes --------------------------------------------------------

// Symbols are never freed. A load makes the Symbols its text names, and a
// strict entity makes three of each of its properties' names (name, name=
// and @name). Each new one costs about as much as its length, but all of
// them stay for the rest of the run: text whose load would make more new
// ones than this, or new names of more bytes than this in all, is refused
// before any is made, so a load takes bounded time and memory and leaves
// the table as it was. The writer applies the same limits to the names a
// fresh run of the game would not have yet, so that every save loads in a
// later run and no state that run could load is refused. At the limits a
// load takes under two seconds; a game's map of a few hundred thousand
// named cells stays within them.
constexpr size_t NEW_SYMBOL_LIMIT = 300000;
constexpr size_t NEW_NAME_BYTES_LIMIT = size_t(16) << 20;
// The interpreter makes no longer name: a load is refused before it would
// ask for one.
constexpr size_t NAME_LENGTH_MAX = 65534;
// The longest name the interpreter packs into a Symbol's own value instead of
// its table (letters, digits and "_"): such a Symbol is never new.
constexpr size_t PACKED_NAME_MAX = 5;

bool packed_name(std::string_view name) {
    if (name.empty() || name.size() > PACKED_NAME_MAX) return false;
    for (char b : name)
        if (!(b == '_' || (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'))) return false;
    return true;
}

// Calls made with each name a strict entity's property makes: its own, its
// setter's and its instance variable's.
template <typename F> void for_each_property_name(std::string_view property, F made) {
    std::string name(property);
    made(name);
    made(name + "=");
    made("@" + name);
}

// The Symbol a name already is, or 0 when it has not been made (or is too
// long to be one: making it will fail).
mrb_sym symbol_if_made(mrb_state *mrb, std::string_view name) {
    if (name.size() > NAME_LENGTH_MAX) return 0;
    return mrb_intern_check(mrb, name.data(), name.size());
}

// The highest Symbol made so far. Symbols are numbered in the order they are
// made; those packed into their values are numbered past every made one.
mrb_sym newest_symbol(mrb_state *mrb) {
    mrb_sym made = 0, unmade = (mrb_sym)1 << 24;
    while (unmade - made > 1) {
        mrb_sym middle = made + (unmade - made) / 2;
        if (mrb_sym_name_len(mrb, middle, nullptr)) made = middle;
        else unmade = middle;
    }
    return made;
}

// The Symbols every run of the game has before any of its code runs (the
// interpreter's, the framework's and the runtime's) are those numbered up to
// this: the mark is taken again just before the game's first file loads.
// Names the game's files, its boot or a load make later count as new, for a
// new run may not have them when it loads a save.
struct fresh_run_symbols {
    mrb_state *owner = nullptr;
    mrb_sym newest = 0;
};

fresh_run_symbols the_fresh_run_symbols;

void mark_fresh_run(mrb_state *mrb) {
    the_fresh_run_symbols.owner = mrb;
    the_fresh_run_symbols.newest = newest_symbol(mrb);
}

// Whether a name is one a fresh run of the game has made already, or a
// packed one, which never needs making.
bool fresh_run_has(mrb_state *mrb, std::string_view name) {
    if (packed_name(name)) return true;
    if (the_fresh_run_symbols.owner != mrb) mark_fresh_run(mrb);
    mrb_sym sym = symbol_if_made(mrb, name);
    return sym && sym <= the_fresh_run_symbols.newest;
}

// --- What a load makes an entity of ------------------------------------------------

// The writer writes a Hash of the game's that a load could take for an
// entity (it holds :entity_id) inside a Hash of one pair under this key, a
// wrapper, and so one holding the key itself; the reader gives back the Hash
// inside, as it was.
const char PLAIN_HASH_KEY[] = "__plain_hash__";

// The Symbols the loader looks for, made once per walk.
struct loader_keys {
    mrb_sym entity_id, plain_hash;
};

loader_keys loader_keys_of(mrb_state *mrb) {
    return {mrb_intern_lit(mrb, "entity_id"), mrb_intern_cstr(mrb, PLAIN_HASH_KEY)};
}

bool has_key(mrb_state *mrb, mrb_value hash, mrb_sym key) {
    return mrb_hash_key_p(mrb, hash, mrb_symbol_value(key));
}

// Whether loading must look at a Hash itself: it may be an entity.
bool rebuild_candidate(mrb_state *mrb, mrb_value hash, const loader_keys &keys) {
    return has_key(mrb, hash, keys.entity_id);
}

// Whether the writer must wrap a Hash of the game's: a load would take it
// for an entity, or for a wrapper (one holding the wrapper's key is wrapped
// whatever its size).
bool needs_plain_hash_wrapper(mrb_state *mrb, mrb_value hash, const loader_keys &keys) {
    return has_key(mrb, hash, keys.entity_id) || has_key(mrb, hash, keys.plain_hash);
}

// The Hash a wrapper holds; nil for anything else. Every value the writer
// writes that has the wrapper's shape is one: the game's own Hashes of that
// shape are wrapped, and an entity holds :entity_id.
mrb_value wrapped_hash(mrb_state *mrb, mrb_value value, const loader_keys &keys) {
    if (!mrb_hash_p(value) || mrb_hash_size(mrb, value) != 1) return mrb_nil_value();
    mrb_value inner = mrb_hash_fetch(mrb, value, mrb_symbol_value(keys.plain_hash), mrb_nil_value());
    return mrb_hash_p(inner) ? inner : mrb_nil_value();
}

// --- Writing --------------------------------------------------------------------

// One open Array or Hash. Its elements (an Array's) or its keys and values
// (a Hash's, in pairs) are copied to the keep stack when it opens, as they
// were then, after the value and the pairs it is written as. A Hash's keys
// are written as its values are: Arrays and Hashes as keys read back too.
struct write_frame {
    mrb_int base;  // keep stack length before this frame
    mrb_int first; // its first element in the keep stack
    mrb_int steps; // elements, or keys and values
    mrb_int next;  // the next step to write
    bool hash;
    bool entity;       // keys that are plain names read as properties in paths
    bool wrapped;      // a Hash of the game's written inside PLAIN_HASH_KEY
    mrb_int slot;      // the step it is in its parent
    const void *ids[2]; // the value and the pairs it is written as
    // Where the text of the key being written, or whose value is, lies in
    // the output: a value's key path shows the key as it was written.
    size_t key_begin, key_end;
};

struct text_writer {
    mrb_state *mrb;
    mrb_value root_value, root_path, writer;
    mrb_value keep; // every value an open frame still needs, for the collector
    int arena;
    std::string out;
    std::vector<write_frame> frames;
    // Open containers by identity: a value that is one of them holds itself.
    std::unordered_map<const void *, size_t> open;
    std::unordered_map<mrb_sym, std::string> symbols;
    // The names of strict entities' properties, counted with the Symbols.
    std::unordered_set<std::string> property_names;
    std::string path, other_path;
    // Whether each class still prints as the interpreter prints it; a class
    // whose inspect was redefined is asked for its text instead.
    bool plain_nil, plain_true, plain_false, plain_integer, plain_string;
    mrb_sym inspect, pairs_of, refuse_self_holding, refuse_value, refuse_raised, refuse_symbols, note_lost_default,
        entity_id, entity_strict;
    loader_keys keys;
    // The value being written (its step in the innermost frame) and the
    // method of its own the walk is calling, so that an exception it raises
    // is reported with its key path; whether the walk itself refused.
    mrb_int writing;
    const char *calling;
    bool refusing;
    mrb_value raised;
};

bool inspect_is_native(mrb_state *mrb, RClass *klass, mrb_sym inspect) {
    mrb_method_t method = mrb_method_search_vm(mrb, &klass, inspect);
    return !MRB_METHOD_UNDEF_P(method) && MRB_METHOD_CFUNC_P(method);
}

mrb_value call(text_writer *w, mrb_value receiver, mrb_sym method, mrb_int argc, const mrb_value *argv) {
    return mrb_funcall_argv(w->mrb, receiver, method, argc, argv);
}

// Appends to out the text value.inspect gives (to the saved text when out
// is not named).
void append_inspect(text_writer *w, mrb_value value, std::string *out = nullptr) {
    w->calling = "inspect";
    mrb_value text = mrb_obj_as_string(w->mrb, call(w, value, w->inspect, 0, nullptr));
    (out ? out : &w->out)->append(RSTRING_PTR(text), (size_t)RSTRING_LEN(text));
}

void append_float(text_writer *w, double value) {
    char text[FLOAT_TEXT_SIZE];
    size_t length = float_text_format(value, text);
    // Infinities and NaN are written by the names the reader knows.
    if (std::isnan(value))
        w->out.append("NaN");
    else if (std::isinf(value))
        w->out.append(value > 0 ? "Infinity" : "-Infinity");
    else
        w->out.append(text, length);
}

// Appends the text of a plain value (nil, true, false, an Integer, a Float,
// a String or a Symbol) and answers true; false for anything else.
bool append_scalar(text_writer *w, mrb_value value) {
    mrb_state *mrb = w->mrb;
    if (mrb_nil_p(value)) {
        if (!w->plain_nil) append_inspect(w, value);
        else w->out.append("nil");
    } else if (mrb_true_p(value)) {
        if (!w->plain_true) append_inspect(w, value);
        else w->out.append("true");
    } else if (mrb_false_p(value)) {
        if (!w->plain_false) append_inspect(w, value);
        else w->out.append("false");
    } else if (mrb_integer_p(value)) {
        if (!w->plain_integer) {
            append_inspect(w, value);
        } else {
            char text[32];
            int length = std::snprintf(text, sizeof(text), "%" PRId64, (int64_t)mrb_integer(value));
            w->out.append(text, (size_t)length);
        }
    } else if (mrb_float_p(value)) {
        append_float(w, (double)mrb_float(value));
    } else if (mrb_symbol_p(value)) {
        // Few symbols, written many times over: each is asked once.
        mrb_sym sym = mrb_symbol(value);
        auto found = w->symbols.find(sym);
        if (found == w->symbols.end()) {
            found = w->symbols.emplace(sym, std::string()).first;
            append_inspect(w, value, &found->second);
        }
        w->out.append(found->second);
    } else if (mrb_string_p(value)) {
        if (w->plain_string && mrb_class(mrb, value) == mrb->string_class) {
            mrb_value text = mrb_str_inspect(mrb, value);
            w->out.append(RSTRING_PTR(text), (size_t)RSTRING_LEN(text));
        } else {
            append_inspect(w, value);
        }
    } else {
        return false;
    }
    return true;
}

bool word_name(const char *name, mrb_int length) {
    if (length == 0) return false;
    for (mrb_int i = 0; i < length; ++i) {
        char b = name[i];
        if (!(b == '_' || (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'))) return false;
    }
    return true;
}

// Appends to out how the child at step of frame is reached: "[3]" in an
// Array, ".name" for an entity's property, "[key]" for a value in a Hash,
// with the key as written, and ".keys[2]" for a Hash's key itself. No Ruby
// code runs for it: a path may be wanted because Ruby code raised.
void append_child_step(text_writer *w, const write_frame &frame, mrb_int step, std::string *out) {
    if (!frame.hash) {
        out->append("[").append(std::to_string((long long)step)).append("]");
        return;
    }
    if (step % 2 == 0) {
        out->append(".keys[").append(std::to_string((long long)(step / 2))).append("]");
        return;
    }
    mrb_value key = item(w->keep, frame.first + step - 1);
    if (frame.entity && mrb_symbol_p(key)) {
        mrb_int length = 0;
        const char *name = mrb_sym_name_len(w->mrb, mrb_symbol(key), &length);
        if (name && word_name(name, length)) {
            out->append(".").append(name, (size_t)length);
            return;
        }
    }
    out->append("[").append(w->out, frame.key_begin, frame.key_end - frame.key_begin).append("]");
}

// Key paths such as "args.state.items[3][:bad]" name the value a refusal is
// about. Only a refusal needs one, so none is kept.
void frame_path(text_writer *w, size_t index, std::string *out) {
    out->assign(RSTRING_PTR(w->root_path), (size_t)RSTRING_LEN(w->root_path));
    for (size_t i = 1; i <= index; ++i) append_child_step(w, w->frames[i - 1], w->frames[i].slot, out);
}

// The path of the value in slot of the innermost frame, or of the value
// written when no frame is open yet.
void child_path(text_writer *w, mrb_int slot, std::string *out) {
    if (w->frames.empty()) {
        out->assign(RSTRING_PTR(w->root_path), (size_t)RSTRING_LEN(w->root_path));
        return;
    }
    frame_path(w, w->frames.size() - 1, out);
    append_child_step(w, w->frames.back(), slot, out);
}

mrb_value text_string(text_writer *w, const std::string &text) {
    return mrb_str_new(w->mrb, text.data(), (mrb_int)text.size());
}

// A Hash with the keys :entity_id and :entity_strict loads as a strict
// entity, which makes Symbols of its Symbol and String keys; they are noted
// to be counted as the reader counts them.
void note_strict_properties(text_writer *w, const write_frame &frame) {
    bool id = false, strict = false;
    for (mrb_int step = 0; step < frame.steps; step += 2) {
        mrb_value key = item(w->keep, frame.first + step);
        if (!mrb_symbol_p(key)) continue;
        id = id || mrb_symbol(key) == w->entity_id;
        strict = strict || mrb_symbol(key) == w->entity_strict;
    }
    if (!id || !strict) return;
    for (mrb_int step = 0; step < frame.steps; step += 2) {
        mrb_value key = item(w->keep, frame.first + step);
        std::string_view name;
        mrb_int length = 0;
        if (mrb_symbol_p(key)) {
            const char *bytes = mrb_sym_name_len(w->mrb, mrb_symbol(key), &length);
            name = std::string_view(bytes, (size_t)length);
        } else if (mrb_string_p(key)) {
            name = std::string_view(RSTRING_PTR(key), (size_t)RSTRING_LEN(key));
        } else {
            continue;
        }
        for_each_property_name(name, [w](const std::string &made) { w->property_names.insert(made); });
    }
}

// The names a load of the text in a fresh run of the game would make: every
// name it holds, the strict entities' properties' too, but those that run
// has already. Answers their count and their bytes in all.
std::pair<size_t, size_t> names_to_make(text_writer *w) {
    std::unordered_set<std::string> names = std::move(w->property_names);
    for (const auto &entry : w->symbols) {
        mrb_int length = 0;
        const char *bytes = mrb_sym_name_len(w->mrb, entry.first, &length);
        names.emplace(bytes, (size_t)length);
    }
    size_t count = 0, bytes = 0;
    for (const std::string &name : names) {
        if (fresh_run_has(w->mrb, name)) continue;
        ++count;
        bytes += name.size();
    }
    return {count, bytes};
}

// A Hash's default value or default proc is not written: the writer tells
// the game which Hash loads without one, by its key path.
void note_lost_default(text_writer *w, mrb_int slot, mrb_value hash) {
    child_path(w, slot, &w->path);
    mrb_value args[2] = {text_string(w, w->path), mrb_bool_value(MRB_RHASH_PROCDEFAULT_P(hash))};
    w->calling = "note_lost_default";
    call(w, w->writer, w->note_lost_default, 2, args);
}

// Writes value, the child at step slot of the innermost frame (or the value
// the walk begins with): its text when it is plain, else it opens as a
// frame.
void write_value(text_writer *w, mrb_value value, mrb_int slot) {
    mrb_state *mrb = w->mrb;
    w->writing = slot;
    if (append_scalar(w, value)) return;
    mrb_value pairs = value;
    bool entity = false, loads_as_entity = false;
    if (!mrb_obj_is_kind_of(mrb, value, mrb->array_class) && !mrb_obj_is_kind_of(mrb, value, mrb->hash_class)) {
        w->calling = "serialize";
        mrb_value answer = call(w, w->writer, w->pairs_of, 1, &value);
        if (!mrb_array_p(answer) || RARRAY_LEN(answer) < 2 ||
            !(mrb_array_p(item(answer, 0)) || mrb_hash_p(item(answer, 0)))) {
            child_path(w, slot, &w->path);
            mrb_value args[2] = {text_string(w, w->path), value};
            w->refusing = true;
            call(w, w->writer, w->refuse_value, 2, args);
            return;
        }
        pairs = item(answer, 0);
        entity = mrb_test(item(answer, 1));
        loads_as_entity = RARRAY_LEN(answer) > 2 && mrb_test(item(answer, 2));
    }
    const void *ids[2] = {mrb_ptr(pairs), mrb_ptr(value)};
    for (const void *id : ids) {
        auto found = w->open.find(id);
        if (found == w->open.end()) continue;
        child_path(w, slot, &w->path);
        frame_path(w, found->second, &w->other_path);
        mrb_value args[2] = {text_string(w, w->path), text_string(w, w->other_path)};
        w->refusing = true;
        call(w, w->writer, w->refuse_self_holding, 2, args);
        return;
    }

    write_frame frame;
    frame.base = RARRAY_LEN(w->keep);
    frame.slot = slot;
    frame.entity = entity;
    frame.next = 0;
    frame.key_begin = frame.key_end = 0;
    frame.ids[0] = ids[0];
    frame.ids[1] = ids[1];
    // Both stay referenced while open, so that a Hash made for the writing
    // (a strict entity's) is not collected and its address taken by another.
    mrb_ary_push(mrb, w->keep, value);
    mrb_ary_push(mrb, w->keep, pairs);
    frame.first = RARRAY_LEN(w->keep);
    frame.hash = mrb_hash_p(pairs);
    push_children(mrb, w->keep, pairs);
    frame.steps = RARRAY_LEN(w->keep) - frame.first;
    frame.wrapped = frame.hash && !loads_as_entity && needs_plain_hash_wrapper(mrb, pairs, w->keys);
    if (frame.hash) {
        note_strict_properties(w, frame);
        if (MRB_RHASH_DEFAULT_P(pairs)) note_lost_default(w, slot, pairs);
    }
    size_t index = w->frames.size();
    w->frames.push_back(frame);
    for (const void *id : ids) w->open.emplace(id, index);
    if (frame.wrapped) w->out.append("{:").append(PLAIN_HASH_KEY).append("=>");
    w->out.push_back(frame.hash ? '{' : '[');
}

mrb_value write_walk(mrb_state *mrb, void *data) {
    text_writer *w = (text_writer *)data;
    write_value(w, w->root_value, 0);
    mrb_gc_arena_restore(mrb, w->arena);
    while (!w->frames.empty()) {
        size_t index = w->frames.size() - 1;
        write_frame &frame = w->frames[index];
        if (frame.next == frame.steps) {
            w->out.push_back(frame.hash ? '}' : ']');
            if (frame.wrapped) w->out.push_back('}');
            for (const void *id : frame.ids) {
                auto found = w->open.find(id);
                if (found != w->open.end() && found->second == index) w->open.erase(found);
            }
            mrb_ary_resize(mrb, w->keep, frame.base);
            w->frames.pop_back();
            continue;
        }
        mrb_int step = frame.next++;
        bool key = frame.hash && step % 2 == 0;
        if (frame.hash && !key) {
            frame.key_end = w->out.size();
            w->out.append("=>");
        } else {
            if (step > 0) w->out.append(", ");
            if (key) frame.key_begin = w->out.size();
        }
        write_value(w, item(w->keep, frame.first + step), step);
        mrb_gc_arena_restore(mrb, w->arena);
    }
    auto [count, bytes] = names_to_make(w);
    if (count > NEW_SYMBOL_LIMIT || bytes > NEW_NAME_BYTES_LIMIT) {
        mrb_value args[4] = {mrb_int_value(mrb, (mrb_int)count), mrb_int_value(mrb, (mrb_int)bytes),
                             mrb_int_value(mrb, (mrb_int)NEW_SYMBOL_LIMIT),
                             mrb_int_value(mrb, (mrb_int)NEW_NAME_BYTES_LIMIT)};
        w->refusing = true;
        call(w, w->writer, w->refuse_symbols, 4, args);
    }
    return mrb_str_new(mrb, w->out.data(), (mrb_int)w->out.size());
}

mrb_value refuse_raised(mrb_state *, void *data) {
    text_writer *w = (text_writer *)data;
    mrb_value args[3] = {text_string(w, w->path), mrb_str_new_cstr(w->mrb, w->calling), w->raised};
    return call(w, w->writer, w->refuse_raised, 3, args);
}

// The text, or the exception the walk raised in *raised. A value's own
// method that raised (an inspect or a serialize) is refused with the value's
// key path and what it raised.
mrb_value write_text(mrb_state *mrb, mrb_value value, mrb_value root, mrb_value writer, mrb_bool *raised) {
    text_writer w;
    w.mrb = mrb;
    w.root_value = value;
    w.root_path = root;
    w.writer = writer;
    w.keep = mrb_ary_new(mrb);
    w.inspect = mrb_intern_lit(mrb, "inspect");
    w.pairs_of = mrb_intern_lit(mrb, "pairs_of");
    w.refuse_self_holding = mrb_intern_lit(mrb, "refuse_self_holding");
    w.refuse_value = mrb_intern_lit(mrb, "refuse_value");
    w.refuse_raised = mrb_intern_lit(mrb, "refuse_raised");
    w.refuse_symbols = mrb_intern_lit(mrb, "refuse_symbols");
    w.note_lost_default = mrb_intern_lit(mrb, "note_lost_default");
    w.entity_id = mrb_intern_lit(mrb, "entity_id");
    w.entity_strict = mrb_intern_lit(mrb, "entity_strict");
    w.keys = loader_keys_of(mrb);
    w.writing = 0;
    w.calling = "";
    w.refusing = false;
    w.plain_nil = inspect_is_native(mrb, mrb->nil_class, w.inspect);
    w.plain_true = inspect_is_native(mrb, mrb->true_class, w.inspect);
    w.plain_false = inspect_is_native(mrb, mrb->false_class, w.inspect);
    w.plain_integer = inspect_is_native(mrb, mrb->integer_class, w.inspect);
    w.plain_string = mrb_func_basic_p(mrb, mrb_str_new_lit(mrb, ""), w.inspect, mrb_str_inspect);
    w.arena = mrb_gc_arena_save(mrb);
    mrb_value result = mrb_protect_error(mrb, write_walk, &w, raised);
    if (!*raised || w.refusing || !mrb_obj_is_kind_of(mrb, result, mrb->eStandardError_class)) return result;
    child_path(&w, w.writing, &w.path);
    w.raised = result;
    mrb_ary_push(mrb, w.keep, result);
    return mrb_protect_error(mrb, refuse_raised, &w, raised);
}

// FFI.saved_text_write(value, root, writer): the saved text of value, whose
// key paths begin with root; writer answers pairs_of, is told of each Hash
// whose default is lost through note_lost_default, and raises through
// refuse_self_holding, refuse_value, refuse_raised and refuse_symbols.
mrb_value ffi_saved_text_write(mrb_state *mrb, mrb_value) {
    mrb_value value, root, writer;
    mrb_get_args(mrb, "oSo", &value, &root, &writer);
    mrb_bool raised = FALSE;
    mrb_value result = write_text(mrb, value, root, writer, &raised);
    if (raised) mrb_exc_raise(mrb, result);
    return result;
}

// --- Reading ----------------------------------------------------------------------

struct symbol_name {
    std::string_view name;
    size_t at;    // where it first appears
    mrb_sym sym;  // once looked up or made
    bool in_text; // a Symbol of the text, not only a name a strict entity makes
};

// A container the first pass is in. A Hash notes its Symbol and String keys
// (places among the names, or copies) and whether it holds :entity_id and
// :entity_strict, which make it a strict entity.
struct open_container {
    bool hash;
    bool key_next;
    bool id, strict;
    size_t at;
    std::vector<std::string_view> keys;
    std::vector<size_t> keys_at;
};

struct text_builder {
    mrb_state *mrb;
    saved_text_reader reader;
    // Every Symbol the load makes, in the order they first appear, found by
    // name: the text's own and the names of strict entities' properties.
    // Names that are not in the text as it stands (unescaped, or made from a
    // key) are kept in copies. Each Symbol in the text, in order, as its
    // place among them: the second pass takes them in turn.
    std::vector<symbol_name> names;
    std::unordered_map<std::string_view, uint32_t> name_places;
    std::deque<std::string> copies;
    std::vector<uint32_t> occurrences;
    size_t next_occurrence = 0;
    std::vector<open_container> containers;
    // Set when the load would make more new Symbols than the limit.
    size_t symbol_over_limit_at = 0;
    bool symbols_over_limit = false;
    // The open containers, each followed by its key while one waits for its
    // value, and the value just read; the collector sees them all here.
    mrb_value stack;
    std::vector<bool> key_waiting;
    // When the caller asks for them (marks is a Hash), the containers the
    // loader must make anew are noted there as they finish, by object id;
    // for each open container, whether it holds one.
    mrb_value marks;
    std::vector<bool> holds_marked;
    // Wrappers, and the containers holding one at any depth, by address,
    // for the pass that unwraps them once the whole value is read; for each
    // open container, whether it holds one.
    std::unordered_set<const void *> wrapper_paths;
    std::vector<bool> holds_wrapper;
    loader_keys keys;
    int arena;
};

// The place of name among the load's names, added when new; name must stay
// valid as long as the builder.
uint32_t note_name(text_builder *b, std::string_view name, size_t at) {
    auto found = b->name_places.find(name);
    if (found != b->name_places.end()) return found->second;
    uint32_t place = (uint32_t)b->names.size();
    b->name_places.emplace(name, place);
    b->names.push_back({name, at, 0, false});
    return place;
}

// A name the interpreter cannot make is refused where it is, as any other
// bad data; answers false then.
bool name_fits(text_builder *b, size_t length, size_t at, const char *what) {
    if (length <= NAME_LENGTH_MAX) return true;
    b->reader.failure = what;
    b->reader.failure_at = at;
    return false;
}

// Notes the names a strict entity makes of its properties when it loads;
// false when one of them would be too long ("@" and "=" add a byte).
bool note_property_names(text_builder *b, const open_container &hash) {
    for (size_t i = 0; i < hash.keys.size(); ++i) {
        std::string_view key = hash.keys[i];
        if (!name_fits(b, key.size() + 1, hash.keys_at[i], "property name too long")) return false;
        for_each_property_name(key, [&](const std::string &name) {
            auto found = b->name_places.find(name);
            if (found == b->name_places.end()) note_name(b, b->copies.emplace_back(name), hash.at);
        });
    }
    return true;
}

// The value a token begins has its place in the innermost container: as a
// key of a Hash, noted when it is a Symbol or a String, or as a value.
void note_place(text_builder *b, const saved_text_token &t, std::string_view name) {
    if (b->containers.empty()) return;
    open_container &c = b->containers.back();
    if (!c.hash) return;
    if (c.key_next && (t.kind == SAVED_TEXT_SYMBOL || t.kind == SAVED_TEXT_STRING)) {
        c.keys.push_back(name);
        c.keys_at.push_back(t.at);
        if (t.kind == SAVED_TEXT_SYMBOL) {
            c.id = c.id || name == "entity_id";
            c.strict = c.strict || name == "entity_strict";
        }
    }
}

// The value a token ended takes its turn in the innermost Hash: a key is
// followed by a value.
void end_place(text_builder *b) {
    if (!b->containers.empty() && b->containers.back().hash) b->containers.back().key_next ^= true;
}

// A first pass over the text: it must read to the end, and the Symbols the
// load makes are looked up, counted and, within the limit, the text's own are
// made. False when the text is refused.
bool collect_symbols(mrb_state *mrb, text_builder *b) {
    saved_text_reader *r = &b->reader;
    for (;;) {
        saved_text_token t = saved_text_next(r);
        if (t.kind == SAVED_TEXT_DONE) break;
        if (t.kind == SAVED_TEXT_FAILED) return false;
        if (t.kind == SAVED_TEXT_END) {
            open_container done = std::move(b->containers.back());
            b->containers.pop_back();
            if (done.hash && done.id && done.strict && !note_property_names(b, done)) return false;
            end_place(b);
            continue;
        }
        std::string_view name(t.bytes, t.length);
        bool copied = t.bytes < r->text || t.bytes >= r->text + r->length;
        if (t.kind == SAVED_TEXT_SYMBOL) {
            if (!name_fits(b, t.length, t.at, "Symbol name too long")) return false;
            auto found = b->name_places.find(name);
            uint32_t place = found != b->name_places.end() ? found->second
                                                           : note_name(b, copied ? b->copies.emplace_back(name) : name, t.at);
            b->names[place].in_text = true;
            b->occurrences.push_back(place);
            name = b->names[place].name;
        } else if (t.kind == SAVED_TEXT_STRING && copied && !b->containers.empty() &&
                   b->containers.back().hash && b->containers.back().key_next) {
            name = b->copies.emplace_back(name);
        }
        note_place(b, t, name);
        if ((t.kind == SAVED_TEXT_ARRAY || t.kind == SAVED_TEXT_HASH) && !t.empty)
            b->containers.push_back({t.kind == SAVED_TEXT_HASH, true, false, false, t.at, {}, {}});
        else
            end_place(b);
    }
    size_t fresh = 0, fresh_bytes = 0;
    for (symbol_name &n : b->names) {
        n.sym = symbol_if_made(mrb, n.name);
        if (n.sym) continue;
        fresh_bytes += n.name.size();
        if (++fresh > NEW_SYMBOL_LIMIT || fresh_bytes > NEW_NAME_BYTES_LIMIT) {
            b->symbols_over_limit = true;
            b->symbol_over_limit_at = n.at;
            return false;
        }
    }
    // The names of properties are made as the entities load.
    for (symbol_name &n : b->names)
        if (!n.sym && n.in_text) n.sym = mrb_intern(mrb, n.name.data(), n.name.size());
    return true;
}

mrb_value token_value(text_builder *b, const saved_text_token &t) {
    mrb_state *mrb = b->mrb;
    switch (t.kind) {
    case SAVED_TEXT_TRUE: return mrb_true_value();
    case SAVED_TEXT_FALSE: return mrb_false_value();
    case SAVED_TEXT_INTEGER: return mrb_int_value(mrb, (mrb_int)t.integer);
    case SAVED_TEXT_FLOAT: return mrb_float_value(mrb, (mrb_float)t.number);
    case SAVED_TEXT_STRING: return mrb_str_new(mrb, t.bytes, (mrb_int)t.length);
    case SAVED_TEXT_SYMBOL: return mrb_symbol_value(b->names[b->occurrences[b->next_occurrence++]].sym);
    default: return mrb_nil_value();
    }
}

// Puts the finished value on top of the stack where it belongs: into the
// Array below it, as the key of the Hash below it, or with the key below it
// into the Hash below that. It leaves the stack only once it is in place, so
// that the collector always sees it.
void place_value(mrb_state *mrb, text_builder *b) {
    if (b->key_waiting.empty()) return;
    mrb_int length = RARRAY_LEN(b->stack);
    if (b->key_waiting.back()) {
        mrb_hash_set(mrb, item(b->stack, length - 3), item(b->stack, length - 2), item(b->stack, length - 1));
        mrb_ary_pop(mrb, b->stack);
        mrb_ary_pop(mrb, b->stack);
        b->key_waiting.back() = false;
        return;
    }
    mrb_value container = item(b->stack, length - 2);
    if (!mrb_array_p(container)) {
        b->key_waiting.back() = true;
        return;
    }
    mrb_ary_push(mrb, container, item(b->stack, length - 1));
    mrb_ary_pop(mrb, b->stack);
}

// Notes a finished container when the loader must make it anew: one
// holding such a container (noted true), or a Hash it must look at itself
// that holds none (noted false). Whether it was noted.
bool note_if_marked(mrb_state *mrb, mrb_value marks, mrb_value container, bool holds_marked,
                    const loader_keys &keys) {
    if (!holds_marked && !(mrb_hash_p(container) && rebuild_candidate(mrb, container, keys))) return false;
    mrb_hash_set(mrb, marks, mrb_int_value(mrb, mrb_obj_id(container)), mrb_bool_value(holds_marked));
    return true;
}

// A wrapper taken away: the Hash it held is the game's, plain (noted so for
// the loader when it holds what is to be made anew, else not noted at all).
mrb_value unwrap(mrb_state *mrb, text_builder *b, mrb_value wrapper, mrb_value inner) {
    if (!mrb_hash_p(b->marks)) return inner;
    mrb_hash_delete_key(mrb, b->marks, mrb_int_value(mrb, mrb_obj_id(wrapper)));
    mrb_value id = mrb_int_value(mrb, mrb_obj_id(inner));
    if (mrb_test(mrb_hash_fetch(mrb, b->marks, id, mrb_false_value())))
        mrb_hash_set(mrb, b->marks, id, mrb_symbol_value(b->keys.plain_hash));
    else
        mrb_hash_delete_key(mrb, b->marks, id);
    return inner;
}

// A child of a container being unwrapped: the Hash it holds when it is a
// wrapper; each container that holds a wrapper is put on todo.
mrb_value unwrapped_child(mrb_state *mrb, text_builder *b, mrb_value child, std::vector<mrb_value> *todo) {
    if (!mrb_array_p(child) && !mrb_hash_p(child)) return child;
    if (!b->wrapper_paths.count(mrb_ptr(child))) return child;
    mrb_value inner = wrapped_hash(mrb, child, b->keys);
    if (!mrb_nil_p(inner)) child = unwrap(mrb, b, child, inner);
    if (b->wrapper_paths.count(mrb_ptr(child))) todo->push_back(child);
    return child;
}

// Takes every wrapper out of the value read, from the top down: a wrapper's
// Hash is the game's as it was, never itself a wrapper, while its keys and
// values are written values again. A Hash whose key changes is filled anew
// in its order; one whose key is an Array or a Hash that changes inside
// after it went in is rehashed once all is done, so that the key is found.
mrb_value unwrap_all(mrb_state *mrb, text_builder *b, mrb_value root) {
    std::vector<mrb_value> todo, to_rehash;
    root = unwrapped_child(mrb, b, root, &todo);
    mrb_value pairs = mrb_ary_new(mrb);
    int arena = mrb_gc_arena_save(mrb);
    while (!todo.empty()) {
        mrb_value container = todo.back();
        todo.pop_back();
        if (mrb_array_p(container)) {
            for (mrb_int i = 0; i < RARRAY_LEN(container); ++i)
                mrb_ary_set(mrb, container, i, unwrapped_child(mrb, b, item(container, i), &todo));
        } else {
            mrb_ary_clear(mrb, pairs);
            push_children(mrb, pairs, container);
            bool keys_changed = false, keys_change_inside = false;
            for (mrb_int i = 0; i < RARRAY_LEN(pairs); ++i) {
                mrb_value was = item(pairs, i), now = unwrapped_child(mrb, b, was, &todo);
                // A key that holds a wrapper is on todo: it changes later.
                if (i % 2 == 0 && b->wrapper_paths.count(mrb_ptr(now))) keys_change_inside = true;
                if (mrb_obj_equal(mrb, was, now)) continue;
                mrb_ary_set(mrb, pairs, i, now);
                if (i % 2 == 0) keys_changed = true;
                else if (!keys_changed) mrb_hash_set(mrb, container, item(pairs, i - 1), now);
            }
            if (keys_changed) {
                mrb_hash_clear(mrb, container);
                for (mrb_int i = 0; i < RARRAY_LEN(pairs); i += 2)
                    mrb_hash_set(mrb, container, item(pairs, i), item(pairs, i + 1));
            }
            if (keys_change_inside) to_rehash.push_back(container);
        }
        mrb_gc_arena_restore(mrb, arena);
    }
    for (mrb_value hash : to_rehash) {
        mrb_funcall_id(mrb, hash, mrb_intern_lit(mrb, "rehash"), 0);
        mrb_gc_arena_restore(mrb, arena);
    }
    return root;
}

mrb_value read_walk(mrb_state *mrb, void *data) {
    text_builder *b = (text_builder *)data;
    if (!collect_symbols(mrb, b)) return mrb_nil_value();
    saved_text_read_start(&b->reader, b->reader.text, b->reader.length);
    bool marking = mrb_hash_p(b->marks);
    for (;;) {
        saved_text_token t = saved_text_next(&b->reader);
        if (t.kind == SAVED_TEXT_DONE || t.kind == SAVED_TEXT_FAILED) break;
        if (t.kind == SAVED_TEXT_END) {
            // The finished container is on top already.
            b->key_waiting.pop_back();
            mrb_value done = item(b->stack, RARRAY_LEN(b->stack) - 1);
            bool holds_wrapper = b->holds_wrapper.back();
            b->holds_wrapper.pop_back();
            if (holds_wrapper || !mrb_nil_p(wrapped_hash(mrb, done, b->keys))) {
                b->wrapper_paths.insert(mrb_ptr(done));
                if (!b->holds_wrapper.empty()) b->holds_wrapper.back() = true;
            }
            if (marking) {
                bool marked = note_if_marked(mrb, b->marks, done, b->holds_marked.back(), b->keys);
                b->holds_marked.pop_back();
                if (marked && !b->holds_marked.empty()) b->holds_marked.back() = true;
            }
        } else if ((t.kind == SAVED_TEXT_ARRAY || t.kind == SAVED_TEXT_HASH) && !t.empty) {
            mrb_ary_push(mrb, b->stack, t.kind == SAVED_TEXT_HASH ? mrb_hash_new(mrb) : mrb_ary_new(mrb));
            b->key_waiting.push_back(false);
            b->holds_wrapper.push_back(false);
            if (marking) b->holds_marked.push_back(false);
            mrb_gc_arena_restore(mrb, b->arena);
            continue;
        } else {
            mrb_value value = t.kind == SAVED_TEXT_ARRAY ? mrb_ary_new(mrb)
                              : t.kind == SAVED_TEXT_HASH ? mrb_hash_new(mrb)
                                                          : token_value(b, t);
            mrb_ary_push(mrb, b->stack, value);
        }
        place_value(mrb, b);
        mrb_gc_arena_restore(mrb, b->arena);
    }
    // The whole value is the one left on the stack once every container
    // closed.
    if (!b->key_waiting.empty() || RARRAY_LEN(b->stack) != 1) return mrb_nil_value();
    mrb_value value = item(b->stack, 0);
    return b->wrapper_paths.empty() ? value : unwrap_all(mrb, b, value);
}

// FFI.saved_text_read(text, failure, marks = nil): the value text holds, its
// wrappers taken out; for text that is not saved state nil, with what was
// wrong and its byte offset appended to failure, and the limits as well when
// it names too many new Symbols. Given a Hash as marks, it notes there what
// the loader must make anew (as FFI.saved_data_marks does), and marks with
// PLAIN_HASH_KEY a Hash that was wrapped and holds such a container.
mrb_value ffi_saved_text_read(mrb_state *mrb, mrb_value) {
    mrb_value text, failure, marks = mrb_nil_value();
    mrb_get_args(mrb, "SA|o", &text, &failure, &marks);
    mrb_bool raised = FALSE;
    mrb_value result;
    const char *what = nullptr;
    size_t at = 0;
    bool over_limit = false;
    {
        text_builder b;
        b.mrb = mrb;
        // The reader reads a copy: a value built on the way could run code
        // that changes the String.
        mrb_value copy = mrb_str_dup(mrb, text);
        saved_text_read_start(&b.reader, RSTRING_PTR(copy), (size_t)RSTRING_LEN(copy));
        b.stack = mrb_ary_new(mrb);
        b.marks = marks;
        b.keys = loader_keys_of(mrb);
        b.arena = mrb_gc_arena_save(mrb);
        result = mrb_protect_error(mrb, read_walk, &b, &raised);
        what = b.reader.failure;
        at = b.reader.failure_at;
        if (b.symbols_over_limit) {
            over_limit = true;
            what = "too many new Symbols";
            at = b.symbol_over_limit_at;
        }
    }
    if (raised) mrb_exc_raise(mrb, result);
    if (!what) return result;
    mrb_ary_push(mrb, failure, mrb_str_new_cstr(mrb, what));
    mrb_ary_push(mrb, failure, mrb_int_value(mrb, (mrb_int)at));
    if (over_limit) {
        mrb_ary_push(mrb, failure, mrb_int_value(mrb, (mrb_int)NEW_SYMBOL_LIMIT));
        mrb_ary_push(mrb, failure, mrb_int_value(mrb, (mrb_int)NEW_NAME_BYTES_LIMIT));
    }
    return mrb_nil_value();
}

// --- Rebuilding -------------------------------------------------------------------

bool array_or_hash(mrb_value value) { return mrb_array_p(value) || mrb_hash_p(value); }

struct mark_frame {
    mrb_value container;
    mrb_int first, next, end; // its children in the keep stack
    bool holds_marked;
};

enum class mark_state : char { open, plain, marked };

// FFI.saved_data_marks(value): a Hash of the object ids of every Array and
// Hash in value that loading must make anew: a Hash it must look at itself
// (a possible entity or the wrapper of a plain Hash) and every container
// that holds one, at any depth, keys included; each noted true when it holds
// one. Nothing else is made anew. A
// container met twice is looked through once; one met inside itself counts
// as holding nothing there.
mrb_value ffi_saved_data_marks(mrb_state *mrb, mrb_value) {
    mrb_value value;
    mrb_get_args(mrb, "o", &value);
    mrb_value marks = mrb_hash_new(mrb);
    if (!array_or_hash(value)) return marks;
    loader_keys keys = loader_keys_of(mrb);
    mrb_value keep = mrb_ary_new(mrb);
    int arena = mrb_gc_arena_save(mrb);
    std::unordered_map<const void *, mark_state> seen;
    std::vector<mark_frame> frames;
    auto open = [&](mrb_value container) {
        seen[mrb_ptr(container)] = mark_state::open;
        mrb_int first = RARRAY_LEN(keep);
        push_children(mrb, keep, container);
        frames.push_back({container, first, first, RARRAY_LEN(keep), false});
    };
    mrb_ary_push(mrb, keep, value);
    open(value);
    while (!frames.empty()) {
        mark_frame &frame = frames.back();
        if (frame.next < frame.end) {
            mrb_value child = item(keep, frame.next++);
            if (!array_or_hash(child)) continue;
            auto found = seen.find(mrb_ptr(child));
            if (found == seen.end()) open(child);
            else if (found->second == mark_state::marked) frame.holds_marked = true;
            continue;
        }
        mark_frame done = frame;
        frames.pop_back();
        bool marked = note_if_marked(mrb, marks, done.container, done.holds_marked, keys);
        seen[mrb_ptr(done.container)] = marked ? mark_state::marked : mark_state::plain;
        if (marked && !frames.empty()) frames.back().holds_marked = true;
        mrb_ary_resize(mrb, keep, done.first);
        mrb_gc_arena_restore(mrb, arena);
    }
    return marks;
}

// FFI.saved_data_marked_steps(container, marks): where in an Array or a
// Hash the children that marks holds are: an Array's element indices, a
// Hash's steps (2i for the key of its i-th pair, 2i + 1 for its value), in
// order.
mrb_value ffi_saved_data_marked_steps(mrb_state *mrb, mrb_value) {
    mrb_value container, marks;
    mrb_get_args(mrb, "oH", &container, &marks);
    mrb_value steps = mrb_ary_new(mrb);
    if (!array_or_hash(container)) return steps;
    mrb_value children = mrb_ary_new(mrb);
    push_children(mrb, children, container);
    int arena = mrb_gc_arena_save(mrb);
    for (mrb_int i = 0; i < RARRAY_LEN(children); ++i) {
        mrb_value child = item(children, i);
        if (array_or_hash(child) && mrb_hash_key_p(mrb, marks, mrb_int_value(mrb, mrb_obj_id(child))))
            mrb_ary_push(mrb, steps, mrb_int_value(mrb, i));
        mrb_gc_arena_restore(mrb, arena);
    }
    return steps;
}

// Whether two values hold the same scalar: the same kind and the same value,
// a Float to the bit (so NaN matches NaN, and -0.0 not 0.0); any other object
// only itself.
bool same_scalar(mrb_state *mrb, mrb_value a, mrb_value b) {
    if (mrb_type(a) != mrb_type(b)) return false;
    if (mrb_integer_p(a)) return mrb_integer(a) == mrb_integer(b);
    if (mrb_float_p(a)) {
        mrb_float x = mrb_float(a), y = mrb_float(b);
        return std::memcmp(&x, &y, sizeof x) == 0;
    }
    if (mrb_string_p(a))
        return RSTRING_LEN(a) == RSTRING_LEN(b) && std::memcmp(RSTRING_PTR(a), RSTRING_PTR(b), RSTRING_LEN(a)) == 0;
    return mrb_obj_equal(mrb, a, b);
}

// FFI.saved_data_same?(a, b): whether two pieces of saved data hold the same:
// Arrays of the same elements, Hashes of the same pairs in the same order,
// at any depth, without recursion. An entity written twice in one save is
// written the same both times; two entities that were given one id (each of
// two saves loaded in one run, say) are not one entity unless their data
// agree. A pair of containers met again inside itself counts as the same.
mrb_value ffi_saved_data_same(mrb_state *mrb, mrb_value) {
    mrb_value a, b;
    mrb_get_args(mrb, "oo", &a, &b);
    mrb_value keep = mrb_ary_new(mrb), pairs_a = mrb_ary_new(mrb), pairs_b = mrb_ary_new(mrb);
    std::set<std::pair<const void *, const void *>> seen; // pairs of containers compared
    mrb_ary_push(mrb, keep, a);
    mrb_ary_push(mrb, keep, b);
    int arena = mrb_gc_arena_save(mrb);
    while (RARRAY_LEN(keep) > 0) {
        mrb_value y = mrb_ary_pop(mrb, keep), x = mrb_ary_pop(mrb, keep);
        if (mrb_obj_equal(mrb, x, y)) continue;
        if (!array_or_hash(x) || !array_or_hash(y)) {
            if (!same_scalar(mrb, x, y)) return mrb_false_value();
            continue;
        }
        if (mrb_array_p(x) != mrb_array_p(y)) return mrb_false_value();
        if (mrb_array_p(x) ? RARRAY_LEN(x) != RARRAY_LEN(y) : mrb_hash_size(mrb, x) != mrb_hash_size(mrb, y))
            return mrb_false_value();
        if (!seen.insert({mrb_ptr(x), mrb_ptr(y)}).second) continue;
        mrb_ary_clear(mrb, pairs_a);
        mrb_ary_clear(mrb, pairs_b);
        push_children(mrb, pairs_a, x);
        push_children(mrb, pairs_b, y);
        if (RARRAY_LEN(pairs_a) != RARRAY_LEN(pairs_b)) return mrb_false_value();
        for (mrb_int i = RARRAY_LEN(pairs_a) - 1; i >= 0; --i) {
            mrb_ary_push(mrb, keep, item(pairs_a, i));
            mrb_ary_push(mrb, keep, item(pairs_b, i));
        }
        mrb_gc_arena_restore(mrb, arena);
    }
    return mrb_true_value();
}

// FFI.saved_text_mark_fresh_run: the game's first file is about to load; the
// Symbols there are now are those every run of it has before it can load a
// save.
mrb_value ffi_saved_text_mark_fresh_run(mrb_state *mrb, mrb_value) {
    mark_fresh_run(mrb);
    return mrb_nil_value();
}

} // namespace

void ffi_saved_text_methods_define(mrb_state *mrb, RClass *ffi_module) {
    // The loader's own keys are made before any game runs, so that no save
    // counts them as new.
    loader_keys_of(mrb);
    mark_fresh_run(mrb);
    mrb_define_module_function(mrb, ffi_module, "saved_text_mark_fresh_run", ffi_saved_text_mark_fresh_run,
                               MRB_ARGS_NONE());
    mrb_define_module_function(mrb, ffi_module, "saved_text_write", ffi_saved_text_write, MRB_ARGS_REQ(3));
    mrb_define_module_function(mrb, ffi_module, "saved_text_read", ffi_saved_text_read, MRB_ARGS_ARG(2, 1));
    mrb_define_module_function(mrb, ffi_module, "saved_data_marks", ffi_saved_data_marks, MRB_ARGS_REQ(1));
    mrb_define_module_function(mrb, ffi_module, "saved_data_marked_steps", ffi_saved_data_marked_steps,
                               MRB_ARGS_REQ(2));
    mrb_define_module_function(mrb, ffi_module, "saved_data_same?", ffi_saved_data_same, MRB_ARGS_REQ(2));
}
