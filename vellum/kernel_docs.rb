# Documentation of Kernel, and the export of all documentation, which runs
# from Kernel because every documented class is reached from there.
module KernelDocs
  def docs_method_sort_order
    [:docs_class, :docs_tick_count, :docs_global_tick_count]
  end

  def docs_class
    <<~TEXT
      * DOCS: ~Kernel~

      Functions available everywhere in a game: the tick counters, ~puts~ (which also writes
      ~logs/puts.txt~) and the documentation commands ~docs_search~ and ~docs_classes~.
    TEXT
  end

  def docs_tick_count
    <<~TEXT
      * DOCS: ~Kernel::tick_count~

      The number of the current tick of the game: 0 on the first, -1 before it and after ~$qmx.reset~.
      It only advances on ticks on which the game's ~tick~ runs (not while paused).
      #+begin_src ruby
        args.outputs.labels << { x: 10, y: 710, text: "tick \#{Kernel.tick_count}" }
      #+end_src
    TEXT
  end

  def docs_global_tick_count
    <<~TEXT
      * DOCS: ~Kernel::global_tick_count~

      Counts every frame since the game loaded, also while paused; a reset does not change it.
    TEXT
  end

  def docs_export_docs!
    <<~TEXT
      * DOCS: ~Kernel::export_docs!~

      Writes all documentation, followed by ~docs/source.txt~ when it exists, to ~docs/docs.txt~ and as
      one page with a table of contents to ~docs/docs.html~ beside the engine.
    TEXT
  end

  def export_docs!(opts = {})
    DocsOrganizer.sort_docs_classes!
    text = ""
    $docs_classes.each do |klass|
      log "* INFO: Retrieving docs for #{klass.name}."
      text += klass.docs_all
    end
    text += "\n" + ($qmx.read_file("docs/source.txt") || "")
    result = __docs_to_html__(text)
    # The page links its style sheet; without one beside it the browser
    # shows the table of contents and the text run together.
    files = { "docs/docs.txt" => text, "docs/docs.html" => result[:html],
              "docs/parse_log.txt" => result[:parse_log].join("\n"), "docs/docs.css" => Docs::STYLESHEET }
    failed = files.keys.reject { |path| $qmx.write_file_root(path, files[path]) }
    unless failed.empty?
      log "* ERROR: The documentation could not be exported: #{failed.join(', ')} could not be written beside the engine."
      return nil
    end
    log "* INFO: All docs have been exported to docs/docs.txt."
    log "* INFO: All docs have been exported to docs/docs.html."
    nil
  end
end

module Kernel
  extend Docs
  extend KernelDocs
end

# The console runs commands at the game's top level, and a game's own
# top-level code runs there too: the documentation commands typed there
# (docs, docs_search "tick count", docs_classes, export_docs!) are Kernel's,
# which reach every documented class.
class << self
  def docs = Kernel.docs
  def docs_classes = Kernel.docs_classes
  def docs_search(words = nil, &block) = Kernel.docs_search(words, &block)
  def export_docs!(opts = {}) = Kernel.export_docs!(opts)
end
