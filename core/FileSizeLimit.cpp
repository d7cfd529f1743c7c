#include "FileSizeLimit.h"

#include <csignal>

namespace {
void DoNothing(int) {}
} // namespace

void OutliveFileSizeLimit() {
    struct sigaction action {};
    action.sa_handler = DoNothing;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGXFSZ, &action, nullptr);
}
