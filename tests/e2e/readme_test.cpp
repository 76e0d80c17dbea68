// The README's runnable examples, run as written so that the README and the
// engine cannot drift apart. Every ```ruby block follows a marker line
//
//   <!-- example: NAME[; file PATH][; run OPTIONS...][; env NAME=VALUE][; pixel X Y R G B]... -->
//
// Without `file` the block is a game's app/main.rb, run headless with
// OPTIONS after the game folder: nothing may raise, each line ending in
// "# => VALUE" must give a value whose inspect text is VALUE, and each
// `pixel` (from the bottom left) must show its colour. With `file` the block
// is written to PATH and the run (a test run, say) must end with status 0.
// `env` sets a variable of the run's environment.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct readme_example {
    std::string name, file, code;
    std::vector<std::string> options;
    std::map<std::string, std::string> env;
    std::vector<std::vector<int>> pixels; // x, y, r, g, b
};

std::vector<readme_example> read_examples() {
    std::ifstream in(VELLUM_README);
    std::vector<readme_example> examples;
    bool marked = false, inside = false;
    int number = 0;
    for (std::string line; std::getline(in, line) && ++number;) {
        if (inside) {
            if (line == "```") inside = false;
            else examples.back().code += line + "\n";
            continue;
        }
        // A Ruby block without a marker would go unchecked.
        if (line == "```ruby") {
            inside = marked;
            EXPECT_TRUE(marked) << "README line " << number << ": a Ruby block without a marker";
        } else if (marked) ADD_FAILURE() << "README line " << number << ": a marker without a ```ruby block after it";
        marked = line.rfind("<!-- example:", 0) == 0;
        if (!marked) continue;
        std::istringstream parts(line.substr(13, line.find("-->") - 13));
        readme_example example;
        std::getline(parts, example.name, ';');
        for (std::string part; std::getline(parts, part, ';');) {
            std::istringstream in_part(part);
            std::string kind, word;
            std::vector<std::string> words;
            for (in_part >> kind; in_part >> word;) words.push_back(word);
            if (kind == "file" && words.size() == 1) example.file = words[0];
            else if (kind == "run") example.options = words;
            else if (kind == "env" && words.size() == 1 && words[0].find('=') != std::string::npos)
                example.env[words[0].substr(0, words[0].find('='))] = words[0].substr(words[0].find('=') + 1);
            else if (kind == "pixel" && words.size() == 5)
                example.pixels.push_back({std::stoi(words[0]), std::stoi(words[1]), std::stoi(words[2]),
                                          std::stoi(words[3]), std::stoi(words[4])});
            else ADD_FAILURE() << "README line " << number << ": unknown marker part '" << part << "'";
        }
        examples.push_back(example);
    }
    return examples;
}

// Each "CODE  # => VALUE" line becomes a check of CODE's value, numbered.
int add_checks(std::string &code) {
    std::istringstream in(code);
    std::string out;
    int checks = 0;
    for (std::string line; std::getline(in, line); out += line + "\n") {
        size_t mark = line.find("  # => ");
        if (mark == std::string::npos) continue;
        std::string expected;
        for (char c : line.substr(mark + 7)) expected += std::string(c == '"' || c == '\\' || c == '#' ? "\\" : "") + c;
        size_t indent = line.find_first_not_of(' ');
        line = line.substr(0, indent) + "__readme_check__(" + std::to_string(checks++) + ", (" +
               line.substr(indent, mark - indent) + "), \"" + expected + "\")";
    }
    code = out;
    return checks;
}

// Runs the example's tick until every check has run (and the screenshot,
// when one is wanted, is written), saying what failed.
const char *PRELUDE = R"RUBY(
$readme_checked = {}
def __readme_check__(index, value, expected)
  puts "README FAILED check #{index}: expected #{expected}, got #{value.inspect}" unless value.inspect == expected
  $readme_checked[index] = value
end
def __readme_raised__(e) = (puts "README FAILED: #{e.class}: #{e.message}"; $readme_raised = true)
begin
)RUBY";

const char *SUFFIX = R"RUBY(
rescue Exception => e
  __readme_raised__(e)
end
alias __readme_example_tick__ tick
def tick(args)
  begin
    __readme_example_tick__(args)
  rescue Exception => e
    __readme_raised__(e)
  end
  t = Kernel.tick_count
  return unless $readme_raised || t >= 600 || ($readme_checked.length == README_CHECKS && t >= 2)
  if README_SCREENSHOT && !$readme_raised && !$qmx.read_file("readme.png") && t < ($readme_shot_at ||= t) + 60
    args.outputs.screenshots << { x: 0, y: 0, w: 1280, h: 720, path: "readme.png", a: 255 } if t == $readme_shot_at
    return
  end
  puts "README CHECKS #{$readme_checked.length}/#{README_CHECKS}"
  $qmx.request_quit
end
)RUBY";

TEST(Readme, EveryMarkedExampleRunsAsWritten) {
    for (readme_example &example : read_examples()) {
        SCOPED_TRACE("README example '" + example.name + "'");
        EngineSandbox sandbox;
        std::vector<std::string> args = {sandbox.game_dir};
        args.insert(args.end(), example.options.begin(), example.options.end());
        int checks = 0;
        if (example.file.empty()) {
            checks = add_checks(example.code);
            sandbox.write_game_file("app/main.rb", "README_CHECKS = " + std::to_string(checks) + "\nREADME_SCREENSHOT = " +
                                                       (example.pixels.empty() ? "false" : "true") + PRELUDE +
                                                       example.code + SUFFIX);
        } else {
            sandbox.write_game_file("app/main.rb", "def tick(args); end\n");
            sandbox.write_game_file(example.file, example.code);
        }
        engine_result result = sandbox.run(args, 30, example.env);
        EXPECT_TRUE(result.exited && result.exit_code == 0) << result.out;
        EXPECT_EQ(result.out.find("* EXCEPTION"), std::string::npos) << result.out;
        if (!example.file.empty()) continue;
        EXPECT_EQ(result.out.find("README FAILED"), std::string::npos) << result.out;
        const std::string all = std::to_string(checks);
        EXPECT_NE(result.out.find("README CHECKS " + all + "/" + all + "\n"), std::string::npos) << result.out;
        Screenshot shot(sandbox.game_dir + "/readme.png");
        for (const std::vector<int> &p : example.pixels)
            EXPECT_TRUE(shot.width == 1280 && near(shot.colour(p[0], p[1]), {p[2], p[3], p[4]}, 3)) << p[0] << "," << p[1];
    }
}

} // namespace
