// Process entry.
#include "engine.h"

int main(int argc, char **argv) {
    crash_handler_install();
    quit_signals_install();
    engine_startup(argc, argv);
    main_thread_loop();
}
