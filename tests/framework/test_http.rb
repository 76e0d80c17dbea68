# The Ruby side of HTTP over a fake runtime: the developer API's routes and
# guards, and the remote hot-reload client.

class FakeHttpRuntime
  attr_reader :answers, :files, :writes, :requests
  attr_accessor :production, :pending_reload

  def initialize(files = {})
    @files, @answers, @writes, @requests = files, [], {}, []
  end

  def qmx = self
  def platform = "iOS"
  def sdl_tick = 0
  def pending_reload? = @pending_reload
  def reload_list_history = {}
  def read_file(path) = @files[path]
  def write_file(path, text) = @writes[path] = text
  def http_post(*) = nil
  def http_get(url) = (@requests << [url, { complete: false }]).last[1]

  def http_respond(req, reqcptr, code, body, headers) = reqcptr && @answers << [req.uri, code, body, headers]

  def finish(path, code, data = "")
    @requests.reverse.find { |url, h| url.end_with?(path) && !h[:complete] }[1]
      .merge!(complete: true, http_response_code: code, response_data: data)
  end
end

ApiArgs = Struct.new(:qmx, :inputs)
ApiInputs = Struct.new(:http_requests)

def http_request(runtime, method, uri, body = "", headers = {}, from = "127.0.0.1")
  QMX::Runtime::HTTPRequest.new(runtime, method, uri, headers, body, :cptr, from)
end

def test_url_decoding_and_the_api_routes_guards_and_reports
  api = QMX::Api.new
  [["%252A", "%2A"], ["a+b%C3%A9%3d", "a bé="], ["%zz%4", "%zz%4"], ["", ""]].each do |text, decoded|
    assert_equal decoded, api.url_decode(nil, text)
  end
  # The routes, their guards and what they report.
  runtime = FakeHttpRuntime.new("logs/log.txt" => "logged")
  own = { "Host" => "127.0.0.1:9001", "Origin" => "http://127.0.0.1:9001" }
  local = { "Host" => "localhost" }
  cases = [
    ["GET", "/vellum/log", "", {}, "127.0.0.1", [200, "logged"]],
    ["GET", "/vellum/trace/", "", {}, "127.0.0.1", [404, "not found: /vellum/trace/"]],
    ["GET", "/<b>.rb", "", {}, "127.0.0.1", [404, "not found: /&lt;b&gt;.rb"]],
    ["GET", "/nowhere", "", {}, "127.0.0.1", nil],
    ["A" * 65535, "/", "", {}, "127.0.0.1", nil], # too long to be a Symbol: left to the game
    # A device reaches the feeds by this machine's address.
    ["GET", "/vellum/log/", "", { "Host" => "192.168.1.5:9001" }, "192.168.1.9", [200, "logged"]],
    ["GET", "/vellum/log/", "", { "Host" => "[fe80::1]:9001" }, "192.168.1.9", [200, "logged"]],
    ["POST", "/vellum/eval/", "code=%24result%3D1%2B1", own, "127.0.0.1", [200, "2"]],
    ["POST", "/vellum/eval/", "code=1%2B1", local, "127.0.0.1", [200, "nil"]],
    ["POST", "/vellum/eval/", "code=%24result%3D1", { "Host" => "192.168.1.5" }, "192.168.1.5", [403]],
    ["POST", "/vellum/eval/", "code=%24result%3D1", { "Host" => "127.0.0.1:9001", "origin" => "http://evil.test" },
     "127.0.0.1", [403]],
    ["POST", "/vellum/eval/", "code=%24result%3D1", { "Host" => "0x7f.0.0.1:9001" }, "127.0.0.1", [403]],
    ["POST", "/vellum/eval/", "code=%24result%3D1", { "Host" => "127.0.0.1:90x1" }, "127.0.0.1", [403]],
    ["POST", "/vellum/eval/", "code=%24result%3D1", {}, "127.0.0.1", [403]],
    ["POST", "/vellum/reset/", "", local, "127.0.0.1", [500]], # no $qmx here: the handler raises
    # A game's request (an engine's User-Agent, however a proxy spells the
    # header) runs no code, while remote hot reload's log stays open to it.
    ["POST", "/vellum/eval/", "code=%24result%3D1", own.merge("user-agent" => "Game/2 Vellumcore-d-g/1.0 (Linux)"),
     "127.0.0.1", [403]],
    ["POST", "/vellum/log/", "message=up", local.merge("User-Agent" => "Vellumcore-d-g/1.0 (iOS)"), "127.0.0.1",
     [200, "ok"]],
  ]
  cases.each do |method, uri, body, headers, from, expected|
    req = http_request(runtime, method, uri, body, headers, from)
    runtime.answers.clear
    QMX::Api.new.tick(ApiArgs.new(runtime, ApiInputs.new([req])))
    answer = runtime.answers.first
    assert_equal expected, answer && answer[1, expected.length], "#{method} #{uri} from #{from}"
  end

  # The change list waits while files are queued for loading: a file they
  # require is listed by then.
  runtime.files["tmp/src_backup/src_backup_changes.txt"] = "list"
  runtime.answers.clear
  [true, false].each do |pending|
    runtime.pending_reload = pending
    QMX::Api.new.tick(ApiArgs.new(runtime, ApiInputs.new([http_request(runtime, "GET", "/vellum/changes/", "", local)])))
  end
  assert_equal [[200, "list"]], runtime.answers.map { |a| a[1, 2] }
end

def test_remote_changes_of_one_second_all_arrive_and_a_failed_download_is_skipped
  runtime = FakeHttpRuntime.new("app/server_ip_address.txt" => "10.0.0.1\n")
  client = QMX::RemoteHotloadClient.new("10.0.0.2")
  client.args = Struct.new(:qmx, :state).new(runtime, Struct.new(:tick_count).new(0)) # a paused game
  def client.log(text) = (@logged ||= []) << text
  step = ->(tick) { Kernel.global_tick_count = tick; client.tick }

  step.(1)
  runtime.finish("/vellum/boot/", 200, "1000\n")
  step.(2)
  step.(360) # first poll
  runtime.finish("/vellum/changes/", 200, "src_backup_app_a.rb, 1005, app/a.rb\nsrc_backup_app_b.rb, 1005, app/b.rb\n" \
                                          "src_backup_app_c,d.rb, 1005, app/c,d.rb\nsrc_backup_old.rb, 990, app/old.rb")
  step.(420)
  step.(421)
  runtime.finish("src_backup_app_a.rb", 200, "require 'app/c,d.rb'\n")
  step.(422)
  runtime.finish("src_backup_app_b.rb", 404)
  step.(423)
  # Nothing is written while files of the list are still on their way.
  assert_equal({}, runtime.writes)
  runtime.finish("src_backup_app_c,d.rb", 200, "c = 2\n")
  step.(424)
  urls = runtime.requests.map { |url, _| url.split("/vellum/").last }
  assert_equal ["boot/", "changes/", "src_backup_app_a.rb", "src_backup_app_b.rb", "src_backup_app_c,d.rb"], urls
  assert_equal({ "app/a.rb" => "require 'app/c,d.rb'\n", "app/c,d.rb" => "c = 2\n" }, runtime.writes)
  assert client.instance_variable_get(:@logged).any? { |t| t.include?("src_backup_app_b.rb failed (status 404)") }

  # On the development machine itself the client asks for nothing.
  local = FakeHttpRuntime.new("app/server_ip_address.txt" => "10.0.0.1")
  same = QMX::RemoteHotloadClient.new("10.0.0.1")
  same.args = Struct.new(:qmx, :state).new(local, nil)
  same.tick
  assert_equal [], local.requests
end

# A development machine that is down is asked again after 1, 2, 4, then
# every 8 seconds, not on every frame.
def test_a_development_machine_that_is_down_is_asked_again_less_and_less_often
  runtime = FakeHttpRuntime.new("app/server_ip_address.txt" => "10.0.0.1")
  client = QMX::RemoteHotloadClient.new("10.0.0.2")
  client.args = Struct.new(:qmx, :state).new(runtime, nil)
  def client.log(text) = nil
  1500.times { client.tick; runtime.requests.last[1][:complete] || runtime.finish("/vellum/boot/", 500) }
  assert_equal 6, runtime.requests.length
end
