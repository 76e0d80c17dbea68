# Numeric methods that were replaced; each explains its replacement.
module NumericDeprecated
  def perc_to_zero(start = nil, duration = nil)
    raise "* ERROR:\nNumeric#perc_to_zero has been deprecated.\nYou'll want to convert your code:\n\nFrom:\n\n" \
          "state.tick_count.perc_to_zero(start_time, duration)\n\nTo:\n\nstart_time.ease(duration, :flip)\n\n" \
          "For more usages, checkout the the easing sample app\nlocated at samples/13_easing_functions.\n\n"
  end

  def perc_to_one(start = nil, duration = nil)
    raise "* ERROR:\nNumeric#perc_to_one has been deprecated.\nYou'll want to convert your code:\n\nFrom:\n\n" \
          "state.tick_count.perc_to_one(start_time, duration)\n\nTo:\n\nstart_time.ease(duration)\n\n" \
          "For more usages, checkout the the easing sample app\nlocated at samples/13_easing_functions.\n\n"
  end

  def pos?
    raise "* ERROR:\nNumeric#pos? has been deprecated.\nYou'll want to convert your code:\n\nFrom:\n\n1.pos?\n\nTo:\n\n1.positive?\n\n"
  end

  def neg?
    raise "* ERROR:\nNumeric#neg? has been deprecated.\nYou'll want to convert your code:\n\nFrom:\n\n1.neg?\n\nTo:\n\n1.negative?\n\n"
  end
end
