# The assertion object handed to each test method. Every assertion notes
# that it was made, passing or not, so that a test that asserts nothing can
# be told apart from one that passed.
module QMX
  class Assert
    attr_reader :assertion_performed

    def ok!
      @assertion_performed = true
    end

    def true!(value, message = nil)
      @assertion_performed = true
      raise "#{value} was not truthy.\n#{message}" unless value
      nil
    end

    def false!(value, message = nil)
      @assertion_performed = true
      raise "#{value} was not falsey.\n#{message}" if value
      nil
    end

    def equal!(actual, expected, message = nil)
      @assertion_performed = true
      raise comparison_text(actual, "did not equal", expected, message) if actual != expected
      nil
    end

    def not_equal!(actual, expected, message = nil)
      @assertion_performed = true
      raise comparison_text(actual, "equaled", expected, message) if actual == expected
      nil
    end

    def nil!(value, message = nil)
      @assertion_performed = true
      raise "#{value} was supposed to be nil, but wasn't.\n#{message}" unless value.nil?
      nil
    end

    private

    # nil prints as nothing, so it is named.
    def comparison_text(actual, verb, expected, message)
      actual_string = "#{actual}#{actual.nil? ? ' (nil) ' : ' '}".strip
      "actual:\n#{actual_string}\n\n#{verb}\n\nexpected:\n#{expected}.\n#{message}"
    end
  end
end
