class Exception
  # The backtrace as an outline: a "** Backtrace:" heading and one "*** "
  # line per frame.
  def __backtrace_to_org__
    frames = backtrace
    return "" unless frames
    "** Backtrace:\n" + frames.map { |frame| "*** #{frame}".strip }.join("\n")
  end
end
