// The README's runnable examples, run as written so that the README and the
// engine cannot drift apart. An example is a fenced Ruby block right after a
// marker line:
//
//   <!-- example: NAME[; file PATH][; run OPTIONS...][; pixel X Y R G B]... -->
//
// Every ```ruby block must have one. Without `file` the block is a game's
// app/main.rb, run headless with OPTIONS after the game folder for a few
// ticks: nothing may raise, and every line ending in "# => VALUE" must give a
// value whose inspect text is VALUE, at least once; with
// `pixel` the screen at (X, Y), counted from the bottom left, must show that
// colour once every check has run. With `file` the block is written to PATH
// and the run (a test run, say) must end with status 0.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct pixel_check {
    int x, y;
    rgb colour;
};

struct readme_example {
    std::string name, file, code;
    std::vector<std::string> options;
    std::vector<pixel_check> pixels;
    int line = 0; // of the marker in the README
};

std::string trim(const std::string &text) {
    size_t begin = text.find_first_not_of(" \t"), end = text.find_last_not_of(" \t");
    return begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
}

std::vector<std::string> words(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

std::vector<readme_example> read_examples(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::vector<readme_example> examples;
    const std::string opening = "<!-- example:";
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(opening, 0) != 0) continue;
        readme_example example;
        example.line = (int)i + 1;
        std::string marker = lines[i].substr(opening.size());
        marker = trim(marker.substr(0, marker.find("-->")));
        std::istringstream parts(marker);
        std::string part;
        std::getline(parts, example.name, ';');
        example.name = trim(example.name);
        while (std::getline(parts, part, ';')) {
            std::vector<std::string> w = words(part);
            if (w.empty()) continue;
            if (w[0] == "file" && w.size() == 2) example.file = w[1];
            else if (w[0] == "run") example.options.assign(w.begin() + 1, w.end());
            else if (w[0] == "pixel" && w.size() == 6)
                example.pixels.push_back(
                    {std::stoi(w[1]), std::stoi(w[2]), {std::stoi(w[3]), std::stoi(w[4]), std::stoi(w[5])}});
            else ADD_FAILURE() << "README line " << example.line << ": unknown marker part '" << part << "'";
        }
        size_t j = i + 1;
        if (j >= lines.size() || lines[j] != "```ruby") {
            ADD_FAILURE() << "README line " << example.line << ": the marker is not followed by a ```ruby block";
            continue;
        }
        lines[j] = "```ruby (marked)"; // not reported as unmarked below
        for (++j; j < lines.size() && lines[j] != "```"; ++j) example.code += lines[j] + "\n";
        examples.push_back(example);
        i = j;
    }
    // A Ruby block without a marker would go unchecked.
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == "```ruby") ADD_FAILURE() << "README line " << i + 1 << ": a Ruby example without a marker";
    return examples;
}

// Ruby string literal of any text.
std::string ruby_string(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\' || c == '#') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Each "CODE  # => VALUE" line becomes a check of CODE's value; answers how
// many there are.
int add_checks(std::string &code) {
    std::istringstream in(code);
    std::string out;
    int checks = 0;
    for (std::string line; std::getline(in, line);) {
        size_t mark = line.find("  # => ");
        if (mark != std::string::npos) {
            size_t indent = line.find_first_not_of(' ');
            std::string expression = line.substr(indent, mark - indent);
            std::string expected = trim(line.substr(mark + 7));
            line = line.substr(0, indent) + "__readme_check__(" + std::to_string(checks++) + ", (" + expression +
                   "), "+ ruby_string(expected) + ")";
        }
        out += line + "\n";
    }
    code = out;
    return checks;
}

const char *PRELUDE = R"RUBY(
$readme_checks = {}
def __readme_check__(index, value, expected)
  shown = value.inspect
  failed = $readme_checks[index].is_a?(String)
  $readme_checks[index] = shown == expected ? :ok : "check #{index}: expected #{expected}, got #{shown}" unless failed
  value
end
)RUBY";

// Runs the example's tick, ends the run once every check has run (and the
// screenshot, when one is wanted, is written), and reports.
std::string suffix(int checks, bool screenshot) {
    return "README_CHECKS = " + std::to_string(checks) + "\nREADME_SCREENSHOT = " + (screenshot ? "true" : "false") +
           R"RUBY(
alias __readme_example_tick__ tick
def tick(args)
  begin
    __readme_example_tick__(args)
  rescue Exception => e
    puts "README EXAMPLE RAISED: #{e.class}: #{e.message}"
    $readme_raised = true
  end
  done = $readme_checks.length == README_CHECKS || Kernel.tick_count >= 600 || $readme_raised
  return unless done && (Kernel.tick_count >= 2 || $readme_raised)
  if README_SCREENSHOT && !$readme_raised && !$qmx.read_file("readme.png")
    args.outputs.screenshots << { x: 0, y: 0, w: 1280, h: 720, path: "readme.png", a: 255 } unless $readme_shot_at
    $readme_shot_at ||= Kernel.tick_count
    return if Kernel.tick_count < $readme_shot_at + 60
  end
  $readme_checks.each_value { |result| puts "README CHECK FAILED #{result}" unless result == :ok }
  puts "README CHECKS #{$readme_checks.count { |_, result| result == :ok }}/#{README_CHECKS}"
  $qmx.request_quit
end
)RUBY";
}

TEST(Readme, EveryMarkedExampleRunsAsWritten) {
    std::vector<readme_example> examples = read_examples(VELLUM_README);
    // The topics a newcomer needs examples of; a README edit that drops a
    // marker fails here instead of leaving the example unchecked.
    std::vector<std::string> names;
    for (const readme_example &example : examples) names.push_back(example.name);
    for (const char *topic :
         {"first-game", "render-target", "layout", "input", "json", "xml", "http", "tests", "mruby", "cli"})
        EXPECT_NE(std::find(names.begin(), names.end(), topic), names.end()) << topic;

    for (readme_example &example : examples) {
        SCOPED_TRACE("README example '" + example.name + "' at line " + std::to_string(example.line));
        EngineSandbox sandbox;
        std::vector<std::string> args = {sandbox.game_dir};
        args.insert(args.end(), example.options.begin(), example.options.end());
        if (!example.file.empty()) {
            sandbox.write_game_file("app/main.rb", "def tick(args); end\n");
            sandbox.write_game_file(example.file, example.code);
            engine_result result = sandbox.run(args, 30);
            EXPECT_EQ(result.exit_code, 0) << result.out;
            EXPECT_EQ(result.out.find("* EXCEPTION"), std::string::npos) << result.out;
            size_t tests = count_of(example.code, "\ndef test_") + (example.code.rfind("def test_", 0) == 0);
            EXPECT_NE(result.out.find("\n" + std::to_string(tests) + " test(s) passed."), std::string::npos)
                << result.out;
            continue;
        }
        std::string code = example.code;
        int checks = add_checks(code);
        // Top-level code that raises would leave the game paused, unloaded;
        // the run is to end and say so instead.
        sandbox.write_game_file("app/main.rb", std::string(PRELUDE) + "begin\n" + code +
                                                   "rescue Exception => e\n  puts \"README EXAMPLE RAISED: "
                                                   "#{e.class}: #{e.message}\"\n  $readme_raised = true\nend\n" +
                                                   suffix(checks, !example.pixels.empty()));
        engine_result result = sandbox.run(args, 30);
        ASSERT_FALSE(result.timed_out) << result.out;
        EXPECT_EQ(result.exit_code, 0) << result.out;
        EXPECT_EQ(result.out.find("* EXCEPTION"), std::string::npos) << result.out;
        EXPECT_EQ(result.out.find("README EXAMPLE RAISED"), std::string::npos) << result.out;
        EXPECT_EQ(result.out.find("README CHECK FAILED"), std::string::npos) << result.out;
        std::string all = std::to_string(checks);
        EXPECT_NE(result.out.find("README CHECKS " + all + "/" + all + "\n"), std::string::npos) << result.out;
        if (example.pixels.empty()) continue;
        Screenshot shot(sandbox.game_dir + "/readme.png");
        ASSERT_EQ(shot.width, 1280u);
        for (const pixel_check &pixel : example.pixels)
            EXPECT_TRUE(near(shot.colour(pixel.x, pixel.y), pixel.colour, 3))
                << pixel.x << "," << pixel.y << " is " << shot.colour(pixel.x, pixel.y)[0] << " "
                << shot.colour(pixel.x, pixel.y)[1] << " " << shot.colour(pixel.x, pixel.y)[2];
    }
}

} // namespace
