# The benchmark workloads as a game for this engine. The bunnymark: N
# sprites of one 32x32 image, each moved by its own velocity and bounced off
# the 1280x720 edges every tick, and drawn every frame. Three ways a game
# author would write it:
#
#   hashes          a Hash per sprite, all pushed into args.outputs.sprites
#                   every tick
#   attr_sprite     an object per sprite (a class using attr_sprite), pushed
#                   the same way
#   static_sprites  Hashes pushed once into args.outputs.static_sprites and
#                   then only moved in place
#
# The text mark: N labels in the default font and size at fixed places:
#
#   labels_changing    a new Hash per label every tick, its text
#                      "s#{i} #{tick % 100}"
#   labels_unchanging  Hashes made once, text "s#{i} #{i % 100}", pushed into
#                      args.outputs.labels every tick
#
# The memory soak: N things made anew every tick and drawn, for minutes, while
# the measurement samples resident memory. Each way a game draws what it
# makes every frame:
#
#   soak_string_path     sprite Hashes with a String path (a new String each)
#   soak_symbol_path     sprite Hashes with a Symbol path
#   soak_static_sprites  args.outputs.static_sprites cleared and refilled
#   soak_attr_sprite     new objects of a class using attr_sprite
#   soak_primitives      sprite Hashes marked by Hash#sprite, pushed into
#                        args.outputs.primitives
#   soak_labels          label Hashes with new text (as labels_changing)
#
# Frame pacing with a big live world: the game keeps N small Hashes in
# args.state for the whole run (built in the first ticks, before the
# measurement starts) and the measurement records every interval between two
# ticks.
#
#   heap_garbage    also makes 2,000 Hashes a tick that are dropped at once,
#                   and 500 new sprite Hashes that are drawn
#   heap_replace    replaces 10,000 of its N Hashes a tick, the next 10,000
#                   each tick, round and round the world
#   heap_blocks     passes a block 1,000 times a tick, as ordinary nested
#                   iteration does (each call makes a Proc of the inner block)
#   entities        makes 200 new entities a tick and drops the oldest, N
#                   live; each new entity's properties are read and written
#
# HTTP clients loading the game's server (N clients, driven by
# bench/driver.py from outside): the game answers every request that reaches
# it, and its window opens once the driver says its load runs.
#
#   net_uploads     bodies of half a megabyte posted with a Content-Length
#   net_head_flood  request heads of a quarter of a million short lines
#   net_endless_answer  the other way round: the game keeps one request
#                   running to the driver's server, which answers without
#                   end; each answer fails at the engine's bound and the
#                   game asks again
#
# bench/driver.py copies this file into a fresh game folder and puts a BENCH
# Hash in front of it (sprite count, mode, measurement window, result file).
# Without one, the defaults below run the hashes mode for a look at it.
BENCH = { n: 2000, mode: "hashes", warmup: 60, warmup_time: 3.0, frames: 600, time_limit: 30.0,
          clock_ticks: 100, out: nil, mark: nil, sample_every: nil, intervals: false, port: nil,
          loaded: nil } unless Object.const_defined?(:BENCH)

WORLD_W = 1280
WORLD_H = 720
SPRITE_SIZE = 32
BUNNY_PATH = "sprites/bunny.png"

class Bunny
  attr_sprite
  attr_accessor :dx, :dy

  def initialize(x, y, dx, dy)
    @x = x
    @y = y
    @w = SPRITE_SIZE
    @h = SPRITE_SIZE
    @path = BUNNY_PATH
    @dx = dx
    @dy = dy
  end
end

# Deterministic start positions and speeds, the same formula in all three
# benchmark programs, so each moves the same sprites along the same paths.
def bunny_start(i)
  [(i * 7919) % (WORLD_W - 32),
   (i * 104729) % (WORLD_H - 32),
   ((i % 11) - 5) * 0.5 + 0.25,
   ((i % 13) - 6) * 0.5 + 0.25]
end

def make_bunnies(mode, n)
  Array.new(n) do |i|
    x, y, dx, dy = bunny_start(i)
    if mode == "attr_sprite"
      Bunny.new(x, y, dx, dy)
    else
      { x: x, y: y, w: SPRITE_SIZE, h: SPRITE_SIZE, path: BUNNY_PATH, dx: dx, dy: dy }
    end
  end
end

def move_hashes(bunnies)
  max_x = WORLD_W - SPRITE_SIZE
  max_y = WORLD_H - SPRITE_SIZE
  bunnies.each do |b|
    x = b[:x] += b[:dx]
    y = b[:y] += b[:dy]
    b[:dx] = -b[:dx] if x < 0 || x > max_x
    b[:dy] = -b[:dy] if y < 0 || y > max_y
  end
end

def move_objects(bunnies)
  max_x = WORLD_W - SPRITE_SIZE
  max_y = WORLD_H - SPRITE_SIZE
  bunnies.each do |b|
    b.x += b.dx
    b.y += b.dy
    b.dx = -b.dx if b.x < 0 || b.x > max_x
    b.dy = -b.dy if b.y < 0 || b.y > max_y
  end
end

# Where label i sits: the same formula in all three text programs (y counts
# down from the top there, up from the bottom here).
def label_start(i)
  [(i * 7919) % (WORLD_W - 80), WORLD_H - (i * 104729) % (WORLD_H - 24)]
end

def tick_labels(args, mode)
  spots = (args.state.spots ||= Array.new(BENCH[:n]) { |i| label_start(i) })
  if mode == "labels_unchanging"
    args.state.labels ||= spots.map_with_index { |(x, y), i| { x: x, y: y, text: "s#{i} #{i % 100}" } }
    args.outputs.labels << args.state.labels
  else
    t = Kernel.tick_count % 100
    labels = args.outputs.labels
    spots.each_with_index { |(x, y), i| labels << { x: x, y: y, text: "s#{i} #{t}" } }
  end
end

# Soak sprites are small: with 5,000 larger ones a frame the headless
# software renderer itself holds on to memory (the plain SDL2 bunnymark does
# too), which would hide what the engine keeps. The default path is a String
# literal, so a new String every time.
def soak_sprite(i, path = "sprites/bunny.png")
  { x: (i * 37) % WORLD_W, y: (i * 53) % WORLD_H, w: 16, h: 16, path: path }
end

class SoakSprite
  attr_sprite

  def initialize(i)
    @x = (i * 37) % WORLD_W
    @y = (i * 53) % WORLD_H
    @w = 16
    @h = 16
    @path = "sprites/bunny.png"
  end
end

def tick_soak(args, mode)
  n = BENCH[:n]
  case mode
  when "soak_string_path"
    n.times { |i| args.outputs.sprites << soak_sprite(i) }
  when "soak_symbol_path"
    n.times { |i| args.outputs.sprites << soak_sprite(i, :"sprites/bunny.png") }
  when "soak_static_sprites"
    args.outputs.static_sprites.clear
    n.times { |i| args.outputs.static_sprites << soak_sprite(i) }
  when "soak_attr_sprite"
    n.times { |i| args.outputs.sprites << SoakSprite.new(i) }
  when "soak_primitives"
    n.times { |i| args.outputs.primitives << soak_sprite(i).sprite }
  else
    tick_labels(args, "labels_changing")
  end
end

# The world is built a slice at a time, so that no tick of the build runs for
# seconds; the measurement starts once it is whole.
HEAP_BUILD_SLICE = 250_000

def heap_world(args)
  n = BENCH[:n]
  world = (args.state.world ||= [])
  return world if world.length >= n
  count = [HEAP_BUILD_SLICE, n - world.length].min
  count.times { world << { x: world.length, y: 0, hp: 100 } }
  world.length >= n ? world : nil
end

def tick_heap(args, mode)
  world = heap_world(args)
  return false unless world
  t = Kernel.tick_count
  if mode == "heap_garbage"
    2_000.times { |i| { x: i, y: t, hp: 100 } }
    sprites = args.outputs.sprites
    500.times { |i| sprites << soak_sprite(i + t) }
  elsif mode == "heap_blocks"
    1_000.times { |i| [1, 2, 3].each { |v| v + i } }
  else
    n = world.length
    at = (t * 10_000) % n
    10_000.times do |k|
      j = (at + k) % n
      world[j] = { x: j, y: t, hp: 100 }
    end
  end
  true
end

ENTITIES_PER_TICK = 200

def tick_entities(args)
  live = (args.state.items ||= [])
  t = Kernel.tick_count
  ENTITIES_PER_TICK.times do |i|
    e = args.state.new_entity(:item, x: i, y: t, hp: 100)
    e.x = e.x + 1
    e.y = e.y + 1
    e.hp = e.hp - 1
    live << e
  end
  live.shift(live.length - BENCH[:n]) if live.length > BENCH[:n]
end

def tick_network(args)
  if BENCH[:mode] == "net_endless_answer"
    $endless = nil if $endless && $endless[:complete]
    $endless ||= $qmx.http_get("http://127.0.0.1:#{BENCH[:port]}/endless")
    return File.exist?(BENCH[:loaded])
  end
  $qmx.start_server!(port: BENCH[:port]) if Kernel.tick_count == 0
  args.inputs.http_requests.each { |request| request.respond(200, "ok") }
  File.exist?(BENCH[:loaded])
end

def tick(args)
  mode = BENCH[:mode]
  if mode.start_with?("net_")
    bench_measure if tick_network(args)
    return
  end
  if mode.start_with?("heap")
    return bench_measure if tick_heap(args, mode)
    return
  end
  if mode == "entities"
    tick_entities(args)
    return bench_measure
  end
  if mode.start_with?("soak")
    tick_soak(args, mode)
    return bench_measure
  end
  if mode.start_with?("labels")
    tick_labels(args, mode)
    return bench_measure
  end
  if !args.state.bunnies
    args.state.bunnies = make_bunnies(mode, BENCH[:n])
    args.outputs.static_sprites << args.state.bunnies if mode == "static_sprites"
  end
  bunnies = args.state.bunnies
  if mode == "attr_sprite"
    move_objects(bunnies)
  else
    move_hashes(bunnies)
  end
  args.outputs.sprites << bunnies unless mode == "static_sprites"
  bench_measure
end

# --- Measurement: not part of the workload -----------------------------------

# User plus system time of the whole process, every thread included, as the
# kernel accounts it; the same source the other two programs read.
def bench_process_cpu_seconds
  text = File.open("/proc/self/stat", "r") { |f| f.read }
  fields = text[(text.rindex(")") + 2)..-1].split(" ")
  # The fields after the command name start at field 3 (state): utime is
  # field 14, stime field 15.
  (fields[11].to_i + fields[12].to_i) / BENCH[:clock_ticks].to_f
end

# The engine's own frame rates, as the host reports them to the runtime.
def bench_engine_rates
  sim = $qmx.respond_to?(:current_framerate_calc) ? $qmx.current_framerate_calc : nil
  render = $qmx.respond_to?(:current_framerate_render) ? $qmx.current_framerate_render : nil
  [sim, render]
end

# The process's resident memory in KiB, as the kernel counts it.
def bench_resident_kib
  text = File.open("/proc/self/status", "r") { |f| f.read }
  at = text.index("VmRSS:")
  at ? text[(at + 6)..-1].to_i : 0
end

# Every BENCH[:sample_every] seconds of the window: the resident memory then
# and the engine's own rates averaged since the sample before, as
# "seconds:rss_kib:sim_fps:render_fps".
def bench_sample(m, sim, render, wall)
  s = (m[:sample] ||= { sim_sum: 0.0, render_sum: 0.0, rates: 0, at: BENCH[:sample_every] })
  if sim && render
    s[:sim_sum] += sim
    s[:render_sum] += render
    s[:rates] += 1
  end
  return if wall < s[:at]
  rates = [s[:rates], 1].max
  (m[:samples] ||= []) << format("%.1f:%d:%.2f:%.2f", wall, bench_resident_kib,
                                 s[:sim_sum] / rates, s[:render_sum] / rates)
  m[:sample] = { sim_sum: 0.0, render_sum: 0.0, rates: 0, at: s[:at] + BENCH[:sample_every] }
end

# Microseconds on the wall clock, as an Integer (a Float of the epoch time
# would round them).
def bench_now_us
  now = Time.now
  now.to_i * 1_000_000 + now.usec
end

# Every interval between two ticks of the window, in microseconds: the time
# from the end of one tick to the end of the next, which holds whatever the
# engine did in between.
def bench_interval(m)
  now = bench_now_us
  (m[:intervals] ||= []) << now - m[:last_us] if m[:last_us]
  m[:last_us] = now
end

def bench_measure
  m = ($bench ||= { frame: 0, measured: 0, sim_sum: 0.0, render_sum: 0.0, rate_samples: 0,
                    first_frame: Time.now.to_f, measuring: false, done: false })
  return if m[:done]
  m[:frame] += 1
  # The window opens after the warm-up frames, or sooner when they take too
  # long (a game far below 60 fps).
  unless m[:measuring]
    if m[:frame] >= BENCH[:warmup] || Time.now.to_f - m[:first_frame] >= BENCH[:warmup_time]
      m[:measuring] = true
      # A profiler waits for this file to start counting.
      File.open(BENCH[:mark], "w") { |f| f.write("#{m[:frame]}\n") } if BENCH[:mark]
      m[:cpu_start] = bench_process_cpu_seconds
      m[:wall_start] = Time.now.to_f
    end
    return
  end

  m[:measured] += 1
  bench_interval(m) if BENCH[:intervals]
  sim, render = bench_engine_rates
  if sim && render
    m[:sim_sum] += sim
    m[:render_sum] += render
    m[:rate_samples] += 1
  end
  wall = Time.now.to_f - m[:wall_start]
  bench_sample(m, sim, render, wall) if BENCH[:sample_every]
  return if m[:measured] < BENCH[:frames] && wall < BENCH[:time_limit]

  cpu = bench_process_cpu_seconds - m[:cpu_start]
  samples = m[:rate_samples]
  lines = ["n=#{BENCH[:n]}", "mode=#{BENCH[:mode]}", "frames=#{m[:measured]}",
           "cpu_seconds=#{format('%.4f', cpu)}", "wall_seconds=#{format('%.4f', wall)}",
           "fps=#{format('%.3f', m[:measured] / wall)}"]
  if samples > 0
    lines << "sim_fps=#{format('%.2f', m[:sim_sum] / samples)}"
    lines << "render_fps=#{format('%.2f', m[:render_sum] / samples)}"
  end
  lines << "samples=#{m[:samples].join(' ')}" if m[:samples]
  lines << "intervals=#{m[:intervals].join(' ')}" if m[:intervals]
  if BENCH[:out]
    File.open(BENCH[:out], "w") { |f| f.write(lines.join("\n") + "\n") }
  else
    puts lines.join(" ")
  end
  m[:done] = true
  $qmx.request_quit
end
