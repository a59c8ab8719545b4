// The window: the shared window state, the building of the window and the
// two handlers that end the run.
#include "window.h"

#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>

#include <cstring>

#include "bar.h"
#include "fields.h"
#include "handlers.h"
#include "listen.h"
#include "preview.h"
#include "settings.h"

namespace chronelle::ui {

int adri = 1;
GtkWidget* way = nullptr;
GtkWidget* doit = nullptr;
GtkWidget* bar = nullptr;
GtkWidget* h = nullptr;
GtkWidget* m = nullptr;
GtkWidget* s = nullptr;
GtkWidget* ms = nullptr;
GtkWidget* vbox = nullptr;
GtkWidget* label = nullptr;
GtkWidget* apercu = nullptr;

// Kept in UTF-8, as the toolkit shows it, whatever the locale.
const char* const InstructionsText =
    "1 : Ouvre ton fichier sous-titres compatible. \n"
    "2 : Choisis si tu veux ajouter du temps (retarder l'affichage du sous-titres) \n"
    "     ou retirer du temps (avancer l'affichage du sous-titres).\n"
    "3 : Introduis le temps à ajouter ou retirer. \n"
    "4 : Move it!\n"
    "\n"
    "NOTE : Le décalage du sous-titres s'opère à l'intérieur du fichier sélectionné.\n"
    "Celui-ci est donc permanent et s'appliquera lors de toutes lectures du \n"
    "fichier et ce quelque soit le programme que vous utiliserez. ";

namespace {

constexpr int Readable = 4;  // R_OK, which not every system's headers name

// Each child at the start of its box: expand on, fill off, no padding; shown
// at once.
void pack(GtkWidget* box, GtkWidget* child)
{
    gtk_box_pack_start(GTK_BOX(box), child, TRUE, FALSE, 0);
    gtk_widget_show(child);
}

GtkWidget* spinButton(double upper, double step)
{
    GtkObject* adjustment = gtk_adjustment_new(0, 0, upper, step, step, 0);
    GtkWidget* spin = gtk_spin_button_new(GTK_ADJUSTMENT(adjustment), 1.0, 0);
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(spin), TRUE);
    return spin;
}

// The entry has no label to underline a key in: its key, Alt+F, is given as
// its description. A window warns of mnemonics left when it goes: this one
// is taken away as it is destroyed, before the entry is.
void forget_mnemonic(GtkWidget* window, gpointer entry)
{
    gtk_window_remove_mnemonic(GTK_WINDOW(window), GDK_f, GTK_WIDGET(entry));
}

// Every control has a name for screen readers: a button's is its label, a
// spin button's the label before it.
void nameControls(const Window& w)
{
    nameControl(way, WayName);
    gtk_window_add_mnemonic(GTK_WINDOW(w.window), GDK_f, way);
    atk_object_set_description(gtk_widget_get_accessible(way), "Alt+F");
    g_signal_connect(w.window, "destroy", G_CALLBACK(forget_mnemonic), way);
    const struct {
        GtkWidget* widget;
        const char* name;
    } spins[] = {{h, "Heure(s)"}, {m, "Minute(s)"}, {s, "Seconde(s)"}, {ms, "Milliseconde(s)"}};
    for (const auto& spin : spins)
        nameControl(spin.widget, spin.name);
}

// Tab goes through the rows as it always did, "Move It! " right after the
// milliseconds, then "Aperçu", "Plus de réglages" and what it opens, and
// last "Trouver le décalage…" (which the open button's row passes by).
void keepKeyboardPath(const Window& w)
{
    GList* chain = nullptr;
    for (GtkWidget* row :
         {w.hbox5, w.hbox3, way, w.hbox2, w.hbox, w.hbox4, reglages.plus, w.barRow})
        chain = g_list_append(chain, row);
    gtk_container_set_focus_chain(GTK_CONTAINER(vbox), chain);
    g_list_free(chain);
    chain = g_list_append(nullptr, w.openfm);
    gtk_container_set_focus_chain(GTK_CONTAINER(w.hbox3), chain);
    g_list_free(chain);
    chain = g_list_append(nullptr, vbox);
    chain = g_list_append(chain, reglages.column);
    chain = g_list_append(chain, trouver);
    gtk_container_set_focus_chain(GTK_CONTAINER(w.side), chain);
    g_list_free(chain);
}

// Tab from "Trouver le décalage…", the end of the chain, starts it again;
// Shift+Tab goes back into the column, or to the rows.
gboolean side_focus(GtkWidget* side, GtkDirectionType direction, gpointer)
{
    if (!gtk_widget_has_focus(trouver) ||
        (direction != GTK_DIR_TAB_FORWARD && direction != GTK_DIR_TAB_BACKWARD))
        return FALSE;
    g_signal_stop_emission_by_name(side, "focus");
    if (direction == GTK_DIR_TAB_FORWARD)
        return FALSE;
    gtk_container_set_focus_child(GTK_CONTAINER(gtk_widget_get_parent(trouver)), nullptr);
    gtk_container_set_focus_child(GTK_CONTAINER(vbox), nullptr);
    return gtk_widget_child_focus(reglages.column, direction) ||
           gtk_widget_child_focus(vbox, direction);
}

}  // namespace

void nameControl(GtkWidget* widget, const char* name)
{
    atk_object_set_name(gtk_widget_get_accessible(widget), name);
}

void nameWindow(const char* filename)
{
    if (!filename) {
        gtk_window_set_title(GTK_WINDOW(gtk_widget_get_toplevel(way)), Title);
        return;
    }
    gchar* base = g_filename_display_basename(filename);
    gchar* title = g_strconcat(base, " – ", Title, nullptr);
    gtk_window_set_title(GTK_WINDOW(gtk_widget_get_toplevel(way)), title);
    g_free(title);
    g_free(base);
}

std::string findDataFile(const std::string& name, const std::vector<std::string>& dirs)
{
    if (g_file_test(name.c_str(), G_FILE_TEST_IS_REGULAR) && g_access(name.c_str(), Readable) == 0)
        return name;
    gchar* base = g_path_get_basename(name.c_str());
    std::string found;
    for (const std::string& dir : dirs) {
        if (dir.empty())
            continue;
        gchar* path = g_build_filename(dir.c_str(), base, nullptr);
        bool readable = g_file_test(path, G_FILE_TEST_IS_REGULAR) && g_access(path, Readable) == 0;
        if (readable)
            found = path;
        g_free(path);
        if (readable)
            break;
    }
    g_free(base);
    return found;
}

std::vector<std::string> dataDirs()
{
    std::vector<std::string> dirs;
    gchar* relocated = nullptr;
#ifdef G_OS_WIN32
    // The folder above bin\ when the program runs from there.
    gchar* root = g_win32_get_package_installation_directory_of_module(nullptr);
    if (root)
        relocated = g_build_filename(root, "share", "chronelle", nullptr);
    g_free(root);
#elif defined(CHRONELLE_DATADIR_FROM_BINDIR)
    gchar* exe = g_file_read_link("/proc/self/exe", nullptr);
    if (exe) {
        gchar* bindir = g_path_get_dirname(exe);
        relocated = g_build_filename(bindir, CHRONELLE_DATADIR_FROM_BINDIR, nullptr);
        g_free(bindir);
    }
    g_free(exe);
#endif
    if (relocated)
        dirs.push_back(relocated);
    g_free(relocated);
#ifdef CHRONELLE_DATADIR
    dirs.push_back(CHRONELLE_DATADIR);
#endif
    return dirs;
}

Window buildWindow()
{
    Window w;
    adri = 1;

    w.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(w.window), Title);

    doit = gtk_button_new_with_mnemonic("_Move It! ");
    gtk_widget_set_sensitive(doit, FALSE);
    apercu = gtk_button_new_with_mnemonic("Ap_erçu");
    gtk_widget_set_sensitive(apercu, FALSE);

    vbox = gtk_vbox_new(FALSE, 5);
    w.hbox = gtk_hbox_new(FALSE, 3);
    w.hbox2 = gtk_hbox_new(TRUE, 0);
    w.hbox3 = gtk_hbox_new(FALSE, 0);
    w.hbox4 = gtk_hbox_new(FALSE, 0);
    w.hbox5 = gtk_hbox_new(FALSE, 3);

    w.openfm = gtk_button_new_with_mnemonic("_Ouvrir un fichier sous-titres");

    w.fm = gtk_file_chooser_dialog_new(
        ChooserTitle, GTK_WINDOW(w.window), GTK_FILE_CHOOSER_ACTION_OPEN, GTK_STOCK_CANCEL,
        GTK_RESPONSE_CANCEL, GTK_STOCK_OPEN, GTK_RESPONSE_ACCEPT, nullptr);
    addSubtitleFilters(w.fm);
    // Should the window be destroyed while it runs, the chooser goes with it
    // and fileman finds a response that asks for nothing.
    gtk_window_set_destroy_with_parent(GTK_WINDOW(w.fm), TRUE);
    // It opens on the working directory (where tools/run.sh puts the sample
    // file) rather than on the recently used files.
    gchar* here = g_get_current_dir();
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(w.fm), here);
    g_free(here);

    // A missing icon is no matter: the window opens without it.
    std::string icon = findDataFile(IconFile, dataDirs());
    if (!icon.empty())
        gtk_window_set_icon_from_file(GTK_WINDOW(w.window), icon.c_str(), nullptr);
    gtk_window_set_position(GTK_WINDOW(w.window), GTK_WIN_POS_CENTER_ON_PARENT);

    way = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(way), WayText);
    gtk_editable_set_editable(GTK_EDITABLE(way), FALSE);

    h = spinButton(5, 1);
    m = spinButton(59, 1);
    s = spinButton(59, 1);
    ms = spinButton(999, 10);

    w.ajouter = gtk_radio_button_new_with_mnemonic(nullptr, "_Ajouter");
    w.retirer =
        gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(w.ajouter), "_Retirer");
    reglages.ajouter = w.ajouter;
    reglages.retirer = w.retirer;
    buildReglages();
    w.preview = buildPreview(w.window);
    w.video = buildTrouver(w.window, w.openfm);

    // Without the banner the toolkit shows its picture of a broken image.
    std::string banner = findDataFile(BannerFile, dataDirs());
    w.image = gtk_image_new_from_file(banner.empty() ? BannerFile : banner.c_str());

    w.barRow = buildBar();

    g_signal_connect(w.window, "delete_event", G_CALLBACK(delete_event), nullptr);
    g_signal_connect(w.window, "destroy", G_CALLBACK(destroy), nullptr);
    g_signal_connect(doit, "clicked", G_CALLBACK(move), nullptr);
    g_signal_connect(w.openfm, "clicked", G_CALLBACK(fileman), w.fm);
    g_signal_connect(w.ajouter, "toggled", G_CALLBACK(toggle_button_callback), nullptr);
    g_signal_connect(apercu, "clicked", G_CALLBACK(preview), w.preview);
    acceptDrops(w.window, w.fm);

    w.frame = gtk_frame_new(FrameTitle);
    label = gtk_label_new(InstructionsText);
    w.instructions = label;
    gtk_container_add(GTK_CONTAINER(w.frame), label);
    gtk_widget_show(label);

    pack(vbox, w.hbox5);
    pack(w.hbox5, w.frame);
    pack(vbox, w.hbox3);
    pack(w.hbox3, w.openfm);
    pack(w.hbox3, trouver);
    if (!w.video)
        gtk_widget_hide(trouver);
    pack(vbox, w.image);
    pack(vbox, way);
    pack(vbox, w.hbox2);
    pack(w.hbox2, w.ajouter);
    pack(w.hbox2, w.retirer);
    pack(vbox, w.hbox);
    const struct {
        const char* text;
        GtkWidget* spin;
    } shift[] = {{"_Heure(s)", h}, {"Mi_nute(s)", m}, {"_Seconde(s)", s}, {"Mi_lliseconde(s)", ms}};
    for (const auto& field : shift) {
        label = labelFor(field.text, field.spin);
        pack(w.hbox, label);
        pack(w.hbox, field.spin);
    }
    pack(vbox, reglages.plus);
    pack(vbox, w.hbox4);
    pack(w.hbox4, doit);
    pack(w.hbox4, apercu);
    pack(vbox, w.barRow);

    // "Plus de réglages" opens beside the rows, not below them: the window
    // stays within a laptop's screen.
    w.side = gtk_hbox_new(FALSE, 6);
    gtk_box_pack_start(GTK_BOX(w.side), vbox, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(w.side), reglages.column, FALSE, FALSE, 0);
    g_signal_connect(w.side, "focus", G_CALLBACK(side_focus), nullptr);
    nameControls(w);
    keepKeyboardPath(w);

    gtk_container_add(GTK_CONTAINER(w.window), w.side);
    gtk_widget_show(w.side);
    gtk_widget_show(vbox);
    gtk_widget_show(w.hbox);
    gtk_widget_show(w.hbox2);
    gtk_widget_show(w.hbox3);
    gtk_widget_show(w.hbox4);
    // Shown last, so that it opens at the size of its whole content.
    gtk_widget_show(w.window);
    return w;
}

Window start(int argc, char* argv[])
{
    Window w = buildWindow();
    int first = 1;
    if (first < argc && std::strcmp(argv[first], "--") == 0)
        ++first;
    if (first >= argc)
        return w;
#ifdef G_OS_WIN32
    // The C runtime gives the arguments in the system's code page; GLib's
    // file names are UTF-8 there.
    gchar* named = g_locale_to_utf8(argv[first], -1, nullptr, nullptr, nullptr);
#else
    gchar* named = g_strdup(argv[first]);
#endif
    // Whole, as the chooser would give it.
    gchar* filename = nullptr;
    if (named && !g_path_is_absolute(named)) {
        gchar* here = g_get_current_dir();
        filename = g_build_filename(here, named, nullptr);
        g_free(here);
    } else {
        filename = g_strdup(named);
    }
    g_free(named);
    vetAndShow(w.fm, filename);
    g_free(filename);
    return w;
}

gboolean delete_event(GtkWidget*, GdkEvent*, gpointer) { return FALSE; }

void destroy(GtkWidget*, gpointer) { gtk_main_quit(); }

}  // namespace chronelle::ui
