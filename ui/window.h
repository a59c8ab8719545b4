// The window of Chronelle (GTK+ 2): the shared window state, the building of
// the window, and the handlers of its signals.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "patcher.h"

namespace chronelle::ui {

// Shared window state: the handles that more than one handler needs.
extern int adri;          // 1: add time ("Ajouter", at start); 0: remove time ("Retirer")
extern GtkWidget* way;    // entry: the chosen file's name, shown in UTF-8
extern GtkWidget* doit;   // the "Move It! " button
extern GtkWidget* bar;    // progress bar
extern GtkWidget* h;      // spin buttons of the shift: hours,
extern GtkWidget* m;      // minutes,
extern GtkWidget* s;      // seconds
extern GtkWidget* ms;     // and milliseconds
extern GtkWidget* vbox;   // the window's vertical box
extern GtkWidget* label;  // the label made last
extern GtkWidget* apercu; // "Aperçu": what "Move It! " would do, written nowhere
extern GtkWidget* trouver; // "Trouver le décalage avec la vidéo…", "Arrêter l'écoute" meanwhile

// The controls of "Plus de réglages" (closed at start): the change, and the
// lines it concerns. The offset row's own direction buttons are here too, so
// that showChange can set them.
struct Reglages {
    GtkWidget* plus = nullptr;  // the expander
    GtkWidget* ajouter = nullptr;
    GtkWidget* retirer = nullptr;
    // The change: radio buttons and their fields.
    GtkWidget* decaler = nullptr;  // the offset row, as without the expander
    GtkWidget* commencer = nullptr;
    GtkWidget* to = nullptr;
    GtkWidget* synchroniser = nullptr;
    GtkWidget* shown[2] = {nullptr, nullptr};  // "affiché à": the subtitle's time
    GtkWidget* heard[2] = {nullptr, nullptr};  // "entendu à": the time heard
    GtkWidget* convertir = nullptr;
    GtkWidget* fpsFrom = nullptr;  // editable combo boxes of rates
    GtkWidget* fpsTo = nullptr;
    // The lines concerned: check buttons and their fields.
    GtkWidget* tous = nullptr;
    GtkWidget* aPartirDe = nullptr;
    GtkWidget* from = nullptr;
    GtkWidget* avant = nullptr;
    GtkWidget* until = nullptr;
    GtkWidget* du = nullptr;
    GtkWidget* firstCue = nullptr;
    GtkWidget* lastCue = nullptr;  // at its highest: up to the last line
};
extern Reglages reglages;

// The texts of the window.
constexpr const char* Title = "Chronelle";
constexpr const char* ChooserTitle = "Open File";
constexpr const char* OpenLabel = "Ouvrir un fichier sous-titres";
constexpr const char* MoveLabel = "Move It! ";
constexpr const char* WayText = "Choisis un fichier sous-titres";
constexpr const char* RefusedText = "Type de fichier non compatible";
constexpr const char* WaitingText = "En attente";
// A shift that failed after its first lines went to disk.
constexpr const char* PartlyShiftedText = "Erreur : seuls les %lld premiers sous-titres ont été décalés";
constexpr const char* PartlyShiftedOneText = "Erreur : seul le premier sous-titre a été décalé";
constexpr const char* ApercuLabel = "Aperçu";
constexpr const char* PlusLabel = "Plus de réglages";
constexpr const char* TrouverLabel = "Trouver le décalage avec la vidéo…";
constexpr const char* StopListeningLabel = "Arrêter l'écoute";
constexpr const char* VideoChooserTitle = "Choisis la vidéo";
constexpr const char* VideosFilter = "Vidéos";
constexpr const char* AllFilesFilter = "Tous les fichiers";
constexpr const char* WayName = "Fichier sous-titres";  // the entry's name for screen readers
constexpr const char* FrameTitle = " Instructions : ";
extern const char* const InstructionsText;

// The two pictures, read from the working directory at start, or else from
// the installed data folder.
constexpr const char* IconFile = "icone_chronelle.png";
constexpr const char* BannerFile = "./banniere.jpg";

// Key of the chosen file's name in the file system's encoding, attached to
// `way` next to the UTF-8 text it shows.
constexpr const char* FilenameKey = "chronelle-filename";

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

// Probes the file `filename` (in the file system's encoding; null for none)
// and accepts it into `way` or refuses it: the one rule for the chooser and
// the command line.
void vet(const gchar* filename);

// Where a picture is read from: `name` itself when it names a readable file
// (relative to the working directory), else the first folder of `dirs` that
// holds a readable file of its base name; empty when none does.
std::string findDataFile(const std::string& name, const std::vector<std::string>& dirs);

// The folders searched after the working directory: share/chronelle next to
// the folder of the executable (an installation moved elsewhere, or unpacked
// from its package), then the data folder it was built for.
std::vector<std::string> dataDirs();

// The path of the chosen file in the file system's encoding: the name kept
// by fileman while `way` still shows it, else the entry's text converted.
std::string wayFilename();

// Builds the content of "Plus de réglages" into `reglages`, closed; the
// offset row's direction buttons must be made.
GtkWidget* buildReglages();

// Makes the dialog of "Aperçu", hidden, for `window`.
GtkWidget* buildPreview(GtkWidget* window);

// Takes files dropped on `window` as if chosen in the chooser `fm`.
void acceptDrops(GtkWidget* window, GtkWidget* fm);

// Vets `filename` as fileman does, then opens the chooser `fm` where that
// file is, as after choosing it there.
void vetAndShow(GtkWidget* fm, const gchar* filename);

// Makes `trouver` beside `openfm` and the chooser of the film, returned;
// null, with the button left off, in a build without the matcher.
GtkWidget* buildTrouver(GtkWidget* window, GtkWidget* openfm);

// Whether a film is being listened to.
bool listening();

// Lets `trouver` be pressed once a subtitle file is accepted, not before
// (unless it is the stop button of a listening going on).
void allowListening(bool accepted);

// Sets the controls to a change and its selection, the one way in for a
// change found elsewhere. False, changing nothing, when they cannot hold it.
bool showChange(const chronelle::Retiming& retiming, const chronelle::Selection& selection);

// Reads the change and its selection from the controls into `options`.
// When a field cannot be read, marks it, says why on the bar and returns
// false.
bool readChange(chronelle::ShiftOptions* options);

// The name a screen reader says for `widget`.
void nameControl(GtkWidget* widget, const char* name);

// Handlers.
gboolean delete_event(GtkWidget* widget, GdkEvent* event, gpointer data);
void destroy(GtkWidget* widget, gpointer data);
void fileman(GtkWidget* widget, gpointer fs);
void toggle_button_callback(GtkWidget* widget, gpointer data);
void move(GtkWidget* widget, gpointer data);
void preview(GtkWidget* widget, gpointer dialog);
void trouver_clicked(GtkWidget* widget, gpointer chooser);
void drag_data_received(GtkWidget* widget, GdkDragContext* context, gint x, gint y,
                        GtkSelectionData* data, guint info, guint time, gpointer fm);

}  // namespace chronelle::ui
