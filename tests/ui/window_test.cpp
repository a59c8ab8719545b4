// The window in a real X display (Xvfb): built by chronelle_ui without the
// main loop, looked at through GTK, and driven as the user would drive it.
// The modal file chooser is answered from a timeout that picks a file and
// emits the response.
#include "window.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bar.h"
#include "chooser_driver.h"
#include "file_io.h"
#include "handlers.h"
#include "listen.h"
#include "preview.h"
#include "settings.h"
#include "test_files.h"
#include "texts.h"

using namespace chronelle::ui;
using testing_files::readFile;
using testing_files::subtitles;
using testing_files::TempDir;
using testing_files::writeFile;

namespace {

void flush()
{
    while (gtk_events_pending())
        gtk_main_iteration();
}

// The chooser's folder, once GTK has looked it up: it does so in the
// background, and a loaded machine may take a while (ten seconds at most).
std::string chooserFolder(GtkWidget* chooser)
{
    gint64 deadline = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    gchar* folder = nullptr;
    while (!(folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(chooser))) &&
           g_get_monotonic_time() < deadline) {
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(1000);
    }
    std::string s = folder ? folder : "";
    g_free(folder);
    return s;
}

std::string entryText(GtkWidget* entry) { return gtk_entry_get_text(GTK_ENTRY(entry)); }

std::string barText()
{
    const gchar* text = gtk_progress_bar_get_text(GTK_PROGRESS_BAR(bar));
    return text ? text : "";
}

double barFraction() { return gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(bar)); }

bool sensitive(GtkWidget* widget) { return gtk_widget_get_sensitive(widget); }

int spin(GtkWidget* button) { return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(button)); }

std::vector<GtkWidget*> children(GtkWidget* container)
{
    GList* list = gtk_container_get_children(GTK_CONTAINER(container));
    std::vector<GtkWidget*> result;
    for (GList* i = list; i; i = i->next)
        result.push_back(GTK_WIDGET(i->data));
    g_list_free(list);
    return result;
}

// The text shown, without the mark of its underlined key.
std::string labelText(GtkWidget* widget)
{
    if (GTK_IS_BUTTON(widget) && gtk_button_get_use_stock(GTK_BUTTON(widget)))
        return gtk_button_get_label(GTK_BUTTON(widget));
    if (GTK_IS_BUTTON(widget))
        widget = gtk_bin_get_child(GTK_BIN(widget));
    return GTK_IS_LABEL(widget) ? gtk_label_get_text(GTK_LABEL(widget)) : "";
}

// The subtitles of patcher's edge case: two timing lines, CR LF.
const std::string TwoCues =
    "1\r\n00:00:20,000 --> 00:00:24,400\r\nBonjour.\r\n\r\n"
    "2\r\n00:00:25,000 --> 00:00:28,000\r\nAu revoir.\r\n\r\n";

// Three subtitles, enough for the probe, and the same shifted by +5 s.
const std::string Good = TwoCues + "3\r\n00:01:00,000 --> 00:01:02,500\r\nFin.\r\n\r\n";
const std::string GoodPlus5 =
    "1\r\n00:00:25,000 --> 00:00:29,400\r\nBonjour.\r\n\r\n"
    "2\r\n00:00:30,000 --> 00:00:33,000\r\nAu revoir.\r\n\r\n"
    "3\r\n00:01:05,000 --> 00:01:07,500\r\nFin.\r\n\r\n";

// The success of a change of Good.
const std::string Done3 =
    "Modification du sous-titres r\xC3\xA9ussie : 3 sous-titres d\xC3\xA9"
    "cal\xC3\xA9s";

// Long texts: only two timing lines among the first 15 lines.
std::string longFirstCues()
{
    std::string s = "1\r\n00:00:01,000 --> 00:00:04,000\r\n";
    for (int i = 0; i < 5; ++i)
        s += "Une longue réplique, ligne " + std::to_string(i) + ".\r\n";
    s += "\r\n2\r\n00:00:05,000 --> 00:00:08,000\r\n";
    for (int i = 0; i < 5; ++i)
        s += "Encore une ligne " + std::to_string(i) + ".\r\n";
    s += "\r\n3\r\n00:00:09,000 --> 00:00:10,000\r\nFin.\r\n\r\n";
    return s;
}

// What the progress bar was given, in order: "t:" texts and "f:" fractions.
void recordText(GObject* object, GParamSpec*, gpointer data)
{
    const gchar* text = gtk_progress_bar_get_text(GTK_PROGRESS_BAR(object));
    static_cast<std::vector<std::string>*>(data)->push_back(std::string("t:") + (text ? text : ""));
}

void recordFraction(GObject* object, GParamSpec*, gpointer data)
{
    char f[32];
    g_snprintf(f, sizeof f, "f:%.1f", gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(object)));
    static_cast<std::vector<std::string>*>(data)->push_back(f);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Each window is built in a folder of its own: no pictures, unless a
        // test puts them there first.
        char* cwd = g_get_current_dir();
        previousDir = cwd;
        g_free(cwd);
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
    }

    void build()
    {
        w = buildWindow();
        g_object_add_weak_pointer(G_OBJECT(w.window), reinterpret_cast<gpointer*>(&w.window));
        g_object_add_weak_pointer(G_OBJECT(w.fm), reinterpret_cast<gpointer*>(&w.fm));
        flush();
    }

    void TearDown() override
    {
        closeWindow();
        ASSERT_EQ(chdir(previousDir.c_str()), 0);
    }

    // Destroys the window and its chooser, so that another can be built.
    void closeWindow()
    {
        if (w.window) {
            // destroy() ends a main loop; there is none to end here.
            g_signal_handlers_disconnect_by_func(w.window, reinterpret_cast<gpointer>(destroy),
                                                 nullptr);
            gtk_widget_destroy(w.window);
        }
        if (w.fm)
            gtk_widget_destroy(w.fm);
        flush();
        w = Window();
    }

    // Starts as main does, with the command line `args` after the program's
    // name (the toolkit's options already taken out).
    void startWith(std::vector<std::string> args)
    {
        args.insert(args.begin(), "chronelle");
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        w = start(int(args.size()), argv.data());
        g_object_add_weak_pointer(G_OBJECT(w.window), reinterpret_cast<gpointer*>(&w.window));
        g_object_add_weak_pointer(G_OBJECT(w.fm), reinterpret_cast<gpointer*>(&w.fm));
        flush();
    }

    // Clicks "Ouvrir un fichier sous-titres" and answers the chooser.
    ChooserDriver choose(const std::string& path, int response = GTK_RESPONSE_ACCEPT,
                         const std::string& removeBeforeResponse = "")
    {
        ChooserDriver d;
        d.fm = w.fm;
        d.path = path;
        d.response = response;
        d.removeBeforeResponse = removeBeforeResponse;
        g_timeout_add(20, driveChooser, &d);
        gtk_button_clicked(GTK_BUTTON(w.openfm));  // runs fileman, modal
        flush();
        return d;
    }

    std::vector<std::string> clickMove()
    {
        std::vector<std::string> shown;
        gulong t = g_signal_connect(bar, "notify::text", G_CALLBACK(recordText), &shown);
        gulong f = g_signal_connect(bar, "notify::fraction", G_CALLBACK(recordFraction), &shown);
        gtk_button_clicked(GTK_BUTTON(doit));
        g_signal_handler_disconnect(bar, t);
        g_signal_handler_disconnect(bar, f);
        flush();
        return shown;
    }

    void setShift(int hours, int minutes, int seconds, int millis)
    {
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(h), hours);
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(m), minutes);
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(s), seconds);
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(ms), millis);
    }

    TempDir dir;
    std::string previousDir;
    Window w;
};

// --- The window as it opens ----------------------------------------------

TEST_F(WindowTest, InitialStates)
{
    build();
    EXPECT_TRUE(gtk_widget_get_visible(w.window));
    EXPECT_TRUE(gtk_widget_get_mapped(w.window));
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w.window)), "Chronelle");
    GtkWindowPosition position = GTK_WIN_POS_NONE;
    g_object_get(w.window, "window-position", &position, nullptr);
    EXPECT_EQ(position, GTK_WIN_POS_CENTER_ON_PARENT);

    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w.ajouter)));
    EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w.retirer)));
    EXPECT_EQ(adri, 1);
    for (GtkWidget* spinButton : {h, m, s, ms})
        EXPECT_EQ(spin(spinButton), 0);

    EXPECT_FALSE(sensitive(doit));
    EXPECT_FALSE(sensitive(apercu));
    EXPECT_EQ(labelText(doit), "Move It! ");
    EXPECT_TRUE(sensitive(w.openfm));
    EXPECT_EQ(labelText(w.openfm), "Ouvrir un fichier sous-titres");

    EXPECT_EQ(entryText(way), "Choisis un fichier sous-titres");
    EXPECT_FALSE(gtk_editable_get_editable(GTK_EDITABLE(way)));

    EXPECT_EQ(barText(), "En attente");
    EXPECT_DOUBLE_EQ(barFraction(), 0.0);
}

TEST_F(WindowTest, SpinButtonsAndTheirAdjustments)
{
    build();
    struct Expected {
        GtkWidget* button;
        double upper, step;
    };
    for (const Expected& e :
         {Expected{h, 5, 1}, Expected{m, 59, 1}, Expected{s, 59, 1}, Expected{ms, 999, 10}}) {
        GtkSpinButton* b = GTK_SPIN_BUTTON(e.button);
        GtkAdjustment* a = gtk_spin_button_get_adjustment(b);
        EXPECT_DOUBLE_EQ(gtk_adjustment_get_value(a), 0);
        EXPECT_DOUBLE_EQ(gtk_adjustment_get_lower(a), 0);
        EXPECT_DOUBLE_EQ(gtk_adjustment_get_upper(a), e.upper);
        EXPECT_DOUBLE_EQ(gtk_adjustment_get_step_increment(a), e.step);
        EXPECT_DOUBLE_EQ(gtk_adjustment_get_page_increment(a), e.step);
        EXPECT_DOUBLE_EQ(gtk_adjustment_get_page_size(a), 0);
        EXPECT_TRUE(gtk_spin_button_get_numeric(b));
        EXPECT_EQ(gtk_spin_button_get_digits(b), 0u);
        double climb = 0;
        g_object_get(b, "climb-rate", &climb, nullptr);
        EXPECT_DOUBLE_EQ(climb, 1.0);
        EXPECT_FALSE(gtk_spin_button_get_wrap(b));
    }
}

TEST_F(WindowTest, SpinButtonsRefuseValuesBeyondTheirRanges)
{
    build();
    struct Range {
        GtkWidget* button;
        int upper;
    };
    for (const Range& r : {Range{h, 5}, Range{m, 59}, Range{s, 59}, Range{ms, 999}}) {
        GtkSpinButton* b = GTK_SPIN_BUTTON(r.button);
        gtk_spin_button_set_value(b, r.upper + 1);
        EXPECT_EQ(spin(r.button), r.upper);
        gtk_spin_button_set_value(b, -1);
        EXPECT_EQ(spin(r.button), 0);
        gtk_spin_button_set_value(b, r.upper);
        // The arrows stop at the ends.
        gtk_spin_button_spin(b, GTK_SPIN_STEP_FORWARD, 0);
        EXPECT_EQ(spin(r.button), r.upper);
        gtk_spin_button_set_value(b, 0);
        gtk_spin_button_spin(b, GTK_SPIN_STEP_BACKWARD, 0);
        EXPECT_EQ(spin(r.button), 0);
    }
    // Numeric only: letters are not taken.
    gtk_entry_set_text(GTK_ENTRY(s), "");
    gint at = 0;
    gtk_editable_insert_text(GTK_EDITABLE(s), "12", 2, &at);
    gtk_editable_insert_text(GTK_EDITABLE(s), "x", 1, &at);
    gtk_editable_insert_text(GTK_EDITABLE(s), "3a", 2, &at);
    EXPECT_EQ(entryText(s), "12");
    // The milliseconds go by tens.
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(ms), 0);
    gtk_spin_button_spin(GTK_SPIN_BUTTON(ms), GTK_SPIN_STEP_FORWARD, 0);
    EXPECT_EQ(spin(ms), 10);
    gtk_spin_button_spin(GTK_SPIN_BUTTON(h), GTK_SPIN_STEP_FORWARD, 0);
    EXPECT_EQ(spin(h), 1);
}

TEST_F(WindowTest, RowsInOrderAndPacking)
{
    build();
    // The rows, and beside them what "Plus de réglages" opens.
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(w.window)), w.side);
    EXPECT_EQ(children(w.side), (std::vector<GtkWidget*>{vbox, reglages.column}));
    // "Plus de réglages", closed, between the offset and "Move It! ", and
    // "Aperçu" beside it; the bar after the icon of an error.
    std::vector<GtkWidget*> rows = {w.hbox5, w.hbox3,       w.image, way,     w.hbox2,
                                    w.hbox,  reglages.plus, w.hbox4, w.barRow};
    EXPECT_EQ(children(vbox), rows);
    EXPECT_EQ(children(w.barRow).back(), bar);
    EXPECT_EQ(children(w.hbox5), std::vector<GtkWidget*>{w.frame});
    // "Trouver le décalage avec la vidéo…" beside the open button.
    EXPECT_EQ(children(w.hbox3), (std::vector<GtkWidget*>{w.openfm, trouver}));
    EXPECT_EQ(labelText(trouver), "Trouver le décalage avec la vidéo…");
    EXPECT_EQ(children(w.hbox2), (std::vector<GtkWidget*>{w.ajouter, w.retirer}));
    EXPECT_EQ(children(w.hbox4), (std::vector<GtkWidget*>{doit, apercu}));
    EXPECT_EQ(labelText(apercu), "Aperçu");
    EXPECT_EQ(labelText(gtk_expander_get_label_widget(GTK_EXPANDER(reglages.plus))),
              "Plus de réglages");
    EXPECT_FALSE(gtk_expander_get_expanded(GTK_EXPANDER(reglages.plus)));

    std::vector<GtkWidget*> shift = children(w.hbox);
    ASSERT_EQ(shift.size(), 8u);
    const char* labels[] = {"Heure(s)", "Minute(s)", "Seconde(s)", "Milliseconde(s)"};
    GtkWidget* spins[] = {h, m, s, ms};
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(GTK_IS_LABEL(shift[2 * i]));
        EXPECT_EQ(labelText(shift[2 * i]), labels[i]);
        EXPECT_EQ(shift[2 * i + 1], spins[i]);
    }
    // `label` is the last label made.
    EXPECT_EQ(label, shift[6]);

    // Every child at the start of its box, expand on, fill off, no padding,
    // and shown.
    for (GtkWidget* box : {vbox, w.hbox, w.hbox2, w.hbox3, w.hbox4, w.hbox5}) {
        EXPECT_TRUE(gtk_widget_get_visible(box));
        for (GtkWidget* child : children(box)) {
            gboolean expand = FALSE, fill = TRUE;
            guint padding = 1;
            GtkPackType pack = GTK_PACK_END;
            gtk_box_query_child_packing(GTK_BOX(box), child, &expand, &fill, &padding, &pack);
            EXPECT_TRUE(expand);
            EXPECT_FALSE(fill);
            EXPECT_EQ(padding, 0u);
            EXPECT_EQ(pack, GTK_PACK_START);
            EXPECT_TRUE(gtk_widget_get_visible(child));
        }
    }
    EXPECT_TRUE(GTK_IS_VBOX(vbox));
    struct Box {
        GtkWidget* box;
        bool homogeneous;
        int spacing;
    };
    for (const Box& b : {Box{vbox, false, 5}, Box{w.hbox, false, 3}, Box{w.hbox2, true, 0},
                         Box{w.hbox3, false, 0}, Box{w.hbox4, false, 0}, Box{w.hbox5, false, 3}}) {
        EXPECT_EQ(bool(gtk_box_get_homogeneous(GTK_BOX(b.box))), b.homogeneous);
        EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(b.box)), b.spacing);
    }
    for (GtkWidget* row : {w.hbox, w.hbox2, w.hbox3, w.hbox4, w.hbox5})
        EXPECT_TRUE(GTK_IS_HBOX(row));
    EXPECT_EQ(labelText(w.ajouter), "Ajouter");
    EXPECT_EQ(labelText(w.retirer), "Retirer");
    EXPECT_EQ(gtk_radio_button_get_group(GTK_RADIO_BUTTON(w.ajouter)),
              gtk_radio_button_get_group(GTK_RADIO_BUTTON(w.retirer)));
}

TEST_F(WindowTest, InstructionsExactlyAsQuoted)
{
    build();
    EXPECT_STREQ(gtk_frame_get_label(GTK_FRAME(w.frame)), " Instructions : ");
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(w.frame)), w.instructions);
    const char* expected =
        "1 : Ouvre ton fichier sous-titres compatible. \n"
        "2 : Choisis si tu veux ajouter du temps (retarder l'affichage du sous-titres) \n"
        "     ou retirer du temps (avancer l'affichage du sous-titres).\n"
        "3 : Introduis le temps \xC3\xA0 ajouter ou retirer. \n"
        "4 : Move it!\n"
        "\n"
        "NOTE : Le d\xC3\xA9"
        "calage du sous-titres s'op\xC3\xA8re \xC3\xA0 l'int\xC3\xA9rieur "
        "du fichier s\xC3\xA9lectionn\xC3\xA9.\n"
        "Celui-ci est donc permanent et s'appliquera lors de toutes lectures du \n"
        "fichier et ce quelque soit le programme que vous utiliserez. ";
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(w.instructions)), expected);
    EXPECT_TRUE(gtk_widget_get_visible(w.instructions));
}

TEST_F(WindowTest, TheChooserIsMadeOnceAndHidden)
{
    build();
    ASSERT_TRUE(GTK_IS_FILE_CHOOSER_DIALOG(w.fm));
    EXPECT_FALSE(gtk_widget_get_visible(w.fm));
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w.fm)), "Open File");
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(w.fm)), GTK_WINDOW(w.window));
    EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(w.fm)), GTK_FILE_CHOOSER_ACTION_OPEN);
    // SubRip files first, and all files.
    GSList* filters = gtk_file_chooser_list_filters(GTK_FILE_CHOOSER(w.fm));
    ASSERT_EQ(g_slist_length(filters), 2u);
    EXPECT_EQ(gtk_file_chooser_get_filter(GTK_FILE_CHOOSER(w.fm)), filters->data);
    EXPECT_STREQ(gtk_file_filter_get_name(GTK_FILE_FILTER(filters->data)),
                 "Sous-titres SubRip (*.srt)");
    EXPECT_STREQ(gtk_file_filter_get_name(GTK_FILE_FILTER(filters->next->data)),
                 "Tous les fichiers");
    g_slist_free(filters);

    // Its two buttons: the stock buttons "gtk-cancel" (-6) and "gtk-open" (-3).
    GtkWidget* area = gtk_dialog_get_action_area(GTK_DIALOG(w.fm));
    std::vector<std::pair<std::string, int>> buttons;
    for (GtkWidget* child : children(area)) {
        EXPECT_TRUE(gtk_button_get_use_stock(GTK_BUTTON(child)));
        buttons.emplace_back(labelText(child),
                             gtk_dialog_get_response_for_widget(GTK_DIALOG(w.fm), child));
    }
    std::sort(buttons.begin(), buttons.end());
    std::vector<std::pair<std::string, int>> expected = {{"gtk-cancel", GTK_RESPONSE_CANCEL},
                                                         {"gtk-open", GTK_RESPONSE_ACCEPT}};
    EXPECT_EQ(buttons, expected);
}

TEST_F(WindowTest, OpensWithoutThePictures)
{
    build();
    EXPECT_TRUE(gtk_widget_get_mapped(w.window));
    EXPECT_TRUE(gtk_widget_get_visible(w.image));
    // Unless Chronelle is installed, the toolkit shows its broken image.
    if (findDataFile(BannerFile, dataDirs()).empty()) {
        EXPECT_EQ(gtk_image_get_storage_type(GTK_IMAGE(w.image)), GTK_IMAGE_STOCK);
    }
}

TEST_F(WindowTest, ShowsThePicturesOfTheWorkingDirectory)
{
    for (const char* name : {"icone_chronelle.png", "banniere.jpg"})
        writeFile(dir.file(name), readFile(std::string(CHRONELLE_SOURCE_DATA) + "/" + name));
    build();
    ASSERT_EQ(gtk_image_get_storage_type(GTK_IMAGE(w.image)), GTK_IMAGE_PIXBUF);
    GdkPixbuf* banner = gtk_image_get_pixbuf(GTK_IMAGE(w.image));
    EXPECT_GT(gdk_pixbuf_get_width(banner), 0);
    GdkPixbuf* icon = gtk_window_get_icon(GTK_WINDOW(w.window));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(icon), gdk_pixbuf_get_height(icon));
}

TEST_F(WindowTest, PicturesFallBackToTheDataFolder)
{
    TempDir installed;
    writeFile(installed.file("banniere.jpg"), "x");
    std::vector<std::string> dirs = {"/nonexistent", installed.path()};
    // Not in the working directory: the data folder's copy.
    EXPECT_EQ(findDataFile("./banniere.jpg", dirs), installed.file("banniere.jpg"));
    EXPECT_EQ(findDataFile("icone_chronelle.png", dirs), "");
    // In the working directory: that one, as named.
    writeFile(dir.file("banniere.jpg"), "y");
    EXPECT_EQ(findDataFile("./banniere.jpg", dirs), "./banniere.jpg");
    // A folder of that name is no picture.
    mkdir(dir.file("icone_chronelle.png").c_str(), 0700);
    EXPECT_EQ(findDataFile("icone_chronelle.png", {}), "");
}

TEST_F(WindowTest, TheBannerIsAsWideAsTheRows)
{
    for (const char* name : {"icone_chronelle.png", "banniere.jpg"})
        writeFile(dir.file(name), readFile(std::string(CHRONELLE_SOURCE_DATA) + "/" + name));
    build();
    GdkPixbuf* banner = gtk_image_get_pixbuf(GTK_IMAGE(w.image));
    ASSERT_NE(banner, nullptr);
    GtkAllocation rows;
    gtk_widget_get_allocation(vbox, &rows);
    // Within a few pixels: the rows' width depends on the fonts at hand.
    EXPECT_NEAR(gdk_pixbuf_get_width(banner), rows.width, rows.width / 10);
}

// The size of `window` once the X server has answered its last resize.
GtkAllocation settled(GtkWidget* window)
{
    for (int round = 0; round < 2; ++round) {
        flush();
        gdk_display_sync(gdk_display_get_default());
    }
    flush();
    GtkAllocation a;
    gtk_widget_get_allocation(window, &a);
    return a;
}

TEST_F(WindowTest, EveryStateFitsALaptopAndShowsMoveIt)
{
    std::string path = dir.file("film.srt");
    writeFile(path, subtitles(40));
    startWith({path});
    GtkAllocation first = settled(w.window);
    auto fits = [](GtkWidget* window, GtkWidget* move, const char* state) {
        GtkAllocation a = settled(window), b;
        gtk_widget_get_allocation(move, &b);
        EXPECT_TRUE(a.width <= 1000 && a.height <= 700)
            << state << ": " << a.width << "x" << a.height;
        EXPECT_TRUE(gtk_widget_get_mapped(move) && b.x + b.width <= a.width &&
                    b.y + b.height <= a.height)
            << state;
    };
    fits(w.window, doit, "as it opens");
    gtk_expander_set_expanded(GTK_EXPANDER(reglages.plus), TRUE);
    for (GtkWidget* change : {reglages.commencer, reglages.synchroniser, reglages.convertir})
        gtk_button_clicked(GTK_BUTTON(change));
    fits(w.window, doit, "Plus de r\xC3\xA9glages");
    int wide = settled(w.window).width;
    sayError(std::string(400, 'x'));
    fits(w.window, doit, "a long text on the bar");
    EXPECT_EQ(settled(w.window).width, wide) << "a long text does not widen the window";
    EXPECT_EQ(gtk_widget_get_tooltip_text(bar), std::string(400, 'x'));
    setShift(0, 0, 1, 0);
    gtk_button_clicked(GTK_BUTTON(apercu));
    GList* buttons = gtk_container_get_children(
        GTK_CONTAINER(gtk_dialog_get_action_area(GTK_DIALOG(w.preview))));
    fits(w.preview, GTK_WIDGET(g_list_last(buttons)->data), "Aper\xC3\xA7u");
    g_list_free(buttons);
    gtk_dialog_response(GTK_DIALOG(w.preview), GTK_RESPONSE_CLOSE);
    // Closed again, the window is as it was.
    gtk_expander_set_expanded(GTK_EXPANDER(reglages.plus), FALSE);
    GtkAllocation last = settled(w.window);
    EXPECT_TRUE(last.width == first.width && last.height == first.height)
        << last.width << "x" << last.height << " after " << first.width << "x" << first.height;
}

// Tab as GTK moves it: the original path, then "Aperçu", "Plus de
// réglages" and what it opens, and "Trouver le décalage…" last; Shift+Tab
// back the same way.
TEST_F(WindowTest, TabGoesTheOriginalWayThenToTheRest)
{
    std::string path = dir.file("film.srt");
    writeFile(path, Good);
    startWith({path});
    gtk_widget_show(trouver);  // shown even in a build without the matcher
    gtk_widget_set_sensitive(trouver, TRUE);
    // As if it had the keyboard, without taking it from another test's
    // window: GTK moves the focus only within an active window.
    GdkEvent* in = gdk_event_new(GDK_FOCUS_CHANGE);
    in->focus_change.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(w.window)));
    in->focus_change.in = TRUE;
    gtk_widget_send_focus_change(w.window, in);
    gdk_event_free(in);
    gtk_widget_grab_focus(w.openfm);
    auto next = [&](GtkDirectionType d) {
        // As the Tab key does: past the end, the chain starts again.
        if (!gtk_widget_child_focus(w.window, d))
            gtk_widget_child_focus(w.window, d);
        return gtk_window_get_focus(GTK_WINDOW(w.window));
    };
    std::vector<GtkWidget*> path1;
    for (int i = 0; i < 11; ++i)
        path1.push_back(next(GTK_DIR_TAB_FORWARD));
    EXPECT_EQ(path1, (std::vector<GtkWidget*>{way, w.ajouter, h, m, s, ms, doit, apercu,
                                              reglages.plus, trouver, w.openfm}));
    EXPECT_EQ(next(GTK_DIR_TAB_BACKWARD), trouver);
    EXPECT_EQ(next(GTK_DIR_TAB_BACKWARD), reglages.plus);
    // Opened, its column comes before "Trouver le décalage…".
    gtk_expander_set_expanded(GTK_EXPANDER(reglages.plus), TRUE);
    flush();
    EXPECT_EQ(next(GTK_DIR_TAB_FORWARD), reglages.decaler);
    gtk_widget_grab_focus(trouver);
    EXPECT_EQ(next(GTK_DIR_TAB_BACKWARD), reglages.du)
        << "the last control of the column that is on";
}

TEST_F(WindowTest, ClosingEndsTheMainLoop)
{
    build();
    EXPECT_FALSE(delete_event(w.window, nullptr, nullptr));

    // A close request, as the window manager sends it, inside the main loop.
    struct Close {
        GtkWidget* window;
        bool timedOut = false;
    } close{w.window};
    g_idle_add(
        [](gpointer data) -> gboolean {
            GdkEvent* event = gdk_event_new(GDK_DELETE);
            event->any.window =
                GDK_WINDOW(g_object_ref(gtk_widget_get_window(static_cast<Close*>(data)->window)));
            event->any.send_event = TRUE;
            gtk_main_do_event(event);
            gdk_event_free(event);
            return FALSE;
        },
        &close);
    guint guard = g_timeout_add_seconds(
        10,
        [](gpointer data) -> gboolean {
            static_cast<Close*>(data)->timedOut = true;
            gtk_main_quit();
            return FALSE;
        },
        &close);
    gtk_main();
    EXPECT_FALSE(close.timedOut);
    if (!close.timedOut)
        g_source_remove(guard);
    EXPECT_EQ(w.window, nullptr) << "the window was not destroyed";
}

// --- The direction ---------------------------------------------------------

TEST_F(WindowTest, RadioButtonsSetTheDirection)
{
    build();
    gtk_button_clicked(GTK_BUTTON(w.retirer));
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w.retirer)));
    EXPECT_EQ(adri, 0);
    gtk_button_clicked(GTK_BUTTON(w.ajouter));
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w.ajouter)));
    EXPECT_EQ(adri, 1);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w.retirer), TRUE);
    EXPECT_EQ(adri, 0);
    // Only "Ajouter" is connected; the handler reads the button it is given.
    toggle_button_callback(w.ajouter, nullptr);
    EXPECT_EQ(adri, 0);
}

// --- Choosing a file -------------------------------------------------------

TEST_F(WindowTest, AcceptsASubtitleFile)
{
    build();
    std::string path = dir.file("film.srt");
    writeFile(path, subtitles(5));
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), "Erreur");
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), 0.2);

    ChooserDriver d = choose(path);
    EXPECT_TRUE(d.answered);
    EXPECT_TRUE(d.picked);
    EXPECT_FALSE(gtk_widget_get_visible(w.fm));
    EXPECT_EQ(entryText(way), path);
    EXPECT_EQ(wayFilename(), path);
    EXPECT_TRUE(sensitive(doit));
    EXPECT_EQ(barText(), "En attente");
    EXPECT_DOUBLE_EQ(barFraction(), 0.0);
    EXPECT_EQ(readFile(path), subtitles(5)) << "the probe writes nothing";
}

TEST_F(WindowTest, RefusesTwoTimingLinesInTheFirst15Lines)
{
    build();
    std::string path = dir.file("long.srt");
    writeFile(path, longFirstCues());
    ChooserDriver d = choose(path);
    EXPECT_TRUE(d.picked);
    EXPECT_FALSE(gtk_widget_get_visible(w.fm));
    EXPECT_EQ(entryText(way), "Type de fichier non compatible");
    EXPECT_FALSE(sensitive(doit));
    EXPECT_EQ(barText(),
              "Pas un fichier SubRip : 2 lignes de temps seulement parmi les 15 "
              "premi\xC3\xA8res lignes, il en faut 3");
    EXPECT_TRUE(sayingError());
    EXPECT_EQ(readFile(path), longFirstCues());
}

TEST_F(WindowTest, RefusesAFileOfTwoSubtitles)
{
    build();
    std::string path = dir.file("deux.srt");
    writeFile(path, TwoCues);
    choose(path);
    EXPECT_EQ(entryText(way), "Type de fichier non compatible");
    EXPECT_FALSE(sensitive(doit));
}

TEST_F(WindowTest, RefusesAfterAnEarlierAcceptance)
{
    build();
    std::string good = dir.file("bon.srt"), bad = dir.file("notes.txt");
    writeFile(good, Good);
    writeFile(bad, "Liste de courses\r\npain\r\nlait\r\n");
    choose(good);
    ASSERT_TRUE(sensitive(doit));
    choose(bad);
    EXPECT_EQ(entryText(way), "Type de fichier non compatible");
    EXPECT_FALSE(sensitive(doit));
    // Even if "Move It! " were pressed, the file accepted before stays as it
    // was: the path went with the refusal.
    clickMove();
    EXPECT_EQ(barText(), "Erreur");
    EXPECT_EQ(readFile(good), Good);
    // A new acceptance turns the button back on.
    choose(good);
    EXPECT_EQ(entryText(way), good);
    EXPECT_TRUE(sensitive(doit));
}

TEST_F(WindowTest, CancelOrCloseLeaveEverythingAsItWas)
{
    build();
    std::string good = dir.file("bon.srt"), other = dir.file("autre.srt");
    writeFile(good, Good);
    writeFile(other, Good);
    for (int response : {GTK_RESPONSE_CANCEL, GTK_RESPONSE_DELETE_EVENT}) {
        SCOPED_TRACE(response);
        // Before any file, and after one was accepted and shifted.
        ChooserDriver d = choose(other, response);
        EXPECT_TRUE(d.answered);
        EXPECT_FALSE(gtk_widget_get_visible(w.fm));
        EXPECT_EQ(entryText(way), "Choisis un fichier sous-titres");
        EXPECT_FALSE(sensitive(doit));
        EXPECT_EQ(barText(), "En attente");
    }
    choose(good);
    setShift(0, 0, 5, 0);
    clickMove();
    ASSERT_EQ(barText(), Done3);
    for (int response : {GTK_RESPONSE_CANCEL, GTK_RESPONSE_DELETE_EVENT}) {
        SCOPED_TRACE(response);
        choose(other, response);
        EXPECT_FALSE(gtk_widget_get_visible(w.fm));
        EXPECT_EQ(entryText(way), good);
        EXPECT_EQ(wayFilename(), good);
        EXPECT_FALSE(sensitive(doit));
        EXPECT_EQ(barText(), Done3);
        EXPECT_DOUBLE_EQ(barFraction(), 1.0);
    }
    EXPECT_EQ(readFile(other), Good);
}

TEST_F(WindowTest, RefusesWhatCannotBeReadAndDoesNotCrash)
{
    build();
    std::string good = dir.file("bon.srt");
    writeFile(good, Good);

    // A file that vanishes between choosing and opening.
    std::string vanishing = dir.file("parti.srt");
    writeFile(vanishing, Good);
    choose(good);
    ChooserDriver d = choose(vanishing, GTK_RESPONSE_ACCEPT, vanishing);
    EXPECT_TRUE(d.picked);
    EXPECT_FALSE(gtk_widget_get_visible(w.fm));
    EXPECT_EQ(entryText(way), "Type de fichier non compatible");
    EXPECT_FALSE(sensitive(doit));

    // A named pipe: refused without blocking on it.
    std::string fifo = dir.file("tube.srt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    choose(good);
    choose(fifo);
    EXPECT_EQ(entryText(way), "Type de fichier non compatible");
    EXPECT_FALSE(sensitive(doit));

    // No file at all: "Open" with nothing chosen.
    choose(good);
    d = choose("");
    EXPECT_TRUE(d.answered);
    EXPECT_FALSE(gtk_widget_get_visible(w.fm));
    EXPECT_EQ(entryText(way), "Type de fichier non compatible");
    EXPECT_FALSE(sensitive(doit));
}

TEST_F(WindowTest, AccentedNamesOpenAndShowInUtf8)
{
    build();
    std::string path = dir.file("\xC3\x89pisode 1.srt");  // "Épisode 1.srt" in UTF-8
    writeFile(path, Good);
    ChooserDriver d = choose(path);
    ASSERT_TRUE(d.picked);
    EXPECT_EQ(entryText(way), path);
    ASSERT_TRUE(sensitive(doit));
    setShift(0, 0, 5, 0);
    clickMove();
    EXPECT_EQ(barText(), Done3);
    EXPECT_EQ(readFile(path), GoodPlus5);
}

TEST_F(WindowTest, NamesThatAreNotUtf8OpenAndShowValidUtf8)
{
    build();
    std::string path = dir.file("\xC9pisode 2.srt");  // "Épisode 2.srt" in Latin-1
    writeFile(path, Good);
    ChooserDriver d = choose(path);
    ASSERT_TRUE(d.picked);
    std::string shown = entryText(way);
    EXPECT_TRUE(g_utf8_validate(shown.c_str(), -1, nullptr)) << shown;
    EXPECT_NE(shown, "Type de fichier non compatible");
    EXPECT_NE(shown.find("pisode 2.srt"), std::string::npos) << shown;
    EXPECT_EQ(wayFilename(), path);
    ASSERT_TRUE(sensitive(doit));
    setShift(0, 0, 5, 0);
    clickMove();
    EXPECT_EQ(barText(), Done3);
    EXPECT_EQ(readFile(path), GoodPlus5);
}

// --- "Move It! " ------------------------------------------------------------

TEST_F(WindowTest, MoveShiftsTheFileAndShowsEveryStep)
{
    build();
    std::string path = dir.file("film.srt");
    writeFile(path, Good);
    choose(path);
    setShift(0, 0, 5, 0);
    std::vector<std::string> shown = clickMove();
    std::vector<std::string> expected = {
        "t:Ouverture du fichier",
        "f:0.2",
        "t:Modification du fichier sous-titres",
        "f:0.8",
        "t:Fermeture du fichier",
        "f:0.9",
        "t:Modification du sous-titres r\xC3\xA9ussie",
        "f:1.0",
        "t:" + Done3,
        "f:1.0",
    };
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(barText(), Done3);
    EXPECT_DOUBLE_EQ(barFraction(), 1.0);
    EXPECT_FALSE(sensitive(doit));
    EXPECT_EQ(readFile(path), GoodPlus5);
    EXPECT_EQ(entryText(way), path);
}

TEST_F(WindowTest, RemoveThenAddGivesTheFileBack)
{
    build();
    std::string path = dir.file("film.srt");
    writeFile(path, GoodPlus5);
    choose(path);
    gtk_button_clicked(GTK_BUTTON(w.retirer));
    setShift(0, 0, 5, 0);
    clickMove();
    EXPECT_EQ(readFile(path), Good);
    // Shifting again needs the file chosen again.
    EXPECT_FALSE(sensitive(doit));
    choose(path);
    gtk_button_clicked(GTK_BUTTON(w.ajouter));
    clickMove();
    EXPECT_EQ(readFile(path), GoodPlus5);
}

TEST_F(WindowTest, MoveTakesEveryFieldAndTheDirection)
{
    build();
    std::string path = dir.file("film.srt");
    const std::string line = "1\r\n00:05:07,123 --> 00:05:09,456\r\nA\r\n\r\n";
    writeFile(path, line + line + line);
    choose(path);
    setShift(1, 59, 59, 999);
    clickMove();
    const std::string shifted = "1\r\n02:05:07,122 --> 02:05:09,455\r\nA\r\n\r\n";
    EXPECT_EQ(readFile(path), shifted + shifted + shifted);

    choose(path);
    gtk_button_clicked(GTK_BUTTON(w.retirer));
    clickMove();
    EXPECT_EQ(readFile(path), line + line + line);

    // "Retirer" and all four at 0: the file is unchanged.
    choose(path);
    setShift(0, 0, 0, 0);
    clickMove();
    EXPECT_EQ(barText(), NothingChangesText) << "nothing written";
    EXPECT_EQ(readFile(path), line + line + line);
}

TEST_F(WindowTest, MoveTakesAValueStillBeingTyped)
{
    build();
    std::string path = dir.file("film.srt");
    writeFile(path, Good);
    choose(path);
    gtk_entry_set_text(GTK_ENTRY(s), "5");  // typed, not yet taken in
    clickMove();
    EXPECT_EQ(readFile(path), GoodPlus5);
}

TEST_F(WindowTest, ErrorForAVanishedFileLeavesAllButTheBar)
{
    build();
    std::string path = dir.file("film.srt");
    writeFile(path, Good);
    choose(path);
    gtk_button_clicked(GTK_BUTTON(w.retirer));
    setShift(1, 2, 3, 40);
    ASSERT_EQ(std::remove(path.c_str()), 0);

    std::vector<std::string> shown = clickMove();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), "t:Ouverture du fichier");
    EXPECT_EQ(barText(), "Erreur");
    EXPECT_DOUBLE_EQ(barFraction(), 0.2);
    EXPECT_TRUE(sensitive(doit));
    EXPECT_EQ(entryText(way), path);
    EXPECT_EQ(adri, 0);
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w.retirer)));
    EXPECT_EQ(spin(h), 1);
    EXPECT_EQ(spin(m), 2);
    EXPECT_EQ(spin(s), 3);
    EXPECT_EQ(spin(ms), 40);
    EXPECT_FALSE(g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) << "nothing is made";
}

TEST_F(WindowTest, AFailureAfterSomeLinesSaysHowManyAndTurnsMoveOff)
{
    // A film of several blocks of the patcher; its second write fails, cut
    // inside a line, after its first lines went to disk.
    build();
    std::string path = dir.file("film.srt");
    const std::string before = testing_files::film(40000);
    writeFile(path, before);
    choose(path);
    setShift(0, 0, 5, 0);
    chronelle::failWriteNumber(2, 100);
    clickMove();
    chronelle::failWriteNumber(0);
    int n = 0;
    ASSERT_EQ(std::sscanf(barText().c_str(), "Erreur : seuls les %d premiers sous-titres ont", &n),
              1)
        << barText();
    EXPECT_EQ(barText(),
              "Erreur : seuls les " + std::to_string(n) + " premiers sous-titres ont été décalés");
    EXPECT_GT(n, 1000);
    EXPECT_EQ(readFile(path), testing_files::film(40000, 5000, n));
    EXPECT_DOUBLE_EQ(barFraction(), 0.8);
    EXPECT_FALSE(sensitive(doit)) << "a second press would shift the first lines twice";

    // A failure that wrote nothing stays a plain "Erreur", and the button on.
    writeFile(path, before);
    choose(path);
    chronelle::failWriteNumber(1);
    clickMove();
    chronelle::failWriteNumber(0);
    EXPECT_EQ(barText(), "Erreur");
    EXPECT_TRUE(sensitive(doit));
    EXPECT_EQ(readFile(path), before);
}

TEST_F(WindowTest, TheWindowDestroyedWhileTheChooserIsOpen)
{
    build();
    std::string path = dir.file("film.srt");
    writeFile(path, Good);
    ChooserDriver d;
    d.fm = w.fm;
    d.path = path;
    d.destroyBeforeResponse = w.window;
    g_timeout_add(20, driveChooser, &d);
    gtk_button_clicked(GTK_BUTTON(w.openfm));
    flush();
    EXPECT_EQ(w.window, nullptr);
    EXPECT_EQ(w.fm, nullptr) << "the chooser goes with its window";
    EXPECT_EQ(readFile(path), Good);
}

TEST_F(WindowTest, MoveOpensThePathTheEntryShows)
{
    // The path lives in the entry: text put there by other means is used as
    // it reads.
    build();
    std::string path = dir.file("film.srt");
    writeFile(path, Good);
    gtk_entry_set_text(GTK_ENTRY(way), path.c_str());
    gtk_widget_set_sensitive(doit, TRUE);
    setShift(0, 0, 5, 0);
    clickMove();
    EXPECT_EQ(readFile(path), GoodPlus5);
    EXPECT_FALSE(sensitive(doit));
}

// --- "Open with": a file named on the command line -------------------------

TEST_F(WindowTest, AFileOnTheCommandLineIsAcceptedAsIfChosen)
{
    std::string path = dir.file("film.srt");
    writeFile(path, Good);
    startWith({path});
    EXPECT_EQ(entryText(way), path);
    EXPECT_EQ(wayFilename(), path);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w.window)), "film.srt \xE2\x80\x93 Chronelle");
    EXPECT_TRUE(sensitive(doit));
    EXPECT_EQ(barText(), "En attente");
    EXPECT_DOUBLE_EQ(barFraction(), 0.0);
    EXPECT_FALSE(gtk_widget_get_visible(w.fm));
    EXPECT_EQ(readFile(path), Good) << "the probe writes nothing";
    // The chooser opens where the file is.
    EXPECT_EQ(chooserFolder(w.fm), dir.path());

    setShift(0, 0, 5, 0);
    clickMove();
    EXPECT_EQ(barText(), Done3);
    EXPECT_EQ(readFile(path), GoodPlus5);
}

TEST_F(WindowTest, AFileOnTheCommandLineIsRefusedAsIfChosen)
{
    std::string notes = dir.file("notes.txt"), two = dir.file("deux.srt"),
                longer = dir.file("long.srt");
    writeFile(notes, "Liste de courses\r\npain\r\nlait\r\n");
    writeFile(two, TwoCues);
    writeFile(longer, longFirstCues());
    // Each with its reason on the bar.
    const struct {
        std::string path;
        const char* reason;
    } refused[] = {
        {notes, "Pas un fichier SubRip : aucune ligne de temps parmi"},
        {two, "Pas un fichier SubRip : 2 lignes de temps seulement"},
        {longer, "Pas un fichier SubRip : 2 lignes de temps seulement"},
        {dir.file("absent.srt"), "Ce fichier n'existe pas ou plus"},
        {dir.path(), "C'est un dossier, pas un fichier sous-titres"},
        {"/dev/null", "Ce n'est pas un fichier ordinaire"},
    };
    for (const auto& [path, reason] : refused) {
        SCOPED_TRACE(path);
        startWith({path});
        EXPECT_EQ(entryText(way), "Type de fichier non compatible");
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w.window)), "Chronelle");
        EXPECT_FALSE(sensitive(doit));
        EXPECT_EQ(barText().rfind(reason, 0), 0u) << barText();
        // "Move It! " pressed anyway opens nothing by the refused name.
        clickMove();
        EXPECT_EQ(barText(), "Erreur");
        closeWindow();
    }
    EXPECT_EQ(readFile(notes), "Liste de courses\r\npain\r\nlait\r\n");
    EXPECT_EQ(readFile(two), TwoCues);
    EXPECT_FALSE(g_file_test(dir.file("absent.srt").c_str(), G_FILE_TEST_EXISTS));
}

TEST_F(WindowTest, WithoutAFileTheWindowOpensAsUsual)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"--"}}) {
        startWith(args);
        EXPECT_EQ(entryText(way), "Choisis un fichier sous-titres");
        EXPECT_FALSE(sensitive(doit));
        EXPECT_EQ(barText(), "En attente");
        closeWindow();
    }
}

TEST_F(WindowTest, CommandLineNamesAreTakenWholeAndAsTheyAre)
{
    // Relative to the working directory (the fixture's folder), made whole as
    // the chooser gives them; after "--" a name may begin with a dash; only
    // the first name counts.
    writeFile(dir.file("-x.srt"), Good);
    writeFile(dir.file("notes.txt"), "pas des sous-titres\r\n");
    startWith({"--", "-x.srt", "notes.txt"});
    EXPECT_EQ(entryText(way), dir.file("-x.srt"));
    EXPECT_TRUE(sensitive(doit));
    clickMove();
    EXPECT_EQ(barText(), NothingChangesText);
    closeWindow();

    // A name that is not UTF-8 (Latin-1 "\xC9pisode") opens as the file
    // system knows it and shows in valid UTF-8.
    std::string latin1 = dir.file("\xC9pisode 3.srt");
    writeFile(latin1, Good);
    startWith({latin1});
    std::string shown = entryText(way);
    EXPECT_TRUE(g_utf8_validate(shown.c_str(), -1, nullptr)) << shown;
    EXPECT_NE(shown.find("pisode 3.srt"), std::string::npos) << shown;
    EXPECT_EQ(wayFilename(), latin1);
    ASSERT_TRUE(sensitive(doit));
    setShift(0, 0, 5, 0);
    clickMove();
    EXPECT_EQ(readFile(latin1), GoodPlus5);
}

TEST_F(WindowTest, TheChooserStillDecidesAfterACommandLineFile)
{
    std::string good = dir.file("bon.srt"), bad = dir.file("notes.txt");
    writeFile(good, Good);
    writeFile(bad, "Liste de courses\r\n");
    startWith({good});
    ASSERT_TRUE(sensitive(doit));
    choose(bad);
    EXPECT_EQ(entryText(way), "Type de fichier non compatible");
    EXPECT_FALSE(sensitive(doit));
    choose(good);
    EXPECT_EQ(entryText(way), good);
    EXPECT_TRUE(sensitive(doit));
}

}  // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!::testing::GTEST_FLAG(list_tests)) {
        // The chooser keeps its recently used files under the data folder:
        // a private one, not the user's.
        static TempDir home;
        g_setenv("XDG_DATA_HOME", home.path().c_str(), TRUE);
        if (!gtk_init_check(&argc, &argv)) {
            std::fprintf(stderr, "window_test: no X display (run it through with_display.sh)\n");
            return 1;
        }
    }
    return RUN_ALL_TESTS();
}
