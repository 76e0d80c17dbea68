# Game state and entities. args.state is an OpenEntity: an open bag of
# properties that exist once assigned and read nil before. StrictEntity is the
# closed variant whose properties are fixed when its type is first made.
# Entities print as Ruby hash literals, which is the saved-state format; the
# text is read back by QMX::LiteralReader, never evaluated.
module QMX
  # Instance variables to a Hash, for framework objects that print as data.
  module Serialize
    def serialize
      result = {}
      instance_variables.each do |ivar|
        value = instance_variable_get(ivar)
        next unless value
        name = ivar.to_s
        name = name[1..-1] while name.start_with?("@")
        name = name.gsub("=", "")
        result[name.to_sym] = if value.is_a?(ValueType)
                                value
                              elsif value.is_a?(Enumerable)
                                value.to_a
                              else
                                value.serialize
                              end
      end
      result
    end

    def inspect
      serialize.to_s
    end
  end

  # The id counter, the registry of strict entity types and the factories.
  class Entity
    def self.id!
      @id = (@id || 0) + 1
    end

    def self.__reset_id__!
      @id = 0
    end

    # Counts a save carries on (entity ids, the tick count) must be whole
    # numbers the engine can go on counting from: up to 2**53 they stay exact
    # in Float arithmetic. The writer and the reader take the same range, so
    # every save loads; a game that counts past its top can no longer save
    # (the writer refuses and keeps the previous save) rather than write a
    # save no run could load.
    SAVED_COUNT_MAX = 2**53 - 1
    SAVED_COUNT_MIN = -2**53

    def self.saved_count?(value, lowest = SAVED_COUNT_MIN)
      value.is_a?(Integer) && value >= lowest && value <= SAVED_COUNT_MAX
    end

    def self.saved_count_message(key, value, lowest = SAVED_COUNT_MIN)
      "#{key} must be a whole number from #{lowest} to #{SAVED_COUNT_MAX}, not #{QMX::LiteralReader.excerpt(value)}."
    end

    # Loaded entities keep their saved ids; new ones must never reuse them.
    # The game state's own id is one the engine counts from, as is any
    # Integer id; another entity's id that is not an Integer (a nested Hash
    # of the game's with entity_id: "sword") is the game's data, and so is
    # the nil a cleared strict entity saves.
    def self.advance_id_past!(id, root = false)
      return @id if id.nil? || (!root && !id.is_a?(Integer))
      raise ArgumentError, saved_count_message(:entity_id, id) unless saved_count?(id)
      @id = id if id > (@id || 0)
      @id
    end

    # One load of saved data: the block rebuilds it. When the block raises,
    # and always for a trial (the writer reading its text back), the strict
    # types the load registered, the properties it gave types, and the id
    # counter are put back as they were, so that a load that is refused
    # changes nothing. Undoing costs what the load did: each property it
    # gave a type is taken back on its own. The load also keeps the
    # entities it made by id, so that one entity saved in several places is
    # one object throughout it.
    def self.__load__(trial = false)
      # A load inside one under way (an entity's values) is part of it.
      return yield if @load_journal
      journal = [strict_entities.dup, @id, [], {}]
      @load_journal = journal
      finished = false
      result = yield
      finished = true
      result
    ensure
      if journal
        @load_journal = nil
        __undo_load__(journal) if trial || !finished
      end
    end

    # Notes a property the load gives a strict type, with the accessors it
    # made for it, to be taken away again if the load is undone.
    def self.__note_property__(type, name, accessors)
      @load_journal[2] << [type, name, accessors] if @load_journal
    end

    def self.__undo_load__(journal)
      types, id, properties = journal
      properties.reverse_each { |type, name, accessors| type.__remove_property__(name, accessors) }
      strict_entities.replace(types)
      @id = id
    end

    # entity_keys_by_ref pairs each other key with the main key whose value
    # it shares: the main key must be saved with the entity, and so must the
    # other key of a strict entity, whose properties are names the save
    # holds. An open entity's other key takes the main key's value whether
    # it was saved or not. Anything else is corrupt data, refused before a
    # value is copied.
    def self.saved_keys_by_ref(serialization_data, strict = false)
      refs = serialization_data[:entity_keys_by_ref]
      return nil if refs.nil? || (refs.is_a?(Hash) && refs.empty?)
      unless refs.is_a?(Hash)
        raise ArgumentError, "entity_keys_by_ref must be a Hash, not #{QMX::LiteralReader.excerpt(refs)}."
      end
      refs.each do |other, main|
        next if serialization_data.key?(main) && (!strict || serialization_data.key?(other))
        raise ArgumentError, "entity_keys_by_ref pairs #{QMX::LiteralReader.excerpt(other)} with " \
                             "#{QMX::LiteralReader.excerpt(main)}, but only properties saved with the entity can " \
                             "share a value."
      end
      refs
    end

    def self.strict_entities
      @strict_entities ||= {}
    end

    # Saved data back to entities. A load makes an entity of a Hash with
    # :entity_id where every release has written entities: the whole value,
    # an entity's property, an element of an Array there. Inside a Hash of
    # the game's it makes one only of a Hash that also holds the
    # entity_keys_by_ref Hash every saved entity holds (an entity the game
    # keeps by id), so that the game's own records with an :entity_id in
    # saves of earlier releases stay Hashes. The writer wraps every Hash of
    # the game's that holds :entity_id in {:__plain_hash__=>...}, which the
    # reader takes out and marks as the game's, whatever it holds: in its
    # saves only entities come back as entities. One entity saved in several
    # places (a list, by id, as a key) is one object again. Only the Arrays
    # and Hashes on the way to an entity are made anew; everything else is
    # kept as it is.
    def self.parse_serialization_data(value)
      return value unless value.is_a?(Hash) || value.is_a?(Array)
      rebuild_loaded(value, FFI.saved_data_marks(value))
    end

    # marks: the ids of the containers to make anew, from the reader or
    # FFI.saved_data_marks.
    def self.rebuild_loaded(value, marks)
      return value if marks.empty? || !marks.key?(value.__id__)
      __load__ { rebuild_saved_data(value, marks) }
    end

    PLAIN_HASH_KEY = :__plain_hash__

    # Stands for a value still being made: its level is on the stack.
    PENDING = Object.new.freeze

    # The walk keeps its own stack, so that Arrays, Hashes and entities nest
    # as deep as the saved text does; marks say which Arrays and Hashes are
    # to be made anew, true for those that hold one. Each open level is
    # [kind, data, result, marked steps, next marked step, keys, values,
    # step, key, plain inside, end, target]. A step is an Array's index, or
    # 2i for the key and 2i + 1 for the value of a Hash's i-th pair. An Array
    # (:array), a Hash (:hash) and an open entity (:open) are a copy, the
    # target, with the marked steps put in; a Hash with a marked key
    # (:pairs) and any other entity (:entity) take every pair in turn. An
    # error is reported with the data of the innermost entity being loaded.
    # The outermost entity is the one whose id the engine counts on from.
    def self.rebuild_saved_data(value, marks)
      loaded = @load_journal ? @load_journal[3] : {}
      stack = []
      result = rebuild_open(value, false, marks, loaded, stack)
      return result unless PENDING.equal?(result)
      root = stack[0][2]
      loop do
        level = stack.last
        kind = level[0]
        if kind == :entity || kind == :pairs
          step = level[7]
          if step < level[10]
            child = step.even? ? level[5][step >> 1] : level[6][step >> 1]
            if level[3][level[4]] == step
              level[4] += 1
              child = rebuild_open(child, level[9], marks, loaded, stack)
              next if PENDING.equal?(child)
            end
            rebuild_place(level, step, child)
            next
          end
        elsif level[4] < level[10]
          step = level[7] = level[3][level[4]]
          level[4] += 1
          child = rebuild_open(kind == :array ? level[1][step] : level[6][step >> 1], level[9], marks, loaded, stack)
          rebuild_place(level, step, child) unless PENDING.equal?(child)
          next
        end
        # The level is complete: it takes its place in the one it is in.
        done = level[2]
        if kind == :entity || kind == :open
          done.__load_end__(level[1], done.equal?(root))
          id = level[1][:entity_id]
          (loaded[id] ||= []).push(level[1], done) if id.is_a?(Integer)
        end
        stack.pop
        return done if stack.empty?
        parent = stack.last
        rebuild_place(parent, parent[7], done)
      end
    rescue StandardError => e
      entity_level = stack && stack.reverse.find { |level| level[0] == :entity || level[0] == :open }
      raise e unless entity_level
      raise QMX::OpenEntity.load_failure_message(entity_level[1], e)
    end

    NO_STEPS = [].freeze

    # What a marked Array or Hash loads as: PENDING with its level pushed on
    # the stack, or at once the entity of its id this load made already.
    # plain: it is inside a Hash of the game's. A Hash the reader took out of
    # a wrapper (marked PLAIN_HASH_KEY) is the game's.
    def self.rebuild_open(data, plain, marks, loaded, stack)
      if data.is_a?(Array)
        copy = data.dup
        steps = FFI.saved_data_marked_steps(data, marks)
        stack << [:array, data, copy, steps, 0, nil, nil, nil, nil, plain, steps.length, copy]
        return PENDING
      end
      mark = marks[data.__id__]
      return rebuild_open_hash(data, marks, stack) if mark == PLAIN_HASH_KEY || !saved_entity?(data, plain)
      entity = loaded_copy(loaded, data)
      return entity if entity
      steps = mark ? FFI.saved_data_marked_steps(data, marks) : NO_STEPS
      strict = saved_strict?(data, plain)
      if !strict && (steps.empty? || steps.none?(&:even?))
        # Its keys are kept: it takes a copy of the saved pairs, the saved
        # id among them, after taking a fresh id as every loaded entity does.
        id!
        entity = OpenEntity.__new_for_load__(data.dup)
        properties = entity.instance_variable_get(:@hash)
        keys, values = steps.empty? ? [nil, nil] : [data.keys, data.values]
        stack << [:open, data, entity, steps, 0, keys, values, nil, nil, false, steps.length, properties]
        return PENDING
      end
      if strict
        StrictEntity.__check_saved_properties__(data)
        entity = new_entity_strict(data[:entity_name], data)
      else
        entity = OpenEntity.__new_for_load__({})
      end
      entity.__load_begin__
      if steps.empty?
        # Its pairs go in as they are, its level on the stack meanwhile for
        # what an error names.
        stack << [:entity, data, entity, steps, 0, nil, nil, 0, nil, false, 0, nil]
        data.each { |key, value| entity.__load_value__(key, value) }
      else
        stack << [:entity, data, entity, steps, 0, data.keys, data.values, 0, nil, false, 2 * data.size, nil]
      end
      PENDING
    end

    # The entity this load made already of the same saved data under the same
    # id, if any: one entity written in several places (in a list, by id, as
    # a key) is one object again. Entities that merely share an id (each
    # from its own save, loaded side by side) stay apart, each with its own
    # data. loaded: { id => [data, entity, data, entity, ...] }.
    def self.loaded_copy(loaded, data)
      id = data[:entity_id]
      copies = id.is_a?(Integer) && loaded[id]
      return nil unless copies
      at = 0
      while at < copies.length
        return copies[at + 1] if FFI.saved_data_same?(copies[at], data)
        at += 2
      end
      nil
    end

    def self.rebuild_open_hash(data, marks, stack)
      steps = FFI.saved_data_marked_steps(data, marks)
      if steps.any?(&:even?)
        stack << [:pairs, data, {}, steps, 0, data.keys, data.values, 0, nil, true, 2 * data.size, nil]
      else
        copy = data.dup
        stack << [:hash, data, copy, steps, 0, data.keys, data.values, nil, nil, true, steps.length, copy]
      end
      PENDING
    end

    # Puts a made value at its step: into an Array or a copied Hash, or as
    # the key or the value of the next pair of a Hash or an entity.
    def self.rebuild_place(level, step, child)
      kind = level[0]
      if kind == :array
        level[11][step] = child
      elsif kind == :hash || kind == :open
        level[11][level[5][step >> 1]] = child
      else
        if step.even?
          level[8] = child
        elsif kind == :entity
          level[2].__load_value__(level[8], child)
        else
          level[2][level[8]] = child
        end
        level[7] = step + 1
      end
    end

    # A saved entity: a Hash with :entity_id, inside a Hash of the game's
    # only with the entity_keys_by_ref Hash every saved entity holds.
    def self.saved_entity?(data, plain)
      data.key?(:entity_id) && (!plain || (data.key?(:entity_keys_by_ref) && data[:entity_keys_by_ref].is_a?(Hash)))
    end

    # Saved data of a strict entity holds entity_strict. An open entity with
    # a property of that name notes entity_strict in its entity_keys_by_ref
    # (sharing its own value when it shares no other), which no strict
    # entity does. Inside a Hash of the game's, saves of earlier releases
    # did not note it: there strict data must also hold
    # global_created_at_elapsed, which every strict entity saves and an open
    # one does not.
    def self.saved_strict?(data, plain)
      return false unless data.key?(:entity_strict)
      refs = data.key?(:entity_keys_by_ref) ? data[:entity_keys_by_ref] : nil
      return false if refs.is_a?(Hash) && refs.key?(:entity_strict)
      !plain || data.key?(:global_created_at_elapsed)
    end

    # An entity's load_entity_data!: its properties from saved data, each
    # rebuilt as the loader does.
    def self.load_entity_data(entity, serialization_data)
      __load__ do
        StrictEntity.__check_saved_properties__(serialization_data) if entity.is_a?(StrictEntity)
        entity.__load_begin__
        serialization_data.each do |key, value|
          entity.__load_value__(parse_serialization_data(key), parse_serialization_data(value))
        end
        entity.__load_end__(serialization_data, true)
      end
    rescue StandardError => e
      raise QMX::OpenEntity.load_failure_message(serialization_data, e)
    end

    def self.new_entity(entity_type, init_hash = nil, block = nil)
      entity = OpenEntity.new(entity_type)
      properties = entity.instance_variable_get(:@hash)
      properties[:entity_type] = entity_type
      properties[:created_at] = Kernel.tick_count
      properties[:global_created_at] = Kernel.global_tick_count
      init_hash.each { |k, v| properties[k] = v } if init_hash
      block.call(entity) if block
      entity
    end

    # A type's names are checked when it is made; a later entity's initial
    # names are checked as it takes them, only those the type lacks.
    def self.new_entity_strict(entity_type, init_hash = nil, block = nil)
      klass = strict_entities[entity_type]
      unless klass
        init_hash&.each_key { |key| StrictEntity.__check_new_property__(entity_type, key) }
        init_hash ||= {}
        probe = new_entity(entity_type, init_hash, block)
        probe_keys = probe.instance_variable_get(:@hash).keys
        probe_keys.each { |key| StrictEntity.__check_new_property__(entity_type, key) }
        klass = Class.new(StrictEntity)
        (init_hash.keys + (probe_keys - init_hash.keys)).each { |key| klass.__define_property__(key) }
        strict_entities[entity_type] = klass
      end
      klass.new(entity_type, init_hash, block)
    end
  end

  class OpenEntity
    attr_accessor :__touched__, :__contains_array_indexers__

    RESERVED_KEYS = [:entity_id, :entity_type, :__thrash_count__, :entity_name, :created_at,
                     :global_created_at].freeze

    def self.parse_serialization_data(data)
      QMX::Entity.parse_serialization_data(data)
    end

    def initialize(name = nil)
      @hash = { entity_id: QMX::Entity.id! }
      @hash[:entity_name] = name if name
      @hash[:entity_keys_by_ref] = {}
    end

    # An entity for a load to fill, with the Hash its properties go in: they
    # come in the order they were saved in, so that it saves the same text
    # again.
    def self.__new_for_load__(properties)
      entity = allocate
      entity.instance_variable_set(:@hash, properties)
      entity
    end

    def hash
      QMX::Log.puts_once :hash_renamed_to_as_hash, "* WARNING:\nEntity#hash has been renamed to Entity#as_hash so as not to clober Object#hash. If you get a weird exception later on, this may end up being why (since now this function returns a fixnum and not a dictionary).\n"
      super
    end

    def as_hash
      if @__contains_array_indexers__ && !@__array_indexers_noted__
        @__array_indexers_noted__ = true
        QMX::Log.puts_important "* IMPORTANT:\nThis dynamic entity contains array indexers. You may want to use attributes instead of the hash function to exclude reserved keys which are not numeric.\n\n"
      end
      @hash
    end

    def ==(other)
      return true if equal?(other)
      return @hash[:entity_id] == other if other.is_a?(Numeric)
      nil
    end

    def entity_id
      @hash[:entity_id]
    end

    def attributes
      @hash.reject { |key, _| RESERVED_KEYS.include?(key) }
    end

    # Values shared by several properties print once per property; the table
    # remembers which keys held one object so that loading shares it again.
    # A property named entity_strict is also the mark of a strict entity's
    # saved data: the entity notes entity_strict in the table so that it
    # loads open, as sharing its own value (which keys_by_ref never pairs)
    # unless it shares another property's.
    def update_entity_keys_by_ref
      refs = QMX::OpenEntity.keys_by_ref(@hash)
      refs[:entity_strict] = :entity_strict if @hash.key?(:entity_strict) && !refs.key?(:entity_strict)
      @hash[:entity_keys_by_ref] = refs
    end

    def self.keys_by_ref(pairs)
      first_key_by_object = {}
      refs = {}
      pairs.each do |key, value|
        next if key == :entity_keys_by_ref
        # Numbers, symbols, nil and booleans are values, not shared objects:
        # a float's object_id ignores its sign, so -1.5 would load as 1.5.
        next if value.is_a?(Numeric) || value.is_a?(Symbol) || value.nil? || value == true || value == false
        # __id__, which no entity's property hides (object_id may be one).
        id = value.__id__
        if first_key_by_object.key?(id)
          refs[key] = first_key_by_object[id]
        else
          first_key_by_object[id] = key
        end
      end
      refs
    end

    def to_s
      update_entity_keys_by_ref
      @hash.to_s
    end

    def inspect
      @hash.to_s
    end

    # Printed inside other values, an entity shares their list of containers
    # being printed: one reached again through its own properties prints as
    # {...} instead of recursing without end, and each entity on the way
    # notes its shared values so that loading shares them again.
    def _inspect(recur_list)
      return "{...}" if recur_list[@hash.__id__]
      update_entity_keys_by_ref
      # Asked by the printing's walk (deep inside other values), the entity
      # hands it its Hash to walk on.
      $__inspect_asked__ = @hash if equal?($__inspect_asked__)
      @hash._inspect(recur_list)
    end

    def with_meta(o, meta)
      ObjectMetadata.with_meta(o, meta)
    end

    def meta(o)
      ObjectMetadata.meta(o)
    end

    def meta!(o)
      ObjectMetadata.meta!(o)
    end

    def __meta__
      ObjectMetadata.__meta__
    end

    def __reserved_keys__
      RESERVED_KEYS
    end

    def load_entity_data!(serialization_data)
      QMX::Entity.load_entity_data(self, serialization_data)
    end

    # Loading in three steps, so that the loader can walk nested data without
    # recursion: a fresh id, each property as it is rebuilt, then the saved
    # id and the shared values.
    def __load_begin__
      @hash[:entity_id] = QMX::Entity.id!
    end

    def __load_value__(key, value)
      @hash[key] = value
    end

    def __load_end__(serialization_data, root = false)
      refs = QMX::Entity.saved_keys_by_ref(serialization_data)
      refs.each { |other, main| @hash[other] = @hash[main] } if refs
      QMX::Entity.advance_id_past!(@hash[:entity_id], root)
      self
    end

    # The data and the inner exception are quoted in part only (an entity
    # may hold the whole save).
    def self.load_failure_message(serialization_data, e)
      data = QMX::LiteralReader.excerpt(serialization_data)
      inner = e.to_s
      # An inner load's refusal quotes its own data, in part, already.
      inner = QMX::LiteralReader.excerpt_text(inner) unless inner.start_with?("* ERROR:\nFailed to load entity data")
      "* ERROR:\nFailed to load entity data from:\n\n#+begin_src\n#{data}\n#+end_src\n\nThe save data looks to be corrupt.\n\n** INNER EXCEPTION:\n#{inner}\n"
    end

    def new_entity_strict(entity_type, init_hash = nil, &block)
      QMX::Entity.new_entity_strict(entity_type, init_hash, block)
    end

    def new_entity(entity_type, init_hash = nil, &block)
      QMX::Entity.new_entity(entity_type, init_hash, block)
    end

    def old?
      lifetime = @hash[:lifetime]
      return false unless lifetime.is_a?(Numeric)
      created_at_elapsed > lifetime
    end

    # New while no more than `within` ticks have passed since creation: by
    # default, during the tick the entity was made in.
    def new?(within = nil)
      elapsed = created_at_elapsed
      return false unless elapsed.is_a?(Numeric)
      elapsed <= (within || 0)
    end

    def created_at_elapsed
      created_at = @hash[:created_at]
      return nil unless created_at.is_a?(Numeric)
      Kernel.tick_count - created_at
    end

    def global_created_at_elapsed
      created_at = @hash[:global_created_at]
      return nil unless created_at.is_a?(Numeric)
      Kernel.global_tick_count - created_at
    end

    # A property's first write or read gives the entity its own writer or
    # reader, so that later ones skip method_missing. The accessors are native
    # (bridge/entity_accessors.cpp): a reader marks the entity touched and
    # arms the nil coercion on a nil or false value; a writer marks it
    # touched and stores under the name without its "=".
    def __set_hash_property__(name, args)
      FFI.entity_property_first_use(self, name, args[0])
    end

    def __get_hash_property__(name)
      FFI.entity_property_first_use(self, name)
    end

    # The outputs note every primitive added by its id, as a Hash's is its
    # :id: an entity answers its id property the same way, without marking
    # itself touched or arming the nil coercion for the probe.
    def id
      @hash[:id]
    end

    # Methods every object has, which are not properties of an entity: Ruby's
    # own object protocol (what it answers without an argument), hooks, calls
    # whose answer depends on their caller, and what the framework asks of
    # any value (drawing, saving, the console's completion and help).
    OBJECT_PROTOCOL = %i[class clone define_singleton_method display dup enum_for extend freeze hash inspect
                         instance_eval instance_exec instance_variable_get instance_variable_set
                         instance_variables itself methods object_id private_methods protected_methods
                         public_method public_methods public_send remove_instance_variable send singleton_class
                         singleton_method singleton_methods tap then to_enum to_s yield_self
                         initialize initialize_copy method_added method_missing singleton_method_added
                         binding caller fail lambda local_variables loop proc raise
                         autocomplete_methods better_class_hierarchy_information better_instance_information
                         docs f_or_default help i_or_default metadata_object_id method_missing_core
                         numeric_or_default primitive_marker s_or_default serialize].freeze

    # Every other method that every object has (Kernel's functions such as
    # p, puts, rand and format, Object's method, the framework's log, the
    # game's own top-level methods) would hide a property of that name: the
    # interpreter finds the method, so method_missing never runs, and what
    # was stored never reads back. On an entity such a name called without
    # an argument or a block is the property; with them it is still the
    # method. The block is made here, in the class body, so that its super
    # is the method of OpenEntity's ancestors.
    PROPERTY_OVER_OBJECT_METHOD = proc do |*args, **kw, &block|
      if args.empty? && kw.empty? && !block
        FFI.entity_read(self, __method__)
      else
        super(*args, **kw, &block)
      end
    end

    def self.__property_over_object_method__(name)
      text = name.to_s
      return if text.start_with?("_") || OBJECT_PROTOCOL.include?(name) || instance_methods(false).include?(name)
      return unless text.each_char.all? { |c| c == "_" || (c >= "a" && c <= "z") || (c >= "A" && c <= "Z") || (c >= "0" && c <= "9") }
      define_method(name, &PROPERTY_OVER_OBJECT_METHOD)
    end

    def __thrash_table__
      @hash[:__thrash_count__] ||= {}
    end

    def method_missing(name, *args, &block)
      return super if block
      if name == :[]
        key = args[0]
        value = @hash[key]
        value.assign_method_missing(@hash, key, __thrash_table__) if !value && !$disable_nil_coersion
        value
      elsif name == :[]=
        key = args[0]
        @__contains_array_indexers__ = true if key.is_a?(Integer) && !@hash[key]
        @hash[key] = args[1]
      elsif args.empty?
        __get_hash_property__(name)
      elsif args.length == 1 && name.to_s.include?("=")
        __set_hash_property__(name, args)
      end
    end

    def set!(key, value)
      if key.is_a?(Array)
        key.each { |k| @hash[k.to_sym] = value }
      else
        @hash[key.to_sym] = value
      end
      value
    end

    def attributes=(*opts)
      Kernel.raise QMX::OpenEntity::ATTRIBUTES_RESERVED_MESSAGE
    end

    ATTRIBUTES_RESERVED_MESSAGE = "* ERROR: You cannot use the property ~attributes~ for an object under ~args.state~ because it would overwrite ~Object::attributes~. Please pick a different property name.".freeze

    def clear!
      @hash.clear
    end
  end

  # Its own methods reach Kernel's and the log's functions through their
  # modules (Kernel.raise, QMX::Log.puts_once): a property's accessor of the
  # same name would otherwise answer in their place, and a property named
  # raise would turn the misspelling check off.
  class StrictEntity
    # In the order a new entity sets them, which is the order they are saved
    # in, before the type's other properties (created_at_elapsed is a method
    # and is not saved).
    OWN_PROPERTIES = [:entity_id, :entity_name, :entity_type, :created_at, :global_created_at_elapsed,
                      :entity_strict, :entity_keys_by_ref, :created_at_elapsed].freeze
    attr_accessor(*OWN_PROPERTIES)

    def self.parse_serialization_data(data)
      QMX::Entity.parse_serialization_data(data)
    end

    # The properties of this strict type, each under its name as a Symbol
    # with its instance variable's name: what a save may write into an
    # entity of the type. Whether an entity has a property is decided here,
    # never by asking what the entity responds to (a game's top-level setter
    # answers there too).
    def self.__properties__
      @__properties__ ||= OWN_PROPERTIES.map { |name| [name, :"@#{name}"] }.to_h
    end

    # An accessor pair for one property of this strict type, made once;
    # answers the property's instance variable name.
    def self.__define_property__(key)
      name = key.to_sym
      properties = __properties__
      variable = properties[name]
      return variable if variable
      # A reader or writer the game gave the type itself stays: it is the
      # game's code, and a load brings only data.
      writer = :"#{name}="
      if method_defined?(name) || method_defined?(writer)
        accessors = [name, writer].reject { |accessor| __own_method__?(accessor) }
        attr_reader name if accessors.include?(name)
        attr_writer name if accessors.include?(writer)
      else
        attr_accessor name
        accessors = [name, writer]
      end
      QMX::Entity.__note_property__(self, name, accessors)
      properties[name] = :"@#{name}"
    end

    def self.__own_method__?(name)
      method_defined?(name) && instance_method(name).owner.equal?(self)
    end

    # Takes back a property a refused load gave the type, and the accessors
    # __define_property__ made for it, which nothing else can have replaced
    # while the load ran (no game code runs in it).
    def self.__remove_property__(name, accessors)
      __properties__.delete(name)
      remove_method(*accessors) unless accessors.empty?
    end

    # Names a strict property cannot take: making, loading, saving or
    # printing an entity calls these methods on it (initialize by new,
    # method_missing for a misspelt property, send by [] and []=, the rest
    # by to_s, to_hash and loading, and __id__ and _inspect on any value
    # printed or saved), and an accessor of the name would stand in their
    # place. Any other name works as a property: the entity's own code calls
    # Kernel's and the log's functions through their modules and its class
    # through __type__. (respond_to? and the like cannot name a property at
    # all.) Each name is here as a String and as a Symbol.
    REFUSED_PROPERTY_NAMES = %w[initialize method_missing send instance_variable_get instance_variable_set
                                instance_variables to_s inspect to_hash _inspect update_entity_keys_by_ref
                                __load_begin__ __load_value__ __load_end__ __type__ __id__]
                             .flat_map { |name| [[name, true], [name.to_sym, true]] }.to_h.freeze

    # A property a new strict entity is given, by its initial Hash or, for
    # the first of its type, by its block: one of the names above would
    # break the entity (and every later save holding it), so it is refused
    # before the entity is made.
    def self.__check_new_property__(entity_type, key)
      return unless REFUSED_PROPERTY_NAMES.key?(key)
      Kernel.raise ArgumentError, "* ERROR:\nThe *strict* entity with name :#{entity_type} cannot have the property " \
                                  "#{key}: making, saving, loading or printing an entity calls its method #{key}, " \
                                  "which the property would replace. Please pick a different property name.\n"
    end

    # A saved strict entity's keys must all be names a property can have:
    # Symbols or Strings that name an instance variable, and none that
    # REFUSED_PROPERTY_NAMES holds. Checked before the load makes any Symbol
    # of them, so that keys that cannot be names (20,000 Integers, say) cost
    # nothing but the check.
    def self.__check_saved_properties__(data)
      data.each_key do |key|
        name = key.is_a?(Symbol) ? key.to_s : key
        unless name.is_a?(String) && __name_of_property__?(name)
          raise ArgumentError, "#{QMX::LiteralReader.excerpt(key)} cannot be a property of a strict entity: a property is named by a Symbol or a String that can name an instance variable."
        end
        if REFUSED_PROPERTY_NAMES.key?(name)
          raise ArgumentError, "#{QMX::LiteralReader.excerpt(key)} cannot be a property of a strict entity: it names a method the entity works by."
        end
        if name.bytesize > PROPERTY_NAME_BYTES_MAX
          raise ArgumentError, "#{QMX::LiteralReader.excerpt(key)} cannot be a property of a strict entity: a property's name may be at most #{PROPERTY_NAME_BYTES_MAX} bytes long."
        end
      end
    end

    # The interpreter makes no Symbol longer than 65,534 bytes (the native
    # reader of saved text refuses longer names at the same bound), and a
    # property makes name= and @name of its name.
    PROPERTY_NAME_BYTES_MAX = 65_533

    # Letters, digits, "_" and bytes beyond ASCII, not starting with a digit.
    def self.__name_of_property__?(name)
      return false if name.empty?
      first = true
      name.each_byte do |b|
        letter = b == 95 || (b >= 97 && b <= 122) || (b >= 65 && b <= 90) || b >= 128
        return false unless letter || (!first && b >= 48 && b <= 57)
        first = false
      end
      true
    end

    # The entity's type: a property named class hides Kernel#class.
    KERNEL_CLASS = Kernel.instance_method(:class)

    def __type__
      KERNEL_CLASS.bind_call(self)
    end

    def initialize(name, init_hash = nil, block = nil)
      @entity_id = QMX::Entity.id!
      @entity_name = name
      @entity_type = name
      @created_at = Kernel.tick_count
      @global_created_at_elapsed = Kernel.global_tick_count
      @entity_strict = true
      @entity_keys_by_ref = {}
      if init_hash
        properties = __type__.__properties__
        init_hash.each do |key, value|
          instance_variable_set(properties[key] || StrictEntity.__variable_of_new_name__(name, key), value)
        end
      end
      block.call(self) if block
    end

    # An initial value under a name the type lacks is kept in an instance
    # variable of that name (the type gets no accessors for it), unless the
    # name is refused.
    def self.__variable_of_new_name__(entity_type, key)
      __check_new_property__(entity_type, key)
      "@#{key}"
    end

    def update_entity_keys_by_ref
      @entity_keys_by_ref = StrictEntity.__keys_by_ref__(StrictEntity.__saved_pairs__(self))
    end

    # An entity's instance variables by name without the at sign, in the
    # order of its type's properties, then any other: the same for every
    # entity of the type, and after a load, whatever order the interpreter
    # lists them in. (Functions of the class, so that no property can stand
    # in their place.)
    def self.__saved_pairs__(entity)
      pairs = {}
      entity.__type__.__properties__.each do |name, variable|
        pairs[name] = entity.instance_variable_get(variable) if entity.instance_variable_defined?(variable)
      end
      variables = entity.instance_variables
      if variables.length > pairs.length
        variables.each do |ivar|
          name = ivar.to_s[1..-1].to_sym
          pairs[name] = entity.instance_variable_get(ivar) unless pairs.key?(name)
        end
      end
      pairs
    end

    # Its entity_strict is what marks a strict entity: it never shares the
    # value of another property in the table.
    def self.__keys_by_ref__(pairs)
      refs = QMX::OpenEntity.keys_by_ref(pairs)
      refs.delete(:entity_strict)
      refs
    end

    def load_entity_data!(serialization_data)
      QMX::Entity.load_entity_data(self, serialization_data)
    end

    def __load_begin__
      @entity_id = QMX::Entity.id!
    end

    # A property its type lacks is added to the type. The value goes
    # straight into the property's instance variable: loading calls no
    # method a save names.
    def __load_value__(key, value)
      instance_variable_set(__type__.__define_property__(key), value)
    end

    # A shared value is copied from one property to another, both saved with
    # the entity.
    def __load_end__(serialization_data, root = false)
      refs = QMX::Entity.saved_keys_by_ref(serialization_data, true)
      properties = __type__.__properties__
      refs.each { |other, main| __load_value__(other, instance_variable_get(properties[main.to_sym])) } if refs
      QMX::Entity.advance_id_past!(@entity_id, root)
      self
    end

    def to_s
      _inspect({})
    end

    def inspect
      _inspect({})
    end

    # Its Hash is made afresh for each printing, so the entity itself marks
    # the visit.
    def _inspect(recur_list)
      id = __id__
      return "{...}" if recur_list[id]
      if equal?($__inspect_asked__)
        # Asked by the printing's walk, the entity's Hash goes on its stack
        # in the entity's name.
        $__inspect_asked__ = nil
        return QMX::Inspect.enter(to_hash, true, recur_list, self)
      end
      recur_list[id] = true
      begin
        to_hash._inspect(recur_list)
      ensure
        recur_list.delete(id)
      end
    end

    # A strict entity is of its own registered type only.
    def is_a?(klass)
      registered = QMX::Entity.strict_entities[klass]
      return super(registered) if registered
      super
    end

    def method_missing(m, *args)
      name = @entity_name
      Kernel.raise "* ERROR:\nThe *strict* entity with name :#{name} doesn't have the property #{m}. When converting\nan entity to a strict entity (going from \"args.state.new_entity\" to \"args.state.new_entity_strict\"),\nall possible properties must be defined when the entity was originally created. Make sure\n#{m} is defined within args.state.new_entity_strict(:#{name}) do ... end.\n\n"
    end

    def created_at_elapsed
      Kernel.tick_count - @created_at
    end

    def global_created_at_elapsed
      Kernel.global_tick_count - @global_created_at_elapsed
    end

    def hash
      QMX::Log.puts_once :hash_renamed_to_as_hash, "* WARNING:\nEntity#hash has been renamed to Entity#as_hash so as not to clober Object#hash. If you get a weird exception later on, this may end up being why (since now this function returns a fixnum and not a dictionary).\n"
      super
    end

    def as_hash
      self
    end

    def attributes=(*opts)
      Kernel.raise QMX::OpenEntity::ATTRIBUTES_RESERVED_MESSAGE
    end

    def to_hash
      pairs = StrictEntity.__saved_pairs__(self)
      @entity_keys_by_ref = pairs[:entity_keys_by_ref] = StrictEntity.__keys_by_ref__(pairs)
      pairs
    end

    def set!(key, value)
      send("#{key}=", value)
    end

    def []=(key, value)
      send("#{key}=", value)
    end

    def clear!
      instance_variables.each { |ivar| instance_variable_set(ivar, nil) }
    end

    def [](key)
      send(key)
    end
  end
end

# Names that every object has already, and those the framework and the game
# give every object later, stay properties on entities.
Object.instance_methods.each { |name| QMX::OpenEntity.__property_over_object_method__(name) }

class Object
  def self.method_added(name)
    QMX::OpenEntity.__property_over_object_method__(name) if equal?(Object)
    super
  end
end

module Kernel
  def self.method_added(name)
    QMX::OpenEntity.__property_over_object_method__(name)
    super
  end
end
