// Termination signals through a socket pair (the only thing a signal handler may safely
// do is write to it) and the loaded file of an address through the dynamic linker.
#include "platform/Process.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

namespace platform {
namespace {

int g_signalPair[2] = {-1, -1};

void OnTerminationSignal(int sig) {
    const char byte = static_cast<char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPair[1], &byte, 1);
}

}  // namespace

int TerminationSignalDescriptor() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPair) !=
            0) {
            g_signalPair[0] = g_signalPair[1] = -1;
            return;
        }
        struct sigaction action {};
        action.sa_handler = OnTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
            ::sigaction(sig, &action, nullptr);
        }
    });
    return g_signalPair[0];
}

void DrainTerminationSignals(int descriptor) {
    ReadSignals(descriptor);
}

SignalsReceived ReadSignals(int descriptor) {
    SignalsReceived received;
    char buffer[16];
    ssize_t n = 0;
    while ((n = ::read(descriptor, buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            (buffer[i] == SIGHUP ? received.reload : received.terminate) = true;
        }
    }
    return received;
}

std::string LoadedFileOf(const void* address) {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
        return {};
    }
    std::error_code ec;
    const auto path = std::filesystem::canonical(info.dli_fname, ec);
    return ec ? std::string(info.dli_fname) : path.string();
}

}  // namespace platform
