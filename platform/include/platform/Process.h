// The running process: the signals that ask it to end, and where its code was loaded from.
#pragma once

#include <string>

namespace platform {

// Makes SIGTERM (a service manager stopping the module), SIGINT and SIGHUP readable
// instead of fatal: each arrival makes the returned descriptor readable, so an event loop
// can watch it and end the program its own way. -1 when it could not be set up. Once per
// process: a second call returns the same descriptor.
int TerminationSignalDescriptor();
// Reads what the signals left on the descriptor, so it waits for the next one again.
void DrainTerminationSignals(int descriptor);
// The same, telling which came: SIGTERM or SIGINT (end the program), SIGHUP (read the
// configuration again, as `systemctl reload` asks).
struct SignalsReceived {
    bool terminate = false;
    bool reload = false;
};
SignalsReceived ReadSignals(int descriptor);

// The file (program or shared library) whose code holds the address, with links
// resolved; empty when no loaded file holds it.
std::string LoadedFileOf(const void* address);

}  // namespace platform
