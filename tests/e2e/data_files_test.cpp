// JSON and XML documents as a game reads them: a document that does not
// parse still answers nil, and the log says why and where, once per call.
#include "engine_run.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <map>
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
                            "  $qmx.parse_json('[\"a\\\\\\\\u0000b\", null]'),\n"
                            "  $qmx.parse_json(\"[1,\\0]\"), $qmx.parse_json('[' * 1001 + ']' * 1001),\n"
                            "  $qmx.parse_json('[9007199254740993, 1234567890123456789, 9223372036854775807]')]\n");
    engine_result result = sandbox.run({sandbox.game_dir, "--eval", "app/read.rb", "--no-tick"});
    ASSERT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("[nil, nil, nil, nil, nil, nil, nil, [\"a\\\\u0000b\", nil], nil, nil, "
                              "[9007199254740993, 1234567890123456789, 9223372036854775807]]"),
              std::string::npos)
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
          "column 4. It answers nil.\n",
          "* ERROR: ~$qmx.parse_json~ could not read the JSON text: the text holds a NUL byte at line 1, column 4. It "
          "answers nil.\n",
          "* ERROR: ~$qmx.parse_json~ could not read the JSON text: arrays and objects nest deeper than 1000 levels at "
          "line 1, column 1001. It answers nil.\n"}) {
        EXPECT_EQ(count_of(log, line), 1u) << line << "\n" << log;
        EXPECT_EQ(count_of(result.out, line), 1u) << line;
    }
    // A missing file is no malformed document: nil, and nothing logged.
    EXPECT_EQ(log.find("none.json"), std::string::npos) << log;
    EXPECT_EQ(count_of(log, "* ERROR:"), 7u) << log;
}

// A few hundred bytes of entities nested six and seven deep would expand to
// a million elements and more inside one tick: both answer nil at once, as
// any document that does not parse, while documents that use entities as
// abbreviations (many times, nested, in attributes) parse whole.
TEST(DataFiles, EntitiesExpandOnlyInProportionToTheDocument) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick(args); end\n");
    auto laughs = [](int levels) {
        std::string text = "<!DOCTYPE r [<!ENTITY a \"<x/>\">";
        for (int i = 1; i <= levels; ++i) {
            text += std::string("<!ENTITY ") + (char)('a' + i) + " \"";
            for (int j = 0; j < 10; ++j) text += std::string("&") + (char)('a' + i - 1) + ";";
            text += "\">";
        }
        return text + "]><r>&" + (char)('a' + levels) + ";</r>";
    };
    sandbox.write_game_file("data/six.xml", laughs(6));
    sandbox.write_game_file("app/read.rb", "SEVEN = '" + laughs(7) + "'\n" + R"(
def elements(node) = node[:type] == :element ? node[:children].inject(1) { |n, c| n + elements(c) } : 0
def attribute_bytes(node)
  return 0 unless node[:type] == :element
  (node[:attributes] || {}).values.inject(0) { |n, v| n + v.size } + node[:children].inject(0) { |n, c| n + attribute_bytes(c) }
end
rows = [
  ["six deep", $qmx.parse_xml_file("data/six.xml")],
  ["seven deep", $qmx.parse_xml(SEVEN)],
  ["abbreviation", $qmx.parse_xml("<!DOCTYPE r [<!ENTITY n 'Super Game Deluxe'>]><r>" + "<t>&n; &amp; &#233;</t>" * 5000 + "</r>")],
  ["nested rows", $qmx.parse_xml("<!DOCTYPE m [<!ENTITY t \"<tile w='32' h='32' solid='true' layer='bg'/>\">" \
                                 "<!ENTITY r '<row>#{'&t;' * 40}</row>'>]><m>#{'&r;' * 30}</m>")],
  ["attributes", $qmx.parse_xml("<!DOCTYPE r [<!ENTITY n '#{'x' * 1000}'>]><r>" + "<t a='&n;'/>" * 2000 + "</r>")],
]
rows.each { |name, tree| puts "#{name}: #{tree ? "#{elements(tree) - 1} elements, #{attribute_bytes(tree)} attribute bytes" : 'nil'}" }
texts = rows[2][1][:children][0][:children].map { |t| t[:children][0][:data] }.uniq
puts "texts: #{texts.inspect}"
)");
    engine_result result = sandbox.run({sandbox.game_dir, "--eval", "app/read.rb", "--no-tick"});
    ASSERT_EQ(result.exit_code, 0) << result.out;
    for (const char *row : {"six deep: nil\n", "seven deep: nil\n", "abbreviation: 5001 elements, 0 attribute bytes\n",
                            "nested rows: 1231 elements, 12000 attribute bytes\n",
                            "attributes: 2001 elements, 2000000 attribute bytes\n", "texts: [\"Super Game Deluxe & \\xc3\\xa9\"]\n"})
        EXPECT_EQ(count_of(result.out, row), 1u) << row << result.out;
    const std::string log = read_file(sandbox.base_dir + "/logs/log.txt");
    for (const char *what : {"~$qmx.parse_xml_file~ could not read =data/six.xml= as XML: Invalid character or entity "
                             "reference (&whatever;) at line 1, column ",
                             "~$qmx.parse_xml~ could not read the XML text: Invalid character or entity reference "
                             "(&whatever;) at line 1, column "})
        EXPECT_EQ(count_of(log, what), 1u) << what << "\n" << log;
    EXPECT_EQ(count_of(log, "* ERROR:"), 2u) << log;
}

// A document's start that declares the entity e of 40 elements and opens
// its root element r.
std::string forty_element_entity() {
    std::string text = "<!DOCTYPE r [<!ENTITY e '";
    for (int i = 0; i < 40; ++i) text += "<i/>";
    return text + "'>]><r>";
}

// Entities that hold elements multiply nodes, not bytes: one holding 40
// elements, used 150,000 times in 600 KB (and its 1 MB variant, as a file),
// would make 6 and 13 million elements. Past 65,536 nodes made inside
// entities (elements, attributes, texts and instructions alike), entities may
// make at most 4 times the nodes the document writes out, or it answers nil;
// templates used a few thousand times, abbreviations, character references,
// the predefined entities and CDATA between expanded elements parse whole.
TEST(DataFiles, EntitiesMakeNodesOnlyInProportionToTheDocument) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick(args); end\n");
    std::string big = forty_element_entity();
    while (big.size() < 1000000) big += "&e;";
    sandbox.write_game_file("data/big.xml", big + "</r>");
    sandbox.write_game_file("app/read.rb", R"(
def nodes(node)
  return 1 unless node[:type] == :element
  node[:children].inject(1 + (node[:attributes] || {}).size) { |n, c| n + nodes(c) }
end
def doc(entities, body) = "<!DOCTYPE r [#{entities}]><r>#{body}</r>"
forty = "<!ENTITY e '#{'<i/>' * 40}'>"
rows = [
  ["issue 600 KB", $qmx.parse_xml(doc(forty, "&e;\n" * 150_000))],
  ["issue 1 MB file", $qmx.parse_xml_file("data/big.xml")],
  ["attributes", $qmx.parse_xml(doc("<!ENTITY e \"<t #{(1..20).map { |i| "a#{i}='1'" }.join(' ')}/>\">", "&e;" * 20_000))],
  ["texts and instructions", $qmx.parse_xml(doc("<!ENTITY e 'x<i/><?p d?>'>", "&e;" * 25_000), false)],
  ["five per row", $qmx.parse_xml(doc("<!ENTITY c '<a/><b/><c/><d/><e/>'>", "<w>&c;</w>" * 30_000))],
  ["three per row", $qmx.parse_xml(doc("<!ENTITY c '<a/><b/><c/>'>", "<w>&c;</w>" * 30_000))],
  ["references between", $qmx.parse_xml(doc("<!ENTITY i '<i/>'>", "&i;&#65;&i;&amp;&i;<![CDATA[&i;]]>" * 25_000))],
  ["abbreviation", $qmx.parse_xml(doc("<!ENTITY n 'Super Game Deluxe'>", "<t>&n; &amp; &#233;</t>" * 5000))],
  ["nested rows", $qmx.parse_xml(doc("<!ENTITY t \"<tile w='32' h='32' solid='true' layer='bg'/>\">" \
                                     "<!ENTITY r '<row>#{'&t;' * 40}</row>'>", '&r;' * 30))],
  ["attribute values", $qmx.parse_xml(doc("<!ENTITY n '#{'x' * 1000}'>", "<t a='&n;'/>" * 2000))],
]
rows.each { |name, tree| puts "#{name}: #{tree ? "#{nodes(tree) - 1} nodes" : 'nil'}" }
)");
    engine_result result = sandbox.run({sandbox.game_dir, "--eval", "app/read.rb", "--no-tick"});
    ASSERT_EQ(result.exit_code, 0) << result.out;
    for (const char *row :
         {"issue 600 KB: nil\n", "issue 1 MB file: nil\n", "attributes: nil\n", "texts and instructions: nil\n",
          "five per row: nil\n", "three per row: 120001 nodes\n", "references between: 150001 nodes\n",
          "abbreviation: 10001 nodes\n", "nested rows: 6031 nodes\n", "attribute values: 4001 nodes\n"})
        EXPECT_EQ(count_of(result.out, row), 1u) << row << result.out;
    const std::string log = read_file(sandbox.base_dir + "/logs/log.txt");
    const std::string why = "Entities expand to too many nodes (over 65536 and over 4 times the nodes written in the "
                            "document) at line ";
    EXPECT_EQ(count_of(log, "~$qmx.parse_xml~ could not read the XML text: " + why), 4u) << log;
    EXPECT_EQ(count_of(log, "~$qmx.parse_xml_file~ could not read =data/big.xml= as XML: " + why + "1, column "), 1u)
        << log;
    EXPECT_EQ(count_of(log, "* ERROR:"), 5u) << log;
}

// The document as UTF-16, high byte first or last, with or without a
// byte-order mark; its text is ASCII or Latin-1.
std::string utf16(const std::string &text, bool big_endian, bool mark) {
    std::string out = mark ? (big_endian ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (char c : text) {
        char units[2] = {0, c};
        if (!big_endian) std::swap(units[0], units[1]);
        out.append(units, 2);
    }
    return out;
}

// The entity bound holds in every encoding the parser reads: a document of
// 2,500 uses of an entity of 40 elements (100,000 elements from 17 KB) is
// refused as UTF-8, as ISO-8859-1, and as UTF-16 in either byte order with
// and without a byte-order mark, from a file or from text; an ordinary
// UTF-16 document with references, CDATA and Latin-1 text parses in either
// byte order, and one whose entities stay within the bound parses whole.
TEST(DataFiles, EntitiesMakeNodesOnlyInProportionToTheDocumentInEveryEncoding) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick(args); end\n");
    std::string forty = forty_element_entity();
    for (int i = 0; i < 2500; ++i) forty += "&e;";
    forty += "</r>";
    const std::string ordinary = "<?xml version='1.0' encoding='UTF-16'?><!DOCTYPE r [<!ENTITY n 'Caf\xE9'>]>"
                                 "<r a='&n;'>&n; &amp; &#233;<![CDATA[&n;]]><i/></r>";
    std::string rows = "<!DOCTYPE r [<!ENTITY c '<a/><b/><c/>'>]><r>";
    for (int i = 0; i < 30000; ++i) rows += "<w>&c;</w>";
    rows += "</r>";
    const std::map<std::string, std::string> files = {
        {"utf8.xml", forty},
        {"latin1.xml", "<?xml version='1.0' encoding='ISO-8859-1'?>" + forty},
        {"le_mark.xml", utf16(forty, false, true)},
        {"le.xml", utf16(forty, false, false)},
        {"be_mark.xml", utf16(forty, true, true)},
        {"be.xml", utf16(forty, true, false)},
        {"ordinary_be.xml", utf16(ordinary, true, false)},
        {"ordinary_le.xml", utf16(ordinary, false, true)},
        {"rows_be.xml", utf16(rows, true, true)}};
    for (const auto &[name, text] : files) sandbox.write_game_file("data/" + name, text);
    sandbox.write_game_file("app/read.rb", R"(
def nodes(node)
  return 1 unless node[:type] == :element
  node[:children].inject(1 + (node[:attributes] || {}).size) { |n, c| n + nodes(c) }
end
%w[utf8 latin1 le_mark le be_mark be].each do |name|
  puts "#{name}: #{$qmx.parse_xml_file("data/#{name}.xml").inspect} #{$qmx.parse_xml($qmx.read_file("data/#{name}.xml")).inspect}"
end
%w[ordinary_be ordinary_le].each { |name| puts "#{name}: #{$qmx.parse_xml_file("data/#{name}.xml").inspect}" }
puts "rows_be: #{nodes($qmx.parse_xml_file("data/rows_be.xml")) - 1} nodes"
)");
    engine_result result = sandbox.run({sandbox.game_dir, "--eval", "app/read.rb", "--no-tick"}, 60);
    ASSERT_EQ(result.exit_code, 0) << result.out;
    const std::string tree = "{:type=>:element, :name=>nil, :children=>[{:type=>:element, :name=>\"r\", :children=>"
                             "[{:type=>:content, :data=>\"Caf\\xc3\\xa9 & \\xc3\\xa9&n;\"}, {:type=>:element, "
                             ":name=>\"i\", :children=>[]}], :attributes=>{\"a\"=>\"Caf\\xc3\\xa9\"}}]}";
    for (const std::string &row :
         std::initializer_list<std::string>{"utf8: nil nil\n", "latin1: nil nil\n", "le_mark: nil nil\n", "le: nil nil\n", "be_mark: nil nil\n",
          "be: nil nil\n", "ordinary_be: " + tree + "\n", "ordinary_le: " + tree + "\n", "rows_be: 120001 nodes\n"})
        EXPECT_EQ(count_of(result.out, row), 1u) << row << result.out;
    const std::string log = read_file(sandbox.base_dir + "/logs/log.txt");
    EXPECT_EQ(count_of(log, "Entities expand to too many nodes (over 65536 and over 4 times the nodes written in the "
                            "document) at line 1, column "), 12u) << log;
    EXPECT_EQ(count_of(log, "* ERROR:"), 12u) << log;
}

// Whatever follows the first complete value is not read: the value is the
// answer, and nothing is logged. Files often end in NUL bytes, an end-of-file
// byte or a second document.
TEST(DataFiles, TextAfterAJsonValueIsIgnored) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "def tick(args); end\n");
    const std::pair<const char *, std::string> files[] = {
        {"nuls.json", std::string("{\"a\": [1]}\0\0\0\0", 14)},
        {"eof.json", "[2, \"x\"]\r\n\x1a"},
        {"lines.json", "{\"b\": 3}\n{\"b\": 4}\n"},
        {"number.json", std::string("5\0", 2)}};
    for (const auto &[name, text] : files) sandbox.write_game_file(std::string("data/") + name, text);
    sandbox.write_game_file("app/read.rb",
                            "puts \"answer: #{[$qmx.parse_json('[1] trailing'), $qmx.parse_json('{\"a\":1}garbage'),\n"
                            "  $qmx.parse_json('1 2'), $qmx.parse_json(\"[1]\\0junk\"), $qmx.parse_json(\"\\\"s\\\"\\x1a\"),\n"
                            "  $qmx.parse_json_file('data/nuls.json'), $qmx.parse_json_file('data/eof.json'),\n"
                            "  $qmx.parse_json_file('data/lines.json'), $qmx.parse_json_file('data/number.json')]}\"\n");
    engine_result result = sandbox.run({sandbox.game_dir, "--eval", "app/read.rb", "--no-tick"});
    ASSERT_EQ(result.exit_code, 0) << result.out;
    EXPECT_EQ(count_of(result.out, "answer: [[1], {\"a\"=>1}, 1, [1], \"s\", {\"a\"=>[1]}, [2, \"x\"], {\"b\"=>3}, 5]\n"),
              1u)
        << result.out;
    EXPECT_EQ(count_of(read_file(sandbox.base_dir + "/logs/log.txt"), "* ERROR:"), 0u);
}

// What the parsers accept, however deep, prints: inspect, to_s, a String
// it is put into and puts each give the text they give for a shallow value,
// and a value that holds itself 100,000 levels down still prints [...]
// there (built a level at a time, that text would take gigabytes); so do
// entities a save nests as deep. Deeper than about 900 levels (200 for
// entities), printing used to raise SystemStackError.
TEST(DataFiles, ValuesNestedAsDeepAsTheParsersAcceptPrint) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_check(R"(n = 1000
arrays = $qmx.parse_json("[" * n + "1" + "]" * n)
objects = $qmx.parse_json('{"k":' * (n - 1) + "[]" + "}" * (n - 1))
xml = $qmx.parse_xml("<a>" * 3000 + "</a>" * 3000)
bottom = []
top = bottom
100_000.times { top = [top] }
bottom << top
element = '{:type=>:element, :name=>"a", :children=>['
# Entities a save nests 2,000 deep, open and strict by turns, the last
# holding the first again, as the saved-state reader gives them back.
s = $qmx.args.state
chain = link = s.new_entity(:link, at: 0)
2000.times { |i| link = link.next = i.odd? ? s.new_entity_strict(:knot, next: nil) : s.new_entity(:link, at: i) }
loaded = $qmx.deserialize_state($qmx.serialize_state(chain))
link.next = chain
checks = {
  arrays: -> { arrays.inspect == "[" * n + "1" + "]" * n },
  to_s: -> { arrays.to_s == arrays.inspect },
  objects: -> { "#{objects}" == '{"k"=>' * (n - 1) + "[]" + "}" * (n - 1) },
  xml: -> { xml.inspect == "{:type=>:element, :name=>nil, :children=>[" + element * 3000 + "]}" * 3001 },
  held_by_itself: -> { top.inspect == "[" * 100_001 + "[...]" + "]" * 100_001 },
  puts: -> { puts(arrays, objects).nil? },
  entities: -> { loaded.inspect.split(":entity_id=>").length == 2002 && loaded.to_s == loaded.inspect },
  entities_holding_themselves: -> { [chain].inspect.end_with?(":next=>{...}" + "}" * 2001 + "]") },
  shallow: -> { [1, "a", :b, nil, 2.5, { "k" => [{}] }, [[]]].inspect == '[1, "a", :b, nil, 2.5, {"k"=>[{}]}, [[]]]' }
}
failed = checks.map do |name, check|
  check.call ? nil : name
rescue Exception => e
  "#{name}: #{e.class}"
end
puts "failed: #{failed.compact.inspect}"
)");
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out.substr(result.out.rfind("failed:"), 400);
    EXPECT_NE(read_file(sandbox.base_dir + "/logs/puts.txt").find("1\n{\"k\"=>{\"k\"=>"), std::string::npos);
}

// Memory runs out in the middle of a document (the engine's address space is
// held to 4 MiB more than it uses, until the game has answered): each
// parser answers nil and says so once, the collector is left on, and the next
// document parses.
TEST(DataFiles, RunningOutOfMemoryWhileParsingAnswersNilWithOneMessage) {
    EngineSandbox sandbox;
    sandbox.write_game_file(
        "app/main.rb",
        "def tick(args)\n"
        "  $xml ||= '<r>' + '<i/>' * 500000 + '</r>'\n"
        "  $json ||= '[' + '{},' * 500000 + '{}]'\n"
        "  $qmx.write_file('ready.txt', 'ready') if Kernel.tick_count == 1\n"
        "  return if $answered || !$qmx.read_file('go.txt')\n"
        "  $answered = [$qmx.parse_xml($xml), $qmx.parse_json($json), GC.disable, GC.enable,\n"
        "               $qmx.parse_xml('<a/>').class, $qmx.parse_json('[1]')]\n"
        "  puts \"answers: #{$answered.inspect}\"\n"
        "  $qmx.write_file('answered.txt', 'answered')\n"
        "end\n");
    // Out of memory, the sanitizer's allocator answers NULL as the C library's
    // does instead of stopping the run; the software renderer needs no more
    // memory for new shaders meanwhile.
    EngineProcess process = sandbox.start(
        {sandbox.game_dir},
        {{"ASAN_OPTIONS", "detect_leaks=0:allocator_may_return_null=1"}, {"SDL_RENDER_DRIVER", "software"}});
    ASSERT_TRUE(process.wait_for_file(sandbox.game_dir + "/ready.txt", 60));
    const std::string status = read_file("/proc/" + std::to_string(process.pid()) + "/status");
    const size_t at = status.find("VmSize:");
    ASSERT_NE(at, std::string::npos);
    rlimit limit = {}, unlimited = {};
    ASSERT_EQ(prlimit(process.pid(), RLIMIT_AS, nullptr, &unlimited), 0);
    limit = {(rlim_t)(std::stol(status.substr(at + 7)) + 4 * 1024) * 1024, unlimited.rlim_max};
    ASSERT_EQ(prlimit(process.pid(), RLIMIT_AS, &limit, nullptr), 0);
    write_file(sandbox.game_dir + "/go.txt", "go");
    const bool answered = process.wait_for_file(sandbox.game_dir + "/answered.txt", 60);
    prlimit(process.pid(), RLIMIT_AS, &unlimited, nullptr);
    ASSERT_TRUE(answered);
    engine_result r = process.stop();
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(count_of(r.out, "answers: [nil, nil, false, true, Hash, [1]]"), 1u) << r.out;
    for (const char *what : {"~$qmx.parse_xml~ could not read the XML text: Out of memory",
                             "~$qmx.parse_json~ could not read the JSON text: Out of memory"})
        EXPECT_EQ(count_of(r.out, what), 1u) << what << "\n" << r.out;
    EXPECT_EQ(count_of(r.out, "* ERROR:"), 2u) << r.out;
    EXPECT_EQ(r.out.find("NoMemoryError"), std::string::npos) << r.out;
}

} // namespace
