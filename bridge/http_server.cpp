#include "http_server.h"

void httpserver_quit() {}
