// JSON and XML documents as a game reads them: a document that does not
// parse still answers nil, and the log says why and where, once per call.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DataFiles, ADocumentThatDoesNotParseIsLoggedWithItsLineAndColumn) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick(args); end\n");
    sandbox.write_game_file("data/menu.json", "{\n  \"items\": [1, 2,]\n}\n");
    sandbox.write_game_file("data/menu.xml", "<menu>\n  <item>Start</itm>\n</menu>\n");
    // JSON's null parses to nil without a word, and an escaped backslash
    // before u0000 is text, not a NUL.
    sandbox.write_game_file("app/read.rb",
                            "p [$qmx.parse_json_file('data/menu.json'), $qmx.parse_xml_file('data/menu.xml'),\n"
                            "  $qmx.parse_json('[\"a\\\\u0000b\"]'), $qmx.parse_json(''), $qmx.parse_xml('<a>'),\n"
                            "  $qmx.parse_json_file('data/none.json'), $qmx.parse_json('null'),\n"
                            "  $qmx.parse_json('[\"a\\\\\\\\u0000b\", null]')]\n");
    engine_result result = sandbox.run({sandbox.game_dir, "--eval", "app/read.rb", "--no-tick"});
    ASSERT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("[nil, nil, nil, nil, nil, nil, nil, [\"a\\\\u0000b\", nil]]"), std::string::npos)
        << result.out;
    const std::string log = read_file(sandbox.base_dir + "/logs/log.txt");
    for (const char *line :
         {"* ERROR: ~$qmx.parse_json_file~ could not read =data/menu.json= as JSON: unexpected ']' at line 2, column "
          "18. It answers nil.\n",
          "* ERROR: ~$qmx.parse_xml_file~ could not read =data/menu.xml= as XML: Close tag does not match open tag "
          "(<Tag> .. </OtherTag>) at line 2, column 16. It answers nil.\n",
          "* ERROR: ~$qmx.parse_json~ could not read the JSON text: a string holds \\u0000, which would cut it short "
          "at line 1, column 4. It answers nil.\n",
          "* ERROR: ~$qmx.parse_json~ could not read the JSON text: the text is empty. It answers nil.\n",
          "* ERROR: ~$qmx.parse_xml~ could not read the XML text: XML document is incomplete or malformed at line 1, "
          "column 4. It answers nil.\n"}) {
        EXPECT_EQ(count_of(log, line), 1u) << line << "\n" << log;
        EXPECT_EQ(count_of(result.out, line), 1u) << line;
    }
    // A missing file is no malformed document: nil, and nothing logged.
    EXPECT_EQ(log.find("none.json"), std::string::npos) << log;
    EXPECT_EQ(count_of(log, "* ERROR:"), 5u) << log;
}

} // namespace
