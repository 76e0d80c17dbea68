// The sprite and label walks' fast path. Drawing a sprite through its
// attribute readers costs 22 Ruby calls and a 22-argument call into
// FFI::Draw (a label a dozen calls); for the shapes games use most (a plain
// Hash, and for sprites an object whose class takes its readers from
// AttrSprite) the same values can be read natively, straight from the
// Hash's entries or the object's instance variables, and turned into the
// same command draw_sprite_3 or draw_label makes of them.
//
// It only stands in where it cannot differ from the general path: the
// readers, respond_to? and the collection's at/length must still be the
// framework's own (recorded at start-up, checked once per pass, and per class
// for objects), the object must not answer draw_override, and the values must
// be of the kinds the general path passes through unchanged (numbers or
// anything for the numeric fields, a String or nothing for the path, a
// label's text and font, true, false or nil for the flips). Everything else
// is left to the Ruby walk.
#include "sprite_fast_path.h"

#include "../host/engine.h"
#include "draw_methods.h"

#include <cstring>
#include <initializer_list>

namespace {

// The readers' names, in draw_sprite_3's order.
constexpr int F_COUNT = SPRITE_ARGUMENTS;
const char *const FIELD_NAMES[F_COUNT] = {
    "x", "y", "w", "h", "path", "angle", "a", "r", "g", "b", "tile_x", "tile_y", "tile_w", "tile_h",
    "flip_horizontally", "flip_vertically", "angle_anchor_x", "angle_anchor_y", "source_x", "source_y",
    "source_w", "source_h"};

// A label's readers, in draw_label's order.
const char *const LABEL_FIELD_NAMES[LABEL_ARGUMENTS] = {"x", "y", "text", "size_enum", "alignment_enum",
                                                        "r", "g", "b", "a", "font"};

// Hash keys whose presence sends a reader to a fallback (x from :rect or
// :point, r from :rgb or :rgba, ...).
const char *const FALLBACK_KEYS[] = {"rect", "point", "rgb", "rgba"};
constexpr int FALLBACK_COUNT = 4;

// Symbol to field, for the keys a Hash of one kind may hold: a small
// open-addressed table filled at start-up.
constexpr int KEY_TABLE_SIZE = 64;
constexpr int KEY_NONE = -1;
constexpr int KEY_FALLBACK = -2;

struct key_entry {
    mrb_sym sym;
    int slot; // a field, or KEY_FALLBACK
};

// What a Hash of one kind (sprite or label) is read by.
struct hash_kind {
    int count;
    const char *const *names;
    mrb_sym syms[F_COUNT];
    mrb_method_t readers[F_COUNT]; // the framework's own Hash readers
    bool have_readers;
    key_entry keys[KEY_TABLE_SIZE];
    bool fast; // decided once per pass
};

uint32_t key_hash(mrb_sym sym) { return ((uint32_t)sym * 2654435761u) >> 26; }

void key_table_add(key_entry *table, mrb_sym sym, int slot) {
    for (uint32_t i = key_hash(sym);; i = (i + 1) & (KEY_TABLE_SIZE - 1))
        if (table[i].sym == 0 || table[i].sym == sym) {
            table[i] = {sym, slot};
            return;
        }
}

int key_slot(const key_entry *table, mrb_sym sym) {
    for (uint32_t i = key_hash(sym);; i = (i + 1) & (KEY_TABLE_SIZE - 1)) {
        if (table[i].sym == sym) return table[i].slot;
        if (table[i].sym == 0) return KEY_NONE;
    }
}

// Methods whose redefinition would change what the general path does.
enum guard_method { G_RESPOND_TO, G_RESPOND_TO_MISSING, G_DRAW_OVERRIDE, G_INDEX, G_COUNT };
const char *const GUARD_NAMES[G_COUNT] = {"respond_to?", "respond_to_missing?", "draw_override", "[]"};

constexpr int CLASS_CACHE_SIZE = 16;

struct class_verdict {
    RClass *klass;
    bool fast;
};

struct fast_path_state {
    bool recorded = false;
    hash_kind sprites = {F_COUNT, FIELD_NAMES, {}, {}, false, {}, false};
    hash_kind labels = {LABEL_ARGUMENTS, LABEL_FIELD_NAMES, {}, {}, false, {}, false};
    // An AttrSprite object's instance variables (@x, @path, ...) to fields.
    key_entry ivar_keys[KEY_TABLE_SIZE];
    mrb_sym fallback_syms[FALLBACK_COUNT];
    mrb_sym guard_syms[G_COUNT];
    mrb_sym at_sym, length_sym, s_or_default_sym, to_s_sym;
    // The framework's own methods, recorded at start-up.
    mrb_method_t hash_guards[G_COUNT];
    mrb_method_t object_guards[G_COUNT];
    mrb_method_t attr_sprite_readers[F_COUNT];
    bool have_attr_sprite = false;
    mrb_method_t array_at, array_length;
    mrb_method_t string_s_or_default, string_to_s, nil_s_or_default, false_s_or_default;
    // Decided once per pass.
    bool strings_plain = false;
    class_verdict classes[CLASS_CACHE_SIZE];
    int class_count = 0;
};

fast_path_state the_fast_path;

// What pushing a list into an output collection relies on, for the lists
// noted natively (see note_settled_list).
enum list_method { LIST_INDEX, LIST_AT, LIST_LENGTH, LIST_EACH, LIST_COUNT };
const char *const LIST_METHOD_NAMES[LIST_COUNT] = {"[]", "at", "length", "each"};

struct push_state {
    bool ready = false;
    mrb_sym list_syms[LIST_COUNT];
    mrb_method_t list_methods[LIST_COUNT]; // Array's
    mrb_sym aset_sym, id_sym, instance_of_sym, is_a_sym, marker_sym, id_ivar;
    mrb_method_t hash_aset, hash_id, hash_instance_of; // Hash's
    mrb_method_t attr_id, attr_marker, object_is_a, object_instance_of; // AttrSprite's and Object's
};

push_state the_push;

bool same_method(mrb_method_t a, mrb_method_t b) {
    if (MRB_METHOD_UNDEF_P(a) || MRB_METHOD_UNDEF_P(b)) return MRB_METHOD_UNDEF_P(a) && MRB_METHOD_UNDEF_P(b);
    if (MRB_METHOD_FUNC_P(a) != MRB_METHOD_FUNC_P(b)) return false;
    if (MRB_METHOD_FUNC_P(a)) return MRB_METHOD_FUNC(a) == MRB_METHOD_FUNC(b);
    return MRB_METHOD_PROC(a) == MRB_METHOD_PROC(b);
}

mrb_method_t find_method(mrb_state *mrb, RClass *klass, mrb_sym name) {
    RClass *c = klass;
    return mrb_method_search_vm(mrb, &c, name);
}

bool readers_match(mrb_state *mrb, RClass *klass, const hash_kind &kind, const mrb_method_t *expected) {
    for (int i = 0; i < kind.count; ++i)
        if (!same_method(find_method(mrb, klass, kind.syms[i]), expected[i])) return false;
    return true;
}

void record_kind(mrb_state *mrb, hash_kind *kind) {
    fast_path_state &s = the_fast_path;
    std::memset(kind->keys, 0, sizeof(kind->keys));
    kind->have_readers = true;
    for (int i = 0; i < kind->count; ++i) {
        kind->syms[i] = mrb_intern_cstr(mrb, kind->names[i]);
        key_table_add(kind->keys, kind->syms[i], i);
        kind->readers[i] = find_method(mrb, mrb->hash_class, kind->syms[i]);
        if (MRB_METHOD_UNDEF_P(kind->readers[i])) kind->have_readers = false;
    }
    for (int i = 0; i < FALLBACK_COUNT; ++i) key_table_add(kind->keys, s.fallback_syms[i], KEY_FALLBACK);
}

bool guards_match(mrb_state *mrb, RClass *klass, const mrb_method_t *expected) {
    fast_path_state &s = the_fast_path;
    // Hash#[] only matters for Hashes; objects read instance variables.
    for (int i = 0; i < G_COUNT; ++i)
        if (i != G_INDEX && !same_method(find_method(mrb, klass, s.guard_syms[i]), expected[i])) return false;
    return true;
}

void record(mrb_state *mrb) {
    fast_path_state &s = the_fast_path;
    std::memset(s.ivar_keys, 0, sizeof(s.ivar_keys));
    for (int i = 0; i < F_COUNT; ++i) {
        char ivar[32] = "@";
        std::strncat(ivar, FIELD_NAMES[i], sizeof(ivar) - 2);
        key_table_add(s.ivar_keys, mrb_intern_cstr(mrb, ivar), i);
    }
    for (int i = 0; i < FALLBACK_COUNT; ++i) s.fallback_syms[i] = mrb_intern_cstr(mrb, FALLBACK_KEYS[i]);
    record_kind(mrb, &s.sprites);
    record_kind(mrb, &s.labels);
    for (int i = 0; i < G_COUNT; ++i) s.guard_syms[i] = mrb_intern_cstr(mrb, GUARD_NAMES[i]);
    s.at_sym = mrb_intern_lit(mrb, "at");
    s.length_sym = mrb_intern_lit(mrb, "length");
    s.s_or_default_sym = mrb_intern_lit(mrb, "s_or_default");
    s.to_s_sym = mrb_intern_lit(mrb, "to_s");

    for (int i = 0; i < G_COUNT; ++i) {
        s.hash_guards[i] = find_method(mrb, mrb->hash_class, s.guard_syms[i]);
        s.object_guards[i] = find_method(mrb, mrb->object_class, s.guard_syms[i]);
    }
    // An interpreter without the framework (or a new one) records afresh.
    s.have_attr_sprite = false;
    RClass *m = nullptr;
    mrb_sym attr_sprite = mrb_intern_lit(mrb, "AttrSprite");
    if (mrb_const_defined(mrb, mrb_obj_value(mrb->object_class), attr_sprite)) {
        mrb_value module = mrb_const_get(mrb, mrb_obj_value(mrb->object_class), attr_sprite);
        if (mrb_type(module) == MRB_TT_MODULE) {
            m = mrb_class_ptr(module);
            s.have_attr_sprite = true;
            for (int i = 0; i < F_COUNT; ++i) {
                s.attr_sprite_readers[i] = find_method(mrb, m, s.sprites.syms[i]);
                if (MRB_METHOD_UNDEF_P(s.attr_sprite_readers[i])) s.have_attr_sprite = false;
            }
        }
    }
    s.array_at = find_method(mrb, mrb->array_class, s.at_sym);
    s.array_length = find_method(mrb, mrb->array_class, s.length_sym);
    s.string_s_or_default = find_method(mrb, mrb->string_class, s.s_or_default_sym);
    s.string_to_s = find_method(mrb, mrb->string_class, s.to_s_sym);
    s.nil_s_or_default = find_method(mrb, mrb->nil_class, s.s_or_default_sym);
    s.false_s_or_default = find_method(mrb, mrb->false_class, s.s_or_default_sym);
    s.recorded = true;

    push_state &p = the_push;
    for (int i = 0; i < LIST_COUNT; ++i) {
        p.list_syms[i] = mrb_intern_cstr(mrb, LIST_METHOD_NAMES[i]);
        p.list_methods[i] = find_method(mrb, mrb->array_class, p.list_syms[i]);
    }
    p.aset_sym = mrb_intern_lit(mrb, "[]=");
    p.id_sym = mrb_intern_lit(mrb, "id");
    p.instance_of_sym = mrb_intern_lit(mrb, "instance_of?");
    p.is_a_sym = mrb_intern_lit(mrb, "is_a?");
    p.marker_sym = mrb_intern_lit(mrb, "primitive_marker");
    p.id_ivar = mrb_intern_lit(mrb, "@id");
    p.hash_aset = find_method(mrb, mrb->hash_class, p.aset_sym);
    p.hash_id = find_method(mrb, mrb->hash_class, p.id_sym);
    p.hash_instance_of = find_method(mrb, mrb->hash_class, p.instance_of_sym);
    p.object_is_a = find_method(mrb, mrb->object_class, p.is_a_sym);
    p.object_instance_of = find_method(mrb, mrb->object_class, p.instance_of_sym);
    p.ready = s.have_attr_sprite;
    if (p.ready) {
        p.attr_id = find_method(mrb, m, p.id_sym);
        p.attr_marker = find_method(mrb, m, p.marker_sym);
        p.ready = !MRB_METHOD_UNDEF_P(p.attr_id) && !MRB_METHOD_UNDEF_P(p.attr_marker);
    }
}

// Whether objects of this exact class (a singleton class included) may take
// the fast path: every reader AttrSprite's, nothing else overridden.
bool class_is_fast(mrb_state *mrb, RClass *klass) {
    fast_path_state &s = the_fast_path;
    for (int i = 0; i < s.class_count; ++i)
        if (s.classes[i].klass == klass) return s.classes[i].fast;
    bool fast = s.have_attr_sprite && readers_match(mrb, klass, s.sprites, s.attr_sprite_readers) &&
                guards_match(mrb, klass, s.object_guards);
    if (s.class_count < CLASS_CACHE_SIZE) s.classes[s.class_count++] = {klass, fast};
    return fast;
}

struct hash_fields {
    const key_entry *keys;
    mrb_value *values;
    bool fallback;
};

int collect_entry(mrb_state *, mrb_value key, mrb_value value, void *data) {
    hash_fields *fields = (hash_fields *)data;
    if (!mrb_symbol_p(key)) return 0;
    int slot = key_slot(fields->keys, mrb_symbol(key));
    if (slot >= 0) {
        fields->values[slot] = value;
    } else if (slot == KEY_FALLBACK && mrb_test(value)) {
        fields->fallback = true;
        return 1; // stop: the Ruby readers decide
    }
    return 0;
}

int collect_ivar(mrb_state *, mrb_sym name, mrb_value value, void *data) {
    int slot = key_slot(the_fast_path.ivar_keys, name);
    if (slot >= 0) ((mrb_value *)data)[slot] = value;
    return 0;
}

// Reads a plain Hash's values for one kind into v (nil for missing keys);
// false when the general path must read it.
bool read_hash(mrb_state *mrb, const hash_kind &kind, mrb_value hash, mrb_value *v) {
    if (!kind.fast || mrb_class(mrb, hash) != mrb->hash_class) return false;
    // A default value or block answers for missing keys.
    if (MRB_RHASH_DEFAULT_P(hash) || MRB_RHASH_PROCDEFAULT_P(hash)) return false;
    for (int i = 0; i < kind.count; ++i) v[i] = mrb_nil_value();
    hash_fields fields = {kind.keys, v, false};
    mrb_hash_foreach(mrb, mrb_hash_ptr(hash), collect_entry, &fields);
    return !fields.fallback;
}

// A String the general path passes on as it is (s_or_default gives the
// String itself), or nil or false, for which it passes on the default.
bool plain_text(mrb_state *mrb, mrb_value v) {
    if (mrb_string_p(v)) return the_fast_path.strings_plain && mrb_class(mrb, v) == mrb->string_class;
    return mrb_nil_p(v) || mrb_false_p(v);
}

bool plain_flag(mrb_value v) { return mrb_nil_p(v) || mrb_true_p(v) || mrb_false_p(v); }

// Reads the sprite's 22 values; false when the general path must draw it.
bool read_sprite(mrb_state *mrb, mrb_value sprite, mrb_value *v) {
    fast_path_state &s = the_fast_path;
    if (mrb_hash_p(sprite)) {
        if (!read_hash(mrb, s.sprites, sprite, v)) return false;
    } else if (mrb_type(sprite) == MRB_TT_OBJECT) {
        if (!class_is_fast(mrb, mrb_class(mrb, sprite))) return false;
        // One walk over the variables the object has rather than a search
        // for each of the 22 (most of which it does not have).
        for (int i = 0; i < F_COUNT; ++i) v[i] = mrb_nil_value();
        mrb_iv_foreach(mrb, sprite, collect_ivar, v);
    } else {
        return false;
    }
    // The path reaches the drawer as path.s_or_default.
    return plain_text(mrb, v[SPRITE_PATH]) && plain_flag(v[SPRITE_FLIP_H]) && plain_flag(v[SPRITE_FLIP_V]);
}

// The label command draw_label makes of a plain Hash label; false when the
// general path must draw it.
bool read_label(mrb_state *mrb, mrb_value label, label_command *c) {
    mrb_value v[LABEL_ARGUMENTS];
    if (!mrb_hash_p(label) || !read_hash(mrb, the_fast_path.labels, label, v)) return false;
    // The text reaches the drawer as text.s_or_default, the font as
    // font.s_or_default(nil).
    if (!plain_text(mrb, v[LABEL_TEXT]) || !plain_text(mrb, v[LABEL_FONT])) return false;
    *c = label_command_from_ruby(v);
    return true;
}

// Once per pass: decides whether the fast path may run at all, and forgets
// the per-class verdicts of the previous pass (classes may have changed).
mrb_value fast_path_check(mrb_state *mrb, mrb_value) {
    fast_path_state &s = the_fast_path;
    s.class_count = 0;
    if (!s.recorded) return mrb_false_value();
    const bool hash_guards_kept =
        same_method(find_method(mrb, mrb->hash_class, s.guard_syms[G_INDEX]), s.hash_guards[G_INDEX]) &&
        guards_match(mrb, mrb->hash_class, s.hash_guards);
    for (hash_kind *kind : {&s.sprites, &s.labels})
        kind->fast = hash_guards_kept && kind->have_readers &&
                     readers_match(mrb, mrb->hash_class, *kind, kind->readers);
    s.strings_plain = same_method(find_method(mrb, mrb->string_class, s.s_or_default_sym), s.string_s_or_default) &&
                      same_method(find_method(mrb, mrb->string_class, s.to_s_sym), s.string_to_s) &&
                      same_method(find_method(mrb, mrb->nil_class, s.s_or_default_sym), s.nil_s_or_default) &&
                      same_method(find_method(mrb, mrb->false_class, s.s_or_default_sym), s.false_s_or_default);
    return mrb_bool_value(s.sprites.fast || s.labels.fast || s.have_attr_sprite);
}

// Whether a collection is an Array whose at and length are the framework's.
bool plain_collection(mrb_state *mrb, mrb_value collection, mrb_int index) {
    fast_path_state &s = the_fast_path;
    if (!mrb_array_p(collection) || index < 0) return false;
    RClass *klass = mrb_class(mrb, collection);
    return same_method(find_method(mrb, klass, s.at_sym), s.array_at) &&
           same_method(find_method(mrb, klass, s.length_sym), s.array_length);
}

// __draw_sprites__(collection, index) and __draw_labels__(collection,
// index): draw the collection's primitives from index on, skipping nil and
// false as the walk does, and answer the index of the first one left to the
// general path (the length when none).
mrb_value draw_sprites(mrb_state *mrb, mrb_value) {
    mrb_value collection;
    mrb_int index;
    mrb_get_args(mrb, "oi", &collection, &index);
    if (!plain_collection(mrb, collection, index)) return mrb_int_value(mrb, index);
    mrb_value v[F_COUNT];
    while (index < RARRAY_LEN(collection)) {
        mrb_value sprite = RARRAY_PTR(collection)[index];
        if (mrb_test(sprite)) {
            if (!read_sprite(mrb, sprite, v)) break;
            // A failed write sets the stream's error flag, which drops the
            // frame, as a failed write on the general path would.
            sprite_command command = sprite_command_from_ruby(v);
            frame_write_sprite(current_frame_stream, &command);
        }
        ++index;
    }
    return mrb_int_value(mrb, index);
}

mrb_value draw_labels(mrb_state *mrb, mrb_value) {
    mrb_value collection;
    mrb_int index;
    mrb_get_args(mrb, "oi", &collection, &index);
    if (!plain_collection(mrb, collection, index)) return mrb_int_value(mrb, index);
    label_command command;
    while (index < RARRAY_LEN(collection)) {
        mrb_value label = RARRAY_PTR(collection)[index];
        if (mrb_test(label)) {
            if (!read_label(mrb, label, &command)) break;
            frame_write_label(current_frame_stream, &command);
        }
        ++index;
    }
    return mrb_int_value(mrb, index);
}

bool method_kept(mrb_state *mrb, RClass *klass, mrb_sym name, mrb_method_t expected) {
    return same_method(find_method(mrb, klass, name), expected);
}

// Whether pushing objects of this class notes them as settled sprites: the
// kind is AttrSprite's, the id its reader's, and they are no Hash or Array.
bool class_settles(mrb_state *mrb, RClass *klass) {
    push_state &p = the_push;
    return method_kept(mrb, klass, p.marker_sym, p.attr_marker) && method_kept(mrb, klass, p.id_sym, p.attr_id) &&
           method_kept(mrb, klass, p.is_a_sym, p.object_is_a) &&
           method_kept(mrb, klass, p.instance_of_sym, p.object_instance_of);
}

// Which of the two lists note_settled_list handles: 1 plain Hashes, 2
// settled objects, 0 neither.
int settled_list_kind(mrb_state *mrb, mrb_value list) {
    push_state &p = the_push;
    RClass *list_class = mrb_class(mrb, list);
    for (int i = 0; i < LIST_COUNT; ++i)
        if (!method_kept(mrb, list_class, p.list_syms[i], p.list_methods[i])) return 0;
    const mrb_int n = RARRAY_LEN(list);
    const mrb_value *items = RARRAY_PTR(list);
    if (mrb_hash_p(items[0])) {
        if (!method_kept(mrb, mrb->hash_class, p.id_sym, p.hash_id) ||
            !method_kept(mrb, mrb->hash_class, p.instance_of_sym, p.hash_instance_of) ||
            !method_kept(mrb, mrb->hash_class, the_fast_path.guard_syms[G_INDEX], the_fast_path.hash_guards[G_INDEX]))
            return 0;
        // A default would answer for a missing :id.
        for (mrb_int i = 0; i < n; ++i)
            if (!mrb_hash_p(items[i]) || mrb_class(mrb, items[i]) != mrb->hash_class ||
                MRB_RHASH_DEFAULT_P(items[i]) || MRB_RHASH_PROCDEFAULT_P(items[i]))
                return 0;
        return 1;
    }
    RClass *verdicts[4] = {};
    int known = 0;
    for (mrb_int i = 0; i < n; ++i) {
        if (mrb_type(items[i]) != MRB_TT_OBJECT) return 0;
        RClass *klass = mrb_class(mrb, items[i]);
        bool seen = false;
        for (int k = 0; k < known && !seen; ++k) seen = verdicts[k] == klass;
        if (seen) continue;
        if (!class_settles(mrb, klass)) return 0;
        if (known < 4) verdicts[known++] = klass;
    }
    return 2;
}

// __settled_list_noted__(list, ids): for a list made only of plain Hashes,
// or only of objects whose kind AttrSprite settles (the lists games push
// every frame), notes each one's id in ids exactly as the collection's Ruby
// steps for those lists do, and answers true. Any other list is left to
// those steps: false, nothing noted.
mrb_value note_settled_list(mrb_state *mrb, mrb_value) {
    mrb_value list, ids;
    mrb_get_args(mrb, "oo", &list, &ids);
    push_state &p = the_push;
    if (!p.ready || !mrb_array_p(list) || RARRAY_LEN(list) == 0 || !mrb_hash_p(ids) ||
        mrb_class(mrb, ids) != mrb->hash_class || !method_kept(mrb, mrb->hash_class, p.aset_sym, p.hash_aset))
        return mrb_false_value();
    const int kind = settled_list_kind(mrb, list);
    if (kind == 0) return mrb_false_value();
    const mrb_value id_key = mrb_symbol_value(p.id_sym);
    // By index: noting an id may run a key's own hash method, which could
    // change the list.
    for (mrb_int i = 0; i < RARRAY_LEN(list); ++i) {
        mrb_value item = RARRAY_PTR(list)[i];
        mrb_value id = kind == 1 ? mrb_hash_fetch(mrb, item, id_key, mrb_nil_value()) : mrb_iv_get(mrb, item, p.id_ivar);
        if (mrb_test(id)) mrb_hash_set(mrb, ids, id, item);
    }
    return mrb_true_value();
}

} // namespace

void sprite_fast_path_methods_define(mrb_state *mrb, RClass *draw_class) {
    record(mrb);
    mrb_define_method(mrb, draw_class, "__sprite_fast_path_check__", fast_path_check, MRB_ARGS_NONE());
    mrb_define_method(mrb, draw_class, "__draw_sprites__", draw_sprites, MRB_ARGS_REQ(2));
    mrb_define_method(mrb, draw_class, "__draw_labels__", draw_labels, MRB_ARGS_REQ(2));
    // Output collections note the ids of the lists pushed into them here.
    mrb_sym qmx = mrb_intern_lit(mrb, "QMX");
    if (mrb_const_defined(mrb, mrb_obj_value(mrb->object_class), qmx)) {
        mrb_value module = mrb_const_get(mrb, mrb_obj_value(mrb->object_class), qmx);
        mrb_sym flat_array = mrb_intern_lit(mrb, "FlatArray");
        if (mrb_type(module) == MRB_TT_MODULE && mrb_const_defined(mrb, module, flat_array)) {
            mrb_value klass = mrb_const_get(mrb, module, flat_array);
            if (mrb_type(klass) == MRB_TT_CLASS)
                mrb_define_method(mrb, mrb_class_ptr(klass), "__settled_list_noted__", note_settled_list,
                                  MRB_ARGS_REQ(2));
        }
    }
}
