// Times the window on a file of many subtitles (100,000 unless told): the
// file accepted (probed, and its subtitles read for the pickers), "Aperçu"
// until its table is drawn, the table scrolled to its end and paged through,
// and the dialog's "Move It! ". Run by bench/window.sh on a display.
#include <glib/gstdio.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "preview.h"
#include "window.h"

using namespace chronelle::ui;

namespace {

void settle()
{
    while (gtk_events_pending())
        gtk_main_iteration();
    gdk_window_process_all_updates();
    gdk_display_sync(gdk_display_get_default());
}

double since(gint64 start) { return double(g_get_monotonic_time() - start) / 1000.0; }

std::string stamp(long ms)
{
    char t[32];
    std::snprintf(t, sizeof t, "%02ld:%02ld:%02ld,%03ld", ms / 3600000, ms / 60000 % 60,
                  ms / 1000 % 60, ms % 1000);
    return t;
}

}  // namespace

int main(int argc, char* argv[])
{
    gtk_init(&argc, &argv);
    long cues = argc > 1 ? std::atol(argv[1]) : 100000;
    gchar* dir = g_dir_make_tmp("chronelle-window-bench-XXXXXX", nullptr);
    std::string path = std::string(dir) + "/film.srt";
    FILE* out = std::fopen(path.c_str(), "wb");
    for (long i = 0; i < cues; ++i) {
        long start = 60000 + i * 2000;
        std::fprintf(
            out, "%ld\r\n%s --> %s\r\nRéplique numéro %ld, sur une ligne\r\net une autre\r\n\r\n",
            i + 1, stamp(start).c_str(), stamp(start + 1500).c_str(), i + 1);
    }
    std::fclose(out);

    gint64 t = g_get_monotonic_time();
    char* args[] = {argv[0], &path[0], nullptr};
    Window w = start(2, args);
    settle();
    std::printf("window: %ld subtitles\n", cues);
    std::printf("  opened with the file:        %8.1f ms\n", since(t));

    gtk_spin_button_set_value(GTK_SPIN_BUTTON(s), 2);
    t = g_get_monotonic_time();
    gtk_button_clicked(GTK_BUTTON(apercu));
    settle();
    std::printf("  Aperçu, its table drawn:     %8.1f ms\n", since(t));

    GtkTreeView* table = GTK_TREE_VIEW(previewTable(w.preview));
    t = g_get_monotonic_time();
    GtkTreePath* last = gtk_tree_path_new_from_indices(int(cues - 1), -1);
    gtk_tree_view_scroll_to_cell(table, last, nullptr, FALSE, 0, 0);
    gtk_tree_path_free(last);
    settle();
    std::printf("  scrolled to the last row:    %8.1f ms\n", since(t));
    const int pages = 100;
    t = g_get_monotonic_time();
    for (int k = 0; k < pages; ++k) {
        GtkTreePath* row = gtk_tree_path_new_from_indices(int((cues - 1) * k / pages), -1);
        gtk_tree_view_scroll_to_cell(table, row, nullptr, TRUE, 0, 0);
        gtk_tree_path_free(row);
        settle();
    }
    std::printf("  a page anywhere, drawn:      %8.1f ms (mean of %d)\n", since(t) / pages, pages);

    t = g_get_monotonic_time();
    gtk_dialog_response(GTK_DIALOG(w.preview), ResponseMove);
    settle();
    std::printf("  its Move It!, written:       %8.1f ms\n", since(t));
    std::printf("  the bar: %s\n", gtk_progress_bar_get_text(GTK_PROGRESS_BAR(bar)));

    // No main loop for destroy() to end.
    g_signal_handlers_disconnect_by_func(w.window, reinterpret_cast<gpointer>(destroy), nullptr);
    gtk_widget_destroy(w.window);
    std::remove(path.c_str());
    g_rmdir(dir);
    g_free(dir);
    return 0;
}
