# Array methods that were replaced; each explains its replacement.
module ArrayDeprecated
  def any_intersects_rect?(*args)
    raise "* ERROR:\n~Array#any_intersects_rect?~ (with an \"s\") has been removed.\n" \
          "Use ~Array#any_intersect_rect?~ instead (remove the \"s\").\n\n" \
          "* NOTE:\nRuby's naming convention is to *never* include the \"s\" for\n" \
          "interrogative method names (methods that end with a ?). It\n" \
          "doesn't sound grammatically correct, but that has been the\n" \
          "rule for a long time (and why intersects_rect? has been deprecated).\n"
  end

  def value(*args)
    log_once :array_value_deprecated, "* WARNING:\n~Array#value~ has been deprecated. Use ~Array#at~.\n"
    at(*args)
  end
end
