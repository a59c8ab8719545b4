// Stop requests. SIGINT, SIGTERM and SIGHUP are caught so that a shift stops
// between two writes, never inside a timing line.
#pragma once

namespace chronelle {

// Catches the three signals (SIGINT, SIGTERM and SIGBREAK on Windows). With
// `dieWhenIdle`, one that comes while no file is being shifted takes its
// usual course at once, as in the window; without, it is only recorded, and
// the command-line tool looks between files.
//
// Also ignores SIGPIPE and SIGXFSZ, which would otherwise end the program in
// the middle of a write: a closed pipe is then a failed write (EPIPE) and a
// file-size limit a write cut short (EFBIG), each told like any other.
void catchStopSignals(bool dieWhenIdle);

// The signal caught, or 0.
int stopSignal();

// Lets a caught signal take its usual course now (the window, after a shift
// that it stopped).
void dieOfStopSignal();

// The patcher marks the time it works on a file.
void setShifting(bool shifting);

}  // namespace chronelle
