module QMX
  # A developer tool: `trace!` wraps every method of an object's class so
  # that each call, its arguments, its duration and its failure end up in
  # "logs/trace.txt".
  module Trace
    PREFIX = "__trace_original_"

    # Never traced: what every object inherits (reflection, printing,
    # logging, conversion ...) and the accessors the tick itself uses.
    IGNORED_METHODS = (
      [:state, :inputs, :outputs, :args=, :grid, :qmx, :vellum, :args, :passes, :tick,
       :send, :__send__, :method_missing, :respond_to?, :raise, :require,
       :numeric_or_default, :f_or_default, :s_or_default, :i_or_default,
       :primitive_marker, :repl, :xrepl, :comment, :help, :to_s, :inspect,
       :serialize, :initialize, :initialize_copy, :class, :hash, :eql?, :==, :equal?,
       :object_id, :__id__, :instance_variables, :instance_variable_get,
       :instance_variable_set, :is_a?, :kind_of?, :instance_of?, :nil?,
       :puts, :print, :p, :log, :log_info, :log_error] +
      Object.instance_variable_get(:@__object_methods__).to_a +
      Kernel.instance_methods
    ).uniq.freeze

    def self.traced_classes
      @traced_classes ||= []
    end

    def self.mark_class_as_traced!(klass)
      traced_classes << klass
    end

    def self.trace_method_name_for(m)
      :"#{PREFIX}#{m}__"
    end

    def self.original_method_name_for(m)
      text = m.to_s
      return m unless text.start_with?(PREFIX) && text.end_with?("__")
      text[PREFIX.length..-3].to_sym
    end

    def self.filter_methods_to_trace(methods)
      methods.reject { |m| m.to_s.start_with?("__trace_") || IGNORED_METHODS.include?(m) }
    end

    def self.trace_times_string
      ($trace_performance || {}).to_a.sort_by { |_, entry| -entry[:avg] }.map do |key, entry|
        "#{key}: #{entry[:sum].round(2)}/#{entry[:count]} #{entry[:min]}ms min, " \
        "#{entry[:avg].round(2)}ms avg, #{entry[:max]}ms max"
      end.join("\n")
    end

    def self.flush_trace(pad_with_newline = false)
      original_puts "(Trace info flushed!)"
      pieces = $trace_puts || []
      if !pieces.empty? && $qmx && !$qmx.production
        text = (pieces.join.strip + "\n" + trace_times_string + "\n").strip
        text = "\n" + text if pad_with_newline
        $qmx.append_file_root("logs/trace.txt", text)
      end
      $trace_puts = []
      nil
    end

    def self.trace!(instance = nil)
      $trace_enabled = true
      $trace_call_depth ||= 0
      $trace_performance = {}
      $trace_history ||= []
      flush_trace
      instance ||= $top_level
      klass = instance.class
      return nil if traced_classes.include?(klass)
      unless klass.method_defined?(:__trace_call_depth__)
        klass.send(:define_method, :__trace_call_depth__) { @__trace_call_depth__ }
        klass.send(:define_method, :__trace_call_depth__=) { |value| @__trace_call_depth__ = value }
      end
      filter_methods_to_trace(klass.instance_methods(false)).each do |m|
        trace_name = trace_method_name_for(m)
        klass.send(:alias_method, trace_name, m)
        ($trace_puts ||= []) << "Tracing #{m} on #{klass.name}.\n"
        klass.send(:define_method, m) do |*args, **kw, &block|
          QMX::Trace.invoke_traced(self, m, trace_name, args, kw, block)
        end
      end
      mark_class_as_traced!(klass)
      nil
    end

    # One call of a traced method: records the call, its duration and its
    # outcome, and keeps the per-method timings.
    def self.invoke_traced(instance, m, trace_name, args, kw, block)
      depth = instance.__trace_call_depth__ || 0
      indent = " " * (8 * depth)
      instance.__trace_call_depth__ = depth + 1
      $trace_call_depth = depth + 1
      shown = kw.empty? ? args : args + [kw]
      parameters = shown.to_s[1..-2]
      pieces = ($trace_puts ||= [])
      pieces << "\n  #{indent}#{m}(#{parameters})"
      $last_method_traced = trace_name
      ($trace_history ||= []) << [m, parameters]
      started = Time.now
      begin
        result = instance.send(trace_name, *args, **kw, &block)
      rescue Exception => e
        remaining = leave_traced_call(instance)
        pieces << "\n #{indent} failed: #{m}"
        pieces << "\n#{e}\n" if remaining == 0
        $trace_call_depth = 0
        flush_trace(true)
        raise e
      end
      duration = ((Time.now - started) * 1000.0).round(2)
      key = "#{instance.class.name}##{m}"
      entry = (($trace_performance ||= {})[key] ||= { min: 100000, max: 0, avg: 0, sum: 0, count: 0 })
      entry[:min] = duration if duration < entry[:min]
      entry[:max] = duration if duration > entry[:max]
      entry[:count] += 1
      entry[:sum] += duration
      entry[:avg] = entry[:sum] / entry[:count]
      remaining = leave_traced_call(instance)
      $trace_call_depth = remaining
      slow = duration > 10 ? "!!! " : ""
      pieces << "\n #{indent} #{slow}#{duration}ms success: #{m}"
      if remaining == 0
        pieces << "\n"
        $trace_history = []
      end
      result
    end

    def self.leave_traced_call(instance)
      depth = (instance.__trace_call_depth__ || 1) - 1
      depth = 0 if depth < 0
      instance.__trace_call_depth__ = depth
      depth
    end

    def self.untrace_classes!
      traced_classes.each do |klass|
        [:__trace_call_depth__, :__trace_call_depth__=].each do |accessor|
          klass.send(:remove_method, accessor) if klass.instance_methods(false).include?(accessor)
        end
        klass.instance_methods(false).each do |name|
          next unless name.to_s.start_with?(PREFIX)
          klass.send(:alias_method, original_method_name_for(name), name)
          klass.send(:remove_method, name)
        end
      end
      @traced_classes = []
      $last_method_traced = nil
      $trace_enabled = false
      if $qmx && !$qmx.production
        $qmx.write_file_root("logs/trace.txt",
                             "Add trace!(SOMEOBJECT) to the top of ~tick~ and this file will be populated with invocation information.\n")
      end
      nil
    end
  end
end
