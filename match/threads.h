// One more thread for a piece of work, where the C++ library has none: the
// MinGW-w64 compilers of the win32 thread model have no std::thread.
#pragma once

namespace chronelle {

// Runs first(arg1) on a new thread and second(arg2) on this one, and returns
// once both are done. If no thread can be made, runs both here in turn.
void runBoth(void (*first)(void*), void* arg1, void (*second)(void*), void* arg2);

}  // namespace chronelle
