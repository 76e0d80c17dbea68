// Image decoding through the virtual file system and PNG encoding. (Channel
// conversion is the decoder library's; ours is the file system and the size.)
#include "render_support.h"

#include "render/image.h"

#include <lodepng.h>

#include <cstring>

using namespace render_support;

namespace {

TEST(Images, DecodeThroughTheFileSystemToTopDownRgba8AndEncodeBackToTheSamePixels) {
    vfs_dir();
    std::vector<unsigned char> grey;
    ASSERT_EQ(lodepng::encode(grey, {10, 200}, 1, 2, LCT_GREY, 8), 0u);
    write_file(vfs_dir() + "/grey.png", std::string(grey.begin(), grey.end()));
    int32_t w = 0, h = 0;
    uint8_t *pixels = load_image("grey.png", &w, &h);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + 8), (std::vector<uint8_t>{10, 10, 10, 255, 200, 200, 200, 255}));
    EXPECT_EQ(std::pair(w, h), std::pair(1, 2));
    free_image(pixels);
    // Failed loads leave the size alone.
    write_file(vfs_dir() + "/junk.png", "\x89PNG\r\n\x1a\n but then nothing sensible");
    for (const char *name : {"nowhere.png", "junk.png", (const char *)nullptr}) EXPECT_EQ(load_image(name, &w, &h), nullptr);
    EXPECT_EQ(std::pair(w, h), std::pair(1, 2));

    // A size kept in one dimension encodes the source size; both changed rescale.
    const uint8_t source[8] = {255, 0, 0, 255, 0, 128, 255, 64};
    const struct { int32_t w, h; unsigned out_w, out_h; } sizes[] = {{0, 0, 2, 1}, {2, 5, 2, 1}, {4, 2, 4, 2}};
    for (auto s : sizes) {
        size_t size = 0;
        uint8_t *png = encode_png(source, 2, 1, s.w, s.h, &size);
        std::vector<unsigned char> decoded;
        unsigned dw = 0, dh = 0;
        ASSERT_EQ(lodepng::decode(decoded, dw, dh, png, size), 0u);
        SDL_free(png);
        EXPECT_EQ(std::pair(dw, dh), std::pair(s.out_w, s.out_h));
        EXPECT_TRUE(dw != 2 || std::memcmp(decoded.data(), source, 8) == 0);
    }
    size_t size = 0;
    EXPECT_EQ(encode_png(source, 0, 1, 0, 0, &size), nullptr);
    EXPECT_EQ(encode_png(nullptr, 2, 1, 0, 0, &size), nullptr);
}

} // namespace
