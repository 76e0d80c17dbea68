# Marks values that are stored as they are when game state is saved:
# serialization writes them literally instead of asking them to serialize.
module ValueType
end

class TrueClass
  include ValueType
end
