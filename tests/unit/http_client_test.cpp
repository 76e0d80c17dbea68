// The client's request methods as Ruby calls them: a wrong argument raises
// before the engine has allocated anything, so nothing leaks.
#include "bridge/http_methods.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

namespace {

TEST(HttpClientFromRuby, AWrongHeaderOrFieldRaisesWithNothingAllocated) {
    mrb_state *mrb = mrb_open();
    http_client_methods_define(mrb, mrb_define_class(mrb, "Misc", mrb->object_class));
    int allocations = SDL_GetNumAllocations();
    for (const char *call : {"Misc.new.http_get(1, 'http://127.0.0.1:1/', ['A: b', 3])",
                             "Misc.new.http_head(1, 'http://127.0.0.1:1/', ['A: b', \"C\\0\"])",
                             "Misc.new.http_post(1, 'http://127.0.0.1:1/', nil, ['name', :value])",
                             "Misc.new.http_put(1, 'http://127.0.0.1:1/', {}, 'file.bin')"}) {
        mrb_load_string(mrb, call);
        ASSERT_NE(mrb->exc, nullptr) << call;
        std::string error = mrb_obj_classname(mrb, mrb_obj_value(mrb->exc));
        EXPECT_TRUE(error == "TypeError" || error == "ArgumentError") << call << ": " << error;
        mrb->exc = nullptr;
    }
    EXPECT_EQ(SDL_GetNumAllocations(), allocations);
    mrb_close(mrb);
}

} // namespace
