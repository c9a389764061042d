// The download endpoint as a resident FastCGI responder: a supervisor and its worker processes.
#pragma once
#include <string>

// Runs the resident FastCGI responder until SIGTERM or SIGINT: listens on socketPath (a Unix
// socket path, or HOST:PORT), or when empty on the listening socket passed as standard input;
// workers processes answer (0: one per processor, at least 2). Returns the exit code.
int RunFastCgiResponder(const std::string& socketPath, int workers);
