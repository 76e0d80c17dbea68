-- The benchmark workloads in LÖVE's idiomatic form. The bunnymark (--mode
-- sprites): love.update moves the sprites, love.draw draws each one with
-- love.graphics.draw (LÖVE batches consecutive draws of one image by itself).
-- The world is 1280x720, scaled to the window as the engine scales its
-- logical size. The text mark (--mode changing or unchanging): N lines of
-- text drawn with love.graphics.print in the engine's font, at the glyph
-- size and places the engine gives its labels on this window (the engine
-- draws text at the output resolution, not scaled).
--
-- Run: love bench/love --n N --warmup W --frames F --time-limit S
--        --warmup-time S --out FILE --clock-ticks HZ
--        [--mode sprites --image PATH | --mode changing|unchanging
--         --font PATH --size PX]
local WORLD_W, WORLD_H, SPRITE = 1280, 720, 32

local opts = { n = 1000, warmup = 60, ["warmup-time"] = 3, frames = 240, ["time-limit"] = 10,
               image = "bunny.png", mode = "sprites", size = 22 }
local bunnies = {}
local image, scale_x, scale_y
local lines = {} -- the text mark's places and fixed texts
local font

-- User plus system time of the whole process, every thread included, as the
-- kernel accounts it; the same source the other two programs read.
local function process_cpu_seconds()
  local f = io.open("/proc/self/stat", "r")
  if not f then return -1 end
  local text = f:read("*a")
  f:close()
  local rest = text:match(".*%)%s(.*)")
  local fields = {}
  for field in rest:gmatch("%S+") do fields[#fields + 1] = field end
  -- rest starts at field 3 (state): utime is field 14, stime 15.
  return (tonumber(fields[12]) + tonumber(fields[13])) / opts["clock-ticks"]
end

local function parse_options(args)
  local i = 1
  while i < #args do
    local key = args[i]:gsub("^%-%-", "")
    opts[key] = tonumber(args[i + 1]) or args[i + 1]
    i = i + 2
  end
  opts["clock-ticks"] = opts["clock-ticks"] or 100
end

-- The engine shrinks a window that does not fit the display the same way.
local function fit_to_display(w, h)
  local dw, dh = love.window.getDesktopDimensions(1)
  if dw <= w then h = math.floor(dw / (w / h)); w = dw end
  if dh <= h then w = math.floor(dh / (h / w)); h = dh end
  return w, h
end

local function read_file_bytes(path, name)
  local f = assert(io.open(path, "rb"))
  local data = f:read("*a")
  f:close()
  return love.filesystem.newFileData(data, name)
end

-- The engine sizes glyphs so that ascent minus descent is the pixel size;
-- LÖVE's size is the em. The size that gives the engine's glyphs:
local function font_of_line_height(data, px)
  local probe = love.font.newRasterizer(data, 1000)
  local height = probe:getAscent() - probe:getDescent()
  return love.graphics.newFont(love.font.newRasterizer(data, math.floor(px * 1000 / height + 0.5)))
end

local function load_text(w, h)
  local ky = h / WORLD_H
  font = font_of_line_height(read_file_bytes(opts.font, "font.ttf"), math.floor(ky * opts.size))
  love.graphics.setFont(font)
  for i = 0, opts.n - 1 do
    lines[i + 1] = {
      x = ((i * 7919) % (WORLD_W - 80)) * (w / WORLD_W),
      y = ((i * 104729) % (WORLD_H - 24)) * ky,
      text = "s" .. i .. " " .. (i % 100),
    }
  end
end

function love.load(args)
  parse_options(args)
  local w, h = fit_to_display(WORLD_W, WORLD_H)
  love.window.setMode(w, h, { resizable = true, vsync = 1 })
  scale_x, scale_y = w / WORLD_W, h / WORLD_H
  love.graphics.setDefaultFilter("nearest", "nearest")
  if opts.mode ~= "sprites" then return load_text(w, h) end
  image = love.graphics.newImage(read_file_bytes(opts.image, "bunny.png"))
  -- Deterministic start positions and speeds, the same formula in all three
  -- programs.
  for i = 0, opts.n - 1 do
    bunnies[i + 1] = {
      x = (i * 7919) % (WORLD_W - 32),
      y = (i * 104729) % (WORLD_H - 32),
      dx = ((i % 11) - 5) * 0.5 + 0.25,
      dy = ((i % 13) - 6) * 0.5 + 0.25,
    }
  end
end

function love.update()
  local max_x, max_y = WORLD_W - SPRITE, WORLD_H - SPRITE
  for i = 1, #bunnies do
    local b = bunnies[i]
    b.x = b.x + b.dx
    b.y = b.y + b.dy
    if b.x < 0 or b.x > max_x then b.dx = -b.dx end
    if b.y < 0 or b.y > max_y then b.dy = -b.dy end
  end
end

local frame_count = 0

local function draw_text()
  love.graphics.setColor(0, 0, 0, 1)
  local print = love.graphics.print
  if opts.mode == "changing" then
    local t = frame_count % 100
    for i = 1, #lines do
      local l = lines[i]
      print("s" .. (i - 1) .. " " .. t, l.x, l.y)
    end
  else
    for i = 1, #lines do
      local l = lines[i]
      print(l.text, l.x, l.y)
    end
  end
  frame_count = frame_count + 1
end

function love.draw()
  love.graphics.clear(230 / 255, 230 / 255, 230 / 255, 1)
  if opts.mode ~= "sprites" then return draw_text() end
  love.graphics.push()
  love.graphics.scale(scale_x, scale_y)
  local draw = love.graphics.draw
  for i = 1, #bunnies do
    local b = bunnies[i]
    draw(image, b.x, b.y)
  end
  love.graphics.pop()
end

-- LÖVE's stock loop, with a fixed 60 Hz schedule in place of the vertical
-- sync that a headless renderer does not have (a late frame makes the next
-- ones run back to back, as the engine's simulation thread does), and the
-- measurement window around it.
function love.run()
  love.load(love.arg.parseGameArguments(arg))
  love.timer.step()
  local period = 1 / 60
  local deadline = love.timer.getTime()
  local frame, measured = 0, 0
  local cpu_start, wall_start = 0, 0
  local measuring = false
  local first_frame = love.timer.getTime()
  return function()
    love.event.pump()
    for name in love.event.poll() do
      if name == "quit" then return 0 end
    end
    love.timer.step()
    love.update(period)
    love.graphics.origin()
    love.draw()
    love.graphics.present()
    frame = frame + 1
    -- The window opens after the warm-up frames, or sooner when they take
    -- too long (a program far below 60 fps).
    if not measuring then
      if frame >= opts.warmup or love.timer.getTime() - first_frame >= opts["warmup-time"] then
        measuring = true
        cpu_start = process_cpu_seconds()
        wall_start = love.timer.getTime()
      end
    else
      measured = measured + 1
      local wall = love.timer.getTime() - wall_start
      if measured >= opts.frames or wall >= opts["time-limit"] then
        local cpu = process_cpu_seconds() - cpu_start
        local out = assert(io.open(opts.out, "w"))
        out:write(string.format(
          "n=%d\nframes=%d\ncpu_seconds=%.4f\nwall_seconds=%.4f\nfps=%.3f\nrenderer=%s\noutput=%dx%d\n",
          opts.n, measured, cpu, wall, measured / wall,
          (love.graphics.getRendererInfo()), love.graphics.getPixelWidth(), love.graphics.getPixelHeight()))
        out:close()
        return 0
      end
    end
    deadline = deadline + period
    local remaining = deadline - love.timer.getTime()
    if remaining > 0 then love.timer.sleep(remaining) end
  end
end
