# The sample game: a field of bouncing sprites over a colour wash, with a
# label that follows the mouse. Everything is drawn from args.outputs.

def new_stars
  Array.new(60) do
    {
      x: rand(1200), y: rand(640), w: 48, h: 48,
      dx: (rand * 6) - 3, dy: (rand * 6) - 3,
      angle: rand(360), spin: (rand * 4) - 2,
      path: "sprites/star.png"
    }
  end
end

# The engine calls boot once, when this file has first loaded, before the
# first tick.
def boot(args)
  args.state.stars = new_stars
end

def move_stars(args)
  args.state.stars.each do |s|
    s[:x] += s[:dx]
    s[:y] += s[:dy]
    s[:dx] = -s[:dx] if s[:x] < 0 || s[:x] > 1280 - s[:w]
    s[:dy] = -s[:dy] if s[:y] < 0 || s[:y] > 720 - s[:h]
    s[:angle] += s[:spin]
  end
end

def draw_background(args)
  bands = 12
  bands.times do |i|
    shade = 20 + i * 6
    args.outputs.solids << { x: 0, y: i * 60, w: 1280, h: 60, r: shade / 2, g: shade / 3, b: shade }
  end
end

def tick(args)
  # A reset (or a recording or replay starting) empties the state and does
  # not call boot again: the stars are made anew here then.
  args.state.stars ||= new_stars
  move_stars(args)
  draw_background(args)
  args.outputs.sprites << args.state.stars
  args.outputs.lines << { x: 0, y: 360, x2: 1280, y2: 360, r: 255, g: 255, b: 255, a: 40 }
  args.outputs.borders << { x: 20, y: 20, w: 1240, h: 680, r: 255, g: 255, b: 255, a: 80 }
  mouse = args.inputs.mouse
  args.outputs.labels << { x: 640, y: 680, text: "Vellumcore", size_enum: 10,
                           alignment_enum: 1, r: 255, g: 255, b: 255 }
  args.outputs.labels << { x: mouse.x, y: mouse.y, text: "#{mouse.x.to_i}, #{mouse.y.to_i}",
                           r: 255, g: 220, b: 120 }
  args.outputs.labels << { x: 20, y: 50, text: "tick #{Kernel.tick_count}", r: 200, g: 200, b: 200 }
end
