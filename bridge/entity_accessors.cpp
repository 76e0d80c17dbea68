// The readers and writers of entities' dynamic properties (QMX::OpenEntity).
// An entity's first read or write of a property gives that entity its own
// reader or writer, so later calls skip method_missing. Each is a C function
// in a Proc made once per property name and shared by every entity; its
// environment holds the property's key. A Ruby block per entity would do the
// same at the cost of a Proc, and a reference to the block's code, for every
// entity and property.
#include "ffi.h"

#include <mruby/class.h>
#include <mruby/hash.h>
#include <mruby/proc.h>
#include <mruby/variable.h>

namespace {

// The names the accessors use, interned once per interpreter.
struct entity_symbols {
    mrb_state *owner = nullptr;
    mrb_sym properties, touched, nil_coercion_off, thrash_table, arm_coercion, index, index_set, procs;
};

entity_symbols the_entity_symbols;

const entity_symbols &entity_symbols_of(mrb_state *mrb) {
    entity_symbols &s = the_entity_symbols;
    if (s.owner == mrb) return s;
    s.owner = mrb;
    s.properties = mrb_intern_lit(mrb, "@hash");
    s.touched = mrb_intern_lit(mrb, "@__touched__");
    s.nil_coercion_off = mrb_intern_lit(mrb, "$disable_nil_coersion");
    s.thrash_table = mrb_intern_lit(mrb, "__thrash_table__");
    s.arm_coercion = mrb_intern_lit(mrb, "assign_method_missing");
    s.index = mrb_intern_lit(mrb, "[]");
    s.index_set = mrb_intern_lit(mrb, "[]=");
    // Not a Ruby instance variable name: invisible to the game.
    s.procs = mrb_intern_lit(mrb, "__entity_accessor_procs__");
    return s;
}

// A property as its reader answers it: the entity is marked touched, and a
// nil or false value is armed with the nil coercion, which turns the next
// call on it into the property's creation.
mrb_value entity_property_read(mrb_state *mrb, mrb_value entity, mrb_value key) {
    const entity_symbols &s = entity_symbols_of(mrb);
    mrb_iv_set(mrb, entity, s.touched, mrb_true_value());
    mrb_value properties = mrb_iv_get(mrb, entity, s.properties);
    mrb_value value = mrb_hash_p(properties) ? mrb_hash_get(mrb, properties, key)
                                             : mrb_funcall_argv(mrb, properties, s.index, 1, &key);
    if (!mrb_test(value) && !mrb_test(mrb_gv_get(mrb, s.nil_coercion_off))) {
        mrb_value coercion[3] = {properties, key, mrb_funcall_argv(mrb, entity, s.thrash_table, 0, nullptr)};
        mrb_funcall_argv(mrb, value, s.arm_coercion, 3, coercion);
    }
    return value;
}

void entity_property_write(mrb_state *mrb, mrb_value entity, mrb_value key, mrb_value value) {
    const entity_symbols &s = entity_symbols_of(mrb);
    mrb_iv_set(mrb, entity, s.touched, mrb_true_value());
    mrb_value properties = mrb_iv_get(mrb, entity, s.properties);
    if (mrb_hash_p(properties)) {
        mrb_hash_set(mrb, properties, key, value);
    } else {
        mrb_value pair[2] = {key, value};
        mrb_funcall_argv(mrb, properties, s.index_set, 2, pair);
    }
}

// The accessors themselves; the property's key is in their environment.
mrb_value entity_reader(mrb_state *mrb, mrb_value self) {
    if (mrb_get_argc(mrb) != 0) mrb_argnum_error(mrb, mrb_get_argc(mrb), 0, 0);
    return entity_property_read(mrb, self, mrb_proc_cfunc_env_get(mrb, 0));
}

mrb_value entity_writer(mrb_state *mrb, mrb_value self) {
    mrb_value value = mrb_get_arg1(mrb);
    entity_property_write(mrb, self, mrb_proc_cfunc_env_get(mrb, 0), value);
    return value;
}

// FFI.entity_property_first_use(entity, name, *args): gives the entity its
// own reader of the property name, or for a name ending in "=" its writer of
// the property without the "=", then reads or writes the property as that
// accessor does with args.
mrb_value entity_property_first_use(mrb_state *mrb, mrb_value self) {
    mrb_value entity;
    mrb_sym name;
    const mrb_value *args;
    mrb_int count;
    mrb_get_args(mrb, "on*", &entity, &name, &args, &count);
    if (mrb_immediate_p(entity)) mrb_raise(mrb, E_TYPE_ERROR, "an entity's accessors need an object");
    mrb_int length = 0;
    const char *text = mrb_sym_name_len(mrb, name, &length);
    bool writer = length > 1 && text[length - 1] == '=';
    if (count != (writer ? 1 : 0)) mrb_argnum_error(mrb, count, writer ? 1 : 0, writer ? 1 : 0);

    const entity_symbols &s = entity_symbols_of(mrb);
    mrb_value procs = mrb_iv_get(mrb, self, s.procs);
    if (!mrb_hash_p(procs)) {
        procs = mrb_hash_new(mrb);
        mrb_iv_set(mrb, self, s.procs, procs);
    }
    mrb_value proc = mrb_hash_get(mrb, procs, mrb_symbol_value(name));
    mrb_value key;
    if (mrb_proc_p(proc)) {
        key = MRB_PROC_ENV(mrb_proc_ptr(proc))->stack[0];
    } else {
        key = mrb_symbol_value(writer ? mrb_intern(mrb, text, (size_t)length - 1) : name);
        proc = mrb_obj_value(mrb_proc_new_cfunc_with_env(mrb, writer ? entity_writer : entity_reader, 1, &key));
        mrb_hash_set(mrb, procs, mrb_symbol_value(name), proc);
    }
    mrb_method_t method;
    MRB_METHOD_FROM_PROC(method, mrb_proc_ptr(proc));
    mrb_define_method_raw(mrb, mrb_singleton_class_ptr(mrb, entity), name, method);

    if (!writer) return entity_property_read(mrb, entity, key);
    mrb_value value = args[0];
    entity_property_write(mrb, entity, key, value);
    return value;
}

// FFI.entity_read(entity, name): the property as its reader answers it,
// for names every object has a method of (those readers belong to the
// entity class).
mrb_value entity_read(mrb_state *mrb, mrb_value) {
    mrb_value entity;
    mrb_sym name;
    mrb_get_args(mrb, "on", &entity, &name);
    return entity_property_read(mrb, entity, mrb_symbol_value(name));
}

} // namespace

void ffi_entity_accessor_methods_define(mrb_state *mrb, RClass *ffi_module) {
    // A new interpreter may sit where a closed one was.
    the_entity_symbols.owner = nullptr;
    mrb_define_module_function(mrb, ffi_module, "entity_property_first_use", entity_property_first_use,
                               MRB_ARGS_REQ(2) | MRB_ARGS_REST());
    mrb_define_module_function(mrb, ffi_module, "entity_read", entity_read, MRB_ARGS_REQ(2));
}
