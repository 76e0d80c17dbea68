# The frame counters that all game time is measured in, and `puts` routed
# into the engine's log.
module Kernel
  # Both counters read -1 until the runtime sets them. Reloading this file
  # must not reset them.
  @tick_count = -1 unless instance_variable_defined?(:@tick_count)
  @global_tick_count = -1 unless instance_variable_defined?(:@global_tick_count)

  # Keep the interpreter's puts once: a reload must not wrap our own.
  alias_method :original_puts, :puts unless method_defined?(:original_puts)

  def self.tick_count
    @tick_count
  end

  def self.tick_count=(value)
    @tick_count = value
  end

  def self.global_tick_count
    @global_tick_count
  end

  def self.global_tick_count=(value)
    @global_tick_count = value
  end

  def self.const_defined?(value, *rest)
    found = super
    if !found && Module.const_defined?(value)
      log_once :did_you_mean_module_const_defined?,
               "* INFO: Did you mean to call ~Module::const_defined?~ instead of ~Kernel::const_defined?~? " \
               "~Kernel::const_defined?(#{value.inspect})~ is false but ~Module::const_defined?(#{value.inspect})~ is true."
    end
    found
  end

  # The interpreter hands method_missing stray values instead of the
  # arguments when `send` names a method the receiver lacks (a dynamic
  # property set with `entity.send(:hp=, 3)` would store garbage). Such
  # calls go to method_missing directly, with their own arguments.
  alias_method :__core_send__, :send unless method_defined?(:__core_send__)

  def send(name, *args, **kw, &block)
    return __core_send__(name, *args, **kw, &block) if respond_to?(name, true)
    method_missing(name.to_sym, *args, **kw, &block)
  end

  def puts(*args)
    runtime = $qmx
    if runtime
      unless runtime.production
        runtime.append_file_root("logs/puts.txt", args.join("\n") + "\n")
      end
      args.each { |arg| runtime.log(arg, Kernel) }
    else
      original_puts(*args)
    end
    if $trace_enabled
      indent = " " * (8 * ($trace_call_depth || 0))
      ($trace_puts ||= []) << "\n" + args.map { |arg| indent + arg.to_s }.join("\n")
    end
    nil
  end

  def puts6(*args)
    puts(*args) if Kernel.tick_count % 6 == 0
  end

  def puts60(*args)
    puts(*args) if Kernel.tick_count % 60 == 0
  end

  def puts600(*args)
    puts(*args) if Kernel.tick_count % 600 == 0
  end
end
