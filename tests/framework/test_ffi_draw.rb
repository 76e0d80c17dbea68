# The drawer is held in instance variables of objects that games print and
# save; it must read as nothing there.
def test_drawer_prints_inspects_and_serializes_as_the_empty_string
  drawer = FFI::Draw.new
  assert_equal ["", "", "", "[]"], [drawer.to_s, drawer.inspect, drawer.serialize, [drawer].inspect]
end
