# Completion for tools outside the engine: given a source text (or a file)
# and a cursor index, the words that could come next. It knows the shape of
# args and of the game's args.state. A tool reaches it by evaluating Ruby in
# the game, for example through the HTTP API.
module QMX
  class Runtime
    module Autocomplete
      # Names of the entity machinery that are no use to a game author.
      AUTOCOMPLETE_HIDDEN_NAMES = %w[
        def end entity_keys_by_ref entity_name as_hash clear! created_at_elapsed entity_id entity_id=
        tick_count= global_created_at_elapsed load_entity_data! meta meta! new? old? __original_eq_eq__
        set! update_entity_keys_by_ref with_meta
      ].freeze

      # The objects whose names follow "<name>." in the text.
      AUTOCOMPLETE_RECEIVERS = {
        "args" => ->(qmx) { qmx.args },
        "inputs" => ->(qmx) { qmx.args.inputs },
        "geometry" => ->(qmx) { qmx.args.geometry },
        "outputs" => ->(qmx) { qmx.args.outputs },
        "layout" => ->(qmx) { qmx.args.layout },
        "keyboard" => ->(qmx) { qmx.args.keyboard },
        "key_down" => ->(qmx) { qmx.args.keyboard.key_down },
        "key_up" => ->(qmx) { qmx.args.keyboard.key_up },
        "state" => ->(qmx) { qmx.args.state },
        "fn" => ->(qmx) { qmx.args.fn },
        "$qmx" => ->(qmx) { qmx },
        "qmx" => ->(qmx) { qmx },
        "mouse" => ->(qmx) { qmx.args.inputs.mouse }
      }.freeze

      def autocomplete_parse(opts)
        text = opts[:text]
        file = opts[:file]
        text = read_file(file) if file && text.nil?
        text = text.to_s
        index = opts[:index]
        lines = []
        sum = 0
        text.each_line do |line|
          sum += line.length
          lines << { line: line, length: line.length, sum: sum }
        end
        # A cursor right at a line break belongs to the line that ends there;
        # one before the text, like one past it, is on no line.
        at = index < 0 ? nil : lines.find_index { |record| record[:sum] >= index }
        parse = { text: text, file: file, index: index, cursor_line: at && lines[at],
                  previous_line: at && at > 0 ? lines[at - 1] : { sum: 0 } }
        return parse unless at
        column = index - parse[:previous_line][:sum]
        parse[:word] = lines[at][:line][0, column].strip
        parse[:token] = parse[:word].split(" ").last
        if parse[:token]
          parse[:dots] = parse[:token].split(".")
          parse[:dot] = parse[:dots].last
        end
        parse
      end

      def autocomplete_filter_methods(keys, *ignores)
        excluded = AUTOCOMPLETE_HIDDEN_NAMES + ignores.map(&:to_s)
        keys.map(&:to_s).reject { |key| excluded.include?(key) || key == key.to_i.to_s }.uniq
      end

      def suggest_autocompletion(opts)
        parse = autocomplete_parse(opts)
        return [] unless parse[:cursor_line]
        word = parse[:word]
        return [] if word.start_with?("#")
        if word.end_with?(".") && parse[:token]
          dot = parse[:dot]
          return autocomplete_filter_methods([:x, :y, :point]) if dot == "click"
          receiver = AUTOCOMPLETE_RECEIVERS[dot]
          return autocomplete_filter_methods(receiver.call(self).autocomplete_methods) if receiver
          autocomplete_filter_methods(autocomplete_state_at(parse[:dots]).as_hash.keys)
        else
          words = parse[:text].gsub("[", " ").gsub("]", " ").gsub("(", " ").gsub(")", " ")
                              .gsub(":", "").gsub(".", " ").gsub("=", " ").split(" ")
          autocomplete_filter_methods(words, :qmx, :false, :true, :args, :suppress_mailbox, :end)
        end
      end

      private

      # The game state under the names that follow the first "state".
      def autocomplete_state_at(dots)
        at = dots.index("state")
        value = @args.state
        (at ? dots[(at + 1)..-1] : []).each do |name|
          value = value.as_hash[name.to_sym] if value.respond_to?(:as_hash)
        end
        value
      end
    end
  end
end
