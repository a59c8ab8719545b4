// The stop signals: the handler only records, so that the patcher decides
// where it stops.
#include "stop.h"

#include <csignal>

namespace chronelle {

namespace {

volatile std::sig_atomic_t caught = 0;
volatile std::sig_atomic_t shiftingNow = 0;
volatile std::sig_atomic_t dieIdle = 0;

const int Signals[] = {
    SIGINT, SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
#ifdef SIGBREAK
    SIGBREAK,
#endif
};

extern "C" void onStopSignal(int sig)
{
    if (dieIdle && !shiftingNow) {
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    caught = sig;
#ifdef _WIN32
    std::signal(sig, onStopSignal);  // Windows resets the handler at each signal.
#endif
}

}  // namespace

void catchStopSignals(bool dieWhenIdle)
{
    dieIdle = dieWhenIdle;
    for (int sig : Signals)
        std::signal(sig, onStopSignal);
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

int stopSignal() { return caught; }

void dieOfStopSignal()
{
    int sig = caught;
    if (sig == 0)
        return;
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void setShifting(bool shifting) { shiftingNow = shifting; }

}  // namespace chronelle
