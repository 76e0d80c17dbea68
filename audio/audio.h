#pragma once

// Opens the audio device; false when no device can be opened.
bool audio_init();
void audio_quit();
