# The receiver of `repl` blocks: a clean object with the two things a
# console experiment needs.
class BareDefinitionsContainer
  def assert
    @assert ||= QMX::Assert.new
  end

  def args
    $qmx && $qmx.args
  end
end
