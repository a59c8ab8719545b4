// Threads through the system's own calls: POSIX threads, or _beginthreadex
// on Windows.
#include "threads.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace chronelle {

namespace {

struct Work {
    void (*fn)(void*);
    void* arg;
};

#ifdef _WIN32
unsigned __stdcall start(void* p)
{
    Work* w = static_cast<Work*>(p);
    w->fn(w->arg);
    return 0;
}
#else
void* start(void* p)
{
    Work* w = static_cast<Work*>(p);
    w->fn(w->arg);
    return nullptr;
}
#endif

}  // namespace

void runBoth(void (*first)(void*), void* arg1, void (*second)(void*), void* arg2)
{
    Work work{first, arg1};
#ifdef _WIN32
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, start, &work, 0, nullptr));
    if (!thread) {
        first(arg1);
        second(arg2);
        return;
    }
    second(arg2);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
#else
    pthread_t thread;
    if (pthread_create(&thread, nullptr, start, &work) != 0) {
        first(arg1);
        second(arg2);
        return;
    }
    second(arg2);
    pthread_join(thread, nullptr);
#endif
}

}  // namespace chronelle
