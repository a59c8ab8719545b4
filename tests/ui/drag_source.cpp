// drag_source X Y FILE...: a window at X, Y that drags FILE... as
// text/uri-list, as a file manager does, for the mouse that xdotool moves.
// It says on stdout "shown" once it can be dragged from, "accepted" once the
// window under the pointer has said it takes the drop, and "ended" when the
// drag is over; then it quits.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::vector<gchar*> uris;
GdkDragContext* dragging = nullptr;

void say(const char* what)
{
    std::printf("%s\n", what);
    std::fflush(stdout);
}

gboolean watch(gpointer)
{
    if (!dragging)
        return TRUE;
    if (gdk_drag_context_get_selected_action(dragging) == 0)
        return TRUE;
    say("accepted");
    return FALSE;
}

void begin(GtkWidget*, GdkDragContext* context, gpointer)
{
    dragging = context;
    g_timeout_add(10, watch, nullptr);
}

void give(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint, gpointer)
{
    gtk_selection_data_set_uris(data, uris.data());
}

void end(GtkWidget*, GdkDragContext*, gpointer)
{
    say("ended");
    gtk_main_quit();
}

gboolean shown(GtkWidget*, GdkEvent*, gpointer)
{
    say("shown");
    return FALSE;
}

}  // namespace

int main(int argc, char* argv[])
{
    gtk_init(&argc, &argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: drag_source X Y FILE...\n");
        return 2;
    }
    for (int i = 3; i < argc; ++i)
        uris.push_back(g_filename_to_uri(argv[i], nullptr, nullptr));
    uris.push_back(nullptr);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Source");
    gtk_window_move(GTK_WINDOW(window), std::atoi(argv[1]), std::atoi(argv[2]));
    GtkWidget* button = gtk_button_new_with_label("fichiers");
    gtk_widget_set_size_request(button, 160, 100);
    gtk_container_add(GTK_CONTAINER(window), button);
    static GtkTargetEntry target = {const_cast<gchar*>("text/uri-list"), 0, 0};
    gtk_drag_source_set(button, GDK_BUTTON1_MASK, &target, 1, GDK_ACTION_COPY);
    g_signal_connect(button, "drag-begin", G_CALLBACK(begin), nullptr);
    g_signal_connect(button, "drag-data-get", G_CALLBACK(give), nullptr);
    g_signal_connect(button, "drag-end", G_CALLBACK(end), nullptr);
    g_signal_connect(window, "map-event", G_CALLBACK(shown), nullptr);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
