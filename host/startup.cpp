// Start-up: options, SDL, the virtual file system with its
// mounts and write directory, metadata, controller mappings, the interpreter
// with the framework, the window, audio, FFI and the runtime object.
#include "collector.h"
#include "engine.h"
#include "engine_log.h"
#include "fileio.h"
#include "folder_view.h"
#include "metadata.h"
#include "options.h"
#include "host_call.h"
#include "runtime_glue.h"

#include "../audio/audio.h"
#include "../bridge/ffi.h"
#include "../render/draw_commands.h"
#include "../render/draw_methods.h"
#include "../render/render_context.h"

#include <physfs.h>

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>

render_context *the_render_context = nullptr;
threadstream *current_frame_stream = nullptr;

namespace {

void *physfs_malloc_hook(PHYSFS_uint64 size) { return SDL_malloc((size_t)size); }
void *physfs_realloc_hook(void *pointer, PHYSFS_uint64 size) { return SDL_realloc(pointer, (size_t)size); }
void physfs_free_hook(void *pointer) { SDL_free(pointer); }

const PHYSFS_Allocator physfs_allocator = {nullptr, nullptr, physfs_malloc_hook, physfs_realloc_hook,
                                           physfs_free_hook};

bool search_path_has(const char *path) {
    PHYSFS_Stat stat;
    return PHYSFS_stat(path, &stat) != 0;
}

void add_controller_mappings(const char *path) {
    PHYSFS_File *file = PHYSFS_openRead(path);
    if (!file) return;
    // Small files: read whole and hand SDL a memory stream it closes itself.
    PHYSFS_sint64 length = PHYSFS_fileLength(file);
    if (length <= 0) {
        PHYSFS_close(file);
        return;
    }
    void *bytes = SDL_malloc((size_t)length);
    if (bytes && PHYSFS_readBytes(file, bytes, (PHYSFS_uint64)length) == length)
        SDL_GameControllerAddMappingsFromRW(SDL_RWFromConstMem(bytes, (int)length), 1);
    SDL_free(bytes);
    PHYSFS_close(file);
}

void load_framework(mrb_state *mrb) {
    mrb_load_irep_buf(mrb, main_ruby, main_ruby_size);
    host_finish_top_level(mrb);
    // An error in the framework itself must stay visible without stopping
    // start-up, and must not poison the calls that follow.
    host_log_pending_exception(mrb);
}

} // namespace

void startup_failure(const char *format, ...) {
    char message[256];
    va_list args;
    va_start(args, format);
    SDL_vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    std::fprintf(stderr, "\n\n%s:\n%s\n\n", "Startup failure!", message);
    std::fflush(stderr);
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Startup failure!", message, nullptr);
    // Start-up may fail before the file system is up, and shutting PhysicsFS
    // down before it was started crashes it.
    if (PHYSFS_isInit()) PHYSFS_deinit();
    SDL_Quit();
    std::exit(1);
}

void engine_startup(int argc, char **argv) {
    game_state *state = &the_game_state;
    host_options options = parse_host_options(argc, argv);
    audio_choose_output();

    // A write past the process's file-size limit then fails as on a full
    // disk, and is answered so, instead of ending the engine.
    signal(SIGXFSZ, SIG_IGN);
    SDL_SetHint("SDL_IOS_ORIENTATIONS", "LandscapeLeft LandscapeRight");
    if (SDL_Init(SDL_INIT_VIDEO) == -1) startup_failure("SDL_Init(SDL_INIT_VIDEO) failed: %s", SDL_GetError());
    if (!threadstream_init()) startup_failure("Thread initialization failed");
    if (!PHYSFS_setAllocator(&physfs_allocator)) startup_failure("PHYSFS_setAllocator failed: %s", physfs_error());
    if (!PHYSFS_init(argc > 0 ? argv[0] : nullptr)) startup_failure("PHYSFS_init failed: %s", physfs_error());

    // The executable itself may carry an archive; it is fine when it does not.
    if (argc > 0) PHYSFS_mount(argv[0], nullptr, 0);

    char *base_path = SDL_GetBasePath();
    if (!base_path) startup_failure("Couldn't find installation directory: %s", SDL_GetError());
    if (!PHYSFS_mount(base_path, nullptr, 0))
        startup_failure("Couldn't mount installation directory: %s", physfs_error());

    bool mygame_mounted = false;
    // A game given as an archive is read from it but never written into.
    const bool packed_game = options.game_dir_argument && !platform_directory_exists(options.game_dir_argument);
    if (options.game_dir_argument) {
        if (!PHYSFS_mount(options.game_dir_argument, nullptr, 0))
            startup_failure("Couldn't mount '%s' directory: %s", options.game_dir_argument, physfs_error());
    } else if (!search_path_has("app") && search_path_has("mygame")) {
        char *path = sprintf_alloc("%s/mygame", base_path);
        if (!path) startup_failure("Out of memory!");
        if (!PHYSFS_mount(path, nullptr, 0)) startup_failure("Couldn't mount '%s' directory: %s", path, physfs_error());
        SDL_free(path);
        mygame_mounted = true;
    }

    game_metadata_record *metadata = game_metadata_mutable();
    bool production = options.production != 0;
    if (!production) {
        PHYSFS_Stat stat;
        if (PHYSFS_stat("metadata/VELLUMCORE_PRODUCTION_BUILD", &stat) && stat.modtime >= 1) production = true;
    }
    if (production) metadata->production = 1;

    const char *write_dir = base_path;
    if (production) {
        char organisation[sizeof(metadata->devtitle)], application[sizeof(metadata->gametitle)];
        metadata_folder_names(metadata, organisation, application, sizeof(application));
        write_dir = PHYSFS_getPrefDir(organisation, application);
        if (!write_dir) startup_failure("Couldn't set write directory: %s", physfs_error());
    }
    if (!PHYSFS_setWriteDir(write_dir)) startup_failure("Couldn't set write directory: %s", physfs_error());
    if (write_dir != base_path && std::strcmp(write_dir, base_path) != 0) {
        if (!PHYSFS_mount(write_dir, nullptr, 0)) startup_failure("Couldn't mount write directory: %s", physfs_error());
    } else if (packed_game) {
        // Its files are written beside the engine: that folder is searched
        // before the archive, so that what the game wrote is what it reads
        // back, as in production. The engine's own files there stay behind
        // the game's, as in production: a game's own font.ttf is its font.
        if (!folder_view_mount(base_path, VELLUM_DIST_NAMES))
            startup_failure("Couldn't mount write directory: %s", physfs_error());
    }

    add_controller_mappings("metadata/engine_controller_mappings.txt");
    add_controller_mappings("metadata/game_controller_mappings.txt");
    add_controller_mappings("user_controller_mappings.txt");
    SDL_SetHint("SDL_ACCELEROMETER_AS_JOYSTICK", "0");
    SDL_Init(SDL_INIT_GAMECONTROLLER);

    state->mrb = mrb_open();
    if (!state->mrb) startup_failure("Couldn't open the Ruby interpreter");
    collector_init(state->mrb);
    // The framework reads the window options with the saved-state reader
    // (game_pre_init) before ffi_init defines the rest of FFI.
    ffi_saved_text_methods_define(state->mrb, mrb_define_module(state->mrb, "FFI"));

    if (production) {
        state->game_dir = SDL_strdup(write_dir);
        state->base_dir = SDL_strdup(write_dir);
    } else {
        // Without a named game directory the game is "mygame" when that was
        // mounted, else the base directory itself (its "app" was found there).
        // A packed game's saves and screenshots go to the base directory,
        // with its logs.
        const char *argument = packed_game ? base_path : options.game_dir_argument;
        state->game_dir = argument        ? SDL_strdup(argument)
                          : mygame_mounted ? sprintf_alloc("%s/mygame", base_path)
                                           : SDL_strdup(base_path);
        state->base_dir = SDL_strdup(base_path);
    }
    if (!state->game_dir || !state->base_dir) startup_failure("Out of memory!");
    // What a save cut short by a killed engine left behind.
    const char *written_folders[] = {state->game_dir, state->base_dir};
    remove_stale_temporary_files(written_folders, 2);
    if (!production) engine_log_init(state->base_dir);

    load_framework(state->mrb);
    game_pre_init(state, argc, argv);

    the_render_context = render_context_new(options.fullscreen, options.hidden_window, state->logical_width,
                                            state->logical_height, state->argv_window_width,
                                            state->argv_window_height, state->argv_window_position_x,
                                            state->argv_window_position_y, state->argv_window_scale);
    if (!the_render_context) startup_failure("Couldn't create render context: %s", SDL_GetError());
    if (!audio_init()) startup_failure("Couldn't initialize audio");
    ffi_init(state, the_render_context);
    draw_init(the_render_context, state->game_dir);

    state->ffi_draw_class = mrb_define_class_under(state->mrb, state->ffi_module, "Draw", state->mrb->object_class);
    draw_methods_define(state->mrb, state->ffi_draw_class);

    current_frame_stream = threadstream_allocate();
    game_init(state);
    static const char empty_tick[] = "def tick args; end;";
    mrb_load_nstring(state->mrb, empty_tick, sizeof(empty_tick) - 1);
    host_finish_top_level(state->mrb);
    host_log_pending_exception(state->mrb);
    submit_frame_stream();

    SDL_free(base_path);
}
