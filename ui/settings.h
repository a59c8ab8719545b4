// "Plus de réglages": the change (the offset row, one subtitle to another
// start, two subtitles to theirs, two frame rates) and the subtitles it
// concerns, in a column beside the window's rows; read into the core's form
// of a change, or set from one.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "change.h"
#include "cues.h"
#include "patcher.h"

namespace chronelle::ui {

// A subtitle picked by its number: its current start and text shown under
// it, and its new start, first the current one.
struct Picker {
    GtkWidget* cue = nullptr;  // spin button: "Sous-titre n°"
    GtkWidget* at = nullptr;   // entry: "Nouveau début"
    GtkWidget* now = nullptr;  // label: "Début actuel : …"
};

// The controls of "Plus de réglages" (closed at start). The offset row's
// direction buttons are here too, so that a change can be shown on them.
struct Reglages {
    GtkWidget* plus = nullptr;    // the expander, among the window's rows
    GtkWidget* column = nullptr;  // what it opens, beside the rows
    GtkWidget* ajouter = nullptr;
    GtkWidget* retirer = nullptr;
    // The change: radio buttons and their fields.
    GtkWidget* decaler = nullptr;  // the offset row, as without the expander
    GtkWidget* commencer = nullptr;
    Picker to;
    GtkWidget* synchroniser = nullptr;
    Picker sync[2];
    GtkWidget* convertir = nullptr;  // the rates, then the offset row
    GtkWidget* fpsFrom = nullptr;    // editable combo boxes of rates
    GtkWidget* fpsTo = nullptr;
    // The subtitles concerned: check buttons and their fields.
    GtkWidget* tous = nullptr;
    GtkWidget* aPartirDe = nullptr;
    GtkWidget* from = nullptr;
    GtkWidget* avant = nullptr;
    GtkWidget* until = nullptr;
    GtkWidget* du = nullptr;
    GtkWidget* firstCue = nullptr;
    GtkWidget* lastCue = nullptr;  // at its highest: "dernier", up to the last one
};
extern Reglages reglages;

// Builds "Plus de réglages" into `reglages`, closed: the expander and the
// column it opens. The offset row's direction buttons must be made.
void buildReglages();

// Reads the subtitles of the file at `path` (none: the file is gone) for the
// pickers, the numbers and "Aperçu"; each picker keeps its number when the
// file still has it, and shows its subtitle's start as the new one.
void loadCues(const std::string& path);

// The subtitles read last.
const std::vector<Cue>& fileCues();

// Sets the controls to a change and its selection, the one way in for a
// change found elsewhere. False, changing nothing, when they cannot hold it.
bool showChange(const Retiming& retiming, const Selection& selection);

// Sets the controls to a form, its change and its selection; "Plus de
// réglages" opens for any change but the offset.
void showForm(const ChangeForm& form);

// Reads the change and its selection from the controls into `options`.
// When a field cannot be read, marks it, gives it the keyboard, says why
// on the bar and returns false.
bool readChange(ShiftOptions* options);

}  // namespace chronelle::ui
