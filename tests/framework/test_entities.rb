# args.state and the entities a game makes: dynamic properties, strict
# types, and the saved-state text going out and coming back in.

def load_state_text(text)
  QMX::OpenEntity.parse_serialization_data(QMX::LiteralReader.parse(text))
end

def test_properties_come_into_being_through_nil_and_entities_know_their_id_and_age
  state = QMX::OpenEntity.new
  assert_equal nil, state.foo
  state[:a] = 5
  assert_equal [5, nil], [state.a, state.bar(1)]
  state.player.x = 10
  state.items << :sword
  assert_equal [QMX::OpenEntity, 10, [:sword]], [state.player.class, state.player.x, state.items]
  assert_raises(RuntimeError) { state.attributes = 1 }
  Kernel.tick_count = 7
  enemy = QMX::Entity.new_entity(:enemy, { hp: 3 }, ->(e) { e.speed = 2 })
  assert_equal [:enemy, 3, 2, 7], [enemy.entity_type, enemy.hp, enemy.speed, enemy.created_at]
  assert enemy == enemy.entity_id && enemy != enemy.entity_id + 1 && enemy.new?
  Kernel.tick_count = 9
  assert !enemy.new? && enemy.new?(2)
ensure
  Kernel.tick_count = -1
end

def test_accessors_belong_to_the_entity_that_used_them_and_mark_it_touched
  a = QMX::OpenEntity.new
  b = QMX::OpenEntity.new
  a.hp = 3
  assert_equal [3, [:hp, :hp=], false], [a.hp, a.singleton_methods.sort, b.respond_to?(:hp)]
  assert_raises(ArgumentError) { a.hp(1) }
  b.__touched__ = false
  b.rand = 4
  assert_equal [4, true, nil, [:rand=]], [b.rand, b.__touched__, a.rand, b.singleton_methods]
end

def test_strict_entities_refuse_unknown_properties_and_are_only_of_their_own_type
  QMX::Entity.strict_entities.clear
  p = QMX::Entity.new_entity_strict(:p, { x: 1 })
  p[:x] += 1
  assert_equal 2, p.x
  e = assert_raises(RuntimeError) { p.y = 2 }
  assert e.message.start_with?("* ERROR:\nThe *strict* entity with name :p doesn't have the property y=. When converting")
  # The type's class is built once: later initial keys do not become properties.
  q = QMX::Entity.new_entity_strict(:p, { x: 1, z: 2 })
  assert q.class.equal?(p.class) && !q.respond_to?(:z)
  QMX::Entity.new_entity_strict(:b, { w: 1 })
  assert_equal [true, false, true], [p.is_a?(:p), p.is_a?(:b), p.is_a?(QMX::StrictEntity)].map { |v| !!v }
end

def test_saved_text_comes_back_with_shared_values_strict_entities_and_fresh_ids
  QMX::Entity.strict_entities.clear
  state = QMX::OpenEntity.new
  state.a = [1]
  state.inner = { list: state.a, again: state.a }
  state.boss = state.new_entity_strict(:boss, { hp: 10, pos: [1, 2] })
  state.boss.hp = 7
  state.helper = state.new_entity(:helper, { tag: :blue })
  state.helper.mine = state.helper.also_mine = [3]
  text = state.to_s
  # Printing keeps a value held twice; only a container holding itself is cut.
  assert text.include?(":inner=>{:list=>[1], :again=>[1]}"), text
  loaded = load_state_text(text)
  assert_equal [{ list: [1], again: [1] }, true], [loaded.inner, loaded.boss.is_a?(QMX::StrictEntity)]
  assert_equal [7, [1, 2], state.boss.entity_id], [loaded.boss.hp, loaded.boss.pos, loaded.boss.entity_id]
  assert_equal [:blue, :helper], [loaded.helper.tag, loaded.helper.entity_type]
  assert loaded.helper.mine.equal?(loaded.helper.also_mine), "shared inside a nested entity too"
  # Entities that hold themselves print like a Hash that does.
  state.helper.owner = state
  state.boss.pos = state.boss
  assert_equal [true, true], [":owner=>{...}", ":pos=>{...}"].map { |part| state.to_s.include?(part) }
  # Loaded ids are never reused; corrupt data names what failed.
  QMX::Entity.__reset_id__!
  loaded = load_state_text("{:entity_id=>500, :entity_keys_by_ref=>{}, :hero=>{:entity_id=>900, " \
                           ":entity_keys_by_ref=>{}, :hp=>3}, :crowd=>[{:entity_id=>700, :entity_keys_by_ref=>{}}]}")
  assert_equal [500, 900, 700], [loaded.entity_id, loaded.hero.entity_id, loaded.crowd[0].entity_id]
  assert loaded.new_entity(:coin).entity_id > 900
  data = { entity_id: 3, entity_keys_by_ref: :oops, hp: 1 }
  e = assert_raises(RuntimeError) { QMX::OpenEntity.new.load_entity_data!(data) }
  assert e.message.include?("The save data looks to be corrupt.\n\n** INNER EXCEPTION:\n")
  # Nested data names the entity that failed, once.
  e = assert_raises(RuntimeError) do
    load_state_text("{:entity_id=>1, :crowd=>[[{:entity_id=>8, :entity_keys_by_ref=>:oops}]]}")
  end
  assert_equal [1, true], [e.message.split("looks to be corrupt").length - 1,
                           e.message.include?("{:entity_id=>8, :entity_keys_by_ref=>:oops}\n#+end_src")]
end

