// Answers a modal file chooser of the window, as a user would, for the
// window's tests.
#pragma once

#include <gtk/gtk.h>

#include <cstdio>
#include <string>

#include "window.h"

// Answers the modal chooser from the main loop that gtk_dialog_run spins:
// once the dialog shows, selects `path` (if any), waits until the chooser
// reports it as its file, then emits `response`.
struct ChooserDriver {
    GtkWidget* fm = nullptr;
    std::string path;  // empty: select nothing
    int response = GTK_RESPONSE_ACCEPT;
    std::string removeBeforeResponse;            // a file that vanishes just before "Open"
    GtkWidget* destroyBeforeResponse = nullptr;  // the main window, gone meanwhile
    bool selected = false;
    bool picked = false;  // the chooser reported `path` before the response
    bool answered = false;
    gint64 deadline = 0;
    int ticks = 0;
};

inline gboolean driveChooser(gpointer data)
{
    auto* d = static_cast<ChooserDriver*>(data);
    if (!gtk_widget_get_visible(d->fm))
        return TRUE;
    if (!d->selected) {
        d->selected = true;
        d->deadline = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
        if (d->path.empty())
            gtk_file_chooser_unselect_all(GTK_FILE_CHOOSER(d->fm));
        else
            gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(d->fm), d->path.c_str());
        return TRUE;
    }
    if (!d->path.empty()) {
        gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d->fm));
        d->picked = chosen && d->path == chosen;
        g_free(chosen);
        if (!d->picked && g_get_monotonic_time() < d->deadline) {
            // The folder is still loading, or has not seen the new file yet.
            if (++d->ticks % 25 == 0)
                gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(d->fm), d->path.c_str());
            return TRUE;
        }
    }
    if (!d->removeBeforeResponse.empty())
        std::remove(d->removeBeforeResponse.c_str());
    if (d->destroyBeforeResponse) {
        // As another X client destroying it would; no main loop to end here.
        g_signal_handlers_disconnect_by_func(
            d->destroyBeforeResponse, reinterpret_cast<gpointer>(chronelle::ui::destroy), nullptr);
        gtk_widget_destroy(d->destroyBeforeResponse);
        if (!G_IS_OBJECT(d->fm) || !gtk_widget_get_visible(d->fm))
            return FALSE;  // the chooser went with it
    }
    d->answered = true;
    // With nothing chosen, the chooser itself holds "Open" back; its own
    // handler (the one without data) is put aside so that fileman meets a
    // chooser that gives no file name.
    guint response = g_signal_lookup("response", GTK_TYPE_DIALOG);
    auto match = GSignalMatchType(G_SIGNAL_MATCH_ID | G_SIGNAL_MATCH_DATA);
    if (d->path.empty())
        g_signal_handlers_block_matched(d->fm, match, response, 0, nullptr, nullptr, nullptr);
    gtk_dialog_response(GTK_DIALOG(d->fm), d->response);
    if (d->path.empty())
        g_signal_handlers_unblock_matched(d->fm, match, response, 0, nullptr, nullptr, nullptr);
    return FALSE;
}
