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
    std::string verb;
    std::vector<std::string> words;
    std::string rest; // everything after the verb, for names and text
};

std::multimap<int, script_action> read_script(const char *path) {
    std::multimap<int, script_action> script;
    std::ifstream in(path ? path : "");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        int frame;
        script_action action;
        if (!(words >> frame >> action.verb)) continue;
        std::getline(words, action.rest);
        if (!action.rest.empty() && action.rest[0] == ' ') action.rest.erase(0, 1);
        std::istringstream rest(action.rest);
        for (std::string word; rest >> word;) action.words.push_back(word);
        script.emplace(frame, action);
    }
    return script;
}

std::vector<SDL_Joystick *> devices;

int word_int(const script_action &action, size_t index) {
    return index < action.words.size() ? std::atoi(action.words[index].c_str()) : 0;
}

Uint32 window_id() { return the_render_context ? the_render_context->window_id : 0; }

// A window coordinate: pixels, or a percentage of the window's size ("50%").
int window_coordinate(const script_action &action, size_t index, bool vertical) {
    if (index >= action.words.size()) return 0;
    const std::string &word = action.words[index];
    if (word.empty() || word.back() != '%') return std::atoi(word.c_str());
    int w = 0, h = 0;
    if (the_render_context) SDL_GetWindowSize(the_render_context->window, &w, &h);
    return (int)(std::atof(word.c_str()) * (vertical ? h : w) / 100.0);
}

void push_key(Uint32 type, int keycode, int modifier) {
    SDL_Event event;
    SDL_zero(event);
    event.type = type;
    event.key.windowID = window_id();
    event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.sym = keycode;
    event.key.keysym.scancode = SDL_GetScancodeFromKey(keycode);
    event.key.keysym.mod = (Uint16)modifier;
    SDL_PushEvent(&event);
}

void push_mouse_button(Uint32 type, int button) {
    int x = 0, y = 0;
    SDL_GetMouseState(&x, &y);
    SDL_Event event;
    SDL_zero(event);
    event.type = type;
    event.button.windowID = window_id();
    event.button.button = (Uint8)button;
    event.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.button.clicks = 1;
    SDL_PushEvent(&event);
}

void attach(SDL_JoystickType type, int axes, int buttons, int hats, const std::string &name) {
    SDL_VirtualJoystickDesc desc;
    SDL_zero(desc);
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = (Uint16)type;
    desc.naxes = (Uint16)axes;
    desc.nbuttons = (Uint16)buttons;
    desc.nhats = (Uint16)hats;
    desc.name = name.empty() ? nullptr : name.c_str();
    int index = SDL_JoystickAttachVirtualEx(&desc);
    devices.push_back(index >= 0 ? SDL_JoystickOpen(index) : nullptr);
    if (index < 0) std::fprintf(stderr, "driver: cannot attach %s: %s\n", name.c_str(), SDL_GetError());
}

SDL_Joystick *device(const script_action &action) {
    size_t index = (size_t)word_int(action, 0);
    return index < devices.size() ? devices[index] : nullptr;
}

void play(const script_action &action) {
    const std::string &verb = action.verb;
    if (verb == "key_down" || verb == "key_up") {
        push_key(verb == "key_down" ? SDL_KEYDOWN : SDL_KEYUP, word_int(action, 0), word_int(action, 1));
    } else if (verb == "text") {
        SDL_Event event;
        SDL_zero(event);
        event.type = SDL_TEXTINPUT;
        event.text.windowID = window_id();
        SDL_strlcpy(event.text.text, action.rest.c_str(), sizeof event.text.text);
        SDL_PushEvent(&event);
    } else if (verb == "mouse_move" || verb == "touch_mouse_move") {
        SDL_Event event;
        SDL_zero(event);
        event.type = SDL_MOUSEMOTION;
        event.motion.windowID = window_id();
        event.motion.which = verb == "mouse_move" ? 0 : SDL_TOUCH_MOUSEID;
        event.motion.x = window_coordinate(action, 0, false);
        event.motion.y = window_coordinate(action, 1, true);
        SDL_PushEvent(&event);
    } else if (verb == "mouse_down" || verb == "mouse_up") {
        push_mouse_button(verb == "mouse_down" ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP, word_int(action, 0));
    } else if (verb == "wheel") {
        SDL_Event event;
        SDL_zero(event);
        event.type = SDL_MOUSEWHEEL;
        event.wheel.windowID = window_id();
        event.wheel.x = word_int(action, 0);
        event.wheel.y = word_int(action, 1);
        event.wheel.direction = action.words.size() > 2 ? SDL_MOUSEWHEEL_FLIPPED : SDL_MOUSEWHEEL_NORMAL;
        SDL_PushEvent(&event);
    } else if (verb == "pad_attach") {
        attach(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX, SDL_CONTROLLER_BUTTON_MAX, 0, action.rest);
    } else if (verb == "joystick_attach") {
        size_t name_at = action.rest.find(' ', action.rest.find(' ', action.rest.find(' ') + 1) + 1);
        attach(SDL_JOYSTICK_TYPE_UNKNOWN, word_int(action, 0), word_int(action, 1), word_int(action, 2),
               name_at == std::string::npos ? "" : action.rest.substr(name_at + 1));
    } else if (verb == "axis") {
        SDL_JoystickSetVirtualAxis(device(action), word_int(action, 1), (Sint16)word_int(action, 2));
    } else if (verb == "button") {
        SDL_JoystickSetVirtualButton(device(action), word_int(action, 1), (Uint8)word_int(action, 2));
    } else if (verb == "hat") {
        SDL_JoystickSetVirtualHat(device(action), word_int(action, 1), (Uint8)word_int(action, 2));
    } else if (verb == "detach") {
        SDL_Joystick *joystick = device(action);
        if (!joystick) return;
        SDL_JoystickID id = SDL_JoystickInstanceID(joystick);
        for (int i = 0; i < SDL_NumJoysticks(); ++i) {
            if (SDL_JoystickGetDeviceInstanceID(i) != id) continue;
            SDL_JoystickDetachVirtual(i);
            break;
        }
        SDL_JoystickClose(joystick);
        devices[(size_t)word_int(action, 0)] = nullptr;
    } else if (verb == "controller_added") {
        // SDL announces some devices more than once.
        SDL_Event event;
        SDL_zero(event);
        event.type = SDL_CONTROLLERDEVICEADDED;
        SDL_Joystick *joystick = device(action);
        SDL_JoystickID id = joystick ? SDL_JoystickInstanceID(joystick) : -1;
        for (int i = 0; i < SDL_NumJoysticks(); ++i)
            if (SDL_JoystickGetDeviceInstanceID(i) == id) event.cdevice.which = i;
        SDL_PushEvent(&event);
    } else if (verb == "quit") {
        SDL_Event event;
        SDL_zero(event);
        event.type = SDL_QUIT;
        SDL_PushEvent(&event);
    } else {
        std::fprintf(stderr, "driver: unknown action %s\n", verb.c_str());
    }
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
    engine_shutdown();
    return 0;
}
