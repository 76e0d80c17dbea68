// What a game's objects and classes cost in memory: every byte the
// interpreter asks for is counted (the sizes asked, not what the allocator
// rounds them to, so the figures are the same under any allocator or
// sanitizer), in an interpreter of its own per case, and compared with
// what Debian's own build of the same mruby asks for in the same case. The
// figures of Debian's build were taken by compiling this file against it
// (tools/mruby/build with no patches); run alone there, it passes.
//
// Only mruby's own headers are included, so that the file builds against
// either interpreter.
#include <mruby.h>
#include <mruby/compile.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

long long live_bytes = 0;

// Each block carries the size asked for in front of it.
constexpr size_t HEADER = 16;

void *counting_alloc(mrb_state *, void *p, size_t size, void *) {
    char *block = p ? (char *)p - HEADER : nullptr;
    if (block) live_bytes -= (long long)*(size_t *)block;
    if (size == 0) {
        std::free(block);
        return nullptr;
    }
    char *made = (char *)std::realloc(block, size + HEADER);
    if (!made) {
        if (block) live_bytes += (long long)*(size_t *)block;
        return nullptr;
    }
    *(size_t *)made = size;
    live_bytes += (long long)size;
    return made + HEADER;
}

mrb_value ruby_live_bytes(mrb_state *mrb, mrb_value) { return mrb_int_value(mrb, live_bytes); }

// Bytes per object of 16,384 objects of a class that assigns k instance
// variables in initialize, and per class of 1,024 classes of k methods.
const char MEMORY_RUBY[] = R"RUBY(
def per_object(k, n = 16384)
  klass = Class.new
  klass.class_eval("def initialize(i); #{(1..k).map { |j| "@v#{j} = i" }.join('; ')}; end")
  objects = Array.new(n)
  GC.start
  before = live_bytes
  i = 0
  while i < n
    objects[i] = klass.new(i)
    i += 1
  end
  GC.start
  (live_bytes - before).to_f / n
end

def per_class(k, n = 1024)
  names = Array.new(k) { |i| :"m#{i}" }
  classes = Array.new(n)
  GC.start
  before = live_bytes
  n.times do |c|
    klass = Class.new
    names.each { |name| klass.send(:alias_method, name, :object_id) }
    classes[c] = klass
  end
  GC.start
  (live_bytes - before).to_f / n
end
)RUBY";

double measure(const std::string &call) {
    mrb_state *mrb = mrb_open_allocf(counting_alloc, nullptr);
    if (!mrb) return -1;
    mrb_define_method(mrb, mrb->kernel_module, "live_bytes", ruby_live_bytes, MRB_ARGS_NONE());
    mrb_load_string(mrb, MEMORY_RUBY);
    mrb_value bytes = mrb_load_string(mrb, call.c_str());
    double answer = !mrb->exc && mrb_float_p(bytes) ? mrb_float(bytes) : -1;
    mrb_close(mrb);
    return answer;
}

struct memory_case {
    const char *call;
    double debian_bytes;
};

// Around every size at which a table grows, objects of 1 to 8 variables
// above all, and a thousand.
const memory_case cases[] = {
    {"per_object(1)", 142.1},   {"per_object(2)", 169.1},    {"per_object(3)", 160.1},
    {"per_object(4)", 169.1},   {"per_object(5)", 199.1},    {"per_object(6)", 256.1},
    {"per_object(7)", 256.1},   {"per_object(8)", 256.1},    {"per_object(16)", 352.1},
    {"per_object(17)", 544.1},  {"per_object(32)", 544.1},   {"per_object(33)", 928.1},
    {"per_object(64)", 928.1},  {"per_object(65)", 1696.1},  {"per_object(1000)", 12442.1},
    {"per_class(1)", 384.2},    {"per_class(8)", 384.2},     {"per_class(9)", 480.2},
    {"per_class(16)", 480.2},   {"per_class(17)", 672.2},    {"per_class(32)", 672.2},
    {"per_class(33)", 1056.2},  {"per_class(64)", 1056.2},   {"per_class(65)", 1824.2},
    {"per_class(1000)", 12528.1},
};

TEST(InterpreterMemory, ObjectsAndClassesTakeWithinFivePercentOfWhatDebiansBuildTakes) {
    for (const memory_case &c : cases) {
        double bytes = measure(c.call);
        EXPECT_GE(bytes, c.debian_bytes * 0.95) << c.call << " takes " << bytes << " bytes, Debian's build "
                                                << c.debian_bytes;
        EXPECT_LE(bytes, c.debian_bytes * 1.05) << c.call << " takes " << bytes << " bytes, Debian's build "
                                                << c.debian_bytes;
    }
}

} // namespace
