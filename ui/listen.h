// "Trouver le décalage avec la vidéo…": a film chosen, listened to on a
// worker thread while the window stays usable, and the change found put into
// the window's own controls, said in their words. Nothing is written.
#pragma once

#include <gtk/gtk.h>

namespace chronelle::ui {

// The chooser's own controls: which audio track is listened to (0: the
// film's default) and how far the change is searched for, in minutes.
struct ListenControls {
    GtkWidget* track = nullptr;
    GtkWidget* search = nullptr;
};

// Makes `trouver` (which turns off `openfm` while it listens) and the
// chooser of the film with its controls, returned; null, with the button
// left off, in a build without the matcher.
GtkWidget* buildTrouver(GtkWidget* window, GtkWidget* openfm);

// The controls of the chooser made by buildTrouver.
ListenControls listenControls();

// Whether a film is being listened to for the window.
bool listening();

// Lets `trouver` be pressed once a subtitle file is accepted, not before
// (unless it is the stop button of a listening going on).
void allowListening(bool accepted);

// At the end of the run: waits at most `waitMs` for listenings that were
// stopped to end. False when one is still stuck in a film that is slow to
// read: the program then ends without it.
bool listeningEnded(int waitMs);

void trouver_clicked(GtkWidget* widget, gpointer chooser);

}  // namespace chronelle::ui
