class Class
  def serialize
    name.to_s
  end

  def defaults_alias_method_once
    { new_method_name: :original_method, target_method_name: :method }
  end

  def alias_method_once(opts = {})
    opts = defaults_alias_method_once.merge(opts)
    if QMX.const_defined?(:Outputs) &&
       QMX::Outputs.instance_methods.include?(opts[:new_method_name])
      return nil
    end
    alias_method opts[:new_method_name], opts[:target_method_name]
  end

  # A description for the console: the class, where it sits and what it
  # mixes in.
  def to_s
    core = name
    return super if core.nil?
    if [Integer, Symbol, Object, Kernel, Class, Numeric].include?(self)
      return "(class #{core})"
    end
    modules = included_modules.reject { |m| m == Kernel || m == Object }
    module_part = modules.empty? ? "" : "\n(included_modules #{modules.map { |m| m.name.to_s }.join(', ')}) "
    parent = superclass
    text = if parent.nil? || parent == Object || parent == Kernel
             "(class #{core}#{module_part})"
           else
             "(class #{core}\n(superclass #{parent.name})#{module_part})"
           end
    text.indent_lines(2)
  rescue Exception
    name.to_s
  end
end
