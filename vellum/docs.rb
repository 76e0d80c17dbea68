# The engine's built-in reference. Documentation texts are methods named
# docs_... of modules whose names end in "Docs"; a class runs `extend Docs`
# and then `extend` with its own module, so the texts are read on the class
# itself (Kernel.docs_tick_count). This file holds the registry, the order
# in which classes and texts are shown, search and export, and the
# converter from the texts' outline markup to one HTML page.

# Display order of documented classes and of their documentation methods.
module DocsOrganizer
  CLASS_SORT_ORDER = ["QMX::ReadMe", "QMX::Runtime", "Array", "QMX::Args", "QMX::Outputs", "QMX::Mouse",
                      "QMX::OpenEntity", "Numeric", "Kernel"].freeze
  RESERVED_METHODS = [:docs_export_docs!, :docs_all, :docs_method_sort_order, :docs_classes, :docs_search].freeze
  # Classes and methods without a place in a sort order come after every
  # one that has one.
  UNSORTED_KEY = 50_000

  def self.sort_docs_classes!
    $docs_classes ||= []
    # Ties are broken by name so that the order does not depend on the order
    # in which files were loaded.
    $docs_classes.sort! do |l, r|
      order = class_sort_key(l) <=> class_sort_key(r)
      order == 0 ? l.name.to_s <=> r.name.to_s : order
    end
  end

  def self.class_sort_key(klass)
    CLASS_SORT_ORDER.index(klass.name.to_s) || UNSORTED_KEY
  end

  def self.reserved_methods
    RESERVED_METHODS
  end

  def self.class_sort_order
    CLASS_SORT_ORDER.map { |name| Object.const_get(name) }
  end

  # For the framework's developers: every documented class needs a place in
  # the class order.
  def self.check_class_sort_order
    $docs_classes ||= []
    missing = $docs_classes.reject { |klass| CLASS_SORT_ORDER.include?(klass.name.to_s) }
    missing.each do |klass|
      puts "* WARNING: #{klass.name} is not included in DocsOrganizer::class_sort_order. Please place this\nmodule in it's correct topilogical order.\n"
    end
    puts "* INFO: Success. All documented classes have a sort order associated with them.\n" if missing.empty?
    nil
  end

  def self.method_sort_key(name, method_sort_order)
    return -51_000 if name == :docs_class
    return 51_000 if name == :docs_classes
    method_sort_order.index(name) || UNSORTED_KEY
  end

  def self.sort_method_delegate(l, r, method_sort_order)
    method_sort_key(l, method_sort_order) <=> method_sort_key(r, method_sort_order)
  end

  def self.find_methods_with_docs(klass)
    order = klass.docs_method_sort_order || []
    names = klass.methods.select { |m| m.to_s.start_with?("docs_") } - reserved_methods
    names.uniq.sort do |l, r|
      compared = sort_method_delegate(l, r, order)
      compared == 0 ? l.to_s <=> r.to_s : compared
    end
  end
end

module Docs
  NO_RESULTS = "* DOCS: No results found.".freeze
  SEARCH_RESULTS_PATH = "docs/search_results.txt".freeze
  STYLESHEET = <<~CSS.freeze
    body { margin: 0; font-family: sans-serif; line-height: 1.5; color: #222; }
    #toc { position: fixed; top: 0; bottom: 0; left: 0; width: 18em; overflow-y: auto; padding: 1em; background: #f3f3f3; font-size: 0.9em; }
    #toc ul { padding-left: 1.2em; }
    #content { margin-left: 21em; padding: 1em 2em; max-width: 50em; }
    pre, code { font-family: monospace; background: #f3f3f3; }
    pre { padding: 0.8em; overflow-x: auto; }
    a { color: #1d5fa8; }
  CSS
  # Words this short match too much to be useful.
  SHORTEST_SEARCH_WORD = 4

  def self.extended(klass)
    $docs_classes ||= []
    $docs_classes << klass
    $docs_classes.uniq!
  end

  def self.__docs_search__(words = nil, &block)
    nil
  end

  def docs_method_sort_order
    []
  end

  def docs_classes
    DocsOrganizer.sort_docs_classes!
    lines = $docs_classes.map { |klass| "** #{klass.name}.docs" }.join("\n")
    "\n* DOCS:\nHere are the classes that have documentation. You can call the .docs method\non any of these classes:\n" + lines + "\n"
  end

  def docs_all
    DocsOrganizer.find_methods_with_docs(self).map { |m| send(m) }.join("\n") + "\n"
  end

  def docs
    names = DocsOrganizer.find_methods_with_docs(self) + [:docs_classes]
    lines = names.map { |m| "** #{name}.#{m}" }.join("\n")
    return "\n* DOCS: #{name}\n" + lines + "\n" unless equal?(Kernel)
    "\n* DOCS: #{name}\n" \
    "Each line below is a documentation method. Call it on the class to read it, for example:\n" \
    "#+begin_src\n  Kernel.docs_tick_count\n#+end_src\n" \
    "To export all documentation to docs/docs.html and docs/docs.txt, run:\n" \
    "#+begin_src\n  Kernel.export_docs!\n#+end_src\n" \
    "To search all documentation, run:\n" \
    "#+begin_src\n  docs_search \"tick count\"\n#+end_src\n" +
      lines + "\n" \
      "Invoke any of the methods above on #{name} to see its documentation.\n" \
      "Call docs_classes to list every class that has documentation.\n"
  end

  def __docs_search_help_text__
    "* DOCS: How To Search The Docs\n" \
    "Search the documentation with words (each of four letters or more); every text that contains one\n" \
    "of them, in any letter case, is shown:\n" \
    "#+begin_src\n  docs_search \"sprite label\"\n#+end_src\n" \
    "Or give a block; it receives each documentation text and keeps the ones it answers true for:\n" \
    "#+begin_src\n  docs_search { |text| text.include?(\"args.outputs\") && text.include?(\"solids\") }\n#+end_src\n"
  end

  def __docs_search_results__(words = nil, &block)
    words = (words || "").to_s
    unless words.strip.empty?
      search_words = words.split(" ").map(&:strip).select { |w| w.length >= SHORTEST_SEARCH_WORD }.map(&:downcase)
      block = lambda do |text|
        downcased = text.to_s.downcase
        search_words.any? { |w| downcased.include?(w) }
      end
    end
    return [__docs_search_help_text__] unless block

    DocsOrganizer.sort_docs_classes!
    classes = equal?(Kernel) ? $docs_classes : [self]
    results = []
    classes.each do |klass|
      DocsOrganizer.find_methods_with_docs(klass).each do |m|
        text = klass.send(m)
        results << text if block.call(text)
      end
    end
    results
  end

  def docs_search(words = nil, &block)
    text = __docs_search_results__(words, &block).join("\n")
    text = NO_RESULTS if text.strip.empty?
    $qmx.write_file_root(SEARCH_RESULTS_PATH, text)
    log "* INFO: Search results have been written to #{SEARCH_RESULTS_PATH}." unless text.include?(NO_RESULTS)
    "\n" + text
  end

  def __export_docs_defaults__
    { methods: [:all] }
  end

  def __export_docs__!(opts = {})
    DocsOrganizer.sort_docs_classes!
    opts = __export_docs_defaults__.merge(opts || {})
    methods = opts[:methods] || []
    if methods.include?(:all)
      methods = DocsOrganizer.find_methods_with_docs(self).reject { |m| m == :docs_classes }
    end
    text = methods.map do |m|
      puts "* INFO: Getting docs for #{m}."
      send(m).lstrip + "\n"
    end.join("\n")
    path = "docs/#{__docs_file_name__}.txt"
    unless $qmx.write_file_root(path, text)
      puts "* ERROR: Documentation for #{name} could not be exported: #{path} could not be written beside the engine."
      return nil
    end
    puts "* INFO: Documentation for #{name} has been exported to #{path}."
    $console.set_system_command(path) if $console
    nil
  end

  # The class's name as a file name: the file system takes no ":", so
  # QMX::Outputs is written as QMX.Outputs.
  def __docs_file_name__
    name.to_s.gsub("::", ".")
  end

  def export_docs!(opts = {})
    __export_docs__!(opts)
  end

  # --- Outline markup to HTML ------------------------------------------------

  def __docs_append_true_line__(true_lines, true_line, parse_log)
    true_line.rstrip!
    parse_log << "*** True Line Result\n#{true_line}"
    true_lines << true_line
  end

  def __docs_to_html__(string)
    parse_log = []
    begin
      true_lines = __docs_true_lines__(string.to_s.strip, parse_log)
      { original: string, html: __docs_page__(true_lines, parse_log), parse_log: parse_log }
    rescue Exception => e
      $qmx.write_file_root("docs/parse_log.txt", parse_log.join("\n"))
      raise "* ERROR in Docs::__docs_to_html__. #{e}"
    end
  end

  # The first pass joins physical lines into true lines: a paragraph or a
  # list item becomes one line, every line of a code block stays its own.
  # Code blocks are recognised first so that code lines that look like list
  # items or headings stay code.
  def __docs_true_lines__(string, parse_log)
    parse_log << "* Processing True Lines"
    true_lines = []
    current = ""
    inside_source = inside_ordered = false
    string.each_line do |line|
      parse_log << "** Processing line: ~#{line.rstrip}~"
      if line.start_with?("#+begin_src")
        inside_source = true
        __docs_append_true_line__(true_lines, current, parse_log)
        __docs_append_true_line__(true_lines, line, parse_log)
        current = ""
      elsif line.start_with?("#+end_src")
        inside_source = false
        __docs_append_true_line__(true_lines, line, parse_log)
        current = ""
      elsif inside_source
        __docs_append_true_line__(true_lines, line, parse_log)
        current = ""
      elsif line.start_with?("#+")
        __docs_append_true_line__(true_lines, current, parse_log)
        __docs_append_true_line__(true_lines, line, parse_log)
        current = ""
      elsif line.start_with?("- ")
        __docs_append_true_line__(true_lines, current, parse_log)
        current = line
      elsif line.start_with?("1. ")
        inside_ordered = true
        __docs_append_true_line__(true_lines, current, parse_log)
        current = line
      elsif inside_ordered && __docs_numbered_item__?(line)
        __docs_append_true_line__(true_lines, current, parse_log)
        current = line
      elsif line.strip.empty?
        inside_ordered = false
        __docs_append_true_line__(true_lines, current, parse_log)
        current = ""
      elsif ["* ", "** ", "*** ", "**** "].any? { |marker| line.start_with?(marker) }
        __docs_append_true_line__(true_lines, current, parse_log)
        __docs_append_true_line__(true_lines, line, parse_log)
        current = ""
      else
        current = current + line.rstrip + " "
      end
    end
    true_lines << current unless current.empty?
    true_lines.shift if !true_lines.empty? && true_lines[0].strip.empty?
    true_lines
  end

  # "12. text": a dot within the first four characters.
  def __docs_numbered_item__?(line)
    [1, 2, 3].any? { |i| line[i] == "." }
  end

  # The second pass: one HTML element per true line. Every element that is
  # opened is closed, also when the text ends inside a list, a code block
  # or a quote.
  def __docs_page__(true_lines, parse_log)
    parse_log << "* Processing Html Given True Lines"
    toc = "<h1>Table Of Contents</h1>\n<ul>\n"
    content = ""
    open_list = nil
    inside_pre = false
    quotes = 0
    close_list = lambda do
      content << "</#{open_list}>\n" if open_list
      open_list = nil
    end
    open_list_of = lambda do |kind|
      next if open_list == kind
      close_list.call
      content << "<#{kind}>\n"
      open_list = kind
    end
    true_lines.each do |line|
      parse_log << "** Processing line: ~#{line.rstrip}~"
      if inside_pre
        if line.start_with?("#+end_src")
          inside_pre = false
          content << "</code></pre>\n"
        else
          code = line.rstrip
          content << QMX::Markup.escape(code.length > 2 ? code[2..-1] : "") << "\n"
        end
      elsif (level = __docs_heading_level__(line))
        close_list.call
        formatted = __docs_line_to_html__(line, parse_log)
        if level == 4
          content << "<h4>#{formatted}</h4>\n"
        else
          id = QMX::Markup.escape(__docs_text_to_id__(line))
          entry = "<li><a class='header-#{level}' href='##{id}'>#{formatted}</a></li>"
          toc << (level == 1 ? entry + "\n" : "<ul>" * (level - 1) + entry + "</ul>" * (level - 1))
          content << "<h#{level} id='#{id}'>#{formatted}</h#{level}>\n"
        end
      elsif line.strip.empty?
        parse_log << "- Blank line."
      elsif line.start_with?("#+begin_src")
        close_list.call
        inside_pre = true
        content << "<pre><code class=\"language-ruby\">"
      elsif line.start_with?("#+end_src")
        parse_log << "- End of a code block that was not open; ignored."
      elsif line.start_with?("#+begin_quote")
        close_list.call
        quotes += 1
        content << "<blockquote>\n"
      elsif line.start_with?("#+end_quote")
        next parse_log << "- End of a quote that was not open; ignored." if quotes == 0
        close_list.call
        quotes -= 1
        content << "</blockquote>\n"
      elsif line.start_with?("1. ") || (open_list == "ol" && __docs_numbered_item__?(line))
        open_list_of.call("ol")
        content << "<li>#{__docs_line_to_html__(line[(line.index(".") + 1)..-1], parse_log)}</li>\n"
      elsif line.start_with?("- ")
        open_list_of.call("ul")
        content << "<li>#{__docs_line_to_html__(line[2..-1], parse_log)}</li>\n"
      else
        close_list.call
        content << "<p>\n#{__docs_line_to_html__(line, parse_log)}\n</p>\n"
      end
    end
    close_list.call
    content << "</code></pre>\n" if inside_pre
    content << "</blockquote>\n" * quotes
    "<html>\n  <head>\n    <title>Vellumcore Vellum Suite Documentation</title>\n" \
    "    <link href=\"docs.css?ver=#{Time.now.to_i}\" rel=\"stylesheet\" type=\"text/css\" media=\"all\">\n" \
    "  </head>\n  <body>\n    <div id='toc'>\n" + toc + "</ul>" \
    "    </div>\n    <div id='content'>\n" + content + "    </div>\n  </body>\n</html>\n"
  end

  HEADING_MARKERS = ["**** ", "*** ", "** ", "* "].freeze

  def __docs_heading_level__(line)
    marker = HEADING_MARKERS.find { |m| line.start_with?(m) }
    marker ? marker.length - 1 : nil
  end

  def __docs_text_to_id__(line)
    id = line.strip.downcase
    ["*", "~", "[", "]", ":", " "].each { |c| id = id.gsub(c, "-") }
    id
  end

  # One line's inline markup: the leading heading marker goes, ~code~
  # becomes a code element (escaped, since code is full of < and >), and
  # [[target]] becomes a link, or an image when the target is a .gif.
  def __docs_line_to_html__(line, parse_log)
    text = line.to_s
    marker = HEADING_MARKERS.find { |m| text.start_with?(m) }
    if marker
      text = text[marker.length..-1]
    else
      parse_log << "- Line does not appear to be a header."
    end
    tildes = text.count("~")
    has_link = text.include?("[[") && text.include?("]]")
    text = text.rstrip
    text = __docs_inline_code__(text) if tildes > 0 && tildes.even?
    text = __docs_links__(text.gsub("[[", "[").gsub("]]", "]")) if has_link
    text
  rescue Exception => e
    parse_log << "* ERROR: Failed to parse line: ~#{line}~, #{e}"
    QMX::Markup.escape(line.to_s.rstrip)
  end

  def __docs_inline_code__(text)
    result = ""
    inside = false
    text.each_char do |c|
      if c == "~"
        result << (inside ? "</code>" : "<code>")
        inside = !inside
      else
        result << (inside ? QMX::Markup.escape(c) : c)
      end
    end
    result
  end

  def __docs_links__(text)
    result = ""
    target = nil
    text.each_char do |c|
      if target.nil? && c == "["
        target = ""
      elsif target && c == "]"
        href = QMX::Markup.escape(target)
        result << (target.end_with?(".gif") ? "<img src='#{href}'></img>" : "<a href='#{href}'>#{href}</a>")
        target = nil
      elsif target
        target << c
      else
        result << c
      end
    end
    # A bracket that is never closed is text, not a lost link.
    target ? result + "[" + target : result
  end
end
