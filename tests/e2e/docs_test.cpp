// The built-in documentation as an author reaches it: the commands the docs
// and the README tell them to type at the console, and exports that land
// beside the engine or say that they did not.
#include "scripted_player.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const size_t npos = std::string::npos;

// Types one command into the open console at `frame` and presses Enter.
std::string command(int frame, const std::string &text) {
    return std::to_string(frame) + " text " + text + "\n" + std::to_string(frame + 5) + " key_down 13 0\n" +
           std::to_string(frame + 6) + " key_up 13 0\n";
}

// One command is a typo on the runtime: the report names the method and the
// runtime's class, and nothing of what the runtime holds.
TEST(Docs, WhatTheDocsSayToTypeAtTheConsoleAnswers) {
    ScriptedPlayer player("console");
    player.play("50 key_down 96 0\n50 text `\n51 key_up 96 0\n" + command(55, "docs_search \"tick\"") +
                command(70, "docs") + command(85, "docs_classes") + command(100, "export_docs!") +
                command(115, "$qmx.export_docs!") + command(130, "QMX::Outputs.export_docs!"));
    const std::string &out = player.result.out, docs = player.sandbox.base_dir + "/docs/";
    EXPECT_EQ(out.find("Undefined method"), npos) << out;
    EXPECT_EQ(out.find("Documentation is not available"), npos) << out;
    size_t search = out.find("-> docs_search \"tick\"\n");
    EXPECT_LT(out.find("* DOCS: ~Kernel::tick_count~", search), out.find("-> docs\n", search)) << out;
    EXPECT_NE(read_file(docs + "search_results.txt").find("~Kernel::tick_count~"), npos);
    EXPECT_NE(out.find("=> \n* DOCS: Kernel\nEach line below is a documentation method."), npos);
    EXPECT_NE(out.find("** QMX::Outputs.docs\n"), npos);
    EXPECT_TRUE(file_exists(docs + "docs.html"));
    EXPECT_NE(read_file(docs + "QMX.Outputs.txt").find("* DOCS: ~QMX::Outputs~"), npos);
    size_t report = out.find("* EXCEPTION: * ERROR:\nUnhandled method_missing with name :export_docs!");
    EXPECT_NE(out.find("QMX::Runtime", report), npos) << out;
    EXPECT_EQ(out.find("serialize"), npos);
    EXPECT_EQ(out.find("FFI::"), npos);
}

// Called from the game's own top-level code where "docs" is a file, so no
// folder can be made: each export says it failed instead of claiming success.
TEST(Docs, AnExportThatCannotBeWrittenSaysSo) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick(args); end\n");
    sandbox.write_game_file("app/export.rb", "QMX::Outputs.export_docs!\nexport_docs!\n");
    write_file(sandbox.base_dir + "/docs", "not a folder");
    engine_result result = sandbox.run({sandbox.game_dir, "--eval", "app/export.rb", "--no-tick"});
    for (const char *said : {"* ERROR: Documentation for QMX::Outputs could not be exported: docs/QMX.Outputs.txt "
                             "could not be written beside the engine.",
                             "* ERROR: The documentation could not be exported: docs/docs.txt, docs/docs.html"})
        EXPECT_NE(result.out.find(said), npos) << result.out;
    EXPECT_EQ(result.out.find("been exported"), npos);
}

} // namespace
