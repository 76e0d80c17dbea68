module QMX
  # Console methods that were renamed: a game still calling the old name
  # learns the new one instead of getting a bare NoMethodError.
  module ConsoleDeprecated
    def addtext(*args)
      raise "* ERROR: ~Console#addtext~ has been renamed to Console#add_text.\n"
    end

    def addsprite(*args)
      raise "* ERROR: ~Console#addsprite~ has been renamed to Console#add_sprite.\n"
    end
  end
end
