#include "exit_signals.hpp"

#include <csignal>

#include "protocols/pending_temporary.hpp"

namespace vesk {
namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Async-signal-safe: an unlink, then the signal again with its default action
// (SA_RESETHAND restored it, SA_NODEFER lets it through at once).
void remove_temporary_and_end(int signal_number) {
    protocols::remove_pending_temporary();
    ::raise(signal_number);
}

}  // namespace

void prepare_exit_signals() {
    std::signal(SIGXFSZ, SIG_IGN);
    for (const int signal_number : kEndingSignals) {
        struct sigaction old {};
        if (::sigaction(signal_number, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = remove_temporary_and_end;
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal_number, &action, nullptr);
    }
}

}  // namespace vesk
