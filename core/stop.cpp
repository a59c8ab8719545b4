// The stop signals: the handler only records, so that the patcher decides
// where it stops. Installed without SA_RESTART: a call that waits (an open
// that blocks, a read of a slow film) returns EINTR and the caller looks at
// the flag, where a restarted call would wait on and never see it.
#include "stop.h"

#include <csignal>

#ifndef _WIN32
#include <signal.h>
#endif

namespace chronelle {

namespace {

volatile std::sig_atomic_t caught = 0;
volatile std::sig_atomic_t shiftingNow = 0;
volatile std::sig_atomic_t dieIdle = 0;

const int Signals[] = {
    SIGINT,
    SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
#ifdef SIGBREAK
    SIGBREAK,
#endif
};

void setHandler(int sig, void (*handler)(int))
{
#ifdef _WIN32
    std::signal(sig, handler);
#else
    struct sigaction a = {};
    a.sa_handler = handler;
    sigemptyset(&a.sa_mask);
    a.sa_flags = 0;
    sigaction(sig, &a, nullptr);
#endif
}

extern "C" void onStopSignal(int sig)
{
    if (dieIdle && !shiftingNow) {
        setHandler(sig, SIG_DFL);
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
        setHandler(sig, onStopSignal);
#ifndef _WIN32
    // A stop that came while a program handed over to this one held them
    // blocked is taken now, by the handler.
    sigset_t stops;
    sigemptyset(&stops);
    for (int sig : Signals)
        sigaddset(&stops, sig);
    sigprocmask(SIG_UNBLOCK, &stops, nullptr);
#endif
#ifdef SIGPIPE
    setHandler(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
    setHandler(SIGXFSZ, SIG_IGN);
#endif
}

int stopSignal() { return caught; }

void dieOfStopSignal()
{
    int sig = caught;
    if (sig == 0)
        return;
    setHandler(sig, SIG_DFL);
    std::raise(sig);
}

void setShifting(bool shifting) { shiftingNow = shifting; }

}  // namespace chronelle
