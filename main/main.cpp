// chronelle: the window that shifts the subtitles of a SubRip file in place.
// No options of its own; the toolkit takes its standard ones.
#include <gtk/gtk.h>

#include "window.h"

int main(int argc, char* argv[])
{
    gtk_init(&argc, &argv);
    chronelle::ui::buildWindow();
    gtk_main();
    return 0;
}
