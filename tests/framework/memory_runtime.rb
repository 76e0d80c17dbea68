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

MEMORY_TOP = self

# The native classes a runtime makes at start; empty until memory_ffi!.
module FFI
  class File; end
  class Misc; end
  class MRB; end
end

# For tests of a whole QMX::Runtime: native services over files in memory.
# Files hold their text (a new one starts with FFI::File.preset), writes
# are also listed in order and answer false while refuse_writes is set;
# every character measures 30 x 60; evaluation runs at the top level and a
# syntax check finds only "def ("; draw calls are recorded.
def memory_ffi!
  FFI::File.class_eval do
    class << self
      attr_accessor :preset
    end
    attr_accessor :files, :mtimes, :writes, :refuse_writes

    def initialize = (@files, @mtimes, @writes = (FFI::File.preset || {}).dup, {}, [])
    def mtime(path) = @files.key?(path) ? (@mtimes[path] || 1000) : -1
    def path_exists(path) = @files.key?(path)
    def read(path) = @files[path]
    def get_game_dir = " /home/me//games///space "
    def last_write_error = @refuse_writes ? "Read-only file system" : nil
    def name_refusal(path) = nil

    [:write, :append, :write_root, :append_root].each do |name|
      define_method(name) do |path, data|
        @writes << [name, path, data]
        @files[path] = name.to_s.start_with?("append") ? @files[path].to_s + data : data unless @refuse_writes
        !@refuse_writes
      end
    end
  end
  FFI::Misc.class_eval do
    attr_accessor :clipboard

    # Characters 30 wide and lines 60 high at size 40 (102 pixels), scaled
    # to the pixel size asked for.
    def calcstringbox(text, size, font) = [text.length * 30.0, 60.0].map { |v| v * (22 + 2 * size) / 102 }
    def getclipboard = @clipboard.to_s
  end
  FFI::MRB.class_eval do
    def eval(source) = MEMORY_TOP.instance_eval(source)
    def parse(source) = source.include?("def (") ? "line 1:5: syntax error, unexpected '('\n" : "Syntax OK"
  end
  FFI::Draw.class_eval do
    def calls = (@calls ||= [])
    def method_missing(name, *args) = (calls << [name, *args]) && nil
  end
end
