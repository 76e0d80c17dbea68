#include "http_client.h"

void http_tick() {}

void http_quit() {}
