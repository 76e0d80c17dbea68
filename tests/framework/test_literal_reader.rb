# Saved state is read as data: every literal the writer produces comes back
# equal, and anything that would be code in Ruby source is refused.

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
   '{:a => 1}.tap { |h| h }', '{:a => Object.new}', '#<QMX::Sound:0x5612>', '[1..3]', "['single']", '{a: 1}',
   '[__FILE__]'].each { |text| refuses(text) }
  assert_equal :untouched, $literal_reader_probe
  # Broken text is refused with where it broke.
  e = refuses('{:a => [1, 2}')
  assert e.message.include?("expected , or ] at byte 12"), e.message
  ['[1, 2', '"unterminated', '[1,]', '{:a}', '[1] [2]', '"\q"', '99999999999999999999', ''].each { |text| refuses(text) }
  e = assert_raises(QMX::LiteralReader::FormatError) { QMX::LiteralReader.parse(nil) }
  assert e.message.include?("must be text")
  # Deep nesting does not exhaust the stack.
  value = QMX::LiteralReader.parse("[" * 5000 + "7" + "]" * 5000)
  depth = 0
  value, depth = value[0], depth + 1 while value.is_a?(Array)
  assert_equal [5000, 7], [depth, value]
end

# A saved Float loads back with the same bits, through the runtime's own
# save: values such as 3/7.0 that the interpreter's own printing changes,
# random bit patterns (every exponent, both signs, subnormals) and the edges.
# (100,000 random values go through the writer and reader in
# tests/unit/float_text_test.cpp, which runs without the stressed collector.)
def test_saved_floats_come_back_bit_for_bit
  memory_ffi!
  edges = [0.0, -0.0, Float::MAX, -Float::MAX, Float::MIN, Float::EPSILON, Float::INFINITY, -Float::INFINITY]
  edges += [4, 0x000f_ffff_ffff_fffc, 0x0010_0000_0000_0000].map { |bits| [bits].pack("Q").unpack1("D") }
  randoms = Array.new(1000) { [rand(0x1_0000_0000), rand(0x1_0000_0000)].pack("L2").unpack1("D") }
  values = (edges + (1..300).map { |i| i / 7.0 } + (1..300).map { |i| i * 0.01 } + randoms).reject(&:nan?)
  $qmx = nil
  runtime = QMX::Runtime.new("Linux", false, 1280, 720, "./vellumcore mygame", "./vellumcore")
  runtime.args.state.x = 3 / 7.0
  runtime.args.state.values = values
  runtime.save_state
  runtime.load_state
  back = runtime.args.state.values
  assert_equal [3 / 7.0, values.length], [runtime.args.state.x, back.length]
  changed = values.each_index.reject { |i| [values[i]].pack("D") == [back[i]].pack("D") }
  assert_equal [], changed.first(5).map { |i| [values[i], back[i]] }
end
