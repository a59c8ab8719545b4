// The progress bar and the icon of an error beside it: where the window says
// how a change goes, how it ended, and why something was refused.
#pragma once

#include <gtk/gtk.h>

#include <string>

namespace chronelle::ui {

// Makes `bar` (at fraction 0, "En attente") in a row with the icon of an
// error, hidden; returns the row.
GtkWidget* buildBar();

// "En attente" at fraction 0: nothing done yet, or a setting changed since.
void sayWaiting();

// A step under way, or an outcome that is no error, at `fraction`.
void say(const std::string& text, double fraction);

// An error: the icon shows, and the bar stays at the fraction it reached.
void sayError(const std::string& text);

// Whether the bar shows an error.
bool sayingError();

// A setting was changed by the user: the bar goes back to "En attente",
// unless the window itself is setting its controls (Quiet).
void settingChanged();

// settingChanged as the handler of a control's signal.
void setting_changed(GtkWidget* widget, gpointer data);

// While one lives, changes of the controls are the window's own, and leave
// the bar as it is.
struct Quiet {
    Quiet();
    ~Quiet();
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;
};

}  // namespace chronelle::ui
