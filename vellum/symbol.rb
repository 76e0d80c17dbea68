# Symbols answer the text helpers games use on names.
class Symbol
  include ValueType

  def include?(value)
    to_s.include?(value)
  end

  def start_with?(*values)
    to_s.start_with?(*values)
  end

  def gsub(*args)
    to_s.gsub(*args)
  end

  def end_with_bang?
    to_s.end_with?("!")
  end

  def without_ending_bang
    end_with_bang? ? to_s[0..-2].to_sym : self
  end
end
