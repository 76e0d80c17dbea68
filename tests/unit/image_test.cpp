// Image decoding through the virtual file system, PNG encoding, and pixel
// uploads from native extensions.
#include "render_support.h"

#include "host/engine.h"
#include "render/image.h"
#include "render/image_api.h"

#include <lodepng.h>

#include <cstring>

using namespace render_support;

namespace {

class Images : public ::testing::Test {
protected:
    void SetUp() override {
        vfs_dir();
        ASSERT_TRUE(threadstream_init());
    }
    void TearDown() override { threadstream_quit(); }

    // Writes a PNG of the given colour type and depth into the file system.
    static void write_png(const char *name, const std::vector<unsigned char> &samples, unsigned w, unsigned h,
                          LodePNGColorType type = LCT_RGBA, unsigned depth = 8) {
        std::vector<unsigned char> png;
        ASSERT_EQ(lodepng::encode(png, samples, w, h, type, depth), 0u);
        write_file(vfs_dir() + "/" + name, std::string(png.begin(), png.end()));
    }
};

// (Channel conversion is the decoder library's; ours is the file system
// and the size.)
TEST_F(Images, DecodesThroughTheFileSystemToTopDownRgba8) {
    write_png("grey.png", {10, 200}, 1, 2, LCT_GREY);
    int32_t w = 0, h = 0;
    uint8_t *pixels = load_image("grey.png", &w, &h);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + 8), (std::vector<uint8_t>{10, 10, 10, 255, 200, 200, 200, 255}));
    EXPECT_EQ(std::pair(w, h), std::pair(1, 2));
    free_image(pixels);

    // Failed loads leave the size alone.
    w = 77, h = 88;
    write_file(vfs_dir() + "/junk.png", "\x89PNG\r\n\x1a\n but then nothing sensible");
    for (const char *name : {"nowhere.png", "junk.png", (const char *)nullptr}) EXPECT_EQ(load_image(name, &w, &h), nullptr);
    EXPECT_EQ(std::pair(w, h), std::pair(77, 88));
}

TEST_F(Images, EncodesPngThatDecodesToTheSamePixels) {
    const uint8_t source[8] = {255, 0, 0, 255, 0, 128, 255, 64};
    // A size kept in one dimension encodes the source size; both changed rescale.
    const struct { int32_t w, h; unsigned out_w, out_h; } sizes[] = {{0, 0, 2, 1}, {2, 5, 2, 1}, {4, 2, 4, 2}};
    for (auto s : sizes) {
        size_t size = 0;
        uint8_t *png = encode_png(source, 2, 1, s.w, s.h, &size);
        ASSERT_NE(png, nullptr);
        std::vector<unsigned char> decoded;
        unsigned w = 0, h = 0;
        ASSERT_EQ(lodepng::decode(decoded, w, h, png, size), 0u);
        SDL_free(png);
        EXPECT_EQ(std::pair(w, h), std::pair(s.out_w, s.out_h));
        if (w == 2) {
            EXPECT_EQ(std::memcmp(decoded.data(), source, 8), 0);
        }
    }
    size_t size = 0;
    EXPECT_EQ(encode_png(source, 0, 1, 0, 0, &size), nullptr);
    EXPECT_EQ(encode_png(nullptr, 2, 1, 0, 0, &size), nullptr);
}

TEST_F(Images, ExtensionUploadsQueueOneCommandWithExactBytes) {
    // Padding bytes are never written; zeroed, whole streams compare.
    threadstream *s = current_frame_stream = threadstream_allocate(), *expected = threadstream_allocate();
    std::memset(s->buffer, 0, s->capacity);
    std::memset(expected->buffer, 0, expected->capacity);
    const uint32_t pixels[4] = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u, 0x80FFFFFFu};
    vlx_upload_pixel_array("ext", 2, 2, pixels);
    frame_builder(expected).upload("ext", 2, 2, {pixels, pixels + 4});
    ASSERT_EQ(s->write_pos, expected->write_pos);
    EXPECT_EQ(std::memcmp(s->buffer, expected->buffer, s->write_pos), 0);
    threadstream_free(expected);
    s->read_pos = s->write_pos;

    // Sizes that would read far past the caller's pixels queue nothing.
    vlx_upload_pixel_array("bad", -2, 3, pixels);
    vlx_upload_pixel_array("bad", 0, 3, pixels);
    vlx_upload_pixel_array("bad", 32768, 32768, pixels);
    EXPECT_TRUE(threadstream_eos(s));
    EXPECT_EQ(s->error, 0);
    // Missing pixels travel as the absent buffer.
    uint64_t before = s->write_pos;
    vlx_upload_pixel_array("ext", 1, 1, nullptr);
    s->read_pos = before + 4 + 8 + 8;
    EXPECT_EQ(threadstream_unpack_buffer(s, nullptr), nullptr);

    // Between frames nothing is written anywhere.
    current_frame_stream = nullptr;
    vlx_upload_pixel_array("ext", 2, 2, pixels);
    threadstream_free(s);
}

} // namespace
