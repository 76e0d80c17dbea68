# Loaded after the harness for every framework test file: a stand-in for the
# runtime's file, log and notification services that keeps everything in
# memory. Game files and files beside the executable are kept apart, as
# the engine keeps them. What is logged is printed as well, since the
# harness reports through $qmx.
class MemoryRuntime
  attr_reader :files, :root_files, :logged, :notifications
  attr_accessor :production, :cli_arguments

  def initialize(files = {}, production: false)
    @files, @root_files, @logged, @notifications, @production, @cli_arguments = files, {}, [], [], production, {}
  end

  def read_file(path) = @files[path] || @root_files[path]
  def write_file(path, text) = (@files[path] = text) && true
  def write_file_root(path, text) = (@root_files[path] = text.dup) && true
  def append_file_root(path, text) = ((@root_files[path] ||= "") << text) && true
  def notify!(message, *) = @notifications << message

  def log(obj, sender = nil)
    @logged << obj
    original_puts obj.to_s
  end
end

# Runs the block with the runtime as $qmx, and puts the old one back.
def with_runtime(runtime)
  saved = $qmx
  $qmx = runtime
  yield runtime
ensure
  $qmx = saved
end
