// The interpreter as a game meets it: Integers compare rightly across the
// whole 64-bit range, whether small enough to sit inline in a value or boxed;
// a Hash holds one entry per key however keys come and go, keeps what it was
// given, and loads crafted keys from a file as fast as ordinary ones.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Both sides of the boundaries where Integers stop fitting inline (±2^62)
// and where they end (2^63 - 1, -2^63), with small ones beside them.
const std::vector<int64_t> values = {
    0,
    1,
    -1,
    (int64_t(1) << 62) - 1,
    int64_t(1) << 62,
    (int64_t(1) << 62) + 1,
    -(int64_t(1) << 62) + 1,
    -(int64_t(1) << 62),
    -(int64_t(1) << 62) - 1,
    INT64_MAX - 1,
    INT64_MAX,
    INT64_MIN + 1,
    INT64_MIN,
};

// One line per pair, as the game writes it: ==, !=, <, >, <=, >= (through
// the interpreter's own instructions), <=> and < called as methods, eql?,
// equal hashes, a Hash lookup of one under the other, and max, min and sort.
std::string expected_line(int64_t a, int64_t b) {
    auto flag = [](bool v) { return v ? "t" : "f"; };
    std::ostringstream line;
    line << a << " " << b << ": " << flag(a == b) << flag(a != b) << flag(a < b) << flag(a > b) << flag(a <= b)
         << flag(a >= b) << " " << (a < b ? -1 : a > b ? 1 : 0) << " " << flag(a < b) << flag(a == b)
         << (a == b ? "t" : "-") << flag(a == b) << " " << (a > b ? a : b) << " " << (a < b ? a : b) << " "
         << (a < b ? a : b) << "," << (a < b ? b : a);
    return line.str();
}

TEST(Interpreter, IntegersCompareRightlyAcrossTheWhole64BitRange) {
    std::string literals, expected;
    for (int64_t v : values) {
        // -2^63 has no literal of its own: its magnitude is past the range.
        literals += (v == INT64_MIN ? "-9223372036854775807 - 1" : std::to_string(v)) + ",\n";
        for (int64_t w : values) expected += expected_line(v, w) + "\n";
    }
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", "VALUES = [\n" + literals + R"(]
def flag(v) = v ? "t" : "f"
def tick(args)
  lines = VALUES.product(VALUES).map do |a, b|
    ops = flag(a == b) + flag(a != b) + flag(a < b) + flag(a > b) + flag(a <= b) + flag(a >= b)
    hash = a == b ? flag(a.hash == b.hash) : "-"
    key = flag({ a => :found }[b] == :found)
    "#{a} #{b}: #{ops} #{a.send(:<=>, b)} #{flag(a.send(:<, b))}#{flag(a.eql?(b))}#{hash}#{key} " \
      "#{[a, b].max} #{[a, b].min} #{[a, b].sort.join(',')}"
  end
  $qmx.write_file("compare.txt", lines.join("\n") + "\n")
  $qmx.request_quit
end
)");
    engine_result r = sandbox.run({sandbox.game_dir}, 30);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    std::istringstream want(expected), got(read_file(sandbox.game_dir + "/compare.txt"));
    std::string want_line, got_line;
    size_t pairs = 0;
    while (std::getline(want, want_line)) {
        std::getline(got, got_line);
        EXPECT_EQ(got_line, want_line);
        ++pairs;
    }
    EXPECT_EQ(pairs, values.size() * values.size());
}

// Thousands of seeded sequences of assignments, deletions, shift, delete_if,
// merge! and rehash over every kind of key, each step checked against a model
// in plain Arrays (fixtures/hash_model). Where a String, Symbol, Integer or
// Float key lands depends on a key each run of the engine draws for itself,
// so three runs try three placements of the same sequences; and a Hash of
// keys of the game's own class must call their eql? alike in every run.
TEST(Interpreter, AHashHoldsOneEntryPerKeyAsKeysComeAndGo) {
    EngineSandbox sandboxes[3];
    for (EngineSandbox &sandbox : sandboxes) sandbox.use_fixture("hash_model");
    EngineProcess first = sandboxes[0].start({sandboxes[0].game_dir}),
                  second = sandboxes[1].start({sandboxes[1].game_dir}),
                  third = sandboxes[2].start({sandboxes[2].game_dir});
    EngineProcess *runs[] = {&first, &second, &third};
    std::string eql_calls[3];
    for (int run = 0; run < 3; ++run) {
        engine_result r = runs[run]->finish(60);
        ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
        std::string report = read_file(sandboxes[run].game_dir + "/hash_model.txt");
        EXPECT_EQ(report.rfind("sequences 900 steps ", 0), 0u) << report;
        EXPECT_NE(report.find(" failures 0\neql? calls"), std::string::npos) << report.substr(0, 4000);
        EXPECT_EQ(report.substr(report.size() - 5), "done\n");
        size_t calls = report.find("own keys: ");
        ASSERT_NE(calls, std::string::npos) << report;
        eql_calls[run] = report.substr(calls, report.find('\n', calls) - calls);
    }
    EXPECT_NE(eql_calls[0], "own keys: 0");
    EXPECT_EQ(eql_calls[1], eql_calls[0]);
    EXPECT_EQ(eql_calls[2], eql_calls[0]);
}

// What String#hash answers: the unkeyed 32-bit FNV-1 of the bytes.
uint32_t fnv1(uint32_t hash, const std::string &bytes) {
    for (unsigned char c : bytes) hash = (hash * 16777619u) ^ c;
    return hash;
}

// A block of six letters or digits, the same ones in every run.
std::string next_block(uint64_t &state) {
    std::string block(6, 'a');
    for (char &c : block) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        c = "abcdefghijklmnopqrstuvwxyz0123456789"[(state >> 33) % 36];
    }
    return block;
}

// 2^stages Strings that all share one String#hash, as anyone can make them:
// each stage finds two blocks that lead from the hash so far to one same
// hash, and every key picks one of the two at every stage.
std::vector<std::string> colliding_strings(int stages) {
    uint64_t rng = 1;
    std::vector<std::string> keys{""};
    uint32_t hash = 2166136261u; // FNV-1's offset basis, where String#hash starts
    for (int stage = 0; stage < stages; ++stage) {
        std::unordered_map<uint32_t, std::string> seen;
        std::string block;
        for (;;) {
            block = next_block(rng);
            auto [at, added] = seen.emplace(fnv1(hash, block), block);
            if (!added && at->second != block) break;
        }
        hash = fnv1(hash, block);
        std::vector<std::string> longer;
        for (const std::string &key : keys) longer.insert(longer.end(), {key + seen[hash], key + block});
        keys.swap(longer);
    }
    return keys;
}

// Saved state whose property table maps each key, as written, to its index.
std::string saved_table(const std::vector<std::string> &keys, const char *quote) {
    std::string text = "{entity_id: 1, table: {";
    for (size_t i = 0; i < keys.size(); ++i)
        text += (i ? ", " : "") + (quote + keys[i] + quote) + " => " + std::to_string(i);
    return text + "}}";
}

// A document, and saves, of keys crafted to share one hash (Strings of one
// String#hash; Arrays [2y + 1, y], whose Array#hash is one value since it
// folds its elements' hashes with a shift), each beside a file of as many
// ordinary keys of the same size, loaded as a game loads them in one run:
// the crafted file takes about as long as the ordinary one and every key in
// it is found. Debian's mruby 3.1 takes seconds where the ordinary file
// takes milliseconds.
TEST(Interpreter, CraftedKeysLoadAsFastAsOrdinaryOnes) {
    const size_t strings = 16384, arrays = 4096;
    std::map<std::string, std::vector<std::string>> keys = {{"crafted", colliding_strings(14)}};
    ASSERT_EQ(keys["crafted"].size(), strings);
    const uint32_t basis = 2166136261u;
    for (const std::string &key : keys["crafted"]) ASSERT_EQ(fnv1(basis, key), fnv1(basis, keys["crafted"][0]));
    uint64_t rng = 2;
    for (size_t i = 0; i < strings; ++i) {
        keys["ordinary"].emplace_back();
        while (keys["ordinary"].back().size() < keys["crafted"][0].size()) keys["ordinary"].back() += next_block(rng);
    }
    EngineSandbox sandbox;
    sandbox.use_fixture("crafted_keys");
    for (auto &[name, list] : keys) {
        std::string json = "{";
        for (size_t i = 0; i < list.size(); ++i) json += (i ? ",\n\"" : "\"") + list[i] + "\": " + std::to_string(i);
        sandbox.write_game_file(name + "_strings.json", json + "}\n");
        sandbox.write_game_file(name + "_strings_state.txt", saved_table(list, "\""));
    }
    std::vector<std::string> crafted_arrays, ordinary_arrays;
    for (size_t y = 0; y < arrays; ++y) {
        crafted_arrays.push_back("[" + std::to_string(2 * y + 1) + ", " + std::to_string(y) + "]");
        ordinary_arrays.push_back("[" + std::to_string(y) + ", " + std::to_string(3 * y + 7) + "]");
    }
    sandbox.write_game_file("crafted_arrays_state.txt", saved_table(crafted_arrays, ""));
    sandbox.write_game_file("ordinary_arrays_state.txt", saved_table(ordinary_arrays, ""));

    engine_result r = sandbox.run({sandbox.game_dir}, 100);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    std::string report = read_file(sandbox.game_dir + "/crafted_keys.txt");
    for (auto [name, count] :
         {std::pair{"json strings", strings}, {"save strings", strings}, {"save arrays", arrays}}) {
        size_t at = report.find(std::string(name) + ": ordinary");
        ASSERT_NE(at, std::string::npos) << report;
        double ordinary_ms = 0, crafted_ms = 0;
        size_t ordinary_keys = 0, crafted_keys = 0;
        ASSERT_EQ(std::sscanf(report.c_str() + at + std::string(name).size(),
                              ": ordinary %lf ms %zu keys, crafted %lf ms %zu keys", &ordinary_ms, &ordinary_keys,
                              &crafted_ms, &crafted_keys),
                  4)
            << report;
        EXPECT_EQ(ordinary_keys, count) << name;
        EXPECT_EQ(crafted_keys, count) << name;
        // Measured side by side in one run; the floor keeps a few
        // milliseconds of noise from counting.
        EXPECT_LT(crafted_ms, 5 * std::max(ordinary_ms, 10.0)) << report;
    }
    EXPECT_EQ(report.substr(report.size() - 5), "done\n");
}

// Cases in one run of fixtures/hash_contracts, each line as the game wrote
// it. Where Ruby itself (CRuby) answers otherwise, the line says what it does
// instead: it stores both keys where a key's eql? stores into the Hash being
// searched (mruby raises "hash modified", as it does when such code makes
// the Hash grow), it loses a key where eql? deletes the key being deleted,
// and it stores a key that holds itself.
TEST(Interpreter, AHashKeepsWhatAGameGaveIt) {
    EngineSandbox sandbox;
    engine_result r = sandbox.run_fixture("hash_contracts");
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    std::istringstream got(read_file(sandbox.game_dir + "/hash_contracts.txt"));
    const char *expected[] = {
        "replace, generational: 0 of 800 entries lost, size 40",
        "store re-entered from eql?, 3 keys: hash modified, size 3, keys 3, 0 unfound, inner key kept",
        "store re-entered from eql?, 20 keys: hash modified, size 20, keys 20, 0 unfound, inner key kept",
        "delete re-entered from eql?, 3 keys: hash modified, size 1, keys 1, 0 unfound, inner key absent",
        "delete re-entered from eql?, 20 keys: hash modified, size 18, keys 18, 0 unfound, inner key absent",
        "lookup of String by a game's key: :found, asked Stand#eql?(String)",
        "lookup of Symbol by a game's key: :found, asked Stand#eql?(Symbol)",
        "lookup of Integer by a game's key: :found, asked Stand#eql?(Integer)",
        "lookup of Float by a game's key: :found, asked Stand#eql?(Float)",
        "Arrays and Hashes as keys: 20 of 20 arrays, 20 of 20 hashes in another order, 300 deep :deep, "
        "holding itself SystemStackError, size 41",
        "done",
    };
    std::string line;
    for (const char *want : expected) {
        std::getline(got, line);
        EXPECT_EQ(line, want);
    }
}

} // namespace
