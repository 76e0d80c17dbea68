# Small text helpers used throughout the framework.
class String
  include ValueType

  # Lines of at most `length` characters, each ending in "\n". Written as a
  # loop: a long text must not exhaust the interpreter's stack.
  def self.wrapped_lines(string, length)
    aggregate = []
    string.to_s.each_line do |line|
      line = line.rstrip
      if line.length < length
        aggregate << line + "\n"
      else
        words = line.split(" ")
        wrapped_lines_recur(words.shift || "", words, length, aggregate)
      end
    end
    aggregate
  end

  # Fills lines greedily: `word` starts the current line, `rest` are the words
  # still to place, finished lines are appended to `aggregate`.
  def self.wrapped_lines_recur(word, rest, length, aggregate)
    current = word
    rest.each do |next_word|
      if current.length + 1 + next_word.length <= length
        current = current + " " + next_word
      else
        aggregate << current + "\n"
        current = next_word
      end
    end
    aggregate << current + "\n"
    aggregate
  end

  def wrapped_lines(length)
    String.wrapped_lines(self, length)
  end

  def wrap(length)
    wrapped_lines(length).join.rstrip
  end

  def end_with_bang?
    end_with?("!")
  end

  def without_ending_bang
    end_with_bang? ? self[0..-2] : self
  end

  def multiline?
    include?("\n")
  end

  # Every line but the first gets `amount` copies of `char` in front.
  def indent_lines(amount, char = " ")
    prefix = char * amount
    result = ""
    first = true
    each_line do |line|
      result << prefix unless first
      result << line
      first = false
    end
    result
  end

  def quote
    "\"#{self}\""
  end

  def trim
    strip
  end

  def trim!
    strip!
  end

  def ltrim
    lstrip
  end

  def ltrim!
    lstrip!
  end

  def rtrim
    rstrip
  end

  def rtrim!
    rstrip!
  end

  def serialize
    self
  end
end
