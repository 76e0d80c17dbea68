// The built-in documentation as an author reaches it: the commands the docs
// and the README tell them to type at the console, and exports that land
// beside the engine or say that they did not.
#include "scripted_player.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

// Types one command into the open console at `frame` and presses Enter.
std::string command(int frame, const std::string &text) {
    return std::to_string(frame) + " text " + text + "\n" + std::to_string(frame + 5) + " key_down 13 0\n" +
           std::to_string(frame + 6) + " key_up 13 0\n";
}

TEST(Docs, WhatTheDocsSayToTypeAtTheConsoleAnswers) {
    ScriptedPlayer player("console");
    player.play("50 key_down 96 0\n50 text `\n51 key_up 96 0\n" + command(55, "docs_search \"tick\"") +
                command(70, "docs") + command(85, "docs_classes") + command(100, "export_docs!") +
                command(115, "$qmx.export_docs!"));
    const std::string &out = player.result.out;
    EXPECT_EQ(out.find("Undefined method"), std::string::npos) << out;
    EXPECT_EQ(out.find("Documentation is not available"), std::string::npos) << out;
    // The search finds the tick counter's text and writes its results.
    size_t search = out.find("-> docs_search \"tick\"\n");
    ASSERT_NE(search, std::string::npos) << out;
    EXPECT_LT(out.find("* DOCS: ~Kernel::tick_count~", search), out.find("-> docs\n", search));
    EXPECT_NE(out.find("* INFO: Search results have been written to docs/search_results.txt."), std::string::npos);
    EXPECT_NE(read_file(player.sandbox.base_dir + "/docs/search_results.txt").find("~Kernel::tick_count~"),
              std::string::npos);
    // docs is the index of everything, docs_classes the list of classes.
    EXPECT_NE(out.find("=> \n* DOCS: Kernel\nEach line below is a documentation method."), std::string::npos);
    EXPECT_NE(out.find("** QMX::Outputs.docs\n"), std::string::npos);
    EXPECT_TRUE(file_exists(player.sandbox.base_dir + "/docs/docs.html"));
    EXPECT_NE(out.find("* INFO: All docs have been exported to docs/docs.html."), std::string::npos);

    // A typo on the runtime names the method and the runtime, and nothing of
    // what the runtime holds.
    size_t report = out.find("* EXCEPTION: * ERROR:\nUnhandled method_missing with name :export_docs!");
    ASSERT_NE(report, std::string::npos) << out;
    EXPECT_NE(out.find("QMX::Runtime", report), std::string::npos);
    EXPECT_EQ(out.find("serialize"), std::string::npos) << out;
    EXPECT_EQ(out.find("FFI::"), std::string::npos) << out;
}

// A class's own export is written under a name the file system takes, and an
// export that cannot be written says so instead of claiming success.
TEST(Docs, AClassExportLandsBesideTheEngineOrSaysItCouldNot) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick(args); end\n");
    // The game's own top-level code calls the export as the console does.
    sandbox.write_game_file("app/export.rb", "QMX::Outputs.export_docs!\nexport_docs!\n");
    engine_result result = sandbox.run({sandbox.game_dir, "--eval", "app/export.rb", "--no-tick"});
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(read_file(sandbox.base_dir + "/docs/QMX.Outputs.txt").find("* DOCS: ~QMX::Outputs~"), std::string::npos);
    EXPECT_NE(result.out.find("Documentation for QMX::Outputs has been exported to docs/QMX.Outputs.txt."),
              std::string::npos)
        << result.out;

    // "docs" is a file here, so no folder can be made.
    std::filesystem::remove_all(sandbox.base_dir + "/docs");
    write_file(sandbox.base_dir + "/docs", "not a folder");
    result = sandbox.run({sandbox.game_dir, "--eval", "app/export.rb", "--no-tick"});
    EXPECT_NE(result.out.find("* ERROR: Documentation for QMX::Outputs could not be exported: docs/QMX.Outputs.txt "
                              "could not be written beside the engine."),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("* ERROR: The documentation could not be exported: docs/docs.txt, docs/docs.html"),
              std::string::npos);
    EXPECT_EQ(result.out.find("has been exported"), std::string::npos);
    EXPECT_EQ(result.out.find("have been exported"), std::string::npos);
}

} // namespace
