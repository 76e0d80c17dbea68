# The built-in documentation as the console shows it (class list, a class's
# index, search and its results file), its HTML export, and the help texts
# that errors carry.

def with_docs_runtime(files = {}, &block) = with_runtime(MemoryRuntime.new(files), &block)

def test_class_list_class_index_and_search
  classes = %w[QMX::ReadMe QMX::Runtime Array QMX::Args QMX::Outputs QMX::Mouse QMX::OpenEntity Numeric Kernel Geometry]
  assert_equal "\n* DOCS:\nHere are the classes that have documentation. You can call the .docs method\non any of these classes:\n" +
               classes.map { |c| "** #{c}.docs" }.join("\n") + "\n", Kernel.docs_classes
  # docs_screenshots has no place in the sort order, so it follows the
  # ordered ones; docs_class leads and docs_classes closes.
  assert_equal "\n* DOCS: QMX::Outputs\n** QMX::Outputs.docs_class\n** QMX::Outputs.docs_solids\n" \
               "** QMX::Outputs.docs_borders\n** QMX::Outputs.docs_render_targets\n** QMX::Outputs.docs_screenshots\n" \
               "** QMX::Outputs.docs_classes\n",
               QMX::Outputs.docs
  # The console evaluates commands at the top level, where the
  # documentation commands are Kernel's.
  assert_equal Kernel.docs, docs
  # Every text of every class opens with its first-level heading.
  $docs_classes.each do |klass|
    DocsOrganizer.find_methods_with_docs(klass).each do |m|
      assert klass.send(m).start_with?("* "), "#{klass}.#{m} has no heading"
    end
  end
  # Search writes its results and says so only when something was found.
  help = Kernel.__docs_search_help_text__
  no_results = "* DOCS: No results found."
  matches = Array.docs_reject_nil + "\n" + Array.docs_reject_false
  everything = ->(text) { true }
  # [words, block, expected text, info logged]; words win over a block.
  [[nil, nil, help, true],
   ["map nil", everything, no_results, false],
   ["xyzzyplugh", nil, no_results, false],
   ["reject_nil REJECT_FALSE", everything, matches, true]].each do |words, block, text, info|
    with_docs_runtime do |runtime|
      assert_equal "\n" + text, Kernel.docs_search(words, &block), words.inspect
      assert_equal text, runtime.root_files["docs/search_results.txt"], words.inspect
      assert_equal info, runtime.logged.include?("* INFO: Search results have been written to docs/search_results.txt.")
    end
  end
  with_docs_runtime { assert_equal [Array.docs_map_2d], Array.__docs_search_results__ { |t| t.include?("map_2d") } }
  # What a newcomer searches for finds the text that answers it.
  [["collision", Geometry.docs_intersect_rect?], ["render target", QMX::Outputs.docs_render_targets],
   ["json", QMX::Runtime.docs_parse_json], ["strict", QMX::OpenEntity.docs_new_entity_strict],
   ["AttrRect", Geometry.docs_class], ["http_post", QMX::Runtime.docs_http_get],
   ["key_down_raw console", QMX::ReadMe.docs_faq], ["args.inputs.text", QMX::Runtime.docs_start_recording]].each do |words, text|
    assert Kernel.__docs_search_results__(words).include?(text), words
  end
end

# Code inside blocks stays code even when it looks like a list, code is
# escaped, lists open at the end are closed and only the leading heading
# marker goes.
def test_an_outline_becomes_one_page_with_a_table_of_contents
  outline = <<~TEXT
    * Hello ~Array#<<~ * world

    A ~x < y~ and ~b~, one ~ tilde; see [[docs_search.gif]] and [[a.html]].
    - first
    - second
    ** Code
    #+begin_src ruby
      class A < B
      - not an item

      1. nor this
    #+end_src
    **** Small
    1. one
    2. two
  TEXT
  page = Kernel.__docs_to_html__(outline)[:html]
  at = page.index("ver=") + 4
  page = page[0, at] + page[page.index("\"", at)..-1]
  assert_equal <<~HTML, page
    <html>
      <head>
        <title>Vellumcore Vellum Suite Documentation</title>
        <link href="docs.css?ver=" rel="stylesheet" type="text/css" media="all">
      </head>
      <body>
        <div id='toc'>
    <h1>Table Of Contents</h1>
    <ul>
    <li><a class='header-1' href='#--hello--array#&lt;&lt;----world'>Hello <code>Array#&lt;&lt;</code> * world</a></li>
    <ul><li><a class='header-2' href='#---code'>Code</a></li></ul></ul>    </div>
        <div id='content'>
    <h1 id='--hello--array#&lt;&lt;----world'>Hello <code>Array#&lt;&lt;</code> * world</h1>
    <p>
    A ~x < y~ and ~b~, one ~ tilde; see <img src='docs_search.gif'></img> and <a href='a.html'>a.html</a>.
    </p>
    <ul>
    <li>first</li>
    <li>second</li>
    </ul>
    <h2 id='---code'>Code</h2>
    <pre><code class="language-ruby">class A &lt; B
    - not an item

    1. nor this
    </code></pre>
    <h4>Small</h4>
    <ol>
    <li> one</li>
    <li> two</li>
    </ol>
        </div>
      </body>
    </html>
  HTML
  assert_equal "<p>\nA <code>x &lt; y</code> and <code>b</code>\n</p>",
               Kernel.__docs_to_html__("A ~x < y~ and ~b~")[:html].split("<div id='content'>\n")[1].split("\n    </div>")[0]
end

# Python's HTML parser reads every exported page with every element closed.
HTML_CHECK = <<~PY
  import sys
  from html.parser import HTMLParser
  class Check(HTMLParser):
      open, errors = [], []
      def handle_starttag(self, tag, attrs):
          if tag not in ("img", "link", "meta", "br"): self.open.append(tag)
      def handle_endtag(self, tag):
          if tag in ("img", "link", "meta", "br"): return
          if self.open and self.open[-1] == tag: self.open.pop()
          else: self.errors.append("</%s> with %s open" % (tag, self.open))
  for path in sys.argv[1:]:
      check = Check()
      check.open, check.errors = [], []
      check.feed(open(path).read())
      check.close()
      print(path, check.errors, check.open)
PY

def test_the_export_writes_text_page_and_log_and_every_page_parses
  source = "* From the source file\n#+begin_src\n  if a < b && c\n#+end_src\n- an open list\n#+begin_quote\n" \
           "quoted\n#+begin_src\n  never closed"
  with_docs_runtime("docs/source.txt" => source) do |runtime|
    assert_equal nil, Kernel.export_docs!
    text = runtime.root_files["docs/docs.txt"]
    assert text.start_with?(QMX::ReadMe.docs_usage), "the read-me comes first"
    assert text.end_with?("\n" + source)
    assert runtime.root_files["docs/docs.html"].include?("if a &lt; b &amp;&amp; c")
    assert runtime.root_files["docs/docs.css"].include?("#toc"), "the page's style sheet is written beside it"
    assert runtime.root_files["docs/parse_log.txt"].include?("** Processing line: ~* From the source file~")
    assert runtime.logged.include?("* INFO: All docs have been exported to docs/docs.html.")

    dir = `mktemp -d`.strip
    pages = { "all.html" => runtime.root_files["docs/docs.html"], "outline.html" => Kernel.__docs_to_html__(source)[:html] }
    pages.each { |name, html| File.open("#{dir}/#{name}", "w") { |f| f.write(html) } }
    File.open("#{dir}/check.py", "w") { |f| f.write(HTML_CHECK) }
    report = `python3 #{dir}/check.py #{pages.keys.map { |name| "#{dir}/#{name}" }.join(' ')}`
    `rm -rf #{dir}`
    assert_equal pages.keys.map { |name| "#{dir}/#{name} [] []" }.join("\n") + "\n", report
  end
end

class SavedShip
  def self.attributes = [:x, :y]
end

def test_help_texts
  unknown = "No contract found for primitive %s. The supported primitives are :label, :solid, :border, :sprite."
  { line: unknown % "line", nil => unknown % "", label: QMX::Help.label_contract,
    solid: QMX::Help.solid_border_contract, border: QMX::Help.solid_border_contract }.each do |kind, text|
    assert_equal text, QMX::Help.primitive_contract(kind), kind.inspect
  end
  assert_equal "{ }", QMX::Help.code_for_class_attributes_as_hash(String)
  help = QMX::Help.serialization_implementation_help(SavedShip)
  ["* WARNING: SavedShip does not support serialization.", "\nSavedShip can be persisted", "\nclass SavedShip\n",
   "  def serialize\n    { x: x, y: y }\n  end\n"].each { |part| assert help.include?(part), part }
  assert QMX::Help.serialization_too_large.start_with?("* WARNING:\nThe serialization result of qmx.serialize_state " \
                                                       "was larger than 20,000 characters. It's\n")
end
