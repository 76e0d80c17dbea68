# Documentation of args.state and the entities made from it.
module OpenEntityDocs
  def docs_class
    <<~TEXT
      * DOCS: ~QMX::OpenEntity~

      ~args.state~ is an OpenEntity: assigning any property creates it, reading one never set gives
      nil. ~args.state.new_entity(:enemy)~ makes a nested entity with an id and its creation tick.
    TEXT
  end

  def docs_new_entity
    <<~TEXT
      * DOCS: ~QMX::OpenEntity#new_entity~

      ~args.state.new_entity(:enemy, x: 10, y: 20)~ makes an entity of that name whose first properties
      are those of the Hash; a block given the new entity may set more:
      ~args.state.new_entity(:enemy) { |e| e.hp = 3 }~. Any property may be added later, and one never set
      reads nil. Each entity has an ~entity_id~ and ~created_at~, the tick that made it.
    TEXT
  end

  def docs_new_entity_strict
    <<~TEXT
      * DOCS: ~QMX::OpenEntity#new_entity_strict~

      A strict entity: ~args.state.new_entity_strict(:ship, x: 0, y: 0) { |s| s.hp = 3 }~. The first one
      of a name fixes the properties of every one of that name (those of the Hash and those the block
      sets), and reading or writing any other raises an error that names the property, so a misspelt name
      fails where it is written instead of reading nil. The names are forgotten at ~$qmx.reset~. A strict
      entity is a rectangle for the geometry functions once it has ~extend(AttrRect)~. A property cannot
      take the name of a method the entity works by (~to_s~, ~inspect~, ~send~, ~initialize~,
      ~method_missing~, ~instance_variables~ and a few more): making one raises an error that names it.
    TEXT
  end

  def docs_as_hash
    <<~TEXT
      * DOCS: ~QMX::OpenEntity#as_hash~

      The entity's properties as a Hash: ~args.state.as_hash~.
    TEXT
  end
end

module QMX
  class OpenEntity
    extend Docs
    extend OpenEntityDocs
  end
end
