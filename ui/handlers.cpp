// The handlers of the original window's controls: the file chooser and its
// probe, the direction, and the change itself (over the core's patcher);
// files dropped on the window.
#include "handlers.h"

#include <cstring>

#include "bar.h"
#include "change.h"
#include "listen.h"
#include "probe.h"
#include "settings.h"
#include "stop.h"
#include "texts.h"
#include "window.h"

namespace chronelle::ui {

namespace {

// The chosen file is refused: its name gives way to the refusal text, the
// bar says why, and the change cannot be made.
void refuse(const ProbeResult& probe, bool chosen)
{
    gtk_entry_set_text(GTK_ENTRY(way), RefusedText);
    g_object_set_data(G_OBJECT(way), FilenameKey, nullptr);
    nameWindow(nullptr);
    allowMove(false);
    allowListening(false);
    loadCues("");
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), 0.0);
    sayError(refusalText(probe, chosen));
}

// The chosen file is accepted: `way` shows its name in UTF-8 and keeps it as
// the file system knows it (taking `filename`), the change can be made.
void accept(gchar* filename)
{
    gchar* display = g_filename_display_name(filename);
    gtk_entry_set_text(GTK_ENTRY(way), display);
    g_free(display);
    g_object_set_data_full(G_OBJECT(way), FilenameKey, filename, g_free);
    nameWindow(filename);
    allowMove(true);
    allowListening(true);
    loadCues(filename);
    sayWaiting();
}

// A SubRip file by its name as the file system has it, in any case: a name
// that is not in UTF-8 is one too.
gboolean subripName(const GtkFileFilterInfo* info, gpointer)
{
    const gchar* name = info->filename ? info->filename : info->display_name;
    std::size_t n = name ? std::strlen(name) : 0;
    return n >= 4 && g_ascii_strcasecmp(name + n - 4, ".srt") == 0;
}

void showStep(const ProgressStep& step, void*)
{
    if (step.stage == Stage::Failed)
        sayError(stageText(step.stage));
    else
        say(stageText(step.stage), step.fraction);
}

}  // namespace

std::string wayFilename()
{
    const gchar* text = gtk_entry_get_text(GTK_ENTRY(way));
    auto kept = static_cast<const gchar*>(g_object_get_data(G_OBJECT(way), FilenameKey));
    if (kept) {
        gchar* display = g_filename_display_name(kept);
        bool shown = std::strcmp(display, text) == 0;
        g_free(display);
        if (shown)
            return kept;
    }
    gchar* converted = g_filename_from_utf8(text, -1, nullptr, nullptr, nullptr);
    std::string path = converted ? converted : text;
    g_free(converted);
    return path;
}

void allowMove(bool allowed)
{
    gtk_widget_set_sensitive(doit, allowed);
    gtk_widget_set_sensitive(apercu, allowed);
}

void addSubtitleFilters(GtkWidget* fm)
{
    GtkFileFilter* srt = gtk_file_filter_new();
    gtk_file_filter_set_name(srt, "Sous-titres SubRip (*.srt)");
    auto needed = GtkFileFilterFlags(GTK_FILE_FILTER_FILENAME | GTK_FILE_FILTER_DISPLAY_NAME);
    gtk_file_filter_add_custom(srt, needed, subripName, nullptr, nullptr);
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(fm), srt);
    addAllFilesFilter(fm);
    gtk_file_chooser_set_filter(GTK_FILE_CHOOSER(fm), srt);
}

void addAllFilesFilter(GtkWidget* chooser)
{
    GtkFileFilter* all = gtk_file_filter_new();
    gtk_file_filter_set_name(all, "Tous les fichiers");
    gtk_file_filter_add_pattern(all, "*");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), all);
}

void fileman(GtkWidget*, gpointer fs)
{
    GtkWidget* dialog = GTK_WIDGET(fs);
    gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    if (response == GTK_RESPONSE_CANCEL || response == GTK_RESPONSE_DELETE_EVENT) {
        gtk_widget_hide(dialog);
        return;
    }
    if (response != GTK_RESPONSE_ACCEPT)
        return;

    // The name as the file system knows it; GLib's filename encoding is what
    // the core opens (UTF-8 on Windows).
    gchar* filename = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    vet(filename);
    g_free(filename);
    gtk_widget_hide(dialog);
}

void vet(const gchar* filename)
{
    // No name, a file that cannot be read, a folder or a device: refused
    // like a file that is not subtitles. The probe closes what it opened.
    ProbeResult p = filename ? probe(filename) : ProbeResult();
    if (p.accepted)
        accept(g_strdup(filename));
    else
        refuse(p, filename != nullptr);
}

void toggle_button_callback(GtkWidget* widget, gpointer)
{
    adri = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widget)) ? 1 : 0;
}

void vetAndShow(GtkWidget* fm, const gchar* filename)
{
    vet(filename);
    if (filename && g_file_test(filename, G_FILE_TEST_EXISTS))
        gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(fm), filename);
}

void makeChange(const ShiftOptions& options, const std::vector<LineChange>* expected)
{
    std::string path = wayFilename();
    // Tried first: a change that changes nothing writes nothing, and one
    // shown by "Aperçu" is made only as it was shown. A trial that fails
    // leaves the failure to the change itself, shown step by step.
    ShiftOptions trial = options;
    trial.dryRun = true;
    trial.everyChange = expected != nullptr;
    PatchResult tried = shiftFile(path, trial, nullptr, nullptr);
    if (tried.ok && tried.changedLines == 0) {
        say(NothingChangesText, 0.0);
        return;
    }
    if (tried.ok && expected && tried.preview != *expected) {
        sayError(ChangedSincePreviewText);
        return;
    }
    PatchResult r = shiftFile(path, options, showStep, nullptr);
    if (r.ok) {
        say(successText(r.changedLines, r.clampedTimes, heldEnds(options.retiming, r.offsetMs)),
            1.0);
    } else if (r.failure != Failure::Open) {
        sayError(failureText(r));
    }
    // After a change, or part of one, a second press would make it twice;
    // the subtitles picked by number show their new starts.
    if (r.ok || r.partlyWritten) {
        allowMove(false);
        loadCues(path);
    }
    // Stopped by a signal: the window ends as it was asked to.
    dieOfStopSignal();
}

void move(GtkWidget*, gpointer)
{
    // A field that cannot be read changes nothing.
    ShiftOptions options;
    if (readChange(&options))
        makeChange(options);
}

void acceptDrops(GtkWidget* window, GtkWidget* fm)
{
    static GtkTargetEntry uris[] = {{const_cast<gchar*>("text/uri-list"), 0, 0}};
    gtk_drag_dest_set(window, GTK_DEST_DEFAULT_ALL, uris, 1, GDK_ACTION_COPY);
    g_signal_connect(window, "drag-data-received", G_CALLBACK(drag_data_received), fm);
    // Fields that would take the drop as text, and refuse it, leave it to
    // the window.
    for (GtkWidget* field : {way, h, m, s, ms})
        gtk_drag_dest_unset(field);
}

void drag_data_received(GtkWidget*, GdkDragContext*, gint, gint, GtkSelectionData* data, guint,
                        guint, gpointer fm)
{
    // The file is not changed while its change is being found.
    if (listening())
        return;
    gchar** uris = gtk_selection_data_get_uris(data);
    guint n = uris ? g_strv_length(uris) : 0;
    if (n > 1) {
        sayError(SeveralFilesText);
    } else {
        // Not a local file (or nothing): refused like a file that is not
        // subtitles.
        gchar* filename = n == 1 ? g_filename_from_uri(uris[0], nullptr, nullptr) : nullptr;
        vetAndShow(GTK_WIDGET(fm), filename);
        g_free(filename);
    }
    g_strfreev(uris);
}

}  // namespace chronelle::ui
