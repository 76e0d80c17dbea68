// One turn of the main thread: event batches out, frames in, presentation.
#include "render_support.h"

#include "host/engine.h"
#include "host/frame_step.h"
#include "render/main_frame.h"

#include <lodepng.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>

using namespace render_support;

extern std::vector<std::string> opened_urls;

namespace {

class MainFrame : public RenderTest {
protected:
    void SetUp() override {
        RenderTest::SetUp();
        // Drop what window creation queued so each test sees only its own events.
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    void TearDown() override {
        while (threadstream *batch = threadstreamqueue_getitem(context->event_queue)) threadstream_free(batch);
        RenderTest::TearDown();
    }
    // Hands a frame to the queue, which owns it from then on.
    threadstream *queue(frame_builder b) {
        frames.pop_back();
        threadstreamqueue_putitem(context->frame_queue, b.s);
        return b.s;
    }
};

TEST_F(MainFrame, EventsArePolledIntoOneBatchPerTurn) {
    // Three events, none, and enough to grow the stream several times.
    for (int count : {3, 0, 200}) {
        for (int i = 0; i < count; ++i) {
            SDL_Event event = {};
            event.user = {SDL_USEREVENT, 0, 0, 100 + i, nullptr, nullptr};
            SDL_PushEvent(&event);
        }
        draw_iteration(context);
        threadstream *batch = threadstreamqueue_getitem(context->event_queue);
        EXPECT_EQ(threadstreamqueue_getcount(context->event_queue), 0);
        if (!count) {
            EXPECT_EQ(batch, nullptr);
            continue;
        }
        ASSERT_NE(batch, nullptr);
        EXPECT_EQ(batch->write_pos, 8u + 56u * count);
        ASSERT_EQ(event_batch_open(batch), (uint64_t)count);
        SDL_Event last;
        for (int i = 0; i < count; ++i) event_batch_next(batch, &last);
        EXPECT_EQ(last.user.code, 99 + count);
        threadstream_free(batch);
    }
}

TEST_F(MainFrame, OlderQueuedFramesAreStaleTheNewestIsKeptAndAScreenlessFrameShowsTheLastBackground) {
    set_bottom_left_grid();
    opened_urls.clear();
    draw_iteration(context); // before any frame: opaque black
    EXPECT_EQ(screen_pixel(5, 5), rgba(0, 0, 0));
    for (const char *url : {"one", "two"})
        queue(build().text_command(RENDER_CMD_OPEN_URL, url).passes(1).pass(nullptr, W, H, rgba(255, 0, 0)).end_pass());
    threadstream *newest = queue(
        build().text_command(RENDER_CMD_OPEN_URL, "three").passes(1).pass(nullptr, W, H, rgba(0, 0, 200, 10)).end_pass());
    draw_iteration(context);
    EXPECT_EQ(context->kept_frame, newest);
    // One-shot commands of stale frames are not lost.
    EXPECT_EQ(opened_urls, (std::vector<std::string>{"one", "two", "three"}));
    // No new frame: the kept one is replayed without its one-shot commands.
    draw_iteration(context);
    EXPECT_EQ(opened_urls.size(), 3u);
    EXPECT_EQ(screen_pixel(1, 1), rgba(0, 0, 200));
    // A frame without a screen pass shows the last screen background, opaque.
    queue(build().passes(1).pass("rt", 4, 4, rgba(255, 0, 0)).end_pass());
    draw_iteration(context);
    EXPECT_EQ(screen_pixel(5, 5), rgba(0, 0, 200));
}

TEST_F(MainFrame, ASlowRendererHoldsTheSimulationBackAndItsStaleFramesStillDoTheirWork) {
    set_bottom_left_grid();
    opened_urls.clear();
    render_context *saved = the_render_context;
    the_render_context = context;
    // The simulation side: every frame opens a link, uploads a pixel array,
    // fills a render target of its own and takes a screenshot of its screen.
    constexpr int FRAMES = 3 * FRAMES_QUEUED_MAX;
    std::set<threadstream *> streams;
    std::atomic<int> attempted{0}, submitted{0};
    std::atomic<bool> done{false};
    std::thread simulation([&] {
        for (int i = 0; i < FRAMES; ++i) {
            std::string n = std::to_string(i);
            ++attempted;
            frame_wait_for_renderer(context);
            current_frame_stream = threadstream_allocate();
            streams.insert(current_frame_stream);
            frame_builder(current_frame_stream)
                .text_command(RENDER_CMD_OPEN_URL, ("u" + n).c_str())
                .upload(("pa" + n).c_str(), 1, 1, {rgba(0, 0, 255)})
                .passes(2, true)
                .pass(("rt" + n).c_str(), 4, 4, rgba(10 * i, 0, 0)).end_pass()
                .pass(nullptr, W, H, rgba(0, 100 + i, 0)).end_pass()
                .screenshot(("pile/shot" + n + ".png").c_str(), 0, 0, 2, 2);
            submit_frame_stream();
            ++submitted;
        }
        done = true;
    });
    // The main side draws only once the simulation has got as far ahead as it
    // may and is trying to start one more frame.
    int most_queued = 0;
    while (!done || threadstreamqueue_getcount(context->frame_queue) > 0) {
        while (!done && !(threadstreamqueue_getcount(context->frame_queue) >= FRAMES_QUEUED_MAX &&
                          attempted > submitted))
            SDL_Delay(1);
        most_queued = std::max(most_queued, threadstreamqueue_getcount(context->frame_queue));
        draw_iteration(context);
    }
    simulation.join();
    the_render_context = saved;
    EXPECT_EQ(most_queued, FRAMES_QUEUED_MAX);
    // The queue, the frame being written, the kept frame and one event batch.
    EXPECT_LE(streams.size(), (size_t)FRAMES_QUEUED_MAX + 3);

    std::vector<std::string> urls;
    for (int i = 0; i < FRAMES; ++i) {
        std::string n = std::to_string(i);
        urls.push_back("u" + n);
        expect_pixels({{0, 0, rgba(10 * i, 0, 0)}}, ("rt" + n).c_str());
        EXPECT_NE(texture(("pa" + n).c_str()), nullptr) << n;
        std::vector<unsigned char> png;
        unsigned w = 0, h = 0;
        ASSERT_EQ(lodepng::decode(png, w, h, vfs_dir() + "/pile/shot" + n + ".png"), 0u) << n;
        EXPECT_EQ(rgba(png[0], png[1], png[2], png[3]), rgba(0, 100 + i, 0)) << n;
    }
    EXPECT_EQ(opened_urls, urls);
}

TEST_F(MainFrame, ATurnWithNothingNewWaitsForTheNextFrameInsteadOfSpinning) {
    threadstream *first = queue(build().word(RENDER_CMD_NOP));
    draw_iteration(context);
    // Nothing new: each turn gives the simulation a frame period to deliver.
    Uint64 start = SDL_GetTicks64();
    for (int i = 0; i < 4; ++i) draw_iteration(context);
    EXPECT_GE(SDL_GetTicks64() - start, 4u * 15u);
    EXPECT_EQ(context->kept_frame, first);
    // A frame that arrives during the wait ends it and is drawn in that same
    // turn. (The last present is moved two seconds ahead so that a loaded
    // machine cannot make the wait run out first.)
    frame_builder late = build().word(RENDER_CMD_NOP);
    frames.pop_back();
    context->last_present = SDL_GetPerformanceCounter() + 2 * SDL_GetPerformanceFrequency();
    std::thread producer([&] {
        SDL_Delay(5);
        threadstreamqueue_putitem(context->frame_queue, late.s);
    });
    start = SDL_GetTicks64();
    draw_iteration(context);
    producer.join();
    EXPECT_EQ(context->kept_frame, late.s);
    EXPECT_LT(SDL_GetTicks64() - start, 1900u);
    EXPECT_GT(SDL_AtomicGet(&context->render_fps), 0);
}

} // namespace
