#include "audio.h"

bool audio_init() { return true; }

void audio_quit() {}
