module QMX
  # Arithmetic and comparison as functions over any number of values, which
  # answer nil instead of raising for NaN, infinity and division by zero;
  # small array and logic functions; and an Org-mode outline of any value.
  # Used through its class methods only.
  #
  # Only the arithmetic operators get operator-named forms: the comparison
  # and equality operators of a class object are Module's own and must keep
  # meaning what they mean for every other class.
  class Fn
    # The values the arithmetic and comparison functions work on: nils
    # skipped, nested arrays flattened; nil when a value is NaN or infinite.
    def self.__numeric_values__(values)
      values = values.flatten if values.any? { |v| v.is_a?(Array) }
      result = []
      values.each do |v|
        next if v.nil?
        return nil if v.is_a?(Float) && (v.nan? || v.infinite?)
        result << v
      end
      result
    end

    def self.add(*nums)
      values = __numeric_values__(nums)
      return nil unless values
      sum = 0
      values.each { |v| sum += v }
      sum
    end

    def self.+(*nums)
      add(*nums)
    end

    def self.sub(*nums)
      values = __numeric_values__(nums)
      return nil if values.nil? || values.empty?
      return -values[0] if values.length == 1
      result = values[0]
      values[1..-1].each { |v| result -= v }
      result
    end

    def self.-(*nums)
      sub(*nums)
    end

    # Divides the first value by each of the others in turn (a single value
    # divides 1); nil on a division by zero.
    def self.__divide_all__(nums, operator)
      values = __numeric_values__(nums)
      return nil unless values
      return 1 if values.empty?
      values = [1] + values if values.length == 1
      result = values[0]
      values[1..-1].each do |v|
        return nil if v == 0
        result = result.send(operator, v)
      end
      result
    end

    def self.div(*nums)
      __divide_all__(nums, :fdiv)
    end

    def self./(*nums)
      div(*nums)
    end

    def self.idiv(*nums)
      __divide_all__(nums, :idiv)
    end

    def self.mul(*nums)
      values = __numeric_values__(nums)
      return nil unless values
      return 1 if values.empty?
      return values[0] if values.length == 1
      product = 1
      values.each do |v|
        return 0 if v == 0
        product *= v
      end
      product
    end

    def self.*(*nums)
      mul(*nums)
    end

    def self.__chain__(nums)
      values = __numeric_values__(nums)
      return nil if values.nil? || values.empty?
      previous = values[0]
      values[1..-1].each do |v|
        return nil unless yield(previous, v)
        previous = v
      end
      previous
    end

    def self.lt(*nums)
      __chain__(nums) { |a, b| a < b }
    end

    def self.lte(*nums)
      __chain__(nums) { |a, b| a <= b }
    end

    def self.gt(*nums)
      __chain__(nums) { |a, b| a > b }
    end

    def self.gte(*nums)
      __chain__(nums) { |a, b| a >= b }
    end

    def self.acopy(array)
      [].concat(array || [])
    end

    def self.aget(array, index)
      return nil if array.nil? || index.nil?
      array.at(index)
    end

    def self.alength(array)
      return nil if array.nil?
      array.length
    end

    def self.amap(array, block)
      return nil if array.nil? || block.nil?
      array.map(&block).to_a
    end

    def self.and(*vals)
      return true if vals.empty?
      vals.each { |v| return nil unless v }
      vals.last
    end

    def self.or(*vals)
      vals.each { |v| return v if v }
      nil
    end

    # Whether every value equals the one before it; nil is a value like any
    # other here, so eq?(nil, 1) and eq?(1, nil) are both false.
    def self.eq?(*vals)
      return true if vals.empty?
      previous = vals[0]
      vals[1..-1].each do |v|
        return false if v != previous
        previous = v
      end
      true
    end

    def self.apply(array, block)
      return nil if array.nil? || block.nil?
      block.call(*array)
    end

    def self.areduce(array, initial_value, block)
      return nil if array.nil? || block.nil?
      aggregate = initial_value
      array.each { |element| aggregate = block.call(element, aggregate) }
      aggregate
    end

    def self.array_hash(*array)
      result = {}
      array.each_slice(2) { |key, value| result[key] = value }
      result
    end

    def self.gsub(string, *from_to_pairs)
      from_to_pairs = from_to_pairs.flatten if from_to_pairs.any? { |v| v.is_a?(Array) }
      i = 0
      while i + 1 < from_to_pairs.length
        string = string.gsub(from_to_pairs[i], from_to_pairs[i + 1])
        i += 2
      end
      string
    end

    def self.__object_to_org__(o, opts = {})
      opts[:level] ||= 0
      opts[:path] ||= [:self]
      opts[:path_s] ||= "self"
      level = opts[:level]
      path = opts[:path]
      path_s = opts[:path_s]
      if o.is_a?(Hash)
        __org_container__(o.class.name.downcase.to_sym, o, level, path, path_s) { |k| "#{path_s}[:#{k}]" }
      elsif __entity__?(o)
        __org_container__(:entity, o.as_hash, level, path, path_s) { |k| "#{path_s}.#{k}" }
      elsif o.is_a?(Array)
        entries = []
        o.each_with_index do |element, i|
          child_opts = { level: level + 1, path: path + [i], path_s: "#{path_s}[#{i}]" }
          child = __object_to_org__(element, child_opts)
          entries << { level: level + 1, type: :array_entry, path: child_opts[:path], path_s: child_opts[:path_s],
                       index: i, contents: child[:type] == :string ? child[:contents] : child }
        end
        { level: level, type: :array, path: path, path_s: path_s, length: o.length, contents: entries }
      elsif o.class.name.to_s.include?("QMX::") && o.respond_to?(:serialize)
        __object_to_org__(o.serialize, opts)
      else
        { level: level, type: :string, contents: o.to_s }
      end
    end

    def self.__entity__?(o)
      (QMX.const_defined?(:OpenEntity) && o.is_a?(QMX::OpenEntity)) ||
        (QMX.const_defined?(:StrictEntity) && o.is_a?(QMX::StrictEntity))
    end

    def self.__org_container__(type, hash, level, path, path_s)
      entries = hash.map do |k, v|
        child_opts = { level: level + 1, path: path + [k], path_s: yield(k) }
        child = __object_to_org__(v, child_opts)
        { level: level + 1, type: :kvp, path: child_opts[:path], path_s: child_opts[:path_s],
          key: k, contents: child[:type] == :string ? child[:contents] : child }
      end
      { level: level, type: type, path: path, path_s: path_s, length: hash.length, contents: entries }
    end

    CONTAINER_TITLES = { array: "Array", hash: "Hash", entity: "Entity" }.freeze

    def self.__org_s__(org, aggregate = nil)
      aggregate ||= ""
      level = org[:level]
      stars = "*" * (level + 1) + " "
      spaces = " " * (level + 1) + " "
      case org[:type]
      when :kvp, :array_entry
        heading = org[:type] == :kvp ? org[:key].to_s : "[#{org[:index]}]"
        aggregate << "#{stars}#{heading}\n"
        aggregate << "#{spaces}:PROPERTIES:\n"
        aggregate << "#{spaces}:path: #{org[:path_s]}\n"
        aggregate << "#{spaces}:key: #{org[:key]}\n" if org[:type] == :kvp
        contents = org[:contents]
        if contents.is_a?(Hash)
          aggregate << "#{spaces}:value: #{contents[:type]}\n"
          aggregate << "#{spaces}:END:\n"
          __org_s__(contents, aggregate)
        else
          aggregate << "#{spaces}:value: #{contents}\n"
          aggregate << "#{spaces}:END:\n"
        end
      when :string
        aggregate << "#{stars}#{org[:contents]}\n"
      when :array, :hash, :entity
        aggregate << "#{stars}#{CONTAINER_TITLES[org[:type]]} (#{org[:path_s]})\n"
        aggregate << "#{spaces}:PROPERTIES:\n"
        aggregate << "#{spaces}:path: #{org[:path_s]}\n"
        aggregate << "#{spaces}:length: #{org[:length]}\n"
        aggregate << "#{spaces}:END:\n"
        org[:contents].each { |child| __org_s__(child, aggregate) }
      else
        raise "#{org} not recognized."
      end
      aggregate
    end

    def self.pretty_format(o)
      __org_s__(__object_to_org__(o))
    end

    def self.pretty_print(o)
      puts(pretty_format(o))
    end

    def self.eq_any?(o, *list)
      list.any? { |element| o == element }
    end
  end
end
