// One include for every unit that talks to the interpreter.
#pragma once

#include <mruby.h>
#include <mruby/array.h>
#include <mruby/class.h>
#include <mruby/compile.h>
#include <mruby/data.h>
#include <mruby/hash.h>
#include <mruby/irep.h>
#include <mruby/numeric.h>
#include <mruby/proc.h>
#include <mruby/string.h>
#include <mruby/variable.h>

// The interpreter is built with the project's patches (tools/mruby), which
// change its records: the engine must see the headers of that build, never
// a stock mruby's. Only there does a Proc's code count references in 32 bits.
static_assert(sizeof(mrb_irep::refcnt) == sizeof(uint32_t),
              "compiled against a stock mruby's headers, not the engine's interpreter build");
