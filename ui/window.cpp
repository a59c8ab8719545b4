// The window: the shared window state, the building of the window and the
// two handlers that end the run.
#include "window.h"

#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>

#include <cstring>

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

// The bar's text is its name for screen readers, so that they read the
// outcome there.
void nameBar(GObject*, GParamSpec*, gpointer)
{
    const gchar* text = gtk_progress_bar_get_text(GTK_PROGRESS_BAR(bar));
    nameControl(bar, text ? text : "");
}

// A window warns of mnemonics left when it goes: they are taken away as it
// is destroyed, before its controls are.
struct Mnemonic {
    guint key;
    GtkWidget* widget;
};
using Mnemonics = std::vector<Mnemonic>;

void forget_mnemonics(GtkWidget* window, gpointer list)
{
    for (const Mnemonic& m : *static_cast<Mnemonics*>(list))
        gtk_window_remove_mnemonic(GTK_WINDOW(window), m.key, m.widget);
}

void freeMnemonics(gpointer list, GClosure*)
{
    delete static_cast<Mnemonics*>(list);
}

// Every control has a name for screen readers (a button's is its label) and
// the main ones an Alt key, which no visible text shows: the labels stay as
// they are, and the key is given as each one's description.
void nameControls(const Window& w)
{
    const struct {
        GtkWidget* widget;
        const char* name;  // null: the label's
        guint key;
    } controls[] = {
        {w.openfm, nullptr, GDK_o}, {way, WayName, GDK_f},         {w.ajouter, nullptr, GDK_a},
        {w.retirer, nullptr, GDK_r}, {h, "Heure(s)", GDK_h},        {m, "Minute(s)", GDK_n},
        {s, "Seconde(s)", GDK_s},   {ms, "Milliseconde(s)", GDK_l}, {doit, nullptr, GDK_m},
        {apercu, nullptr, GDK_e},   {reglages.plus, nullptr, GDK_p}, {trouver, nullptr, GDK_t},
    };
    auto* added = new Mnemonics;
    for (const auto& c : controls) {
        if (c.name)
            nameControl(c.widget, c.name);
        gtk_window_add_mnemonic(GTK_WINDOW(w.window), c.key, c.widget);
        added->push_back({c.key, c.widget});
        gchar* description = g_strdup_printf("Alt+%c", g_ascii_toupper(gchar(c.key)));
        atk_object_set_description(gtk_widget_get_accessible(c.widget), description);
        g_free(description);
    }
    g_signal_connect_data(w.window, "destroy", G_CALLBACK(forget_mnemonics), added, freeMnemonics,
                          GConnectFlags(0));
    nameBar(nullptr, nullptr, nullptr);
    g_signal_connect(bar, "notify::text", G_CALLBACK(nameBar), nullptr);
}

// Tab goes through the rows as it always did, "Move It! " right after the
// milliseconds; then "Aperçu" and "Plus de réglages", which lies above them.
void keepKeyboardPath(const Window& w)
{
    GList* chain = nullptr;
    for (GtkWidget* row : {w.hbox5, w.hbox3, way, w.hbox2, w.hbox, w.hbox4, reglages.plus, bar})
        chain = g_list_append(chain, row);
    gtk_container_set_focus_chain(GTK_CONTAINER(vbox), chain);
    g_list_free(chain);
    // "Trouver le décalage…" is reached by its Alt key: Tab passes it by,
    // from the open button straight to the entry, as before it was there.
    chain = g_list_append(nullptr, w.openfm);
    gtk_container_set_focus_chain(GTK_CONTAINER(w.hbox3), chain);
    g_list_free(chain);
}

}  // namespace

void nameControl(GtkWidget* widget, const char* name)
{
    atk_object_set_name(gtk_widget_get_accessible(widget), name);
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

    doit = gtk_button_new_with_label(MoveLabel);
    gtk_widget_set_sensitive(doit, FALSE);
    apercu = gtk_button_new_with_label(ApercuLabel);
    gtk_widget_set_sensitive(apercu, FALSE);

    vbox = gtk_vbox_new(FALSE, 5);
    w.hbox = gtk_hbox_new(FALSE, 3);
    w.hbox2 = gtk_hbox_new(TRUE, 0);
    w.hbox3 = gtk_hbox_new(FALSE, 0);
    w.hbox4 = gtk_hbox_new(FALSE, 0);
    w.hbox5 = gtk_hbox_new(FALSE, 3);

    w.openfm = gtk_button_new_with_label(OpenLabel);

    w.fm = gtk_file_chooser_dialog_new(
        ChooserTitle, GTK_WINDOW(w.window), GTK_FILE_CHOOSER_ACTION_OPEN, GTK_STOCK_CANCEL,
        GTK_RESPONSE_CANCEL, GTK_STOCK_OPEN, GTK_RESPONSE_ACCEPT, nullptr);
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

    w.ajouter = gtk_radio_button_new_with_label(nullptr, "Ajouter");
    w.retirer = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(w.ajouter), "Retirer");
    reglages.ajouter = w.ajouter;
    reglages.retirer = w.retirer;
    buildReglages();
    w.preview = buildPreview(w.window);
    w.video = buildTrouver(w.window, w.openfm);

    // Without the banner the toolkit shows its picture of a broken image.
    std::string banner = findDataFile(BannerFile, dataDirs());
    w.image = gtk_image_new_from_file(banner.empty() ? BannerFile : banner.c_str());

    bar = gtk_progress_bar_new();
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), WaitingText);

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
    } shift[] = {{"Heure(s)", h}, {"Minute(s)", m}, {"Seconde(s)", s}, {"Milliseconde(s)", ms}};
    for (const auto& field : shift) {
        label = gtk_label_new(field.text);
        gtk_label_set_mnemonic_widget(GTK_LABEL(label), field.spin);
        pack(w.hbox, label);
        pack(w.hbox, field.spin);
    }
    pack(vbox, reglages.plus);
    pack(vbox, w.hbox4);
    pack(w.hbox4, doit);
    pack(w.hbox4, apercu);
    pack(vbox, bar);
    nameControls(w);
    keepKeyboardPath(w);

    gtk_container_add(GTK_CONTAINER(w.window), vbox);
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

gboolean delete_event(GtkWidget*, GdkEvent*, gpointer)
{
    return FALSE;
}

void destroy(GtkWidget*, gpointer)
{
    gtk_main_quit();
}

}  // namespace chronelle::ui
