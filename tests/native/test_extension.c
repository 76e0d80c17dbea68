/* A native extension as a game author writes one: plain C that reaches the
   interpreter only through the functions the engine hands it by name. */
#include <mruby.h>

#include <signal.h>
#include <stdio.h>

typedef void *(*lookup_function)(const char *name);
/* mrb_int is also a function-like macro. */
typedef mrb_int argument_count;

static argument_count (*get_args)(mrb_state *, const char *, ...);
static mrb_value (*str_new_cstr)(mrb_state *, const char *);

#ifdef OTHER_EXTENSION
/* A second extension, with a registration of its own. */
#define EXTENSION_CLASS "OtherExtension"
#define GREETING "welcome %s"
#else
#define EXTENSION_CLASS "TestExtension"
#define GREETING "hello %s"
#endif

static mrb_value greet(mrb_state *mrb, mrb_value self) {
    const char *name = NULL;
    char text[128];
    (void)self;
    get_args(mrb, "z", &name);
    snprintf(text, sizeof text, GREETING, name);
    return str_new_cstr(mrb, text);
}

/* A fault inside the extension: the signal it is given, raised at once. */
static mrb_value raise_signal(mrb_state *mrb, mrb_value self) {
    mrb_int number = 0;
    get_args(mrb, "i", &number);
    raise((int)number);
    return self;
}

#ifdef WITHOUT_ENTRY_POINT
/* The same library under a name the engine does not look for. */
#define vlx_register_c_extensions register_under_another_name
#endif
void vlx_register_c_extensions(lookup_function lookup, mrb_state *mrb, struct RClass *ffi) {
    struct RClass *(*define_class_under)(mrb_state *, struct RClass *, const char *, struct RClass *) =
        lookup("mrb_define_class_under");
    void (*define_method)(mrb_state *, struct RClass *, const char *, mrb_func_t, mrb_aspec) =
        lookup("mrb_define_method");
    get_args = lookup("mrb_get_args");
    str_new_cstr = lookup("mrb_str_new_cstr");
    struct RClass *extension = define_class_under(mrb, ffi, EXTENSION_CLASS, mrb->object_class);
    define_method(mrb, extension, "greet", greet, MRB_ARGS_REQ(1));
    define_method(mrb, extension, "raise_signal", raise_signal, MRB_ARGS_REQ(1));
}
