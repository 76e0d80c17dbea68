#include "host/metadata.h"
#include "vfs_fixture.h"

#include <SDL2/SDL.h>

#include <cstring>
#include <string>

namespace {

struct Parsed {
    game_metadata_record record;
    bool complete;
    std::string messages;
};

Parsed parse(const std::string &text) {
    Parsed p;
    testing::internal::CaptureStderr();
    p.complete = parse_metadata_text(text.data(), text.size(), &p.record);
    p.messages = testing::internal::GetCapturedStderr();
    return p;
}

const std::string required = "devid=studio\ndevtitle=Studio\ngameid=game\ngametitle=Game\nversion=1.0\n";
const std::string incomplete = "Metadata file does not have all required fields!\n";

TEST(Metadata, KeysIgnoreCaseAndValuesKeepEverythingAfterTheFirstEquals) {
    Parsed p = parse("  DevId  =  studio  \r\n" + required.substr(13) + "version=1.0=beta\n# a comment\n\n  \t\n");
    EXPECT_TRUE(p.complete);
    EXPECT_EQ(p.messages, "");
    EXPECT_EQ(std::string(p.record.devid) + p.record.gametitle + p.record.version + p.record.icon,
              "studioGame1.0=betametadata/icon.png");
    EXPECT_EQ(p.record.compile_ruby + p.record.production, 0u);
    EXPECT_STREQ(parse(required + "icon = sprites/i.png\n").record.icon, "sprites/i.png");
    EXPECT_EQ(parse(required + "COMPILE_RUBY=Yes\n").record.compile_ruby, 1u);
    EXPECT_EQ(parse(required + "compile_ruby=Y\ncompile_ruby=n\n").record.compile_ruby, 0u);
}

TEST(Metadata, EveryProblemIsReportedAndSkipped) {
    const struct { std::string text; bool complete; std::string messages; } cases[] = {
        {required + "#gametitle=Foo\nfavourite=blue\ncompile_ruby=maybe\n", true,
         "Unknown game metadata key '#gametitle', ignoring\nUnknown game metadata key 'favourite', ignoring\n"
         "Metadata for key 'compile_ruby' isn't true or false, setting to false!\n"},
        // Lines are numbered alike for every line ending (CR LF is one).
        {"devid=a\ndevtitle=b\nplain words\n", false, "Invalid metadata on line 3, ignored\n" + incomplete},
        {"devid=a\r\ndevtitle=b\r\nplain words\r\n", false, "Invalid metadata on line 3, ignored\n" + incomplete},
        {"devid=a\rdevtitle=b\rplain words\r", false, "Invalid metadata on line 3, ignored\n" + incomplete},
        // 31 characters fit a 32-byte field; 32 do not, and the key is missing.
        {"devid=" + std::string(31, 'x') + "\n" + required.substr(13), true, ""},
        {"devid=" + std::string(32, 'x') + "\n" + required.substr(13), false,
         "Metadata for key 'devid' is too large, ignoring!\n" + incomplete},
        // A later over-long line empties the field, but the key still counts.
        {required + "devid=" + std::string(40, 'y') + "\n", true, "Metadata for key 'devid' is too large, ignoring!\n"},
    };
    for (const auto &c : cases) {
        Parsed p = parse(c.text);
        EXPECT_EQ(p.complete, c.complete) << c.text;
        EXPECT_EQ(p.messages, c.messages) << c.text;
    }
    EXPECT_STREQ(parse(required + "devid=" + std::string(40, 'y') + "\n").record.devid, "");
    EXPECT_STREQ(parse("devid=studio\r\n").record.devid, "studio");
}

// The record is loaded once per process, so each case runs in a child.
using MetadataFile = VfsTest;

TEST_F(MetadataFile, AnIncompleteFileGetsTheDefaultsButKeepsItsIconAndNoFileHasNone) {
    put("metadata/game_metadata.txt", "devid=mine\nicon=sprites/me.png\ncompile_ruby=yes\n");
    auto loaded = [](const char *expected) {
        const game_metadata_record *r = game_metadata();
        std::string seen = std::string(r->devid) + "|" + r->devtitle + "|" + r->gameid + "|" + r->gametitle + "|" +
                           r->version + "|" + r->icon + "|" + std::to_string(r->compile_ruby);
        exit(seen == expected ? 0 : 1);
    };
    EXPECT_EXIT(loaded("vellumcore|Vellumcore|hello-SDL|Hello SDL|0.0.0.0.1|sprites/me.png|1"),
                ::testing::ExitedWithCode(0), "^" + incomplete + "$");
    // Read once: a file that appears later changes nothing.
    EXPECT_EXIT(
        {
            std::filesystem::remove(dir + "/metadata/game_metadata.txt");
            game_metadata();
            put("metadata/game_metadata.txt", required);
            loaded("vellumcore|Vellumcore|hello-SDL|Hello SDL|0.0.0.0.1||0");
        },
        ::testing::ExitedWithCode(0), "^$");
}

// The titles name the save folder in production: each must stay one
// folder, and a plain title (a colon, dots inside) is kept as it is, so
// existing saves stay where they are.
TEST(Metadata, TitlesBecomeOneFolderNameEach) {
    const struct { const char *title, *folder; bool said; } cases[] = {
        {"Space: Game v1.2", "Space: Game v1.2", false}, {"a/b\\c\td", "a_b_c_d", true},
        {"..", "Hello SDL", true}, {".", "Hello SDL", true}, {"", "Hello SDL", true}};
    for (const auto &c : cases) {
        game_metadata_record record = parse(required).record;
        SDL_strlcpy(record.gametitle, c.title, sizeof(record.gametitle));
        SDL_strlcpy(record.devtitle, "../Studio", sizeof(record.devtitle));
        char organisation[128], application[128];
        testing::internal::CaptureStderr();
        metadata_folder_names(&record, organisation, application, sizeof(application));
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_STREQ(organisation, ".._Studio");
        EXPECT_STREQ(application, c.folder) << c.title;
        EXPECT_EQ(said.find("Metadata for key 'gametitle' can't name a folder, using '" + std::string(c.folder) + "'") !=
                      std::string::npos,
                  c.said)
            << said;
    }
}

} // namespace
