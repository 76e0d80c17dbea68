# Saved state is read as data: every literal the writer produces comes back
# equal, and anything that would be code in Ruby source is refused. The
# writer prints plain values as the interpreter does, at any depth, and names
# the path to a value it cannot save.

class SavedTextRefusingSave
  def serialize
    raise ArgumentError, "no save today"
  end
end

class SavedTextBadName < String
  def inspect
    raise "boom"
  end
end

def refuses(text)
  e = assert_raises(QMX::LiteralReader::FormatError) { QMX::LiteralReader.parse(text) }
  assert e.message.start_with?("* ERROR:\nSaved state may only hold literal"), "#{text}: #{e.message}"
  e
end

def test_every_literal_the_writer_produces_comes_back
  all_bytes = ""
  256.times { |i| all_bytes << i.chr }
  big = 9_223_372_036_854_775_807
  value = {
    :a => 1, "b" => -2.5, :"c d" => nil, :e? => true, :f! => false, :g= => big, :h => -big,
    :[] => [], :[]= => {}, :+ => :-, :<=> => :==, :=== => :!, :A => :@iv, :@@cv => :$g, :$1 => :"",
    3 => all_bytes, :text => "\#{not code} \#$x \#@y #", :floats => [1.0e+20, 1.0e-07, -0.0, 123.456],
    :nested => [[[{ deep: [:sym] }]]], :"é" => "é"
  }
  back = QMX::LiteralReader.parse(value.inspect)
  assert_equal value.inspect, back.inspect
  # Integers beyond 62 bits compare by identity in this interpreter.
  assert back[:g=].eql?(big)
  [value, back].each { |h| h.delete(:g=); h.delete(:h) }
  assert_equal value, back
  inf = QMX::LiteralReader.parse("[Infinity, -Infinity, NaN]")
  assert_equal [Float::INFINITY, -Float::INFINITY], inf[0, 2]
  assert inf[2].nan?
  assert_equal({ a: 1, b: [2, 3] }, QMX::LiteralReader.parse(" {\n :a => 1 ,\t:b=>[ 2,3 ] }\n"))
  # Symbols next to arrows read as the writer meant.
  assert_equal({ :a= => 1, :a => 2, :<= => 3, :== => 4 }, QMX::LiteralReader.parse("{:a==>1, :a=>2, :<==>3, :===>4}"))
end

def test_code_and_broken_text_are_refused
  $literal_reader_probe = :untouched
  ['"#{$literal_reader_probe = :ran}"', '[$literal_reader_probe = :ran]', '{:a => `touch /tmp/x`}',
   '{:a => 1}.tap { |h| h }', '{:a => Object.new}', '#<QMX::Sound:0x5612>', '[1..3]', '{a => 1}',
   '[__FILE__]'].each { |text| refuses(text) }
  assert_equal :untouched, $literal_reader_probe
  # Broken text is refused with where it broke.
  e = refuses('{:a => [1, 2}')
  assert e.message.include?("expected , or ] at byte 12"), e.message
  [['[1, 2', 'expected , or ] at byte 5: ""'], ['"unterminated', 'unterminated string at byte 13: ""'],
   ['[1,,]', 'not a literal at byte 3: ",]"'], ['{:a}', 'expected => at byte 3: "}"'],
   ['[1] [2]', 'unexpected text after the saved value at byte 4: "[2]"'],
   ['"\u{110000}"', 'bad \u escape at byte 1: "\\\\u{110000}\\""'],
   ['99999999999999999999', 'integer out of range at byte 0: "99999999999999999999"'],
   ['', 'unexpected end of the saved text at byte 0: ""'],
   ['"a#{b}"', 'interpolation in a string at byte 2: "\\#{b}\\""'], ['"\x"', 'bad \x escape at byte 1: "\\\\x\\""'],
   [':9', 'not a symbol at byte 1: "9"'], ['[-x]', 'not a number at byte 2: "x]"'], ['[1e+]', 'not a number at byte 4: "]"'],
   ['-Inf', 'not a number at byte 4: ""'], ['nope', 'not a literal at byte 4: ""'],
   ['{:a=>1 :b=>2}', 'expected , or } at byte 7: ":b=>2}"'], ['{1=>2,,}', 'not a literal at byte 6: ",}"'],
   ['{:a=>1]', 'expected , or } at byte 6: "]"'], ['[1.5.2]', 'expected , or ] at byte 4: ".2]"'],
   [':"a', 'unterminated string at byte 3: ""'], ['[08]', 'not a number at byte 2: "8]"'],
   ['[0_8]', 'not a number at byte 3: "8]"'], ['[1__2]', 'expected , or ] at byte 2: "__2]"'], ["['a", 'unterminated string at byte 3: ""'],
   ['{a :1}', 'not a literal at byte 2: " :1}"'], ['{"a" : 1}', 'expected => at byte 5: ": 1}"'],
   ['[0x8000000000000000]', 'integer out of range at byte 1: "0x8000000000000000]"']].each do |text, where|
    e = refuses(text)
    assert e.message.end_with?("\n#{where}\n"), "#{text}: #{e.message}"
  end
  e = assert_raises(QMX::LiteralReader::FormatError) { QMX::LiteralReader.parse(nil) }
  assert e.message.include?("must be text")
  # Deep nesting does not exhaust the stack.
  value = QMX::LiteralReader.parse("[" * 5000 + "7" + "]" * 5000)
  depth = 0
  value, depth = value[0], depth + 1 while value.is_a?(Array)
  assert_equal [5000, 7], [depth, value]
end

def test_plain_values_are_written_as_the_interpreter_prints_them_at_any_depth
  all_bytes = ""
  256.times { |i| all_bytes << i.chr }
  symbols = %w[a a? b! c= c\ d [] []= <=> == ! @iv @@cv $g $1 \xC3\xA9 A 9a +@ $-w $, a=b => $ @1 = ?].map(&:to_sym) << :""
  value = { all_bytes => symbols, 3 => [nil, true, false, -9_223_372_036_854_775_807 - 1, 2**62, [], {}],
            nil => { "\#{x}" => "\#$y \#@z #", false => [[[:deep]]] } }
  # Many pairs and elements, so that a collection during the reading finds
  # every key and value held somewhere.
  value[:many] = Array.new(2000) { |i| { "key #{i}" => ["value #{i}", { i => "#{i}" }] } }
  text = QMX::LiteralWriter.write(value)
  assert_equal value.inspect, text
  # Integers beyond 62 bits compare by identity, so the texts are compared.
  assert_equal text, QMX::LiteralReader.parse(text).inspect
  deep = [7]
  100_000.times { deep = [{ d: deep }] }
  text = QMX::LiteralWriter.write(deep)
  assert_equal "[{:d=>" * 100_000 + "[7]" + "}]" * 100_000, text
  value = QMX::LiteralReader.parse(text)
  depth = 0
  value, depth = value[0][:d], depth + 1 while value.is_a?(Array) && value[0].is_a?(Hash)
  assert_equal [100_000, [7]], [depth, value]
end

def test_a_value_that_cannot_be_saved_or_whose_serialize_raises_is_named_by_its_path
  QMX::Entity.strict_entities.clear
  boss = QMX::Entity.new_entity_strict(:boss, { x: nil })
  boss.x = [1, boss]
  e = assert_raises(QMX::LiteralWriter::UnsavableError) { QMX::LiteralWriter.write({ list: [boss] }, "args.state") }
  assert_equal "args.state[:list][0].x[1] holds args.state[:list][0] itself, which saved state cannot hold.", e.message
  # Keys are written as values are, and a path through a key shows it as
  # written, or names a key itself by its place.
  [[[1, { a: SavedTextRefusingSave.new }], "state[1][:a] could not be written: its serialize raised ArgumentError (no save today)."],
   [{ [1, 2] => (1..2) }, "state[[1, 2]] holds a Range (1..2), which saved state cannot hold."],
   [{ a: { [3, SavedTextBadName.new("x")] => 4 } }, "state[:a].keys[0][1] could not be written: its inspect raised RuntimeError (boom)."]
  ].each do |value, message|
    e = assert_raises(QMX::LiteralWriter::UnsavableError) { QMX::LiteralWriter.write(value) }
    assert_equal message, e.message
  end
  assert_equal "{{[1]=>{}}=>[{}]}", QMX::LiteralWriter.write({ { [1] => {} } => [{}] })
  # A value held twice is written twice; only one inside itself is refused.
  shared = [1]
  assert_equal "[[1], {:again=>[1]}]", QMX::LiteralWriter.write([shared, { again: shared }])
end
