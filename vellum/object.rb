# Every Ruby value in a game carries these conveniences and, above all,
# failures that explain themselves in the console.
class Object
  # The framework's own source files, left out of the caller lines shown to
  # game authors.
  QMX_RUBY_SOURCE_FILES = ["object.rb", "layout.rb", "layout_juiced.rb", "vellum.rb"].freeze

  @@__fast_rand_numbers__ = nil
  @@__to_s_explained__ = {}
  @@__serialization_explained__ = {}

  # The interpreter's own text ("#<Foo:0x...>"), kept before `to_s` below
  # replaces it.
  alias_method :__core_to_s__, :to_s unless method_defined?(:__core_to_s__)

  # --- class macros --------------------------------------------------------

  def self.attr(*vars)
    attr_accessor(*vars)
  end

  # Each name is listed once; a Hash beside the list keeps that check
  # constant, so that a class of many attributes (a strict entity type
  # loaded with thousands of properties) costs in proportion to them.
  def self.attr_accessor(*vars)
    @attributes ||= []
    @attribute_names ||= {}
    vars.each do |var|
      next if @attribute_names.key?(var)
      @attribute_names[var] = true
      @attributes << var
    end
    super
  end

  def self.attributes
    @attributes || []
  end

  def self.new(*args, **kw, &block)
    super(*args, **kw, &block)
  rescue Exception => e
    text = "#{e.message}\n* ERROR: Invocation of #{name}.new failed.\n** BACKTRACE:\n" \
           "#{(e.backtrace || []).join("\n")}\n"
    wrapped = begin
      e.class.exception(text)
    rescue Exception
      nil
    end
    # What the exception carries besides its text (a missing method's name
    # and arguments, a game's own fields) survives the richer text.
    e.instance_variables.each { |iv| wrapped.instance_variable_set(iv, e.instance_variable_get(iv)) } if wrapped
    raise(wrapped || e)
  end

  def self.attr_sprite
    include AttrSprite
  end

  def self.attr_rect
    include AttrRect
  end

  def self.attr_qmx
    include AttrQMX
  end

  def self.qmx_args
    raise "* ERROR:\n~qmx_args~ has been deprecated. Use the class macro ~attr_qmx~ instead.\n\n"
  end

  # --- instance methods ----------------------------------------------------

  def attr_sprite
    return nil if self.class.include?(AttrSprite)
    self.class.send(:include, AttrSprite)
  end

  def attr_rect
    return nil if self.class.include?(AttrRect)
    self.class.send(:include, AttrRect)
  end

  def attr_qmx
    return nil if self.class.include?(AttrQMX)
    self.class.send(:include, AttrQMX)
  end

  def purge_class(symbol)
    symbol = symbol.to_sym if symbol.is_a?(String)
    raise "* ERROR:\nPurge class requires a symbol.\n\n" unless symbol.is_a?(Symbol)
    return nil unless Object.const_defined?(symbol)
    Object.send(:remove_const, symbol)
  end

  def raise_immediately(e, m, *args)
    puts e.to_s.rstrip if e
    text = "** value: #{self}\n** type: #{self.class}\n** method: :#{m}\n** args: #{args}\n** docs: $qmx.docs.#{m}"
    raise(e || RuntimeError, text)
  end

  def raise_with_caller(e, inner_exception = nil)
    log(inner_exception) if inner_exception
    raise e
  end

  def or(other)
    self ? self : other
  end

  def and(other)
    self ? other : self
  end

  def __supports_ivars__?
    self ? true : false
  end

  def fast_rand
    return rand unless self
    @@__fast_rand_numbers__ ||= (0..100).map { |i| (i / 100.0).round(2) }
    @@__fast_rand_numbers__.shuffle!.first
  end

  def __qmx_ruby_source_files__
    self ? QMX_RUBY_SOURCE_FILES : []
  end

  def __qmx_ruby_string_contains_source_file_path__?(s)
    text = s.to_s
    QMX_RUBY_SOURCE_FILES.any? { |file| text.include?(file) }
  end

  def __caller_without_noise__
    caller.reject { |line| __qmx_ruby_string_contains_source_file_path__?(line) }
  end

  def __pretty_print_exception__(e, inner_exception = nil)
    runtime_itself = QMX.const_defined?(:Runtime) && is_a?(QMX::Runtime)
    class_line = runtime_itself ? "" : "\n#{self.class}"
    text = if inner_exception
             "* EXCEPTION:\n#{e}\n* INNER EXCEPTION: #{inner_exception}\n#{class_line}"
           elsif runtime_itself && !e.to_s.include?("\n")
             "* EXCEPTION: #{e}\n#{e.__backtrace_to_org__}"
           else
             "* EXCEPTION:\n#{e}#{class_line}\n#{e.__backtrace_to_org__}"
           end
    tracing = $trace_enabled
    if tracing && $last_method_traced
      call_stack = ($trace_history || []).map { |m, parameters| "*** #{m}(#{parameters})" }.join("\n")
      text = "* ERROR:\n#{text}\n** Method: #{QMX::Trace.original_method_name_for($last_method_traced)}\n" \
             "** Call Stack:\n#{call_stack}"
    end
    log "#{text} (#{Kernel.global_tick_count})"
    log_info "Trace data exported to logs/trace.txt." if tracing
    text
  end

  def raise_error_with_kind_of_okay_message(e, name, *args)
    text = begin
      "* ERROR:\nmethod_missing: :#{name}\n" \
      "** Instance: #{self}\n" \
      "** Class: #{self.class}\n" \
      "** Included modules: #{self.class.included_modules}\n" \
      "** Value: #{inspect}\n" \
      "** Args: #{args}\n" \
      "** Exception: #{e}\n" \
      "#{e.__backtrace_to_org__}\n"
    rescue Exception => failure
      raise failure, [e, name, args].join(", ")
    end
    raise e, text
  end

  def better_instance_information
    "#{self} #{self.class}"
  end

  def better_class_hierarchy_information
    return [Kernel] if equal?(Kernel)
    return [NilClass] if equal?(NIL)
    list = if is_a?(Module)
             [self] + ancestors
           else
             singleton = begin
               singleton_class
             rescue Exception
               nil
             end
             singleton ? [self.class, singleton] + singleton.ancestors : [self.class] + self.class.ancestors
           end
    list.uniq.reject do |m|
      m == Kernel || m == Object || m == BasicObject || m.name.to_s.include?("Deprecated")
    end
  end

  def raise_method_missing_better_error(name, *args, &block)
    text = begin
      # The engine's own objects are named by their class alone: their
      # mixins and what they hold are nothing a game can change, and
      # inspecting them would dump the whole runtime.
      engine = __engine_object__?
      hierarchy = engine ? [self.class] : better_class_hierarchy_information
      runtime = $qmx
      suggestions = runtime && runtime.respond_to?(:grep_did_you_mean) ? runtime.grep_did_you_mean(self, name) : ""
      "* ERROR:\nUnhandled method_missing with name :#{name}, args #{args} was invoked on #{hierarchy}.\n\n" \
      "#{engine ? '' : "** Inspect:\n#{inspect}\n\n"}" \
      "The method :#{name} does not exist on #{hierarchy}.\n\n" \
      "#{suggestions}"
    rescue Exception => e
      raise_error_with_kind_of_okay_message(e, name, *args)
    end
    raise NoMethodError.new(text, name, args)
  end

  # An instance of one of the engine's classes (the runtime, args, the
  # native service objects).
  def __engine_object__?
    return false if is_a?(Module)
    name = self.class.name.to_s
    name.start_with?("QMX::") || name.start_with?("FFI::")
  end

  def __normalized_docs_method__(name, *args)
    return :docs_search if name == :doc_search
    return :docs if name == :doc
    text = name.to_s
    text.include?("doc_") ? text.gsub("doc_", "docs_").to_sym : name
  end

  def __looks_like_docs__?(name, *args)
    normalized = __normalized_docs_method__(name)
    return true if normalized == :docs
    return false unless normalized.to_s.include?("docs_")
    respond_to?(normalized) || self.class.respond_to?(normalized)
  end

  def __try_invoke_docs_method__(name, *args)
    normalized = __normalized_docs_method__(name)
    return send(normalized, *args) if respond_to?(normalized)
    return self.class.send(normalized, *args) if self.class.respond_to?(normalized)
    raise "* ERROR:\nUnable to find documentation named #{normalized} on either the instance #{self} " \
          "or the class #{self.class.name}.\n\n"
  end

  # A name the receiver does define reaches method_missing only through a
  # `super` that found nothing above it; saying the method does not exist
  # would send the author looking in the wrong class.
  def __missing_superclass_method__?(name)
    klass = begin
      singleton_class
    rescue Exception
      self.class
    end
    klass.method_defined?(name)
  end

  def method_missing_core(name, *args, &block)
    if __missing_superclass_method__?(name)
      raise NoMethodError.new("no superclass method '#{name}'", name, args)
    end
    return __try_invoke_docs_method__(name, *args) if __looks_like_docs__?(name)
    if name == :* && args[0].is_a?(Enumerable)
      raise NoMethodError.new(
        "* ERROR:\nYou attempted to do multiplication on #{self} with #{args[0]}.\n" \
        "If you meant to pass a list as arguments (a splat), you are probably missing a comma " \
        "before the * (for example: some_method arg, *list instead of some_method arg *list).\n\n", name, args)
    end
    if self.class == Object
      begin
        $qmx.console.set_command("$qmx.grep_source \".#{name}\"") if $qmx
      rescue Exception
        # Pre-filling the console is a courtesy; the error below is the point.
      end
      text = if name == :args
               "* ERROR:\nUndefined method args for #{self}. Did you forget to pass in args as a parameter?\n\n"
             else
               "* ERROR:\nUndefined method #{name} for #{self}.\n\n"
             end
      raise NoMethodError.new(text, name, args)
    end
    raise_method_missing_better_error(name, *args, &block)
  end

  def method_missing(name, *args, &block)
    method_missing_core(name, *args, &block)
  end

  def numeric_or_default(default = 0)
    is_a?(Numeric) ? self : default
  end

  def f_or_default(default = 0)
    is_a?(Numeric) ? to_f : default
  end

  def i_or_default(default = 0)
    is_a?(Numeric) ? to_i : default
  end

  def s_or_default(default = "")
    self ? to_s : default
  end

  def require(file)
    $qmx.require(file)
  end

  def __custom_object_methods__
    (methods - __object_methods__).reject { |m| m.to_s.start_with?("__") }.sort - Object.methods
  end

  def autocomplete_methods
    __custom_object_methods__
  end

  # The names every object answers (the interpreter's and the framework's),
  # fixed when the framework finished loading its Object extensions.
  def __object_methods__
    Object.instance_variable_get(:@__object_methods__) || []
  end

  def help
    if self.class == Object
      "\nType $qmx.help into the console.\n"
    else
      "* INFO: Customized help is not available for #{self.class.name}.\n" \
      "Here are the custom methods it has:\n#{__custom_object_methods__.map { |m| "- #{m}" }.join("\n")}\n"
    end
  end

  def to_s
    klass = self.class
    unless @@__to_s_explained__[klass]
      @@__to_s_explained__[klass] = true
      log_info "The text of ~#{klass.name}#to_s~ probably doesn't look too helpful. " \
               "Try calling ~help~ or ~docs~ on the object instead."
    end
    __core_to_s__
  end

  def primitive_marker
    nil
  end

  def metadata_object_id
    object_id
  end

  def trace!(instance = nil)
    instance ||= equal?(Object) ? nil : self
    QMX::Trace.trace!(instance)
  end

  def repl(&block)
    BareDefinitionsContainer.new.instance_eval(&block)
    $qmx.console.set_command("$qmx.console.close") if $qmx
    nil
  end

  def xrepl(*args)
    nil
  end

  def comment(*args)
    nil
  end

  def serialize
    __explain_serialization_once__
    nil
  end

  # The interpreter's text, with the instance variables listed.
  def inspect
    __explain_serialization_once__
    names = instance_variables
    core = __core_to_s__
    return core if names.empty?
    stack = ($__inspecting__ ||= [])
    return core[0..-2] + " ...>" if stack.include?(__id__)
    stack << __id__
    begin
      core[0..-2] + " " + names.map { |n| "#{n}=#{instance_variable_get(n).inspect}" }.join(", ") + ">"
    ensure
      stack.pop
    end
  end

  def __explain_serialization_once__
    klass = self.class
    return if @@__serialization_explained__[klass]
    @@__serialization_explained__[klass] = true
    # The engine's own classes, native ones included, are not the author's
    # to change.
    return if __engine_object__?
    return unless QMX.const_defined?(:Help)
    log_once klass.name.to_s, QMX::Help.serialization_implementation_help(klass)
  end

  def id
    nil
  end

  def associate(hash = nil)
    to_hash.merge(hash || {})
  end

  def let
    unless block_given?
      raise "* ERROR:\n~let~ requires a block. It hands the receiver to the block and answers the block's result.\n" \
            "For example:\n\n  total = 5.let { |n| n * 2 } # total is 10\n\n"
    end
    yield self
  end

  def ivar(m)
    name = m.to_s
    name = "@#{name}" unless name.start_with?("@")
    instance_variable_get(name)
  end

  def __help_contract_implementation(contract_methods)
    implemented = contract_methods.select { |m| respond_to?(m) }
    not_implemented = contract_methods.reject { |m| implemented.include?(m) }
    {
      contract_methods: contract_methods,
      implemented_methods: implemented,
      not_implemented_methods: not_implemented,
      all_methods_implemented: not_implemented.empty?,
      exception: nil
    }
  rescue Exception => e
    { exception: e }
  end

  def docs
    klass = self.class
    if Object.const_defined?(:Docs) && klass.singleton_class.include?(Docs)
      klass.docs
    else
      "* DOCS ERROR: Documentation is not available for #{klass.name}.\n" \
      "To add documentation, create a module with methods named docs_... that answer texts and extend the class " \
      "with it and with ~Docs~, for example:\n\n" \
      "  module #{klass.name}Docs\n    def docs_method_name\n      \"Documentation text.\"\n    end\n  end\n\n" \
      "  class #{klass.name}\n    extend Docs\n    extend #{klass.name}Docs\n  end\n"
    end
  end

  # --- logging -------------------------------------------------------------

  def log_print(*args)
    QMX::Log.print(*args)
  end

  def log_important(*args)
    QMX::Log.puts_important(*args)
  end

  def log(*args)
    QMX::Log.puts(*args)
  end

  def log_error(*args)
    QMX::Log.puts_error(*args)
  end

  def log_info(*args)
    QMX::Log.puts_info(*args)
  end

  def log_once(*ids, message)
    QMX::Log.puts_once(*ids, message)
  end

  def log_once_info(*ids, message)
    QMX::Log.puts_once_info(*ids, message)
  end

  def log_with_color(xterm_escape_code, *args)
    log_print(xterm_escape_code)
    log(*args)
  ensure
    log_reset_color
  end

  def log_reset_color
    log_print(XTERM_COLOR[:reset])
  end

  [:black, :red, :green, :yellow, :blue, :magenta, :cyan, :white,
   :bright_black, :bright_red, :bright_green, :bright_yellow,
   :bright_blue, :bright_magenta, :bright_cyan, :bright_white].each do |color|
    code = XTERM_COLOR[color]
    define_method(:"log_#{color}") { |*args| log_with_color(code, *args) }
  end
end

# What every object answers once the framework's Object extensions are in:
# the console's completion and help leave these out.
Object.instance_variable_set(:@__object_methods__, Object.instance_methods.uniq.sort.freeze)
