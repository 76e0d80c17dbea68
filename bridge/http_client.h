#pragma once

// Advances every HTTP client transfer (once per frame).
void http_tick();
// Releases the HTTP client at shutdown.
void http_quit();
