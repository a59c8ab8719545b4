// "Aperçu": a dry run of the change that keeps every line it would change,
// shown in a table whose rows are made as they are drawn (changes_model.h),
// so that 100,000 subtitles show and scroll at once.
#include "preview.h"

#include "bar.h"
#include "changes_model.h"
#include "handlers.h"
#include "settings.h"
#include "texts.h"
#include "window.h"

namespace chronelle::ui {

namespace {

constexpr const char* ShownKey = "chronelle-preview";

// What the dialog shows: the change, and its widgets.
struct Shown {
    ShiftOptions options;
    GtkWidget* summary = nullptr;
    GtkWidget* table = nullptr;
    GtkWidget* move = nullptr;
};

Shown& shownBy(gpointer dialog)
{
    return *static_cast<Shown*>(g_object_get_data(G_OBJECT(dialog), ShownKey));
}

void freeShown(gpointer shown) { delete static_cast<Shown*>(shown); }

// Whatever the answer, the dialog goes and lets its table go; its "Move It! "
// makes the change it showed, if the file still gives exactly that.
void preview_response(GtkDialog* dialog, gint response, gpointer)
{
    Shown& shown = shownBy(dialog);
    gtk_widget_hide(GTK_WIDGET(dialog));
    GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(shown.table));
    if (response == ResponseMove && model)
        makeChange(shown.options, &changesOf(model));
    gtk_tree_view_set_model(GTK_TREE_VIEW(shown.table), nullptr);
}

gboolean preview_delete(GtkWidget* dialog, GdkEvent*, gpointer)
{
    preview_response(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT, nullptr);
    return TRUE;
}

// A column of fixed width, as the fixed height of the rows needs.
void addColumn(GtkWidget* table, const char* title, int column, int width, float xalign)
{
    GtkCellRenderer* cell = gtk_cell_renderer_text_new();
    g_object_set(cell, "xalign", xalign, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
    GtkTreeViewColumn* c =
        gtk_tree_view_column_new_with_attributes(title, cell, "text", column, nullptr);
    gtk_tree_view_column_set_sizing(c, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_column_set_fixed_width(c, width);
    gtk_tree_view_column_set_resizable(c, TRUE);
    gtk_tree_view_column_set_expand(c, column == ColumnText);
    gtk_tree_view_append_column(GTK_TREE_VIEW(table), c);
}

}  // namespace

GtkWidget* buildPreview(GtkWidget* window)
{
    auto* shown = new Shown;
    GtkWidget* dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dialog), ApercuLabel);
    gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(window));
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_default_size(GTK_WINDOW(dialog), 720, 460);
    gtk_dialog_add_button(GTK_DIALOG(dialog), "_Fermer", GTK_RESPONSE_CLOSE);
    shown->move = gtk_dialog_add_button(GTK_DIALOG(dialog), "_Move It! ", ResponseMove);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_CLOSE);

    shown->summary = gtk_label_new("");
    gtk_misc_set_alignment(GTK_MISC(shown->summary), 0, 0.5);
    gtk_misc_set_padding(GTK_MISC(shown->summary), 6, 6);
    gtk_label_set_ellipsize(GTK_LABEL(shown->summary), PANGO_ELLIPSIZE_END);
    shown->table = gtk_tree_view_new();
    addColumn(shown->table, "N°", ColumnNumber, 64, 1.0f);
    addColumn(shown->table, "Début actuel", ColumnBefore, 110, 0.0f);
    addColumn(shown->table, "Nouveau début", ColumnAfter, 170, 0.0f);
    addColumn(shown->table, "Texte", ColumnText, 300, 0.0f);
    gtk_tree_view_set_fixed_height_mode(GTK_TREE_VIEW(shown->table), TRUE);
    gtk_tree_view_set_rules_hint(GTK_TREE_VIEW(shown->table), TRUE);
    nameControl(shown->table, "Sous-titres qui seraient modifiés");
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scrolled), shown->table);
    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_box_pack_start(GTK_BOX(content), shown->summary, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(content), scrolled, TRUE, TRUE, 0);
    gtk_widget_show_all(content);

    g_object_set_data_full(G_OBJECT(dialog), ShownKey, shown, freeShown);
    g_signal_connect(dialog, "response", G_CALLBACK(preview_response), nullptr);
    g_signal_connect(dialog, "delete-event", G_CALLBACK(preview_delete), nullptr);
    return dialog;
}

GtkWidget* previewTable(GtkWidget* dialog) { return shownBy(dialog).table; }

void preview(GtkWidget*, gpointer dialog)
{
    Shown& shown = shownBy(dialog);
    ShiftOptions options;
    if (!readChange(&options))
        return;
    ShiftOptions dry = options;
    dry.dryRun = dry.everyChange = true;
    PatchResult r = shiftFile(wayFilename(), dry, nullptr, nullptr);
    if (!r.ok) {
        sayError(failureText(r));
        return;
    }
    shown.options = options;
    std::string summary = previewSummary(r, heldEnds(options.retiming, r.offsetMs));
    gtk_label_set_text(GTK_LABEL(shown.summary), summary.c_str());
    GtkTreeModel* model = changesModel(std::move(r.preview), fileCues());
    gtk_tree_view_set_model(GTK_TREE_VIEW(shown.table), model);
    g_object_unref(model);
    // Off whenever the window's own is off: the file was changed already.
    gtk_widget_set_sensitive(shown.move, gtk_widget_get_sensitive(doit) && r.changedLines > 0);
    gtk_window_present(GTK_WINDOW(dialog));
    gtk_widget_grab_focus(shown.table);
}

}  // namespace chronelle::ui
