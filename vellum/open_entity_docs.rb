# Documentation of args.state and the entities made from it.
module OpenEntityDocs
  def docs_class
    <<~TEXT
      * DOCS: ~QMX::OpenEntity~

      ~args.state~ is an OpenEntity: assigning any property creates it, reading one never set gives
      nil. ~args.state.new_entity(:enemy)~ makes a nested entity with an id and its creation tick.
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
