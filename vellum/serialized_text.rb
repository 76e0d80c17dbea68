module QMX
  # Objects that print as the Hash their serialize answers: the text that
  # exception reports, saved state and the console show for them.
  module SerializedText
    def inspect
      serialize.to_s
    end

    def to_s
      serialize.to_s
    end
  end
end
