# Array methods that a coerced nil answers with an empty Array.
ARRAY_WHITELIST = [:map, :flat_map, :map_with_index]

# nil and false tolerate arithmetic, and (together with args.state) turn a
# method call on a nil state attribute into a value created on the spot.
module NilClassFalseClass
  def feels_like_an_array?(name)
    ARRAY_WHITELIST.include?(name)
  end

  def __check_thrash__!(m)
    nil
  end

  def frame_index(*args)
    nil
  end

  def >(other)
    __check_thrash__!(:>)
    nil
  end

  def >=(other)
    __check_thrash__!(:>=)
    nil
  end

  def <(other)
    __check_thrash__!(:<)
    nil
  end

  def <=(other)
    __check_thrash__!(:<=)
    nil
  end

  def *(other)
    return 0 if other.is_a?(Numeric)
    return nil unless other
    raise "* ERROR:\n:* not handled for NilClassFalseClass and #{other.class.name}.\n\n"
  end

  def /(other)
    return 0 if other.is_a?(Numeric)
    return nil unless other
    raise "* ERROR:\n:/ not handled for NilClassFalseClass and #{other.class.name}.\n\n"
  end

  def -(other)
    return [] if other.is_a?(Array)
    return -other if other.is_a?(Numeric)
    return nil unless other
    raise "* ERROR:\n:- not handled for NilClassFalseClass and #{other.class.name}.\n\n"
  end

  def +(other)
    return other if other.is_a?(Array) || other.is_a?(Numeric) || other.is_a?(String)
    return nil unless other
    raise "* ERROR:\n:+ not handled for NilClassFalseClass and #{other.class.name}.\n\n"
  end

  # Withdraws coercion: unknown methods fail with the framework's usual
  # missing-method explanation again.
  def unassign_method_missing
    singleton_class.class_eval do
      remove_method(:__check_thrash__!) if instance_methods(false).include?(:__check_thrash__!)
      define_method(:method_missing) do |m, *args, &block|
        NIL.method_missing(m, *args, &block)
      end
    end
    nil
  end

  def unassign_method_missing_and_raise(error)
    unassign_method_missing
    raise error
  end

  # Arms coercion for the state attribute `name` of the state hash `hash`.
  # It serves exactly one call: whichever nil receives the next unknown
  # method (or comparison) disarms it, so an unrelated nil later on cannot
  # write into this attribute.
  def assign_method_missing(hash, name, thrash_counter)
    value_class = self.class
    singleton_class.class_eval do
      define_method(:__check_thrash__!) do |m|
        unassign_method_missing
        unless m == :[] || m == :[]=
          count = (thrash_counter[m] || 0) + 1
          thrash_counter[m] = count
          if count == 3
            log "* WARNING: Method invocation on a nil value detected.\n" \
                "The method :#{m} was invoked on the attribute #{name} of args.state, which is #{inspect}.\n" \
                "The invocation was suppressed. Set a default value for #{name} (for example: args.state.#{name} ||= ...).\n"
          elsif count > 5
            unassign_method_missing_and_raise(
              "* ERROR:\nThe method #{m} was invoked on #{name} within args.state, but #{name} is #{inspect}. " \
              "Temporary coercion of #{name} has reached its invocation limit.\n\n" \
              "** State:\n#{hash}\n\n** Member: #{m}\n** Attribute: #{name}\n\n" \
              "Please set a default value for #{name} (for example: args.state.#{name} ||= ...).\n\n"
            )
          end
        end
        nil
      end

      define_method(:method_missing) do |m, *args, &block|
        if args.length >= 2
          unassign_method_missing_and_raise(
            "* ERROR:\nUndefined method for #{value_class.name}. Method: #{m}.\n\n"
          )
        end
        __check_thrash__!(m)
        if ARRAY_WHITELIST.include?(m)
          []
        elsif m == :<< && args.length == 1
          hash[name] = []
          hash[name] << args[0]
        elsif m == :set!
          hash[name] = QMX::OpenEntity.new
          hash[name].set!(*args, &block)
        elsif m.to_s == "#{name}="
          hash[name] = args[0]
        else
          hash[name] = QMX::OpenEntity.new(name) unless hash[name]
          hash[name].send(m, *args, &block)
        end
      end
    end
    nil
  end

  def serialize
    nil
  end

  def to_hash
    nil
  end

  def merge(*args)
    nil
  end
end

class NilClass
  include NilClassFalseClass
end

class FalseClass
  include ValueType
  include NilClassFalseClass
end
