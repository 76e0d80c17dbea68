// Saved state as a game and a player editing a save see it, one engine run
// per group: each run's script checks a table of cases and prints the names
// of those that failed.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A save as the earlier writer wrote it (0.3 was 0.30000000000000004) and as
// a player may edit it; every value must be what the same text gives in the
// game's own code, and a Float must save in the shortest text that reads
// back as it.
TEST(SavedState, FloatsAndHandEditedFormsReadAsTheGamesOwnCode) {
    const std::string forms = R"(['single', 'it\'s', "\u00e9\u{41 42}\q\s\101\x41\M-a\C-a\M-\C-x\c?\0\u{} \
line", {a: 1}, {"b c": 2, d?: 3},
  [1, 2,], {x: 1,}, 1_000, 0x10, 0b101, 0o17, 0d17, 017, +5, 1_000.5, 1e1_0, :'q r'])";
    EngineSandbox sandbox;
    sandbox.write_game_file("game_state.txt", "{entity_id: 1, old: [0.30000000000000004, 0.6000000000000001, "
                                              "0.15000000000000002, 0.09999999999999998],\n forms: " +
                                                  forms + ",\n}\n");
    engine_result result = sandbox.run_check(R"(state = $qmx.load_state
forms = )" + forms + R"(
checks = {
  old_floats: state && state.old == [0.3, 0.6, 0.15, 0.1],
  forms: state && state.forms == forms,
  json: $qmx.parse_json('{"k1": "-2.5 \\" 0.1", "v": [0.3, {"n-2": 0.6}], "w": [0.15, 1.0e-5]}') ==
        { "k1" => "-2.5 \" 0.1", "v" => [0.3, { "n-2" => 0.6 }], "w" => [0.15, 1.0e-5] },
  shortest: $qmx.serialize_state({ f: [0.1, 1.0e-5, 0.3, 1.0 / 3] }) == "{:f=>[0.1, 1.0e-05, 0.3, 0.3333333333333332]}"
}
puts "failed: #{checks.reject { |_, ok| ok }.keys.inspect}"
)");
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out;
}

// What one side takes the other takes too: Hashes with Array and Hash keys,
// Arrays and entities 500 deep. A value that cannot be written is refused
// naming its key path and the real cause, and a save naming too many new
// Symbols is refused.
TEST(SavedState, WhatLoadsSavesAndWhatCannotBeSavedSaysWhere) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_check(R"(class Name < String
  def inspect = raise("boom")
end
def round_trip(value)
  $qmx.reset_state
  $qmx.args.state.v = value
  $qmx.save_state && $qmx.load_state && $qmx.args.state.v
end
def depth(value)
  n = 0
  n, value = n + 1, (value.is_a?(Array) ? value[0] : value.link) while value.is_a?(Array) || value.is_a?(QMX::OpenEntity)
  n
end
checks = {}
keys = { {} => {}, [1] => 2 }
$qmx.write_file("game_state.txt", "{:entity_id=>1, :h=>#{keys.inspect}}")
checks[:container_keys] = $qmx.load_state && $qmx.args.state.h == keys && $qmx.save_state && round_trip(keys) == keys
deep = [7]
500.times { deep = [deep] }
checks[:deep_arrays] = depth(round_trip(deep)) == 501
chain = $qmx.args.state.new_entity(:link)
500.times { chain = $qmx.args.state.new_entity(:link, link: chain) }
checks[:deep_entities] = depth(round_trip(chain)) == 501
$qmx.args.state.name = Name.new("x")
checks[:bad_inspect] = $qmx.save_state.nil?
$qmx.write_file("game_state.txt", "{:entity_id=>1, :names=>[" + Array.new(300_001) { |i| ":fresh_#{i}" }.join(", ") + "]}")
checks[:symbols] = $qmx.load_state.nil?
# Many names, some the interpreter has already and some short: each is the
# Symbol the same name in code is.
names = [:x, :entity_id, :tick_count, :q?, :"a b"] + Array.new(100) { |i| "many_#{i}".to_sym }
fresh = Array.new(10) { |i| "unmade_#{i}" }
$qmx.write_file("game_state.txt", "{:entity_id=>1, :names=>#{names.inspect}, :fresh=>[:#{fresh.join(', :')}]}")
checks[:many_symbols] = $qmx.load_state && $qmx.args.state.names == names && $qmx.args.state.fresh.map(&:to_s) == fresh
puts "failed: #{checks.reject { |_, ok| ok }.keys.inspect}"
)");
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out;
    for (const char *message :
         {"args.state.name could not be written: its inspect raised RuntimeError (boom).",
          "Saved state may make at most 300000 Symbols that the game has not made yet, of at most 16777216 bytes"})
        EXPECT_EQ(count_of(result.out, message), 1u) << message << "\n" << result.out;
}

// A save names properties, never methods: entity_keys_by_ref pairs that name
// a method of the game, or a setter, are refused with the load message and
// run nothing, also in a file refused for another reason and through
// deserialize_state; pairs of saved properties still share their value.
TEST(SavedState, NothingInASaveRuns) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_check(R"($ran = []
def strict(refs) = "{:entity_id=>5, :entity_strict=>true, :x=>1, :entity_keys_by_ref=>#{refs}}"
def load(text)
  $qmx.write_file("game_state.txt", text)
  $qmx.load_state
end
$qmx.args.state.marker = :kept
srand(42)
expected = rand
srand(42)
loads = {
  names_a_method: load("{:entity_id=>1, :tick_count=>1, :e=>#{strict('{:x=>:wipe_progress}')}}"),
  names_a_setter: load("{:entity_id=>1, :e=>#{strict('{:progress=>:x}')}}"),
  names_srand: load("{:entity_id=>1, :e=>#{strict('{:x=>:srand}')}}"),
  refused_anyway: load("[#{strict('{:x=>:wipe_progress}')}]"),
  pairs_not_a_hash: load("{:entity_id=>1, :e=>#{strict('[[:x, :wipe_progress]]')}}"),
  deserialize_state: ($qmx.deserialize_state("{:entity_id=>1, :e=>#{strict('{:x=>:wipe_progress}')}}") rescue nil)
}
# Saved property names that would replace a method every entity of the type
# works by, for a type the save makes and for one the game has made.
$qmx.args.state.new_entity_strict(:made, x: 1)
[:initialize, :to_s, :method_missing, :send].each do |name|
  [:fresh, :made].each do |type|
    loads[:"#{type}_#{name}"] = load("{:entity_id=>1, :e=>{:entity_id=>7, :entity_strict=>true, :entity_name=>:#{type}, :x=>1, :#{name}=>2}}")
  end
end
# entity_keys_by_ref must be a Hash whose main keys were saved with the
# entity: a number would be counted through, an Array or a main key not
# saved would lose values.
{ huge: "9007199254740991", float: "1.0e+20", array: "[[:a, :b]]", small: "3", unsaved: "{:a=>:c}" }.each do |name, refs|
  loads[:"root_refs_#{name}"] = load("{:entity_id=>1, :a=>[1], :b=>[1], :entity_keys_by_ref=>#{refs}}")
  loads[:"open_refs_#{name}"] = load("{:entity_id=>1, :e=>{:entity_id=>2, :a=>[1], :b=>[1], :entity_keys_by_ref=>#{refs}}}")
end
# Keys that cannot name a property are refused before any Symbol is made of
# them.
loads[:integer_keys] = load("{:entity_id=>1, :e=>{:entity_id=>2, :entity_strict=>true, " +
                            Array.new(20_000) { |i| "#{i}=>#{i}" }.join(", ") + "}}")
loads[:float_key] = load("{:entity_id=>1, :e=>{:entity_id=>2, :entity_strict=>true, 1.5=>1}}")
# A refused load changes nothing: the strict types it met, and a property it
# gave the game's own type, are taken back.
loads[:refused_types] = load("{:entity_id=>1, :p=>{:entity_id=>2, :entity_strict=>true, :entity_name=>:player, :y=>1}, " +
                             ":m=>{:entity_id=>3, :entity_strict=>true, :entity_name=>:made, :x=>1, :z=>1}, :bad=>{:entity_id=>9223372036854775807}}")
checks = loads.map { |name, state| [name, state.nil?] }.to_h
player = $qmx.args.state.new_entity_strict(:player, x: 10)
checks[:types_taken_back] = player.x == 10 && !$qmx.args.state.new_entity_strict(:made, x: 1).respond_to?(:z)
checks[:nothing_ran] = $ran.empty?
checks[:seed_kept] = rand == expected
checks[:state_kept] = $qmx.args.state.marker == :kept
# A saved property named like one of the game's own setters is a property:
# in a type the save makes (the second entity of the name), in one the game
# made without it (as after an update that dropped it), and through
# deserialize_state.
setter = "{:entity_id=>1, :a=>{:entity_id=>2, :entity_strict=>true, :entity_name=>:%s, :x=>1}, " \
         ":b=>{:entity_id=>3, :entity_strict=>true, :entity_name=>:%s, :x=>1, :progress=>\"from the save\"}}"
[:saved_type, :made].each do |type|
  state = load(format(setter, type, type))
  checks[:"setter_#{type}"] = state && state.b.progress == "from the save"
end
state = $qmx.deserialize_state(format(setter, :another, :another))
checks[:setter_deserialize_state] = state && state.b.progress == "from the save"
checks[:setters_ran_nothing] = $ran.empty?
# An open entity's other key that was not saved takes the main key's value,
# shared, at the root and nested.
state = load("{:entity_id=>1, :a=>[1], :entity_keys_by_ref=>{:b=>:a}, :e=>{:entity_id=>2, :a=>[2], " \
             ":entity_keys_by_ref=>{:b=>:a, \"c\"=>:a}}}")
checks[:open_other_key_unsaved] = state && state.b == [1] && state.b.equal?(state.a) && state.e.b.equal?(state.e.a) &&
                                  state.e.as_hash["c"].equal?(state.e.a)
shared = load("{:entity_id=>1, :e=>{:entity_id=>6, :entity_strict=>true, :a=>[1], :b=>[1], :entity_keys_by_ref=>{:b=>:a}}}")
checks[:shared] = shared && shared.e.a.equal?(shared.e.b)
made_log = load("{:entity_id=>1, :e=>{:entity_id=>8, :entity_strict=>true, :entity_name=>:made, :x=>1, :log=>[1]}}")
checks[:loads_named_like_object_methods] = made_log && made_log.e.log == [1]
checks[:types_work] = [:fresh, :made].all? do |type|
  entity = $qmx.args.state.new_entity_strict(type, x: 3)
  entity.x == 3 && entity.to_s.include?(":x=>3") && (entity.nope rescue :refused) == :refused
end
puts "ran: #{$ran.inspect}"
puts "failed: #{checks.reject { |_, ok| ok }.keys.inspect}"
)",
                                     R"(def tick(args); end
def wipe_progress
  $ran << :wipe_progress
  :wiped
end
def progress=(value)
  $ran << :progress=
end
)");
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out;
    EXPECT_EQ(count_of(result.out, "only properties saved with the entity can share a value"), 6u) << result.out;
    EXPECT_EQ(count_of(result.out, "entity_keys_by_ref must be a Hash, not "), 9u) << result.out;
    EXPECT_EQ(count_of(result.out, "cannot be a property of a strict entity: a property is named by a Symbol"), 2u)
        << result.out;
}

// The tick count and entity ids go on being counted from a save: each value
// the engine cannot count on from is refused naming its key, the state and
// the tick count are kept, and new entities still come. The largest counts
// a load takes are the largest the writer takes: once a game counts past
// them it can no longer save, and the previous save stays. A nested Hash's
// entity_id that is not an Integer is the game's own data.
TEST(SavedState, CountsASaveCarriesOnAreWholeNumbersTheEngineCountsFrom) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_check(R"(def load(text)
  $qmx.write_file("game_state.txt", text)
  $qmx.load_state
end
$qmx.args.state.marker = :kept
Kernel.tick_count = 7
not_whole = { string: '"x"', array: "[1]", true: "true", hash: "{}", nan: "NaN", fraction: "1.5" }
no_room = { int64_max: "9223372036854775807", int64_min: "-9223372036854775808", two_to_53: "9007199254740992",
            below_minus_two_to_53: "-9007199254740993" }
checks = {}
not_whole.merge(no_room).each do |name, value|
  checks[:"tick_count_#{name}"] = load("{:entity_id=>1, :tick_count=>#{value}}").nil?
  checks[:"entity_id_#{name}"] = load("{:entity_id=>#{value}, :tick_count=>1}").nil?
end
no_room.each { |name, value| checks[:"nested_entity_id_#{name}"] = load("{:entity_id=>1, :e=>{:entity_id=>#{value}}}").nil? }
checks[:state_kept] = $qmx.args.state.marker == :kept && Kernel.tick_count == 7
checks[:new_entities] = $qmx.args.state.new_entity(:after).entity_id.is_a?(Integer)
not_whole.each do |name, value|
  state = load("{:entity_id=>1, :items=>[{:entity_id=>#{value}, :n=>1}]}")
  checks[:"nested_data_#{name}"] = state && state.items[0].n == 1 && $qmx.save_state
end
big = load("{:entity_id=>9007199254740991, :tick_count=>9007199254740991, :marker=>:big}")
saved = $qmx.read_file("game_state.txt")
checks[:largest] = big && big.marker == :big && Kernel.tick_count == 9007199254740991 &&
                   big.new_entity(:next).entity_id == 9007199254740992
checks[:past_the_top_saves_nothing] = big && (big.more = big.new_entity(:more)) && $qmx.save_state.nil? &&
                                      $qmx.read_file("game_state.txt") == saved
checks[:before_first_tick] = load("{:entity_id=>1, :tick_count=>-1}") && Kernel.tick_count == -1
puts "failed: #{checks.reject { |_, ok| ok }.keys.inspect}"
)");
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out;
    EXPECT_EQ(count_of(result.out, "tick_count must be a whole number from -1 to 9007199254740991, not "), 10u)
        << result.out;
    EXPECT_EQ(count_of(result.out, "entity_id must be a whole number from -9007199254740992 to 9007199254740991, not "),
              15u)
        << result.out;
}

// What save_state writes, load_state loads in a new run, where none of its
// Symbols exist yet: strict properties named like methods every object has,
// nested Hashes whose entity_id is the game's own, maps of tens of
// thousands of Symbol keys. A state naming more new Symbol bytes than a
// save may is refused and the previous save stays byte for byte, a strict
// entity's properties counting three names each; the largest states of
// both kinds that the writer takes load in the next run, as do the
// operator Symbols the interpreter writes bare, which then save again. A
// root state with a property named entity_strict saves and loads open. A
// hand-made file whose strict entity would make too many is refused by the
// reader.
TEST(SavedState, WhatSaveStateWritesLoadsInANewRun) {
    EngineSandbox sandbox;
    engine_result first = sandbox.run_check(R"(LIMIT = 16 * 2**20
def long_names(tag, n) = Array.new(n) { |i| :"#{tag}_#{i}_#{'x' * 50_000}" }
# How many bytes of new Symbol names more than a save may name the state names.
def over(state)
  QMX::LiteralWriter.write(state)
  0
rescue QMX::LiteralWriter::UnsavableError => e
  e.message.split(" ")[5].to_i - LIMIT
end
def fog(n) = Array.new(n * n) { |i| [:"fog_#{n}_#{i / n}_#{i % n}", i.even?] }.to_h
state = $qmx.args.state
state.marker = :first
state.ops = [:"&&", :"||", :"$-", { :"&&" => :"||" }]
state.hero = state.new_entity_strict(:hero, { class: :warrior, freeze: 0, hash: 5, send_count: 1, hp: 10 })
state.items = [{ entity_id: "sword", n: 1 }, { entity_id: :shield, n: 2 }]
state.entity_strict = false
checks = { first_save: $qmx.save_state }
checks[:fog_96] = $qmx.serialize_state("fog_96.txt", fog(96))
checks[:fog_300] = $qmx.serialize_state("fog_300.txt", fog(300))
saved = $qmx.read_file("game_state.txt")
plain = long_names("plain_name", LIMIT / 50_000 + 1)
state.names = plain
checks[:too_many] = $qmx.save_state.nil? && $qmx.read_file("game_state.txt") == saved
state.names = nil
n = LIMIT / 150_000 + 1
wide = state.new_entity_strict(:wide, long_names("strict_key", n).map { |key| [key, 0] }.to_h)
state.wide = wide
checks[:too_many_properties] = $qmx.save_state.nil? && $qmx.read_file("game_state.txt") == saved
state.wide = nil
near = state.new_entity(:near, names: plain)
(over(near) / 50_000 + 1).times { near.names.pop }
checks[:near_plain] = $qmx.serialize_state("near_plain.txt", near)
near_strict = state.new_entity(:near, wide: wide)
(over(near_strict) / 150_000 + 1).times { wide.remove_instance_variable(:"@#{wide.to_hash.keys.last}"); n -= 1 }
checks[:near_strict] = $qmx.serialize_state("near_strict.txt", near_strict)
$qmx.write_file("sizes.txt", "#{near.names.size} #{n}")
puts "failed: #{checks.reject { |_, ok| ok }.keys.inspect}"
)");
    EXPECT_EQ(first.exit_code, 0) << first.out;
    EXPECT_NE(first.out.find("failed: []"), std::string::npos) << first.out;
    EXPECT_EQ(count_of(first.out, "a save may name at most 300000 of at most 16777216 bytes in all"), 2u) << first.out;
    EXPECT_EQ(count_of(first.out, "it does not hold a saved game state"), 0u) << first.out;

    engine_result second = sandbox.run_check(R"(LIMIT = 16 * 2**20
plain, properties = $qmx.read_file("sizes.txt").split.map(&:to_i)
state = $qmx.load_state
hero = state && state.hero
checks = {
  loads: state && state.marker == :first,
  root_open: state && state.entity_strict == false && (state.added = 1) == 1,
  operators: state && state.ops == [:"&&", :"||", :"$-", { :"&&" => :"||" }],
  object_method_names: hero && [hero.class, hero.freeze, hero.hash, hero.send_count, hero.hp] == [:warrior, 0, 5, 1, 10],
  nested_ids: state && state.items == [{ entity_id: "sword", n: 1 }, { entity_id: :shield, n: 2 }] &&
              state.items.all? { |item| item.class == Hash },
  saves_again: state && $qmx.save_state
}
[96, 300].each do |n|
  map = $qmx.deserialize_state("fog_#{n}.txt")
  checks[:"fog_#{n}"] = map.is_a?(Hash) && map.size == n * n && map[:"fog_#{n}_#{n - 1}_#{n - 1}"] == (n * n - 1).even?
end
near = $qmx.deserialize_state("near_plain.txt")
checks[:near_plain] = plain > LIMIT / 50_000 - 3 && near && near.names.size == plain
near = $qmx.deserialize_state("near_strict.txt")
checks[:near_strict] = properties > LIMIT / 150_000 - 3 && near &&
                       near.wide.to_hash.keys.count { |key| key.to_s.start_with?("strict_key_") } == properties
hand_made = "{:entity_id=>1, :s=>{:entity_id=>2, :entity_strict=>true, " +
            Array.new(LIMIT / 150_000 + 1) { |i| "\"hand_key_#{i}_#{'x' * 50_000}\"=>#{i}" }.join(", ") + "}}"
$qmx.write_file("game_state.txt", hand_made)
checks[:reader_counts_properties] = $qmx.load_state.nil?
puts "failed: #{checks.reject { |_, ok| ok }.keys.inspect}"
)");
    EXPECT_EQ(second.exit_code, 0) << second.out;
    EXPECT_NE(second.out.find("failed: []"), std::string::npos) << second.out;
    EXPECT_EQ(count_of(second.out, "Saved state may make at most 300000 Symbols"), 1u) << second.out;
}

// Whatever save_state writes, load_state loads in the next run: entity ids
// and the tick count at 2^52 - 1, 2^52 and 2^53 - 1, at the root and nested
// in an entity, save in one run and load in the next. One past 2^53 - 1 is
// refused by the writer, naming the key, and the previous save stays. A Hash
// of the game's holding :entity_id is its data, saved and loaded as it is
// whatever the count.
TEST(SavedState, CountsTheWriterTakesLoadInTheNextRun) {
    const std::string cases = R"(COUNTS = { below_2_52: 2**52 - 1, at_2_52: 2**52, top: 2**53 - 1, over: 2**53 }
PLACES = %i[root_id root_tick nested_hash nested_entity]
def each_case
  COUNTS.each { |name, count| PLACES.each { |where| yield :"#{name}_#{where}", count, where } }
end
)";
    EngineSandbox sandbox;
    engine_result first = sandbox.run_check(cases + R"(checks = {}
each_case do |name, count, where|
  $qmx.reset_state
  state = $qmx.args.state
  state.marker = :previous
  state.tick_count = 5
  $qmx.save_state
  previous = $qmx.read_file("game_state.txt")
  state.marker = name
  case where
  when :root_id then state.as_hash[:entity_id] = count
  when :root_tick then state.tick_count = count
  when :nested_hash then state.item = { entity_id: count, name: "x" }
  when :nested_entity then (state.item = state.new_entity(:item)).as_hash[:entity_id] = count
  end
  saved = $qmx.save_state
  $qmx.write_file("#{name}.txt", $qmx.read_file("game_state.txt"))
  checks[name] = count < 2**53 || where == :nested_hash ? saved : saved.nil? && $qmx.read_file("game_state.txt") == previous
end
puts "failed: #{checks.reject { |_, ok| ok }.keys.inspect}"
)");
    EXPECT_EQ(first.exit_code, 0) << first.out;
    EXPECT_NE(first.out.find("failed: []"), std::string::npos) << first.out;
    EXPECT_EQ(count_of(first.out, "entity_id must be a whole number from -9007199254740992 to 9007199254740991, not "
                                  "9007199254740992."),
              2u)
        << first.out;
    EXPECT_EQ(count_of(first.out, "tick_count must be a whole number from -1 to 9007199254740991, not 9007199254740992."),
              1u)
        << first.out;

    engine_result second = sandbox.run_check(cases + R"(checks = {}
each_case do |name, count, where|
  $qmx.write_file("game_state.txt", $qmx.read_file("#{name}.txt"))
  state = $qmx.load_state
  checks[name] = if count >= 2**53 && where != :nested_hash
                   state && state.marker == :previous
                 elsif state && state.marker == name
                   case where
                   when :root_id then state.entity_id == count
                   when :root_tick then Kernel.tick_count == count
                   when :nested_hash then state.item == { entity_id: count, name: "x" }
                   else state.item.entity_id == count
                   end
                 end
end
puts "failed: #{checks.reject { |_, ok| ok }.keys.inspect}"
)");
    EXPECT_EQ(second.exit_code, 0) << second.out;
    EXPECT_NE(second.out.find("failed: []"), std::string::npos) << second.out;
}

// A game that loads its save in boot and adds new names every run: the
// names its own load made are new to the next run too, so the save that
// would pass the limit is refused in the run that makes it, the previous
// save stays, and every later run loads it.
TEST(SavedState, NamesALoadInBootMadeCountAsNewForTheWriter) {
    EngineSandbox sandbox;
    sandbox.write_game_file("app/main.rb", R"(def boot(args)
  $loaded = $qmx.load_state
end
# 200 new names of 45,000 bytes a run: two runs' worth pass the 16 MiB a
# load may make.
def tick(args)
  state = args.state
  state.runs = (state.runs || 0) + 1
  state.names ||= []
  200.times { |i| state.names << :"run_#{state.runs}_#{i}_#{'x' * 45_000}" }
  saved = $qmx.save_state
  $qmx.append_file("runs.txt", "#{$loaded ? 'loaded' : 'fresh'} #{saved ? 'saved' : 'refused'}\n")
  $qmx.request_quit
end
)");
    std::string saves[3];
    for (std::string &save : saves) {
        engine_result r = sandbox.run({sandbox.game_dir}, 60);
        EXPECT_EQ(r.exit_code, 0) << r.out.substr(0, 4000);
        save = read_file(sandbox.game_dir + "/game_state.txt");
    }
    EXPECT_EQ(read_file(sandbox.game_dir + "/runs.txt"), "fresh saved\nloaded refused\nloaded refused\n");
    EXPECT_FALSE(saves[0].empty());
    EXPECT_TRUE(saves[1] == saves[0] && saves[2] == saves[0]);
}

// Undoing a load costs what the load did: a save whose strict entity of
// 20,000 properties is followed by a refused entity, and the writer's
// trial load of an open entity with entity_strict false and 20,000 keys,
// each finish in the run's time (they took hours at this size when each
// property's undoing listed the type's methods); the refusal changes
// nothing and the save still comes. Methods the game gave a strict type
// itself, named like saved properties, stay the game's through a refused
// load and a good one.
TEST(SavedState, UndoingALoadCostsWhatTheLoadDid) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_check(R"(N = 20_000
checks = {}
state = $qmx.args.state
state.marker = :kept
made = state.new_entity_strict(:made, x: 1)
# Methods the game gave the type itself, named like properties a save holds.
made.class.attr_accessor :mine
made.class.class_eval { def doubled; (@doubled || 1) * 2; end }
game_methods = -> { made.respond_to?(:mine) && made.respond_to?(:mine=) && made.doubled == 2 }
[:made, :fresh].each do |type|
  $qmx.write_file("game_state.txt", "{:entity_id=>1, :e=>{:entity_id=>2, :entity_strict=>true, :entity_name=>:#{type}, :x=>1, " +
                                    ":mine=>5, :doubled=>3, " +
                                    Array.new(N) { |i| ":p_#{i}=>#{i}" }.join(", ") + "}, :bad=>{:entity_id=>\"x\", " \
                                    ":entity_keys_by_ref=>5}}")
  checks[:"refused_#{type}"] = $qmx.load_state.nil? && $qmx.args.state.marker == :kept
end
checks[:types_taken_back] = !made.respond_to?(:p_0) && !made.respond_to?(:"p_#{N - 1}=") && made.x == 1 &&
                            !QMX::Entity.strict_entities.key?(:fresh)
checks[:game_methods_kept_by_undo] = game_methods.call
$qmx.write_file("game_state.txt", "{:entity_id=>1, :e=>{:entity_id=>2, :entity_strict=>true, :entity_name=>:made, " \
                                  ":x=>1, :mine=>5, :doubled=>3}}")
loaded = $qmx.load_state
checks[:game_methods_kept_by_load] = loaded && loaded.e.mine == 5 && loaded.e.doubled == 6 && loaded.e.x == 1 &&
                                     game_methods.call
wide = state.new_entity(:wide)
N.times { |i| wide.as_hash[:"k_#{i}"] = i }
wide.entity_strict = false
state.wide = wide
types = QMX::Entity.strict_entities.keys
checks[:trial_load_saves] = $qmx.save_state && QMX::Entity.strict_entities.keys == types
puts "failed: #{checks.reject { |_, ok| ok }.keys.inspect}"
)");
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.out.substr(0, 4000);
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out.substr(0, 4000);
}

// Names the interpreter cannot make (a Symbol of 70,000 bytes, a strict
// property of 65,534, whose @name would be one byte too long) are refused
// by every reader of saved text as other bad data is, with the reason and
// the byte: load_state logs and keeps the state, deserialize_state raises
// its format error, a replay does not start. A refusal quotes a bounded part
// of what it refuses: a save of megabytes refused for one bad
// entity_keys_by_ref logs a short excerpt, marked as cut, and so does
// deserialize_state's exception.
TEST(SavedState, ReadersRefuseNamesTooLongAndQuoteLittleOfWhatTheyRefuse) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_check(R"(checks = {}
$qmx.args.state.marker = :kept
long = "s" * 70_000
texts = {
  symbol: "{:entity_id=>1, :n=>:#{long}}",
  quoted_symbol: "{:entity_id=>1, :n=>[:\"#{long}\"]}",
  label_key: "{:entity_id=>1, #{long}: 1}",
  strict_property: "{:entity_id=>1, :e=>{:entity_id=>2, :entity_strict=>true, \"#{'p' * 65_534}\"=>1}}"
}
def refused(text)
  $qmx.deserialize_state(text)
  false
rescue QMX::LiteralReader::FormatError => e
  e.message.bytesize < 2000 && e.message.include?("name too long at byte ")
end
texts.each do |name, text|
  $qmx.write_file("game_state.txt", text)
  checks[:"load_state_#{name}"] = $qmx.load_state.nil?
  checks[:"deserialize_state_#{name}"] = refused(text)
end
$qmx.write_file("long.txt", "replay_version 2.0\nstopped_at 10\nseed 1\nrecorded_at now\n[:#{long}, 1, 2, 2, 1, 0]\n")
checks[:replay] = begin
  $replay.start("long.txt").nil? && !$recording.is_replaying?
rescue Exception
  false
end
big = "{:entity_id=>1, :big=>\"#{'y' * 2_000_000}\", :list=>[#{Array.new(100_000) { |i| i }.join(', ')}], " \
      ":e=>{:entity_id=>2, :big=>\"#{'z' * 1_000_000}\", :entity_keys_by_ref=>{:b=>:missing}}}"
$qmx.write_file("game_state.txt", big)
checks[:big_refused] = $qmx.load_state.nil?
checks[:big_deserialize_state] = begin
  $qmx.deserialize_state(big)
  false
rescue RuntimeError => e
  e.message.bytesize < 4000 && e.message.include?("... [cut") && e.message.include?("pairs :b with :missing")
end
checks[:state_kept] = $qmx.args.state.marker == :kept
puts "failed: #{checks.reject { |_, ok| ok }.keys.inspect}"
)");
    EXPECT_EQ(result.exit_code, 0) << result.out.substr(0, 4000);
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out.substr(0, 4000);
    EXPECT_EQ(count_of(result.out, "Symbol name too long at byte "), 3u) << result.out.substr(0, 4000);
    EXPECT_EQ(count_of(result.out, "property name too long at byte 58:"), 1u) << result.out.substr(0, 4000);
    EXPECT_EQ(count_of(result.out, "pairs :b with :missing, but only properties saved with the entity"), 1u);
    // No refusal, the replay's included, quotes more than a few hundred
    // bytes of the megabytes refused.
    EXPECT_LT(result.out.size(), 20000u);
}

// A game that keeps its entities in plain Hashes (by Integer id, by Symbol,
// nested in its own Hashes, strict and open, one as a key), loads in boot,
// adds more and saves, three runs over: every entity comes back an entity,
// every plain Hash a plain Hash, and no new entity takes an id a load
// brought back, so nothing is overwritten. A save as the previous release
// wrote it loads the same way.
TEST(SavedState, EntitiesKeptInHashesComeBackAsEntitiesAndNoIdRepeats) {
    EngineSandbox sandbox;
    sandbox.write_game_file("old_save.txt",
                            "{:entity_id=>2, :tick_count=>-1, :enemies=>{3=>{:entity_id=>3, :entity_name=>:enemy, "
                            ":entity_keys_by_ref=>{}, :entity_type=>:enemy, :created_at=>-1, :global_created_at=>-1, "
                            ":hp=>3}}, :boss=>{:boss=>{:entity_id=>6, :entity_name=>:boss, :entity_keys_by_ref=>{}, "
                            ":hp=>9}}, :keyed=>{{:entity_id=>7, :entity_keys_by_ref=>{}}=>1}, :entity_keys_by_ref=>{}}");
    sandbox.write_game_file("app/main.rb", R"(def boot(args)
  $qmx.load_state
end
def entities(s)
  [s] + s.enemies.values + s.named.values + s.nested[:deep][:list].flat_map(&:values) + s.keyed.keys
end
def tick(args)
  s = args.state
  run = s.runs = (s.runs || 0) + 1
  s.enemies ||= {}
  s.named ||= {}
  s.nested ||= { deep: { list: [] } }
  s.keyed ||= {}
  3.times { e = s.new_entity(:enemy, hp: run); s.enemies[e.entity_id] = e }
  s.named[:"boss_#{run}"] = s.new_entity_strict(:boss, hp: run * 10)
  s.nested[:deep][:list] << { run => s.new_entity(:minion, run: run) }
  s.keyed[s.new_entity(:key)] = run
  checks = {
    enemies: -> { s.enemies.size == 3 * run && s.enemies.all? { |id, e| e.is_a?(QMX::OpenEntity) && e.entity_id == id } },
    strict: -> { s.named.size == run && s.named.values.all? { |b| b.is_a?(QMX::StrictEntity) && (b.hpp rescue :refused) == :refused } },
    plain_hashes: -> { [s.enemies, s.named, s.nested, s.nested[:deep], *s.nested[:deep][:list]].all? { |h| h.class == Hash } },
    nested: -> { s.nested[:deep][:list].each_with_index.all? { |h, i| h[i + 1].is_a?(QMX::OpenEntity) && h[i + 1].run == i + 1 } },
    keys: -> { s.keyed.size == run && s.keyed.keys.all? { |k| k.is_a?(QMX::OpenEntity) } && s.keyed.values.sort == (1..run).to_a },
    no_repeated_id: -> { (ids = entities(s).map(&:entity_id)).uniq.size == ids.size }
  }
  checks[:previous_release] = lambda do
    old = $qmx.deserialize_state("old_save.txt")
    old.enemies[3].hp == 3 && old.boss[:boss].hp == 9 && old.keyed.keys[0].is_a?(QMX::OpenEntity) &&
      s.new_entity(:next).entity_id > 7
  end if run == 1
  failed = checks.reject { |_, check| (check.call rescue false) }.keys
  $qmx.save_state
  $qmx.append_file("runs.txt", "#{run} #{failed.inspect}\n")
  $qmx.request_quit
end
)");
    for (int run = 0; run < 3; ++run) {
        engine_result r = sandbox.run({sandbox.game_dir}, 60);
        EXPECT_EQ(r.exit_code, 0) << r.out;
    }
    EXPECT_EQ(read_file(sandbox.game_dir + "/runs.txt"), "1 []\n2 []\n3 []\n");
}

// An open entity stays open through a save and a load whatever its
// properties are named, entity_strict (false, true or nil) included, nested
// or as the state itself; a strict one stays strict, also when the game set
// its entity_strict false.
TEST(SavedState, OpenEntitiesStayOpenWhateverTheirPropertiesAreNamed) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_check(R"(s = $qmx.args.state
VALUES = { false: false, true: true, nil: nil }
VALUES.each { |name, value| (s[name] = s.new_entity(:open, hp: 1)).entity_strict = value }
s.entity_strict = true
s.strict = s.new_entity_strict(:tough, hp: 2)
s.strict.entity_strict = false
loaded = $qmx.save_state && $qmx.load_state
checks = {}
VALUES.each do |name, value|
  e = loaded && loaded[name]
  checks[name] = e.is_a?(QMX::OpenEntity) && e.entity_strict == value && e.hp == 1 && (e.added = 2) && e.added == 2
end
checks[:root] = loaded && loaded.entity_strict == true && (loaded.added = 3) == 3 && $qmx.save_state
checks[:strict] = loaded && loaded.strict.is_a?(QMX::StrictEntity) && loaded.strict.hp == 2 &&
                  (loaded.strict.added rescue :refused) == :refused
puts "failed: #{checks.reject { |_, ok| ok }.keys.inspect}"
)");
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out;
}

// Refusals stay short and say why: a value holding itself under a key of
// megabytes is refused quoting a few hundred bytes of each path, in the
// output and in the log; deserialize_state takes saved text after leading
// blanks as load_state does, and text holding a NUL is refused by the
// reader with the reason, not by the file methods.
TEST(SavedState, RefusalsAreShortAndDeserializeStateReadsTextAsLoadStateDoes) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_check(R"(checks = {}
loop_hash = {}
loop_hash[:me] = loop_hash
$qmx.args.state.big = { ("k" * 4_000_000) => loop_hash }
checks[:self_holding] = $qmx.save_state.nil?
$qmx.args.state.big = nil
text = "{:entity_id=>1, :marker=>:loaded}"
[" ", "\n", " \t\r\n "].each_with_index { |blank, i| checks[:"blank_#{i}"] = $qmx.deserialize_state(blank + text)&.marker == :loaded }
["\0#{text}", "\0", "game\0state.txt"].each_with_index do |source, i|
  checks[:"nul_#{i}"] = begin
    $qmx.deserialize_state(source)
  rescue QMX::LiteralReader::FormatError => e
    e.message.include?("not a literal at byte ")
  end
end
puts "failed: #{checks.reject { |_, ok| ok == true }.keys.inspect}"
)");
    EXPECT_EQ(result.exit_code, 0) << result.out.substr(0, 4000);
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out.substr(0, 4000);
    EXPECT_EQ(count_of(result.out, "bytes in all] itself, which saved state cannot hold."), 1u)
        << result.out.substr(0, 4000);
    EXPECT_LT(result.out.size(), 20000u);
    EXPECT_LT(read_file(sandbox.base_dir + "/logs/log.txt").size(), 20000u);
}

// Hashes the game made itself come back Hashes whatever their keys: records
// with an :entity_id that is a String, nil, negative, a Float, past 2^53 or
// an Integer, as direct properties, nested in Hashes and Arrays and in an
// entity; a copy of an entity's Hash; Hashes holding the key saves wrap
// such Hashes in, also inside Hash keys, which find their values. None
// stops a save or moves the entity id counter.
TEST(SavedState, HashesTheGameMadeComeBackAsHashesWhateverTheirKeys) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_check(R"(s = $qmx.args.state
IDS = { string: "sword", nil: nil, negative: -4, float: 1.5, past_2_53: 2**60, integer: 3 }
RECORDS = IDS.map { |name, id| [name, { entity_id: id, at: 3 }] }.to_h
def all_hashes?(values) = values.all? { |value| value.class == Hash }
s.direct = { entity_id: 2**60, at: 3 }
s.in_hash = { shop: RECORDS.dup }
s.in_array = [[RECORDS.values]]
holder = s.new_entity(:holder, records: RECORDS.values)
s.holder = holder
s.copy = holder.as_hash.dup
s.marked = [{ __plain_hash__: { __plain_hash__: { entity_id: 1 } } }, { __plain_hash__: 1, entity_id: 2, entity_keys_by_ref: {} },
            { __plain_hash__: holder }]
KEYED = { { a: { __plain_hash__: 1, y: 2 } } => 5, [{ __plain_hash__: 2 }] => 6 }
s.keyed = KEYED
copy = s.copy.dup
saved = $qmx.save_state
state = $qmx.load_state
checks = { saved: saved.is_a?(String), loaded: !state.nil? }
if state
  checks[:direct] = state.direct.class == Hash && state.direct == { entity_id: 2**60, at: 3 }
  checks[:in_hash] = state.in_hash == { shop: RECORDS } && all_hashes?(state.in_hash[:shop].values) &&
                     state.in_hash[:shop][:string].keys == [:entity_id, :at]
  checks[:in_array] = state.in_array == [[RECORDS.values]] && all_hashes?(state.in_array[0][0])
  checks[:entity_property] = state.holder.is_a?(QMX::OpenEntity) && state.holder.records == RECORDS.values &&
                             all_hashes?(state.holder.records)
  checks[:entity_copy] = state.copy.class == Hash && state.copy == copy
  checks[:wrapper_key] = state.marked[0] == { __plain_hash__: { __plain_hash__: { entity_id: 1 } } } &&
                         state.marked[1] == { __plain_hash__: 1, entity_id: 2, entity_keys_by_ref: {} } &&
                         state.marked[2].keys == [:__plain_hash__] && state.marked[2][:__plain_hash__].is_a?(QMX::OpenEntity)
  checks[:ids_not_counted] = state.new_entity(:next).entity_id < 100
  checks[:wrapped_inside_keys] = KEYED.all? { |key, value| state.keyed[key] == value }
end
text = $qmx.serialize_state({ entity_id: 2**60, list: [{ entity_id: "x" }] })
checks[:root_hash] = text && $qmx.deserialize_state(text) == { entity_id: 2**60, list: [{ entity_id: "x" }] }
keyed = $qmx.deserialize_state($qmx.serialize_state(KEYED))
checks[:root_wrapped_inside_keys] = KEYED.all? { |key, value| keyed[key] == value }
puts "failed: #{checks.reject { |_, ok| ok == true }.keys.inspect}"
)");
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out;
}

// Saves the previous release wrote load with its Hashes as Hashes and its
// entities as entities, and so do those of the last change: the game's
// records with an :entity_id inside its Hashes (one past 2^53 among them)
// stay Hashes, a record that is a direct property loads as an entity as it
// did, entities kept by id, in a list and as a key are one object, an open
// entity with a property entity_strict inside a Hash loads open, a strict
// one strict. Each then saves and loads again the same.
TEST(SavedState, SavesOfEarlierReleasesLoadTheirHashesAsHashesAndTheirEntitiesAsEntities) {
    EngineSandbox sandbox;
    sandbox.use_fixture("earlier_saves");
    engine_result result = sandbox.run_check(R"(def load(file)
  $qmx.write_file("game_state.txt", $qmx.read_file(file))
  $qmx.load_state
end
def entities_one_object?(state)
  enemy = state.enemies[0]
  enemy.is_a?(QMX::OpenEntity) && enemy.hp == 3 && state.by_id[enemy.entity_id].equal?(enemy) &&
    state.keyed.keys[0].equal?(enemy) && state.keyed[enemy] == 1
end
def open?(entity, strict) = entity.is_a?(QMX::OpenEntity) && entity.entity_strict == strict && (entity.added = 1) == 1
def strict?(tanks) = tanks.values[0].is_a?(QMX::StrictEntity) && tanks.values[0].hp == 5
def saves_again?
  text = $qmx.save_state
  text && $qmx.load_state && $qmx.save_state == text
end
checks = {}
old = load("written_by_99270d1.txt")
checks[:previous_loads] = !old.nil?
if old
  checks[:previous_records] = old.shop == { sword: { entity_id: "sword", price: 5 } } && old.shop[:sword].class == Hash &&
                              old.records[:kills] == [{ entity_id: 7, at: 3 }] && old.records[:kills][0].class == Hash &&
                              old.records[:server] == { entity_id: 2**60 } &&
                              %i[server none back half].all? { |key| old.records[key].class == Hash }
  checks[:previous_direct_record] = old.crate.is_a?(QMX::OpenEntity) && old.crate.entity_id == "crate" && old.crate.n == 2
  checks[:previous_entities] = entities_one_object?(old)
  checks[:previous_open_in_a_hash] = open?(old.pool[:odd], false)
  checks[:previous_strict_in_a_hash] = strict?(old.tanks)
  checks[:previous_new_ids] = old.new_entity(:next).entity_id > 6
  checks[:previous_saves_again] = saves_again? && $qmx.args.state.shop[:sword].class == Hash
end
last = load("written_by_2b5c3da.txt")
checks[:last_loads] = !last.nil?
if last
  checks[:last_entities] = entities_one_object?(last)
  checks[:last_open] = open?(last.pool[:odd], false) && open?(last.loose, nil)
  checks[:last_strict_in_a_hash] = strict?(last.tanks)
  checks[:last_shared] = last.bag == [1, 2] && last.bag.equal?(last.same_bag)
  checks[:last_saves_again] = saves_again?
end
puts "failed: #{checks.reject { |_, ok| ok == true }.keys.inspect}"
)");
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out;
}

// An entity held in several places of one save comes back one object in all
// of them: in a list, by id, as a key, nested in the game's Hashes and in
// another entity, open and strict alike; a change through one is seen
// through the others, and new entities still take new ids.
TEST(SavedState, AnEntityKeptInSeveralPlacesComesBackAsOneObject) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_check(R"(s = $qmx.args.state
enemy = s.new_entity(:enemy, hp: 3)
knight = s.new_entity_strict(:knight, hp: 5)
s.list = [enemy, knight]
s.by_id = { enemy.entity_id => enemy, knight.entity_id => knight }
s.keyed = { enemy => :enemy, knight => :knight }
s.nested = { deep: [{ again: enemy }] }
s.holder = s.new_entity(:holder, target: enemy, pair: [knight, knight])
def one_object_each?(state)
  enemy, knight = state.list
  checks = {
    kinds: enemy.is_a?(QMX::OpenEntity) && knight.is_a?(QMX::StrictEntity),
    by_id: state.by_id[enemy.entity_id].equal?(enemy) && state.by_id[knight.entity_id].equal?(knight),
    keys: state.keyed[enemy] == :enemy && state.keyed[knight] == :knight,
    nested: state.nested[:deep][0][:again].equal?(enemy),
    in_an_entity: state.holder.target.equal?(enemy) && state.holder.pair.all? { |k| k.equal?(knight) }
  }
  enemy.hp = 0
  knight.hp = 1
  checks[:one_change] = state.by_id[enemy.entity_id].hp == 0 && state.holder.pair[1].hp == 1
  checks[:new_ids] = state.new_entity(:next).entity_id > [enemy.entity_id, knight.entity_id, state.holder.entity_id].max
  checks[:levels_apart] = levels_apart?(state)
  checks
end
# Two levels loaded from saves of their own bring entities that only share
# an id: they stay two, whatever else is kept in several places.
forest = $qmx.serialize_state(s.new_entity(:level, name: "forest", boss: s.new_entity_strict(:boss, hp: 9)))
s.levels = [forest, forest.sub("forest", "desert").sub(":hp=>9", ":hp=>4")].map { |t| $qmx.deserialize_state(t) }
s.levels << s.levels[1]
def levels_apart?(state)
  forest, desert, again = state.levels
  [forest.name, desert.name, forest.boss.hp, desert.boss.hp] == ["forest", "desert", 9, 4] &&
    forest.entity_id == desert.entity_id && again.equal?(desert) && !forest.boss.equal?(desert.boss)
end
checks = { levels_apart_before: levels_apart?(s) }
loaded = $qmx.save_state && $qmx.load_state
checks[:levels_apart] = loaded && levels_apart?(loaded)
one_object_each?(loaded).each { |name, ok| checks[:"load_state_#{name}"] = ok } if loaded
checks[:loaded] = !loaded.nil?
again = $qmx.deserialize_state($qmx.serialize_state(loaded))
one_object_each?(again).each { |name, ok| checks[:"deserialize_state_#{name}"] = ok } if again
puts "failed: #{checks.reject { |_, ok| ok == true }.keys.inspect}"
)");
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out;
}

// Save, load and save again gives the same text: a strict entity of more
// properties than the interpreter lists in the order they were made, open
// entities, the state itself, also once the strict types are forgotten (as
// in a new run). An open entity's entity_strict that shares its value with
// another property, before or after it, shares it again after a load.
TEST(SavedState, SaveLoadSaveGivesTheSameTextAndKeepsEntityStrictShared) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_check(R"(s = $qmx.args.state
s.wide = s.new_entity_strict(:wide, (1..40).map { |i| [:"p#{i}", i] }.to_h)
s.wides = [s.new_entity_strict(:wide, (1..40).map { |i| [:"p#{i}", -i] }.to_h)]
s.open = s.new_entity(:open, hp: 1)
s.sharer = s.new_entity(:sharer, items: [1, 2])
s.sharer.entity_strict = s.sharer.items
s.first = s.new_entity(:first, entity_strict: [3])
s.first.later = s.first.entity_strict
checks = {}
text = $qmx.save_state
loaded = $qmx.load_state
checks[:same_text] = text && loaded && $qmx.save_state == text
QMX::Entity.strict_entities.clear
checks[:same_text_new_types] = text && $qmx.load_state && $qmx.save_state == text
state = $qmx.args.state
checks[:shared_before] = state.sharer.is_a?(QMX::OpenEntity) && state.sharer.entity_strict.equal?(state.sharer.items) &&
                         state.sharer.items == [1, 2]
checks[:shared_after] = state.first.is_a?(QMX::OpenEntity) && state.first.later.equal?(state.first.entity_strict)
checks[:strict] = state.wide.is_a?(QMX::StrictEntity) && state.wide.p40 == 40 && state.wides[0].p1 == -1
puts "failed: #{checks.reject { |_, ok| ok == true }.keys.inspect}"
)");
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out;
}

// A Hash's default value or default proc is not saved: save_state still
// writes the save and says in the log which Hashes lose theirs, by key path
// (ten of them, and how many more), and they load without one.
TEST(SavedState, ASaveSaysWhichHashesLoseTheirDefaults) {
    EngineSandbox sandbox;
    engine_result result = sandbox.run_check(R"(s = $qmx.args.state
s.kills = Hash.new(0)
s.kills[:orc] += 1
s.cache = Hash.new { |hash, key| hash[key] = [] }
s.list = [Hash.new(5)]
s.hero = s.new_entity(:hero, scores: Hash.new(1))
s.many = Array.new(12) { Hash.new(0) }
saved = $qmx.save_state
state = $qmx.load_state
checks = {
  saved: saved.is_a?(String) && $qmx.read_file("game_state.txt") == saved,
  pairs_kept: state && state.kills == { orc: 1 } && state.many.length == 12,
  defaults_not_kept: state && state.kills.default.nil? && state.cache.default_proc.nil? && state.hero.scores.default.nil?
}
puts "failed: #{checks.reject { |_, ok| ok == true }.keys.inspect}"
)");
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_NE(result.out.find("failed: []"), std::string::npos) << result.out;
    EXPECT_EQ(count_of(result.out, "Saved state keeps a Hash's pairs but not its default value or default proc"), 1u)
        << result.out;
    for (const char *line : {"\nargs.state.kills (its default value)\n", "\nargs.state.cache (its default proc)\n",
                             "\nargs.state.list[0] (its default value)\n", "\nargs.state.hero.scores (its default value)\n",
                             "\nargs.state.many[5] (its default value)\n", "\nand 6 more\n"})
        EXPECT_EQ(count_of(result.out, line), 1u) << line << "\n" << result.out;
}

} // namespace
