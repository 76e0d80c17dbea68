// Image decoding through the virtual file system, PNG encoding, and the
// image functions handed to native extensions.
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
                          LodePNGColorType type, unsigned depth) {
        unsigned char *png = nullptr;
        size_t size = 0;
        ASSERT_EQ(lodepng_encode_memory(&png, &size, samples.data(), w, h, type, depth), 0u);
        write_file(vfs_dir() + "/" + name, std::string((const char *)png, size));
        free(png);
    }
};

TEST_F(Images, DecodesEveryLayoutToTopDownRgba8) {
    // 16 bits per channel: the high byte of each sample is kept.
    write_png("deep.png", {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}, 1, 1, LCT_RGBA, 16);
    int32_t w = 0, h = 0;
    uint8_t *pixels = load_image("deep.png", &w, &h);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(pixels[0], 0x12);
    EXPECT_EQ(pixels[1], 0x56);
    EXPECT_EQ(pixels[2], 0x9A);
    EXPECT_EQ(pixels[3], 0xDE);
    free_image(pixels);

    // Grey and RGB images gain an opaque alpha; the first row is the top one.
    write_png("grey.png", {10, 200}, 1, 2, LCT_GREY, 8);
    pixels = load_image("grey.png", &w, &h);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(h, 2);
    const uint8_t grey_expected[8] = {10, 10, 10, 255, 200, 200, 200, 255};
    EXPECT_EQ(std::memcmp(pixels, grey_expected, 8), 0);
    free_image(pixels);

    write_png("rgb.png", {1, 2, 3, 4, 5, 6}, 2, 1, LCT_RGB, 8);
    pixels = load_image("rgb.png", nullptr, nullptr);
    ASSERT_NE(pixels, nullptr);
    const uint8_t rgb_expected[8] = {1, 2, 3, 255, 4, 5, 6, 255};
    EXPECT_EQ(std::memcmp(pixels, rgb_expected, 8), 0);
    free_image(pixels);
}

TEST_F(Images, FailedLoadsLeaveTheSizeAlone) {
    int32_t w = 77, h = 88;
    EXPECT_EQ(load_image("nowhere.png", &w, &h), nullptr);
    write_file(vfs_dir() + "/junk.png", "\x89PNG\r\n\x1a\n but then nothing sensible");
    EXPECT_EQ(load_image("junk.png", &w, &h), nullptr);
    EXPECT_EQ(load_image(nullptr, &w, &h), nullptr);
    EXPECT_EQ(w, 77);
    EXPECT_EQ(h, 88);
}

TEST_F(Images, EncodesPngThatDecodesToTheSamePixels) {
    const uint8_t source[8] = {255, 0, 0, 255, 0, 128, 255, 64};
    size_t size = 0;
    uint8_t *png = encode_png(source, 2, 1, 0, 0, &size);
    ASSERT_NE(png, nullptr);
    unsigned char *decoded = nullptr;
    unsigned w = 0, h = 0;
    ASSERT_EQ(lodepng_decode32(&decoded, &w, &h, png, size), 0u);
    EXPECT_EQ(w, 2u);
    EXPECT_EQ(h, 1u);
    EXPECT_EQ(std::memcmp(decoded, source, 8), 0);
    free(decoded);
    SDL_free(png);

    // A size kept in one dimension encodes the source size; both changed rescale.
    png = encode_png(source, 2, 1, 2, 5, &size);
    ASSERT_NE(png, nullptr);
    ASSERT_EQ(lodepng_decode32(&decoded, &w, &h, png, size), 0u);
    EXPECT_EQ(w, 2u);
    EXPECT_EQ(h, 1u);
    free(decoded);
    SDL_free(png);
    png = encode_png(source, 2, 1, 4, 2, &size);
    ASSERT_NE(png, nullptr);
    ASSERT_EQ(lodepng_decode32(&decoded, &w, &h, png, size), 0u);
    EXPECT_EQ(w, 4u);
    EXPECT_EQ(h, 2u);
    free(decoded);
    SDL_free(png);

    EXPECT_EQ(encode_png(source, 0, 1, 0, 0, &size), nullptr);
    EXPECT_EQ(encode_png(nullptr, 2, 1, 0, 0, &size), nullptr);
}

TEST_F(Images, ExtensionUploadsQueueOneCommandWithExactBytes) {
    current_frame_stream = threadstream_allocate();
    const uint32_t pixels[4] = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u, 0x80FFFFFFu};
    vlx_upload_pixel_array("ext", 2, 2, pixels);
    threadstream *s = current_frame_stream;
    EXPECT_EQ(threadstream_unpack_int(s), 13);
    EXPECT_STREQ(threadstream_unpack_string(s, nullptr), "ext");
    EXPECT_EQ(threadstream_unpack_int(s), 2);
    EXPECT_EQ(threadstream_unpack_int(s), 2);
    uint64_t length = 0;
    const char *bytes = threadstream_unpack_buffer(s, &length);
    ASSERT_EQ(length, 16u);
    EXPECT_EQ(std::memcmp(bytes, pixels, 16), 0);
    EXPECT_TRUE(threadstream_eos(s));

    // Missing pixels travel as the absent buffer.
    uint64_t before = s->write_pos;
    vlx_upload_pixel_array("ext", 1, 1, nullptr);
    s->read_pos = before + 4 + 8 + 8;
    EXPECT_EQ(threadstream_unpack_buffer(s, &length), nullptr);

    // Sizes that would read far past the caller's pixels queue nothing.
    before = s->write_pos;
    vlx_upload_pixel_array("bad", -2, 3, pixels);
    vlx_upload_pixel_array("bad", 0, 3, pixels);
    vlx_upload_pixel_array("bad", 32768, 32768, pixels);
    EXPECT_EQ(s->write_pos, before);
    EXPECT_EQ(s->error, 0);

    // Between frames nothing is written anywhere.
    current_frame_stream = nullptr;
    vlx_upload_pixel_array("ext", 2, 2, pixels);
    threadstream_free(s);

    write_png("ext.png", {9, 8, 7, 6}, 1, 1, LCT_RGBA, 8);
    int32_t w = 0, h = 0;
    uint8_t *loaded = vlx_load_image("ext.png", &w, &h);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded[0], 9);
    EXPECT_EQ(loaded[3], 6);
    vlx_free_image(loaded);
    vlx_free_image(nullptr);
}

} // namespace
