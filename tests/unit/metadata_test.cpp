#include "host/metadata.h"
#include "vfs_fixture.h"

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

TEST(Metadata, ACompleteFileLoadsSilentlyWithTheIconDefault) {
    Parsed p = parse(required);
    EXPECT_TRUE(p.complete);
    EXPECT_EQ(p.messages, "");
    EXPECT_STREQ(p.record.devid, "studio");
    EXPECT_STREQ(p.record.gametitle, "Game");
    EXPECT_STREQ(p.record.icon, "metadata/icon.png");
    EXPECT_EQ(p.record.compile_ruby, 0u);
    EXPECT_EQ(p.record.production, 0u);
}

TEST(Metadata, KeysIgnoreCaseAndValuesKeepEverythingAfterTheFirstEquals) {
    Parsed p = parse("  DevId  =  studio  \r\n" + required.substr(13) + "version=1.0=beta\nicon = sprites/i.png\n");
    EXPECT_TRUE(p.complete) << p.messages;
    EXPECT_STREQ(p.record.devid, "studio");
    EXPECT_STREQ(p.record.version, "1.0=beta");
    EXPECT_STREQ(p.record.icon, "sprites/i.png");
}

TEST(Metadata, EveryProblemIsReportedAndSkipped) {
    Parsed p = parse(required + "#gametitle=Foo\nfavourite=blue\ncompile_ruby=maybe\n");
    EXPECT_TRUE(p.complete);
    EXPECT_STREQ(p.record.gametitle, "Game");
    EXPECT_EQ(p.messages, "Unknown game metadata key '#gametitle', ignoring\n"
                          "Unknown game metadata key 'favourite', ignoring\n"
                          "Metadata for key 'compile_ruby' isn't true or false, setting to false!\n");

    EXPECT_EQ(parse(required + "COMPILE_RUBY=Yes\n").record.compile_ruby, 1u);
    EXPECT_EQ(parse(required + "compile_ruby=Y\ncompile_ruby=n\n").record.compile_ruby, 0u);

    // Comments, blank lines and white space are quiet; other text is not.
    EXPECT_EQ(parse(required + "# a comment\n\n   \t\n   # indented\n").messages, "");
}

TEST(Metadata, InvalidLinesAreNumberedTheSameForEveryLineEnding) {
    EXPECT_EQ(parse("devid=a\ndevtitle=b\nplain words\n").messages,
              "Invalid metadata on line 3, ignored\nMetadata file does not have all required fields!\n");
    // A CR LF pair is one line break.
    EXPECT_EQ(parse("devid=a\r\ndevtitle=b\r\nplain words\r\n").messages,
              "Invalid metadata on line 3, ignored\nMetadata file does not have all required fields!\n");
    EXPECT_EQ(parse("devid=a\rdevtitle=b\rplain words\r").messages,
              "Invalid metadata on line 3, ignored\nMetadata file does not have all required fields!\n");
    Parsed crlf = parse("devid=studio\r\n");
    EXPECT_STREQ(crlf.record.devid, "studio");
}

TEST(Metadata, ValuesTooLongForTheirFieldAreDropped) {
    Parsed p = parse(std::string("devid=") + std::string(32, 'x') + "\n" + required.substr(13));
    EXPECT_FALSE(p.complete);
    EXPECT_EQ(p.messages, "Metadata for key 'devid' is too large, ignoring!\n"
                          "Metadata file does not have all required fields!\n");
    EXPECT_STREQ(p.record.devid, "");
    // 31 characters fit.
    EXPECT_TRUE(parse(std::string("devid=") + std::string(31, 'x') + "\n" + required.substr(13)).complete);
    // A later over-long line empties the field but the key still counts.
    Parsed later = parse(required + "devid=" + std::string(40, 'y') + "\n");
    EXPECT_TRUE(later.complete);
    EXPECT_STREQ(later.record.devid, "");
}

// The record is loaded once per process, so each case runs in a child.
using MetadataFile = VfsTest;

TEST_F(MetadataFile, AnIncompleteFileGetsTheDefaultsButKeepsItsIcon) {
    put("metadata/game_metadata.txt", "devid=mine\nicon=sprites/me.png\ncompile_ruby=yes\n");
    EXPECT_EXIT(
        {
            const game_metadata_record *record = game_metadata_mutable();
            bool defaults = !strcmp(record->devid, "vellumcore") && !strcmp(record->devtitle, "Vellumcore") &&
                            !strcmp(record->gameid, "hello-SDL") && !strcmp(record->gametitle, "Hello SDL") &&
                            !strcmp(record->version, "0.0.0.0.1");
            bool kept = !strcmp(record->icon, "sprites/me.png") && record->compile_ruby == 1;
            // Read once: a changed file changes nothing.
            put("metadata/game_metadata.txt", required);
            bool once = !strcmp(game_metadata()->devid, "vellumcore");
            exit(defaults && kept && once ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "^Metadata file does not have all required fields!\n$");
}

TEST_F(MetadataFile, NoFileGivesTheDefaultsQuietlyWithNoIcon) {
    EXPECT_EXIT(
        {
            const game_metadata_record *record = game_metadata();
            exit(!strcmp(record->gametitle, "Hello SDL") && !strcmp(record->icon, "") && record->compile_ruby == 0
                     ? 0
                     : 1);
        },
        ::testing::ExitedWithCode(0), "^$");
}

} // namespace
