// The handlers of the window's controls: the file chooser and its probe, the
// direction, and the shift itself (over the core's patcher).
#include <cstring>

#include "change.h"
#include "patcher.h"
#include "probe.h"
#include "stop.h"
#include "texts.h"
#include "window.h"

namespace chronelle::ui {

namespace {

// The chosen file is refused: its name gives way to the refusal text, and the
// shift cannot be started.
void refuse()
{
    gtk_entry_set_text(GTK_ENTRY(way), RefusedText);
    g_object_set_data(G_OBJECT(way), FilenameKey, nullptr);
    gtk_widget_set_sensitive(doit, FALSE);
    gtk_widget_set_sensitive(apercu, FALSE);
    allowListening(false);
}

// The chosen file is accepted: `way` shows its name in UTF-8 and keeps it as
// the file system knows it (taking `filename`), the shift can be started.
void accept(gchar* filename)
{
    gchar* display = g_filename_display_name(filename);
    gtk_entry_set_text(GTK_ENTRY(way), display);
    g_free(display);
    g_object_set_data_full(G_OBJECT(way), FilenameKey, filename, g_free);
    gtk_widget_set_sensitive(doit, TRUE);
    gtk_widget_set_sensitive(apercu, TRUE);
    allowListening(true);
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), 0.0);
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), WaitingText);
}

void showStep(const ProgressStep& step, void*)
{
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), stageText(step.stage));
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), step.fraction);
}

gchar* partlyShiftedText(std::int64_t n)
{
    if (n == 1)
        return g_strdup(PartlyShiftedOneText);
    return g_strdup_printf(PartlyShiftedText, static_cast<long long>(n));
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
    if (filename && probe(filename).accepted)
        accept(g_strdup(filename));
    else
        refuse();
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

void move(GtkWidget*, gpointer)
{
    // A field that cannot be read changes nothing.
    ShiftOptions options;
    if (!readChange(&options))
        return;
    PatchResult r = shiftFile(wayFilename(), options, showStep, nullptr);
    // Times held at either end are information lost: the bar says how many.
    if (r.ok && r.clampedTimes > 0) {
        std::string text = successText(r.clampedTimes, heldEnds(options.retiming, r.offsetMs));
        gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), text.c_str());
    }
    if (r.failure == Failure::NoLineToMove)
        gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), NoLineToMoveText);
    // After a failure that left its first lines shifted, the bar says how
    // many, and a second press would shift those twice.
    if (!r.ok && r.partlyWritten) {
        gchar* text = partlyShiftedText(r.timingLines);
        gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), text);
        g_free(text);
    }
    if (r.ok || r.partlyWritten)
        gtk_widget_set_sensitive(doit, FALSE);
    // Stopped by a signal: the window ends as it was asked to.
    dieOfStopSignal();
}

}  // namespace chronelle::ui
