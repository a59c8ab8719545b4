// chronelle: the window that shifts the subtitles of a SubRip file in place.
// No options of its own; the toolkit takes its standard ones, and a file
// named on the command line ("Open with") is vetted as if chosen.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>

#include "listen.h"
#include "stop.h"
#include "window.h"

int main(int argc, char* argv[])
{
    gtk_init(&argc, &argv);
    // Ctrl-C or SIGTERM during a shift stops it between two writes.
    chronelle::catchStopSignals(true);
    chronelle::ui::start(argc, argv);
    gtk_main();
    // A film still being read when the window closed (a disk that does not
    // answer) does not keep the program: it ends within a second anyway.
    if (!chronelle::ui::listeningEnded(900)) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(0);
    }
    return 0;
}
