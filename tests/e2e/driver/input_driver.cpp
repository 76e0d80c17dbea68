// The engine with a scripted player: the same start-up, frame step, runtime
// and game as the real executable, run on one thread (a main-thread turn,
// then a simulation frame, about 55 times a second) so that input lands in a known
// frame. Before each turn it plays the script's actions for that frame:
// SDL events pushed into SDL's queue, and virtual game pads or joysticks
// attached, moved and detached.
//
// Script (the file named by VELLUM_INPUT_SCRIPT), one action a line:
//   <frame> key_down <keycode> <modifier>      <frame> key_up <keycode> <modifier>
//   <frame> text <utf-8 text>                  <frame> mouse_move <x> <y> (pixels or "50%")
//   <frame> mouse_down <button>                <frame> mouse_up <button>
//   <frame> wheel <x> <y> [flipped]            <frame> touch_mouse_move <x> <y>
//   <frame> pad_attach <name>                  <frame> joystick_attach <axes> <buttons> <hats> <name>
//   <frame> axis <device> <axis> <value>       <frame> button <device> <button> <0|1>
//   <frame> hat <device> <hat> <value>         <frame> detach <device>
//   <frame> controller_added <device>          <frame> quit
// Devices are numbered from 0 in the order they were attached. The run ends
// when the engine stops (the game or a quit action) or after 1200 frames.
#include "host/engine.h"
#include "render/main_frame.h"
#include "render/render_context.h"

#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int MAX_FRAMES = 1200;

struct script_action {
    std::string verb, rest; // rest: everything after the verb, for names and text
    std::vector<std::string> words;
    int word(size_t index) const { return index < words.size() ? std::atoi(words[index].c_str()) : 0; }
};

std::multimap<int, script_action> read_script(const char *path) {
    std::multimap<int, script_action> script;
    std::ifstream in(path ? path : "");
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        int frame;
        script_action action;
        if (!(words >> frame >> action.verb)) continue;
        std::getline(words >> std::ws, action.rest);
        std::istringstream rest(action.rest);
        for (std::string word; rest >> word;) action.words.push_back(word);
        script.emplace(frame, action);
    }
    return script;
}

std::vector<SDL_Joystick *> devices;

// A window coordinate: pixels, or a percentage of the window's size ("50%").
int window_coordinate(const script_action &action, size_t index, bool vertical) {
    std::string word = index < action.words.size() ? action.words[index] : "0";
    if (word.back() != '%') return std::atoi(word.c_str());
    int size[2] = {0, 0};
    if (the_render_context) SDL_GetWindowSize(the_render_context->window, &size[0], &size[1]);
    return (int)(std::atof(word.c_str()) * size[vertical] / 100.0);
}

void attach(SDL_JoystickType type, int axes, int buttons, int hats, const std::string &name) {
    SDL_VirtualJoystickDesc desc;
    SDL_zero(desc);
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = (Uint16)type;
    desc.naxes = (Uint16)axes, desc.nbuttons = (Uint16)buttons, desc.nhats = (Uint16)hats;
    desc.name = name.empty() ? nullptr : name.c_str();
    int index = SDL_JoystickAttachVirtualEx(&desc);
    devices.push_back(index >= 0 ? SDL_JoystickOpen(index) : nullptr);
    if (index < 0) std::fprintf(stderr, "driver: cannot attach %s: %s\n", name.c_str(), SDL_GetError());
}

int device_index(SDL_Joystick *joystick) {
    SDL_JoystickID id = joystick ? SDL_JoystickInstanceID(joystick) : -1;
    for (int i = 0; i < SDL_NumJoysticks(); ++i)
        if (SDL_JoystickGetDeviceInstanceID(i) == id) return i;
    return -1;
}

void play(const script_action &action) {
    const std::string &verb = action.verb;
    bool down = verb == "key_down" || verb == "mouse_down";
    size_t device = (size_t)action.word(0);
    SDL_Joystick *joystick = device < devices.size() ? devices[device] : nullptr;
    SDL_Event event;
    SDL_zero(event);
    // Every window event here keeps its window's id at the same place.
    event.window.windowID = the_render_context ? the_render_context->window_id : 0;
    if (verb == "key_down" || verb == "key_up") {
        event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        event.key.keysym = {SDL_GetScancodeFromKey(action.word(0)), action.word(0), (Uint16)action.word(1), 0};
    } else if (verb == "text") {
        event.type = SDL_TEXTINPUT;
        SDL_strlcpy(event.text.text, action.rest.c_str(), sizeof event.text.text);
    } else if (verb == "mouse_move" || verb == "touch_mouse_move") {
        event.type = SDL_MOUSEMOTION;
        event.motion.which = verb == "mouse_move" ? 0 : SDL_TOUCH_MOUSEID;
        event.motion.x = window_coordinate(action, 0, false);
        event.motion.y = window_coordinate(action, 1, true);
    } else if (verb == "mouse_down" || verb == "mouse_up") {
        event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        event.button.button = (Uint8)action.word(0);
        event.button.state = down ? SDL_PRESSED : SDL_RELEASED;
        event.button.clicks = 1;
    } else if (verb == "wheel") {
        event.type = SDL_MOUSEWHEEL;
        event.wheel.x = action.word(0);
        event.wheel.y = action.word(1);
        event.wheel.direction = action.words.size() > 2 ? SDL_MOUSEWHEEL_FLIPPED : SDL_MOUSEWHEEL_NORMAL;
    } else if (verb == "pad_attach") {
        attach(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX, SDL_CONTROLLER_BUTTON_MAX, 0, action.rest);
    } else if (verb == "joystick_attach") {
        size_t name_at = action.rest.find(' ', action.rest.find(' ', action.rest.find(' ') + 1) + 1);
        attach(SDL_JOYSTICK_TYPE_UNKNOWN, action.word(0), action.word(1), action.word(2),
               name_at == std::string::npos ? "" : action.rest.substr(name_at + 1));
    } else if (verb == "axis") {
        SDL_JoystickSetVirtualAxis(joystick, action.word(1), (Sint16)action.word(2));
    } else if (verb == "button") {
        SDL_JoystickSetVirtualButton(joystick, action.word(1), (Uint8)action.word(2));
    } else if (verb == "hat") {
        SDL_JoystickSetVirtualHat(joystick, action.word(1), (Uint8)action.word(2));
    } else if (verb == "detach" && joystick) {
        SDL_JoystickDetachVirtual(device_index(joystick));
        SDL_JoystickClose(joystick);
        devices[device] = nullptr;
    } else if (verb == "controller_added") {
        // SDL announces some devices more than once.
        event.type = SDL_CONTROLLERDEVICEADDED;
        event.cdevice.which = device_index(joystick);
    } else if (verb == "quit") {
        event.type = SDL_QUIT;
    } else if (verb != "detach") {
        std::fprintf(stderr, "driver: unknown action %s\n", verb.c_str());
    }
    if (event.type) SDL_PushEvent(&event);
}

} // namespace

int main(int argc, char **argv) {
    crash_handler_install();
    engine_startup(argc, argv);
    std::multimap<int, script_action> script = read_script(std::getenv("VELLUM_INPUT_SCRIPT"));
    SDL_AtomicSet(&engine_quit_flag, 0);
    Uint32 last_frame = 0;
    for (int frame = 0; frame < MAX_FRAMES; ++frame) {
        auto [first, last] = script.equal_range(frame);
        for (auto it = first; it != last; ++it) play(it->second);
        draw_iteration(the_render_context);
        // The runtime skips its pipeline for a call less than 13 ms after the
        // last one, and input of a skipped frame may never reach the game:
        // keep the simulation frames themselves apart.
        while (SDL_GetTicks() - last_frame < 18) SDL_Delay(1);
        last_frame = SDL_GetTicks();
        if (!simulation_frame()) break;
    }
    for (SDL_Joystick *joystick : devices)
        if (joystick) SDL_JoystickClose(joystick);
    return engine_shutdown();
}
