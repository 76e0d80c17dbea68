#pragma once

// Stops the embedded HTTP server at shutdown.
void httpserver_quit();
