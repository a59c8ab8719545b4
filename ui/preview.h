// "Aperçu": the change set in the window, shown before it is made, in a
// modal dialog: the table of the subtitles that would change, and "Move It! "
// there, which makes exactly that change.
#pragma once

#include <gtk/gtk.h>

namespace chronelle::ui {

// The response of the dialog's own "Move It! ".
constexpr gint ResponseMove = 1;

// Makes the dialog, hidden, for `window`.
GtkWidget* buildPreview(GtkWidget* window);

// The table of the dialog made by buildPreview.
GtkWidget* previewTable(GtkWidget* dialog);

// Handler of "Aperçu"'s "clicked": the dialog `dialog` shows the change.
void preview(GtkWidget* widget, gpointer dialog);

}  // namespace chronelle::ui
