# The drawer prints, inspects and serializes as the empty string wherever it
# is held (the runtime object and args.grid keep it in instance variables).
module FFI
  class Draw
    def serialize
      "#{self}"
    end

    def inspect
      "#{self}"
    end

    def to_s
      ""
    end
  end
end
