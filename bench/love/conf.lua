-- The bunnymark as a LÖVE 11 game: no audio, one resizable window that
-- main.lua sizes the way the engine sizes its own.
function love.conf(t)
  t.identity = "vellumcore-bunnymark"
  t.version = "11.4"
  t.console = false
  t.modules.audio = false
  t.modules.sound = false
  t.modules.joystick = false
  t.modules.physics = false
  t.modules.video = false
  t.modules.touch = false
  t.window.title = "bunnymark"
  t.window.width = 1024
  t.window.height = 576
  t.window.resizable = true
  t.window.vsync = 1
end
