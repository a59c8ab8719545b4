// "Aperçu": the dry run of the change set in the window, shown in a dialog
// of its own before anything is written; and files dropped on the window.
#include "change.h"
#include "texts.h"
#include "window.h"

namespace chronelle::ui {

namespace {

constexpr const char* PreviewTextKey = "chronelle-preview-text";  // the dialog's label

void hidePreview(GtkDialog* dialog, gint, gpointer)
{
    gtk_widget_hide(GTK_WIDGET(dialog));
}

}  // namespace

GtkWidget* buildPreview(GtkWidget* window)
{
    GtkWidget* dialog = gtk_dialog_new_with_buttons(ApercuLabel, GTK_WINDOW(window),
                                                    GTK_DIALOG_DESTROY_WITH_PARENT, GTK_STOCK_CLOSE,
                                                    GTK_RESPONSE_CLOSE, nullptr);
    GtkWidget* text = gtk_label_new("");
    gtk_label_set_selectable(GTK_LABEL(text), TRUE);
    gtk_misc_set_alignment(GTK_MISC(text), 0, 0);
    gtk_misc_set_padding(GTK_MISC(text), 8, 8);
    // Times one above the other, digit under digit.
    PangoFontDescription* mono = pango_font_description_from_string("Monospace");
    gtk_widget_modify_font(text, mono);
    pango_font_description_free(mono);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), text, TRUE, TRUE, 0);
    gtk_widget_show(text);
    g_object_set_data(G_OBJECT(dialog), PreviewTextKey, text);
    g_signal_connect(dialog, "response", G_CALLBACK(hidePreview), nullptr);
    g_signal_connect(dialog, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
    return dialog;
}

void preview(GtkWidget*, gpointer dialog)
{
    ShiftOptions options;
    if (!readChange(&options))
        return;
    options.dryRun = true;
    PatchResult r = shiftFile(wayFilename(), options, nullptr, nullptr);
    auto text = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(dialog), PreviewTextKey));
    std::string shown = previewText(r, heldEnds(options.retiming, r.offsetMs));
    gtk_label_set_text(GTK_LABEL(text), shown.c_str());
    gtk_window_present(GTK_WINDOW(dialog));
    // The keyboard on "Fermer", not on the text, which would be all selected.
    gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_CLOSE));
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
        gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), SeveralFilesText);
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
