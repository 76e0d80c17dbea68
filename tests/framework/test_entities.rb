# args.state and the entities a game makes: dynamic properties, strict
# types, and the saved-state text going out and coming back in.

def load_state_text(text)
  QMX::OpenEntity.parse_serialization_data(QMX::LiteralReader.parse(text))
end

def test_properties_exist_once_assigned
  state = QMX::OpenEntity.new
  assert state.entity_id.is_a?(Integer)
  assert_equal({}, state.as_hash[:entity_keys_by_ref])
  assert_equal nil, state.foo
  state.foo = 1
  assert_equal 1, state.foo
  state[:a] = 5
  assert_equal 5, state.a
  assert_equal 5, state[:a]
  refute state.__contains_array_indexers__
  state[3] = :x
  assert state.__contains_array_indexers__
  assert_equal nil, state.bar(1), "an unknown call with arguments answers nil"
  assert state.__touched__
end

def test_nested_properties_come_into_being_through_nil
  state = QMX::OpenEntity.new
  state.player.x = 10
  assert state.player.is_a?(QMX::OpenEntity)
  assert_equal 10, state.player.x
  state.items << :sword
  assert_equal [:sword], state.items
end

def test_set_attributes_and_clear
  state = QMX::OpenEntity.new
  state.set!(:hp, 3)
  state.set!([:a, "b"], 0)
  assert_equal [3, 0, 0], [state.hp, state.a, state.b]
  e = assert_raises(RuntimeError) { state.attributes = 1 }
  assert e.message.include?("~attributes~")
  assert_equal [:entity_keys_by_ref, :hp, :a, :b], state.attributes.keys
  state.clear!
  assert_equal({}, state.as_hash)
end

def test_an_entity_equals_its_own_id
  e = QMX::OpenEntity.new
  assert(e == e.entity_id)
  refute(e == e.entity_id + 1)
  assert_equal nil, (e == "x")
  assert(e == e)
end

def test_new_entity_takes_its_initial_hash_and_block
  Kernel.tick_count = 7
  enemy = QMX::Entity.new_entity(:enemy, { hp: 3 }, ->(e) { e.speed = 2 })
  assert_equal [:enemy, 3, 2, 7], [enemy.entity_type, enemy.hp, enemy.speed, enemy.created_at]
  assert_equal 0, enemy.created_at_elapsed
  assert enemy.new?
  Kernel.tick_count = 9
  refute enemy.new?
  assert enemy.new?(2)
  enemy.lifetime = 1
  assert enemy.old?
ensure
  Kernel.tick_count = -1
end

def test_strict_entities_refuse_unknown_properties
  QMX::Entity.strict_entities.clear
  p = QMX::Entity.new_entity_strict(:p, { x: 1 })
  assert_equal 1, p.x
  p.x = 4
  assert_equal 4, p[:x]
  p[:x] = 5
  assert_equal 5, p.x
  e = assert_raises(RuntimeError) { p.y = 2 }
  assert e.message.start_with?("* ERROR:\nThe *strict* entity with name :p doesn't have the property y=. When converting")
  # The type's class is built once: later initial keys do not become properties.
  q = QMX::Entity.new_entity_strict(:p, { x: 1, z: 2 })
  assert q.class.equal?(p.class)
  refute q.respond_to?(:z)
end

def test_a_strict_entity_is_only_of_its_own_type
  QMX::Entity.strict_entities.clear
  a = QMX::Entity.new_entity_strict(:a, { v: 1 })
  QMX::Entity.new_entity_strict(:b, { w: 1 })
  assert a.is_a?(:a)
  refute a.is_a?(:b)
  assert a.is_a?(QMX::StrictEntity)
  refute a.is_a?(Hash)
end

def test_shared_values_are_shared_again_after_loading
  state = QMX::OpenEntity.new
  state.tick_count = 12
  state.a = [1]
  state.b = state.a
  state.name = "hero \"quoted\"\n"
  state.inner = { list: state.a, again: state.a }
  text = state.to_s
  # Printing keeps a value held twice; only a container holding itself is cut.
  assert text.include?(":inner=>{:list=>[1], :again=>[1]}"), text
  loop_list = [1]
  loop_list << loop_list
  assert_equal "[1, [...]]", loop_list.inspect
  assert_equal({ b: :a }, state.as_hash[:entity_keys_by_ref].select { |k, _| k == :b })
  loaded = load_state_text(text)
  assert_equal [1], loaded.a
  assert loaded.a.equal?(loaded.b)
  assert_equal "hero \"quoted\"\n", loaded.name
  assert_equal state.entity_id, loaded.entity_id
  assert_equal 12, loaded.tick_count
end

def test_new_entities_after_loading_never_reuse_a_loaded_id
  QMX::Entity.__reset_id__!
  text = "{:entity_id=>500, :entity_keys_by_ref=>{}, :hero=>{:entity_id=>900, :entity_keys_by_ref=>{}, :hp=>3}, " \
         ":crowd=>[{:entity_id=>700, :entity_keys_by_ref=>{}}]}"
  loaded = load_state_text(text)
  assert_equal [500, 900, 700], [loaded.entity_id, loaded.hero.entity_id, loaded.crowd[0].entity_id]
  assert_equal 3, loaded.hero.hp
  fresh = loaded.new_entity(:coin)
  assert fresh.entity_id > 900, "got #{fresh.entity_id}"
  assert QMX::OpenEntity.new.entity_id > fresh.entity_id
end

def test_strict_entities_round_trip_through_the_saved_text
  QMX::Entity.strict_entities.clear
  state = QMX::OpenEntity.new
  state.boss = state.new_entity_strict(:boss, { hp: 10, pos: [1, 2] })
  state.boss.hp = 7
  state.helper = state.new_entity(:helper, { tag: :blue })
  loaded = load_state_text(state.to_s)
  assert loaded.boss.is_a?(QMX::StrictEntity)
  assert_equal [7, [1, 2], true], [loaded.boss.hp, loaded.boss.pos, loaded.boss.entity_strict]
  assert_equal state.boss.entity_id, loaded.boss.entity_id
  assert_equal :blue, loaded.helper.tag
  assert_equal :helper, loaded.helper.entity_type
  # A plain Hash stays a Hash.
  assert_equal({ x: 1 }, QMX::Entity.parse_serialization_data({ x: 1 }))
end

def test_corrupt_save_data_names_what_failed
  data = { entity_id: 3, entity_keys_by_ref: :oops, hp: 1 }
  e = assert_raises(RuntimeError) { QMX::OpenEntity.new.load_entity_data!(data) }
  assert e.message.start_with?("* ERROR:\nFailed to load entity data from:\n\n#+begin_src\n")
  assert e.message.include?("The save data looks to be corrupt.\n\n** INNER EXCEPTION:\n")
end

class SerializeProbe
  include QMX::Serialize

  def initialize
    @name = "n"
    @count = 2
    @missing = nil
    @off = false
    @items = { a: 1 }
    @sound = QMX::Sound.new(path: "s.wav")
  end
end

def test_serialize_keeps_values_and_leaves_out_nil_and_false
  assert_equal({ name: "n", count: 2, items: [[:a, 1]], sound: { path: "s.wav" } }, SerializeProbe.new.serialize)
end
