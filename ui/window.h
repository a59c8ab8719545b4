// The window of Chronelle (GTK+ 2): the shared window state and the building
// of the window. Each concern's handlers have a header of their own.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

namespace chronelle::ui {

// Shared window state: the handles that more than one handler needs.
extern int adri;           // 1: add time ("Ajouter", at start); 0: remove time ("Retirer")
extern GtkWidget* way;     // entry: the chosen file's name, shown in UTF-8
extern GtkWidget* doit;    // the "Move It! " button
extern GtkWidget* bar;     // progress bar
extern GtkWidget* h;       // spin buttons of the shift: hours,
extern GtkWidget* m;       // minutes,
extern GtkWidget* s;       // seconds
extern GtkWidget* ms;      // and milliseconds
extern GtkWidget* vbox;    // the window's vertical box
extern GtkWidget* label;   // the label made last
extern GtkWidget* apercu;  // "Aperçu": the change shown before it is made
extern GtkWidget* trouver;  // "Trouver le décalage avec la vidéo…", "Arrêter l'écoute" meanwhile

// The texts of the window as it opens (the labels, with the keys they
// underline, are where each control is made).
constexpr const char* Title = "Chronelle";
constexpr const char* ChooserTitle = "Open File";
constexpr const char* WayText = "Choisis un fichier sous-titres";
constexpr const char* RefusedText = "Type de fichier non compatible";
constexpr const char* WaitingText = "En attente";
constexpr const char* ApercuLabel = "Aperçu";
constexpr const char* TrouverLabel = "Trouver le décalage avec la vidéo…";
constexpr const char* WayName = "Fichier sous-titres";  // the entry's name for screen readers
constexpr const char* FrameTitle = " Instructions : ";
extern const char* const InstructionsText;

// The two pictures, read from the working directory at start, or else from
// the installed data folder.
constexpr const char* IconFile = "icone_chronelle.png";
constexpr const char* BannerFile = "./banniere.jpg";

// The widgets that only the building of the window needs, kept within
// reach of the tests.
struct Window {
    GtkWidget* window = nullptr;
    GtkWidget* fm = nullptr;      // the file chooser, made once
    GtkWidget* openfm = nullptr;  // "Ouvrir un fichier sous-titres"
    GtkWidget* ajouter = nullptr;
    GtkWidget* retirer = nullptr;
    GtkWidget* frame = nullptr;
    GtkWidget* instructions = nullptr;  // the label inside the frame
    GtkWidget* image = nullptr;         // the banner
    GtkWidget* hbox = nullptr;          // labels and spin buttons
    GtkWidget* hbox2 = nullptr;         // the radio buttons
    GtkWidget* hbox3 = nullptr;         // the open button
    GtkWidget* hbox4 = nullptr;         // "Move It! "
    GtkWidget* hbox5 = nullptr;         // the frame
    GtkWidget* side = nullptr;          // the rows of `vbox`, and "Plus de réglages" beside them
    GtkWidget* barRow = nullptr;        // the bar, and the icon of an error before it
    GtkWidget* preview = nullptr;       // the dialog of "Aperçu", made once
    GtkWidget* video = nullptr;         // the chooser of the film, made once (null: no matcher)
};

// Builds and shows the window, makes the file chooser and connects every
// signal; the toolkit must be initialised. Does not run the main loop.
Window buildWindow();

// Builds the window and, when the command line names a file ("Open with"
// passes one), vets that file as if it had been chosen in the chooser. The
// toolkit must be initialised: gtk_init has taken its own options out of
// argv, and whatever is left is a file name. A leading "--" is passed over,
// so that a name may begin with a dash; only the first name counts.
Window start(int argc, char* argv[]);

// Where a picture is read from: `name` itself when it names a readable file
// (relative to the working directory), else the first folder of `dirs` that
// holds a readable file of its base name; empty when none does.
std::string findDataFile(const std::string& name, const std::vector<std::string>& dirs);

// The folders searched after the working directory: share/chronelle next to
// the folder of the executable (an installation moved elsewhere, or unpacked
// from its package), then the data folder it was built for.
std::vector<std::string> dataDirs();

// The name a screen reader says for `widget`.
void nameControl(GtkWidget* widget, const char* name);

// The title bar: "exemple.srt – Chronelle" for the file `filename` (in the
// file system's encoding), "Chronelle" for none.
void nameWindow(const char* filename);

// The handlers that end the run.
gboolean delete_event(GtkWidget* widget, GdkEvent* event, gpointer data);
void destroy(GtkWidget* widget, gpointer data);

}  // namespace chronelle::ui
