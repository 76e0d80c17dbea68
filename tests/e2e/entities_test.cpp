// Entities as a game uses them: what it stores in args.state and in the
// entities it makes reads back, and a game may make as many as it likes.
#include "engine_run.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Runs a game until it quits by itself; it must not have paused on an
// exception on the way.
engine_result run_game(EngineSandbox &sandbox, const std::string &main_rb) {
    sandbox.write_game_file("app/main.rb", main_rb);
    engine_result r = sandbox.run({sandbox.game_dir}, 40);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_FALSE(file_exists(sandbox.game_dir + "/exceptions")) << r.out;
    return r;
}

// Names every object has a method of (Kernel's p, puts, print, rand and
// format, Object's method, the framework's log and id, the game's own
// top-level methods) are properties like any other: what was stored reads
// back, on args.state, on a made entity, from its initial values and after a
// save; unassigned they read nil and take the nil coercion. Called with
// arguments they are still the methods, and what the object protocol keeps
// (class, hash with its warning, the refusal of attributes=) is kept.
TEST(Entities, PropertiesNamedLikeMethodsOfEveryObjectReadBackWhatWasStored) {
    EngineSandbox sandbox;
    engine_result r = run_game(sandbox, R"(def score(args) = args.state.score
$checks = {}
def check(name)
  $checks[name] = begin
    yield
  rescue Exception => e
    "#{e.class}: #{e.message[0, 80]}"
  end
end
NAMES = %i[log id p puts print rand format method]
def tick(args)
  s = args.state
  if Kernel.tick_count == 0
    e = s.new_entity(:note, id: 7, rand: 2, format: :short)
    NAMES.each_with_index { |n, i| s.send(:"#{n}=", [n, i]) }
    check(:state) { NAMES.each_with_index.all? { |n, i| s.send(n) == [n, i] } && s.log == [:log, 0] && s.rand == [:rand, 5] }
    check(:initial_values) { [e.id, e.rand, e.format] == [7, 2, :short] }
    check(:entity) { e.log = "ok"; e.puts = 1; e.method = :walk; [e.log, e.puts, e.method, e.p] == ["ok", 1, :walk, nil] }
    t = s.new_entity(:fresh)
    check(:unassigned) { [t.rand, t.log, t.format, t.print] == [nil, nil, nil, nil] }
    check(:or_assign) { t.format ||= :long; t.method ||= :run; [t.format, t.method] == [:long, :run] }
    check(:coercion) { t.p.x = 10; t.puts << "line"; [t.p.x, t.puts] == [10, ["line"]] }
    check(:with_arguments) { e.format("%03d", 7) == "007" && e.method(:entity_id).call == e.entity_id && e.rand(1) == 0 }
    check(:game_method) { s.score ||= 1; s.score += 1; s.score == 2 && score(args) == 2 }
    check(:kept) do
      refused = begin; s.attributes = 1; false; rescue RuntimeError; true; end
      s.class == QMX::OpenEntity && s.hash.is_a?(Integer) && refused
    end
    check(:saved) { $qmx.save_state && $qmx.load_state && args.state.log == [:log, 0] && args.state.method == [:method, 7] }
    $qmx.write_file("checks.txt", $checks.reject { |_, ok| ok == true }.inspect)
  end
  $qmx.request_quit if Kernel.tick_count == 3
end
)");
    EXPECT_EQ(read_file(sandbox.game_dir + "/checks.txt"), "{}");
    EXPECT_EQ(count_of(r.out, "Entity#hash has been renamed to Entity#as_hash"), 1u) << r.out;
}

// A strict entity's properties may take the names of Kernel's functions
// and the framework's own (raise, format, loop, puts, rand, send_count,
// log_once): the entity keeps refusing misspelled properties, reading and
// writing, also once saved and loaded, and what it answers of its own
// (hash, the refusal of attributes=) stays.
TEST(Entities, StrictPropertiesNamedLikeKernelFunctionsKeepTheMisspellingCheck) {
    EngineSandbox sandbox;
    run_game(sandbox, R"(def refused(e, name)
  yield
  false
rescue RuntimeError => error
  error.message.start_with?("* ERROR:\nThe *strict* entity with name :#{e.entity_name} doesn't have the property #{name}.")
end
def tick(args)
  return unless Kernel.tick_count == 0
  checks = {}
  e = args.state.new_entity_strict(:player, chips: 100, bet: 0, raise: 0, format: 1, loop: 2, puts: 3, rand: 4,
                                            log_once: 5)
  checks[:read] = refused(e, :chisp) { e.chisp }
  checks[:write] = refused(e, :bte=) { e.bte = 5 }
  checks[:properties] = (e.raise = 7) && [e.raise, e.format, e.loop, e.puts, e.rand, e.log_once, e.chips] == [7, 1, 2, 3, 4, 5, 100]
  checks[:hash] = e.hash.is_a?(Integer)
  checks[:attributes] = begin
    e.attributes = 1
    false
  rescue RuntimeError => error
    error.message.include?("You cannot use the property ~attributes~")
  end
  args.state.player = e
  loaded = $qmx.save_state && $qmx.load_state
  player = loaded && loaded.player
  checks[:loaded] = player && player.raise == 7 && refused(player, :chisp) { player.chisp } &&
                    refused(player, :bte=) { player.bte = 1 }
  $qmx.write_file("checks.txt", checks.reject { |_, ok| ok }.keys.inspect)
  $qmx.request_quit
end
)");
    EXPECT_EQ(read_file(sandbox.game_dir + "/checks.txt"), "[]");
}

// new_entity_strict refuses, as it makes the entity, a property named like a
// method the entity works by, given in the Hash, set by the first one's
// block, or in the Hash of a later one of a made type, naming the property;
// the type is not made by a refused first one. Names of other methods every
// object has stay properties, and such an entity saves and loads.
TEST(Entities, StrictEntitiesRefuseAtCreationTheNamesThatWouldBreakThem) {
    EngineSandbox sandbox;
    run_game(sandbox, R"(REFUSED = %i[method_missing to_s inspect send initialize instance_variables instance_variable_get
             instance_variable_set to_hash _inspect update_entity_keys_by_ref __id__ __type__ __load_value__]
KEPT = %i[class hash raise format freeze __send__ object_id dup puts display]
def refused(name)
  yield
  false
rescue ArgumentError => e
  e.message.include?("cannot have the property #{name}:")
end
def tick(args)
  return unless Kernel.tick_count == 0
  s = args.state
  checks = {}
  s.new_entity_strict(:made, x: 1)
  REFUSED.each do |name|
    checks[:"hash_#{name}"] = refused(name) { s.new_entity_strict(:"h_#{name}", x: 1, name => 2) }
    checks[:"block_#{name}"] = refused(name) { s.new_entity_strict(:"b_#{name}") { |e| e.send(:"#{name}=", 2) } }
    checks[:"later_#{name}"] = refused(name) { s.new_entity_strict(:made, x: 1, name => 2) }
  end
  checks[:type_not_made] = !QMX::Entity.strict_entities.key?(:h_to_s) && s.new_entity_strict(:h_to_s, x: 5).x == 5
  kept = s.new_entity_strict(:kept, KEPT.each_with_index.map { |name, i| [name, i] }.to_h)
  s.kept = kept
  loaded = $qmx.save_state && $qmx.load_state
  checks[:kept] = loaded && KEPT.each_with_index.all? { |name, i| loaded.kept.send(name) == i } &&
                  (loaded.kept.nope rescue :refused) == :refused
  $qmx.write_file("checks.txt", checks.reject { |_, ok| ok }.keys.inspect)
  $qmx.request_quit
end
)");
    EXPECT_EQ(read_file(sandbox.game_dir + "/checks.txt"), "[]");
}

// Every entity's first read and write of a property gives it accessors of
// its own; 70,000 entities, more than one Ruby block can be referenced by,
// each read and written, and the game ticks on.
TEST(Entities, SeventyThousandEntitiesEachReadAndWrittenKeepTheGameTicking) {
    EngineSandbox sandbox;
    run_game(sandbox, R"(def tick(args)
  if Kernel.tick_count == 1
    args.state.items = Array.new(70_000) { |i| args.state.new_entity(:item, x: i) }
    args.state.items.each { |e| e.x = e.x + 1 }
  end
  return unless Kernel.tick_count == 60
  $qmx.write_file("sum.txt", args.state.items.inject(0) { |sum, e| sum + e.x }.to_s)
  $qmx.request_quit
end
)");
    EXPECT_EQ(read_file(sandbox.game_dir + "/sum.txt"), "2450035000");
}

} // namespace
