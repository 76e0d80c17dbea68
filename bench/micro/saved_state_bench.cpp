// What saving and loading a game's state costs on the simulation thread,
// where the game stands still meanwhile: $qmx.save_state and $qmx.load_state
// of args.state.items holding 20,000 small Hashes, beside parse_json of the
// same 20,000 items as JSON text, in one run and one interpreter (the real
// runtime object over the framework, writing into a temporary folder through
// the virtual file system). Two more cases save and load states of growing
// size, for the largest one that still fits in a 16 ms frame, and two save
// and load 100,000 entities kept by id in a Hash (and in an Array). Loads of
// saves that hold no entity below the state (two million levels of plain
// Hashes, 200,000 small records under an entity), and 50,000 creations of a
// strict entity. And
// loads of files that name many Symbols the game has never made, which stay
// for the rest of the run, up to as many as a load may make; and a save of
// the game's own strict type refused again and again.
#include "framework_interpreter.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr int ITEMS = 20000;

// The items a game might keep (an id, a position, a speed and a name) and
// the same items as JSON text. The runtime's log lines are dropped, so that
// the output stays readable and printing is not measured.
const char SAVED_STATE_BENCH_RUBY[] = R"RUBY(
def saved_state_bench_items(n)
  Array.new(n) { |i| { id: i, x: i % 1280, y: i % 720, speed: 1.5 + i % 8, name: "item #{i}" } }
end

def saved_state_bench_json(items)
  "[" + items.map { |h|
    "{\"id\":#{h[:id]},\"x\":#{h[:x]},\"y\":#{h[:y]},\"speed\":#{h[:speed]},\"name\":\"#{h[:name]}\"}"
  }.join(",") + "]"
end

$saved_state_bench_json = saved_state_bench_json(saved_state_bench_items(20000))
$qmx.define_singleton_method(:log) { |*| nil }

# The game's own strict type, made as a game makes it, kept in its state.
def saved_state_bench_strict_type(type)
  $qmx.reset_state
  $qmx.args.state.player = $qmx.args.state.new_entity_strict(type.to_sym, x: 1)
  nil
end

def saved_state_bench_fill(n)
  $qmx.reset_state
  $qmx.args.state.items = saved_state_bench_items(n)
  nil
end

# n entities a game keeps by their ids, in a Hash or in an Array: each
# comes back an entity.
def saved_state_bench_fill_entities_hash(n)
  $qmx.reset_state
  enemies = $qmx.args.state.enemies = {}
  n.times { |i| e = $qmx.args.state.new_entity(:enemy, x: i % 1280, y: i % 720, hp: 3); enemies[e.entity_id] = e }
  nil
end

def saved_state_bench_fill_entities_array(n)
  $qmx.reset_state
  $qmx.args.state.enemies = Array.new(n) { |i| $qmx.args.state.new_entity(:enemy, x: i % 1280, y: i % 720, hp: 3) }
  nil
end

# A plain save nested n levels deep ({:a=>{:a=>...}}), with no entity
# below the state: nothing in it is made anew by a load.
def saved_state_bench_fill_deep(n)
  $qmx.reset_state
  deep = 1
  n.times { deep = { a: deep } }
  $qmx.args.state.deep = deep
  nil
end

# n small records of the game's under an entity, each holding an Array.
def saved_state_bench_fill_records(n)
  $qmx.reset_state
  $qmx.args.state.log = $qmx.args.state.new_entity(:log, records: Array.new(n) { |i| { id: i, at: [i % 1280, i % 720] } })
  nil
end

# n strict entities of eight properties, of one type made before.
def saved_state_bench_strict_creations(n)
  QMX::Entity.new_entity_strict(:bench_ship, a: 0, b: 1, c: 2, d: 3, e: 4, f: 5, g: 6, h: 7)
  i = 0
  while i < n
    QMX::Entity.new_entity_strict(:bench_ship, a: i, b: 1, c: 2, d: 3, e: 4, f: 5, g: 6, h: 7)
    i += 1
  end
  n
end

# An open entity of n keys with a property entity_strict false: it loads
# open, but its keys count as a strict entity's names in the limits on new
# Symbols, as the reader counts them.
def saved_state_bench_fill_wide(n)
  $qmx.reset_state
  wide = $qmx.args.state.new_entity(:"wide_#{n}")
  n.times { |i| wide.as_hash[:"key_#{n}_#{i}"] = i }
  wide.entity_strict = false
  $qmx.args.state.wide = wide
  nil
end
)RUBY";

struct interpreter : runtime_interpreter {
    interpreter()
        : runtime_interpreter("vellum-saved-state-bench", SAVED_STATE_BENCH_RUBY,
                              sizeof(SAVED_STATE_BENCH_RUBY) - 1) {}

    void fill(mrb_int items, const char *filler = "saved_state_bench_fill") {
        mrb_value count = mrb_int_value(mrb, items);
        host_call(mrb, mrb_top_self(mrb), filler, 1, &count);
    }

    // Saves leave a timestamped copy behind for every second they run in.
    void remove_copies() {
        for (const auto &entry : std::filesystem::directory_iterator(folder))
            if (entry.path().filename().string().rfind("game_state_", 0) == 0) std::filesystem::remove(entry.path());
    }
};

interpreter &shared() {
    static interpreter it;
    return it;
}

// Calls method on receiver once per iteration; each
// iteration starts from a collected heap so that one call's garbage is not
// charged to the next.
void run(benchmark::State &state, mrb_value receiver, const char *method, mrb_int argc, const mrb_value *argv) {
    interpreter &it = shared();
    for (auto _ : state) {
        state.PauseTiming();
        mrb_full_gc(it.mrb);
        int arena = mrb_gc_arena_save(it.mrb);
        state.ResumeTiming();
        mrb_value answer = host_call(it.mrb, receiver, method, argc, argv);
        state.PauseTiming();
        bool failed = mrb_nil_p(answer);
        mrb_gc_arena_restore(it.mrb, arena);
        state.ResumeTiming();
        if (failed) {
            state.SkipWithError((std::string(method) + " answered nil").c_str());
            return;
        }
    }
}

bool start(benchmark::State &state, mrb_int items, const char *filler = "saved_state_bench_fill") {
    interpreter &it = shared();
    if (!it.ready) {
        state.SkipWithError("the framework, the runtime or the file system did not start");
        return false;
    }
    // The file methods write where the game state that ffi_init was given
    // says; another case may have given it its own.
    ffi_game_state = &it.state;
    it.fill(items, filler);
    return true;
}

void report_text_size(benchmark::State &state) {
    std::error_code error;
    auto size = std::filesystem::file_size(shared().folder + "/game_state.txt", error);
    if (!error) state.counters["text_bytes"] = (double)size;
}

void save_case(benchmark::State &state, mrb_int items, const char *filler = "saved_state_bench_fill") {
    if (!start(state, items, filler)) return;
    run(state, shared().runtime, "save_state", 0, nullptr);
    report_text_size(state);
    shared().remove_copies();
}

void load_case(benchmark::State &state, mrb_int items, const char *filler = "saved_state_bench_fill") {
    if (!start(state, items, filler)) return;
    if (mrb_nil_p(host_call(shared().mrb, shared().runtime, "save_state"))) {
        state.SkipWithError("the state was not saved");
        return;
    }
    shared().remove_copies();
    run(state, shared().runtime, "load_state", 0, nullptr);
    report_text_size(state);
}

void BM_SaveState20000Hashes(benchmark::State &state) { save_case(state, ITEMS); }
BENCHMARK(BM_SaveState20000Hashes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadState20000Hashes(benchmark::State &state) { load_case(state, ITEMS); }
BENCHMARK(BM_LoadState20000Hashes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ParseJsonSame20000Items(benchmark::State &state) {
    if (!start(state, 0)) return;
    interpreter &it = shared();
    mrb_value text = mrb_gv_get(it.mrb, mrb_intern_lit(it.mrb, "$saved_state_bench_json"));
    run(state, it.runtime, "parse_json", 1, &text);
    state.counters["text_bytes"] = (double)RSTRING_LEN(text);
}
BENCHMARK(BM_ParseJsonSame20000Items)->Unit(benchmark::kMillisecond)->UseRealTime();

// save_state and load_state of 100,000 entities a game keeps by id in a
// Hash, each loaded back as an entity, beside the same entities in an Array.
constexpr int ENTITIES = 100000;

void BM_SaveState100000EntitiesInAHash(benchmark::State &state) {
    save_case(state, ENTITIES, "saved_state_bench_fill_entities_hash");
}
BENCHMARK(BM_SaveState100000EntitiesInAHash)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadState100000EntitiesInAHash(benchmark::State &state) {
    load_case(state, ENTITIES, "saved_state_bench_fill_entities_hash");
}
BENCHMARK(BM_LoadState100000EntitiesInAHash)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveState100000EntitiesInAnArray(benchmark::State &state) {
    save_case(state, ENTITIES, "saved_state_bench_fill_entities_array");
}
BENCHMARK(BM_SaveState100000EntitiesInAnArray)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadState100000EntitiesInAnArray(benchmark::State &state) {
    load_case(state, ENTITIES, "saved_state_bench_fill_entities_array");
}
BENCHMARK(BM_LoadState100000EntitiesInAnArray)->Unit(benchmark::kMillisecond)->UseRealTime();

// load_state of a plain save nested two million levels under the state,
// and of 200,000 small records (each holding an Array) under an entity:
// neither holds an entity below them, so neither is made anew.
void BM_LoadStatePlainNestedTwoMillionLevels(benchmark::State &state) {
    load_case(state, 2000000, "saved_state_bench_fill_deep");
}
BENCHMARK(BM_LoadStatePlainNestedTwoMillionLevels)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_LoadState200000RecordsUnderAnEntity(benchmark::State &state) {
    load_case(state, 200000, "saved_state_bench_fill_records");
}
BENCHMARK(BM_LoadState200000RecordsUnderAnEntity)->Unit(benchmark::kMillisecond)->UseRealTime();

// 50,000 new_entity_strict creations of eight properties, of a type made
// already.
void BM_NewEntityStrict50000EightProperties(benchmark::State &state) {
    if (!start(state, 0)) return;
    mrb_value count = mrb_int_value(shared().mrb, 50000);
    run(state, mrb_top_self(shared().mrb), "saved_state_bench_strict_creations", 1, &count);
}
BENCHMARK(BM_NewEntityStrict50000EightProperties)->Unit(benchmark::kMillisecond)->UseRealTime();

// save_state and load_state over growing states: the largest one whose save
// takes under 16 ms (the wall time, which the file writes are part of) is
// the most a game can save without dropping a frame.
void sizes(benchmark::internal::Benchmark *b) {
    for (int items : {1000, 2000, 4000, 6000, 7000, 8000, 9000, 10000, 12000, 16000, 32000}) b->Arg(items);
}

void BM_SaveStateBySize(benchmark::State &state) { save_case(state, state.range(0)); }
BENCHMARK(BM_SaveStateBySize)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(sizes);

void BM_LoadStateBySize(benchmark::State &state) { load_case(state, state.range(0)); }
BENCHMARK(BM_LoadStateBySize)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(sizes);

// load_state of a file that names state.range(0) Symbols that no earlier
// load or code made (every iteration names new ones): as the Symbol keys of
// one Hash (a map of named cells: 96 x 96, 300 x 300, and as many as a load
// may make), or as the properties of one strict entity, which make three
// each (name, name= and @name) and cost the most per Symbol; as 330 names
// of 50,000 bytes, about all the bytes of new names a load may make; and as
// a strict entity's 20,000 Integer keys, which cannot be property names and
// are refused. The refused kinds are the plain and strict ones followed by
// an entity that is refused once everything before it has loaded, so that
// the whole load is undone. The "loaded" counter is 1 when load_state
// answered the state, 0 when it refused the file.
enum class names { plain, strict, long_names, integer_keys, plain_refused, strict_refused };

void load_new_names(benchmark::State &state, names kind) {
    if (!start(state, 0)) return;
    interpreter &it = shared();
    static int file_number = 0;
    bool loaded = false;
    for (auto _ : state) {
        state.PauseTiming();
        bool strict = kind == names::strict || kind == names::integer_keys || kind == names::strict_refused;
        std::string text = strict ? "{:entity_id=>1, :entity_keys_by_ref=>{}, :names=>{:entity_id=>2, :entity_strict=>true"
                                  : "{:entity_id=>1, :entity_keys_by_ref=>{}, :names=>{";
        std::string prefix = ":name_" + std::to_string(++file_number) + "_";
        std::string padding = kind == names::long_names ? "_" + std::string(50000, 'x') : "";
        int64_t keys = kind == names::strict || kind == names::strict_refused ? state.range(0) / 3 : state.range(0);
        for (int64_t i = 0; i < keys; ++i) {
            text += i || strict ? ", " : "";
            text += kind == names::integer_keys ? std::to_string(i) : prefix + std::to_string(i) + padding;
            text += "=>" + std::to_string(i);
        }
        text += kind == names::plain_refused || kind == names::strict_refused
                    ? "}, :bad=>{:entity_id=>\"x\", :entity_keys_by_ref=>5}}"
                    : "}}";
        std::ofstream(it.folder + "/game_state.txt", std::ios::binary) << text;
        int arena = mrb_gc_arena_save(it.mrb);
        state.ResumeTiming();
        loaded = !mrb_nil_p(host_call(it.mrb, it.runtime, "load_state"));
        state.PauseTiming();
        mrb_gc_arena_restore(it.mrb, arena);
        state.ResumeTiming();
    }
    state.counters["loaded"] = loaded ? 1 : 0;
    report_text_size(state);
}

void BM_LoadStateNewStrictProperties(benchmark::State &state) { load_new_names(state, names::strict); }
BENCHMARK(BM_LoadStateNewStrictProperties)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Arg(300000);

void BM_LoadStateNewSymbols(benchmark::State &state) { load_new_names(state, names::plain); }
BENCHMARK(BM_LoadStateNewSymbols)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Arg(9216)
    ->Arg(90000)
    ->Arg(300000);

void BM_LoadStateLongNewNames(benchmark::State &state) { load_new_names(state, names::long_names); }
BENCHMARK(BM_LoadStateLongNewNames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Arg(330);

void BM_LoadStateStrictIntegerKeys(benchmark::State &state) { load_new_names(state, names::integer_keys); }
BENCHMARK(BM_LoadStateStrictIntegerKeys)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Arg(20000);

// Refusing, at the limits, a save whose every value loaded but the last:
// all it made is undone.
void BM_RefuseStateNewStrictProperties(benchmark::State &state) { load_new_names(state, names::strict_refused); }
BENCHMARK(BM_RefuseStateNewStrictProperties)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Arg(300000);

void BM_RefuseStateNewSymbols(benchmark::State &state) { load_new_names(state, names::plain_refused); }
BENCHMARK(BM_RefuseStateNewSymbols)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Arg(300000);

// A crafted save holding an entity of the game's own strict type with
// state.range(0) properties the type lacks, then an entity that is refused:
// load_state refuses it four times in one run, undoing each time what it
// gave the type, then loads the same save without the refused entity. Each
// load's time is a counter (ms), in order: the refusals cost the same every
// time when removed names leave no trace in the type's tables.
void BM_RefuseStateRoundsOfTheGamesStrictType(benchmark::State &state) {
    if (!start(state, 0)) return;
    interpreter &it = shared();
    std::string type = "rounds_" + std::to_string(state.range(0));
    mrb_value type_name = mrb_str_new(it.mrb, type.data(), (mrb_int)type.size());
    host_call(it.mrb, mrb_top_self(it.mrb), "saved_state_bench_strict_type", 1, &type_name);
    std::string entity = "{:entity_id=>1, :entity_keys_by_ref=>{}, :player=>{:entity_id=>2, :entity_strict=>true, "
                         ":entity_name=>:" + type + ", :x=>1";
    for (int64_t i = 0; i < state.range(0); ++i) entity += ", :p_" + std::to_string(i) + "=>" + std::to_string(i);
    entity += "}";
    const std::string refused = entity + ", :bad=>{:entity_id=>\"x\", :entity_keys_by_ref=>5}}", good = entity + "}";
    bool refusals_refused = true, good_loaded = false;
    for (auto _ : state) {
        for (int round = 0; round <= 4; ++round) {
            state.PauseTiming();
            std::ofstream(it.folder + "/game_state.txt", std::ios::binary) << (round < 4 ? refused : good);
            int arena = mrb_gc_arena_save(it.mrb);
            state.ResumeTiming();
            auto started = std::chrono::steady_clock::now();
            bool loaded = !mrb_nil_p(host_call(it.mrb, it.runtime, "load_state"));
            double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
            state.PauseTiming();
            mrb_gc_arena_restore(it.mrb, arena);
            state.ResumeTiming();
            if (round < 4) {
                refusals_refused = refusals_refused && !loaded;
                state.counters["refusal_" + std::to_string(round + 1) + "_ms"] = ms;
            } else {
                good_loaded = loaded;
                state.counters["good_load_ms"] = ms;
            }
        }
    }
    state.counters["refused"] = refusals_refused ? 1 : 0;
    state.counters["loaded"] = good_loaded ? 1 : 0;
}
BENCHMARK(BM_RefuseStateRoundsOfTheGamesStrictType)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Arg(20000)
    ->Arg(80000);

// save_state of an open entity of state.range(0) keys and a property
// entity_strict false: its check loads the text back and undoes it. At
// 100,000 keys the state names more than a load may make (each key counted
// as a strict entity's property is) and the writer refuses it ("saved" 0).
void BM_SaveStateOpenEntityMarkedStrict(benchmark::State &state) {
    if (!start(state, state.range(0), "saved_state_bench_fill_wide")) return;
    interpreter &it = shared();
    bool saved = false;
    for (auto _ : state) {
        int arena = mrb_gc_arena_save(it.mrb);
        saved = !mrb_nil_p(host_call(it.mrb, it.runtime, "save_state"));
        state.PauseTiming();
        mrb_gc_arena_restore(it.mrb, arena);
        it.remove_copies();
        state.ResumeTiming();
    }
    state.counters["saved"] = saved ? 1 : 0;
}
BENCHMARK(BM_SaveStateOpenEntityMarkedStrict)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Arg(40000)
    ->Arg(90000)
    ->Arg(100000);

} // namespace
