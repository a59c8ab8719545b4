// The handlers of the original window's controls: the file chooser and its
// probe, the direction, and "Move It! " over the core's patcher; files
// dropped on the window.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "patcher.h"

namespace chronelle::ui {

// Key of the chosen file's name in the file system's encoding, attached to
// `way` next to the UTF-8 text it shows.
constexpr const char* FilenameKey = "chronelle-filename";

// Probes the file `filename` (in the file system's encoding; null for none)
// and accepts it into `way` or refuses it, saying why on the bar: the one
// rule for the chooser, the command line and a drop.
void vet(const gchar* filename);

// Vets `filename` as fileman does, then opens the chooser `fm` where that
// file is, as after choosing it there.
void vetAndShow(GtkWidget* fm, const gchar* filename);

// The path of the chosen file in the file system's encoding: the name kept
// by fileman while `way` still shows it, else the entry's text converted.
std::string wayFilename();

// Lets "Move It! " be pressed, and "Aperçu" with it, or not.
void allowMove(bool allowed);

// Makes the change `options` (read from the controls) on the chosen file,
// showing each step, and says how it ended; first tries it, so that a change
// that changes nothing writes nothing. With `expected`, the change is made
// only if it would still change exactly those lines ("Aperçu" showed them).
void makeChange(const ShiftOptions& options, const std::vector<LineChange>* expected = nullptr);

// Adds the two filters of SubRip files and of all files to the chooser `fm`.
void addSubtitleFilters(GtkWidget* fm);

// Adds the filter "Tous les fichiers" to a chooser.
void addAllFilesFilter(GtkWidget* chooser);

// Takes files dropped on `window` as if chosen in the chooser `fm`.
void acceptDrops(GtkWidget* window, GtkWidget* fm);

void fileman(GtkWidget* widget, gpointer fs);
void toggle_button_callback(GtkWidget* widget, gpointer data);
void move(GtkWidget* widget, gpointer data);
void drag_data_received(GtkWidget* widget, GdkDragContext* context, gint x, gint y,
                        GtkSelectionData* data, guint info, guint time, gpointer fm);

}  // namespace chronelle::ui
