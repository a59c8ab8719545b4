// "Plus de réglages" and "Aperçu" in the real window (Xvfb): each change made
// there, subtitles picked by number, gives the bytes chronelle-shift gives,
// and "Aperçu" shows exactly what its "Move It! " writes; what is typed in
// the offset is carried or refused, never changed silently.
#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <array>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "bar.h"
#include "duration.h"
#include "handlers.h"
#include "preview.h"
#include "settings.h"
#include "test_files.h"
#include "texts.h"
#include "window.h"

using namespace chronelle::ui;
using namespace testing_files;

namespace {

void flush()
{
    while (gtk_events_pending())
        gtk_main_iteration();
}
void click(GtkWidget* button) { gtk_button_clicked(GTK_BUTTON(button)); }
void setSpin(GtkWidget* spin, double value)
{
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), value);
}
int spin(GtkWidget* b) { return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(b)); }
bool on(GtkWidget* b) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(b)); }
bool can(GtkWidget* w) { return gtk_widget_get_sensitive(w); }
std::string barText() { return gtk_progress_bar_get_text(GTK_PROGRESS_BAR(bar)); }

// Every text the bar is given.
void recordText(GObject*, GParamSpec*, gpointer said)
{
    static_cast<std::vector<std::string>*>(said)->push_back(barText());
}

void type(GtkWidget* field, const char* text)
{
    if (GTK_IS_COMBO_BOX(field))
        field = gtk_bin_get_child(GTK_BIN(field));
    gtk_entry_set_text(GTK_ENTRY(field), text);
}

// Each timing line of `srt`, by subtitle number from 1.
std::vector<std::string> timings(const std::string& srt)
{
    std::vector<std::string> result;
    std::istringstream in(srt);
    for (std::string line; std::getline(in, line);)
        if (line.find(" --> ") != std::string::npos)
            result.push_back(line.substr(0, 29));
    return result;
}

class MoreSettings : public ::testing::Test {
protected:
    void open(const std::string& path)
    {
        std::string p = path;
        char* argv[] = {const_cast<char*>("chronelle"), &p[0], nullptr};
        w = start(2, argv);
        flush();
    }
    void close()
    {
        if (!w.window)
            return;
        g_signal_handlers_disconnect_by_func(w.window, reinterpret_cast<gpointer>(destroy),
                                             nullptr);
        gtk_widget_destroy(w.window);  // the chooser and the preview go with it
        flush();
        w = Window();
    }
    void TearDown() override { close(); }
    // Opens "Aperçu" and reads its table: N°, Début actuel, Nouveau début.
    std::vector<std::array<std::string, 3>> previewRows()
    {
        click(apercu);
        flush();
        EXPECT_TRUE(gtk_widget_get_visible(w.preview));
        std::vector<std::array<std::string, 3>> rows;
        GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(previewTable(w.preview)));
        GtkTreeIter i;
        for (bool more = model && gtk_tree_model_get_iter_first(model, &i); more;
             more = gtk_tree_model_iter_next(model, &i)) {
            gchar* cells[3];
            gtk_tree_model_get(model, &i, 0, &cells[0], 1, &cells[1], 2, &cells[2], -1);
            rows.push_back({cells[0], cells[1], cells[2]});
            for (gchar* c : cells)
                g_free(c);
        }
        return rows;
    }
    TempDir dir;
    Window w;
};

}  // namespace

// Short for the handle, in the cases' captureless lambdas.
#define R chronelle::ui::reglages

TEST_F(MoreSettings, EachChangeAsTheCommandLineMakesItAndAsAperçuShowedIt)
{
    // film(30): the subtitle n starts at 0:01:00 + (n - 1) * 0,7 s.
    const struct {
        const char* args;
        void (*set)();
    } cases[] = {
        {"--to 0:00:41,300",
         [] {
             click(R.commencer);
             type(R.to.at, "0:00:41,300");
         }},
        {"--sync 0:01:01.4=0:01:03.5,0:01:13.3=0:01:21",
         [] {
             click(R.synchroniser);
             setSpin(R.sync[0].cue, 3), type(R.sync[0].at, "1:03,5");
             setSpin(R.sync[1].cue, 20), type(R.sync[1].at, "1:21");
         }},
        {"--fps 25:23.976", [] { click(R.convertir); }},  // the rates it opens with
        {"--piece -=30:24-1.5",
         [] {
             click(R.convertir), type(R.fpsFrom, "30"), type(R.fpsTo, "24");
             click(R.retirer), setSpin(s, 1), setSpin(ms, 500);
         }},
        {"--remove 1:05 --until 0:01:10",
         [] {  // held at 00:00:00,000
             click(R.retirer), setSpin(m, 1), setSpin(s, 5);
             click(R.avant), type(R.until, "0:01:10");
         }},
        {"--add 2,5 --from 1:10 --cues 3-27",
         [] {
             setSpin(s, 2), setSpin(ms, 500);
             click(R.aPartirDe), type(R.from, "1:10");
             click(R.du), setSpin(R.lastCue, 27), setSpin(R.firstCue, 3);
         }},
    };
    const std::string original = film(30);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        std::string mine = dir.file("fenetre.srt"), theirs = dir.file("film.srt");
        writeFile(mine, original);
        writeFile(theirs, original);
        open(mine);
        c.set();
        std::vector<std::array<std::string, 3>> rows = previewRows();
        EXPECT_EQ(readFile(mine), original) << "the preview writes nothing";
        gtk_dialog_response(GTK_DIALOG(w.preview), ResponseMove);
        flush();
        RunResult cli = run(quote(CHRONELLE_SHIFT) + " " + c.args + " film.srt", dir.path());
        ASSERT_EQ(cli.status, 0) << cli.err;
        EXPECT_EQ(readFile(mine), readFile(theirs));

        // The table held exactly the subtitles that changed, as they were and
        // as they are.
        std::vector<std::string> before = timings(original), after = timings(readFile(mine));
        std::size_t row = 0;
        for (std::size_t n = 1; n <= before.size(); ++n) {
            if (before[n - 1] == after[n - 1])
                continue;
            ASSERT_LT(row, rows.size());
            EXPECT_EQ(rows[row][0], std::to_string(n));
            EXPECT_EQ(rows[row][1], before[n - 1].substr(0, 12));
            EXPECT_EQ(rows[row][2].substr(0, 12), after[n - 1].substr(0, 12));
            ++row;
        }
        EXPECT_EQ(row, rows.size());
        int held = 0;
        std::sscanf(cli.err.c_str(), "chronelle-shift: film.srt: warning: %d", &held);
        EXPECT_EQ(barText(), successText(std::int64_t(rows.size()), held,
                                         chronelle::HeldEnds{held > 0, false}));
        EXPECT_FALSE(can(doit) || can(apercu));
        close();
    }
}

TEST_F(MoreSettings, AperçuIsModalAndMakesNothingTheFileNoLongerGives)
{
    std::string path = dir.file("film.srt");
    writeFile(path, film(30));
    open(path);
    setSpin(s, 2);
    previewRows();
    // The window takes no key while the dialog is open; it does once closed.
    gtk_widget_grab_focus(ms);
    gtk_test_widget_send_key(ms, GDK_7, GdkModifierType(0));
    flush();
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(ms)), "0");
    gtk_dialog_response(GTK_DIALOG(w.preview), GTK_RESPONSE_CLOSE);
    flush();
    gtk_test_widget_send_key(ms, GDK_7, GdkModifierType(0));
    flush();
    EXPECT_NE(std::string(gtk_entry_get_text(GTK_ENTRY(ms))).find('7'), std::string::npos);
    // Changed by another program since it was shown: nothing is written.
    EXPECT_EQ(previewRows().size(), 30u);
    writeFile(path, film(31));
    gtk_dialog_response(GTK_DIALOG(w.preview), ResponseMove);
    EXPECT_EQ(barText(), ChangedSincePreviewText);
    EXPECT_EQ(readFile(path), film(31));
}

TEST_F(MoreSettings, WhatIsTypedInTheOffsetIsCarriedOrRefusedAndSaid)
{
    const struct {
        GtkWidget** field;
        const char* typed;  // key by key; pasted whole with `paste`
        bool paste;
        int h, m, s, ms;
        const char* said;  // null: "En attente"
    } cases[] = {
        {&s, "90", false, 0, 1, 30, 0, nullptr},
        {&ms, "1500", false, 0, 0, 1, 500, nullptr},
        {&s, "-1,5", false, 0, 0, 1, 500, "Pas de signe"},
        {&s, "1,2345", false, 0, 0, 1, 234, "Trois chiffres au plus"},
        {&s, "12,3456", true, 0, 0, 0, 0, "Trois chiffres au plus"},
        {&s, "1.5.5", false, 0, 0, 1, 550, "Une seule virgule"},
        {&m, "1,5", false, 0, 15, 0, 0, "Une virgule seulement dans les secondes"},
        {&h, "6", false, 0, 0, 0, 0,
         "D\xC3\xA9"
         "calage trop grand"},
    };
    std::string path = dir.file("film.srt");
    writeFile(path, film(3));
    open(path);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        for (GtkWidget* f : {h, m, s, ms})
            setSpin(f, 0);
        sayWaiting();
        std::vector<std::string> said;
        gulong recording = g_signal_connect(bar, "notify::text", G_CALLBACK(recordText), &said);
        GtkWidget* field = *c.field;
        gtk_widget_grab_focus(field);
        gtk_editable_delete_text(GTK_EDITABLE(field), 0, -1);
        if (c.paste) {
            gint at = 0;
            gtk_editable_insert_text(GTK_EDITABLE(field), c.typed, -1, &at);
        }
        for (const char* k = c.typed; *k && !c.paste; ++k)
            gtk_test_widget_send_key(field, gdk_unicode_to_keyval(guint32(*k)), GdkModifierType(0));
        flush();
        gtk_spin_button_update(GTK_SPIN_BUTTON(field));  // the field left
        g_signal_handler_disconnect(bar, recording);
        EXPECT_EQ((std::array<int, 4>{spin(h), spin(m), spin(s), spin(ms)}),
                  (std::array<int, 4>{c.h, c.m, c.s, c.ms}));
        std::string heard;
        for (const std::string& t : said)
            heard += t.rfind(c.said ? c.said : "Ø", 0) == 0 ? t : "";
        EXPECT_NE(c.said == nullptr, !heard.empty()) << heard;
    }
    // Pressed with a value that cannot be taken, "Move It! " writes nothing.
    gtk_entry_set_text(GTK_ENTRY(h), "7");
    click(doit);
    EXPECT_EQ(readFile(path), film(3));
    EXPECT_TRUE(sayingError());
}

TEST_F(MoreSettings, AFieldThatCannotBeReadIsMarkedAndNothingChanges)
{
    const struct {
        void (*set)();
        const char* said;
        GtkWidget* (*field)();
    } cases[] = {
        {[] { click(R.commencer), type(R.to.at, "41:3"); },
         "Temps illisible : écrire par exemple 41,3 ou 0:00:41,300", [] { return R.to.at; }},
        {[] { click(R.convertir), type(R.fpsTo, "vingt"); },
         "Fréquence illisible : écrire par exemple 25 ou 23,976",
         [] { return gtk_bin_get_child(GTK_BIN(R.fpsTo)); }},
        {[] { click(R.synchroniser), setSpin(R.sync[1].cue, 1); },
         "Les deux repères doivent être deux sous-titres qui commencent à des temps différents",
         [] { return R.sync[1].cue; }},
        {[] { click(R.aPartirDe), type(R.from, "1:10"), click(R.avant), type(R.until, "1:05"); },
         "« Avant » doit venir après « À partir de »", [] { return R.until; }},
    };
    std::string path = dir.file("film.srt");
    const std::string original = film(30);
    writeFile(path, original);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        open(path);
        c.set();
        for (GtkWidget* button : {doit, apercu}) {
            click(button);
            flush();
            EXPECT_EQ(barText(), c.said);
            EXPECT_TRUE(sayingError());
            EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(w.window)), c.field());
            EXPECT_TRUE(gtk_expander_get_expanded(GTK_EXPANDER(R.plus)));
            EXPECT_FALSE(gtk_widget_get_visible(w.preview));
        }
        EXPECT_EQ(readFile(path), original);
        close();
    }
}

TEST_F(MoreSettings, TheControlsFollowTheChoicesAndShowAChangeFoundElsewhere)
{
    std::string path = dir.file("film.srt");
    writeFile(path, film(30));
    open(path);
    EXPECT_TRUE(on(R.decaler) && on(R.tous) && can(s) && !can(R.to.at) && !can(R.from));
    // The pickers: the first and the last subtitle, each shown with its
    // start as the new one; "jusqu'au n°" at the last reads "dernier".
    EXPECT_EQ(gtk_entry_get_text(GTK_ENTRY(R.sync[1].at)), std::string("0:01:20,300"));
    EXPECT_EQ(gtk_label_get_text(GTK_LABEL(R.sync[1].now)),
              std::string("D\xC3\xA9"
                          "but actuel : 0:01:20,300 \xC2\xAB R\xC3\xA9plique 29") +
                  std::string(29, '.') + " \xC2\xBB");
    EXPECT_EQ(gtk_entry_get_text(GTK_ENTRY(R.lastCue)), std::string("dernier"));
    click(R.commencer);
    EXPECT_TRUE(!can(s) && !can(R.ajouter) && can(R.to.at) && !can(R.fpsTo));
    setSpin(R.to.cue, 2);
    EXPECT_EQ(gtk_entry_get_text(GTK_ENTRY(R.to.at)), std::string("0:01:00,700"));
    click(R.convertir);
    EXPECT_TRUE(can(s) && can(R.fpsTo));
    // "Tous" is ticked exactly when no other selection is.
    click(R.aPartirDe), click(R.du), click(R.aPartirDe);
    EXPECT_TRUE(!on(R.tous) && can(R.firstCue) && !can(R.from));
    click(R.tous);
    EXPECT_TRUE(on(R.tous) && !on(R.du) && !can(R.firstCue));

    // A change found elsewhere is shown, and read back as it was.
    chronelle::ShiftOptions found, read;
    ASSERT_EQ(chronelle::parseSync("1:00=1:01.5,1:20.3=1:22", &found.retiming.scale),
              chronelle::SyncError::None);
    found.retiming.kind = chronelle::Retiming::Kind::Scale;
    found.selection.untilMs = 70000;
    ASSERT_TRUE(showChange(found.retiming, found.selection));
    ASSERT_TRUE(readChange(&read));
    EXPECT_TRUE(on(R.synchroniser) && on(R.avant) && !on(R.du) && !on(R.aPartirDe));
    EXPECT_TRUE(spin(R.sync[0].cue) == 1 && spin(R.sync[1].cue) == 30);
    EXPECT_EQ(read.selection.untilMs, 70000);
    for (std::int64_t t : {std::int64_t(0), std::int64_t(3723400)})
        EXPECT_EQ(chronelle::scaleTime(t, read.retiming.scale),
                  chronelle::scaleTime(t, found.retiming.scale));
}

TEST_F(MoreSettings, DropsThatTakeNothingSaySo)
{
    // The drop's data as the toolkit hands it over (the drag itself is
    // drop_test.sh's): two files, then what is not a local file.
    std::string path = dir.file("film.srt");
    writeFile(path, film(3));
    open(path);
    GtkSelectionData data{};
    data.target = gdk_atom_intern("text/uri-list", FALSE);
    data.display = gdk_display_get_default();
    const gchar* two[] = {"file:///tmp/a.srt", "file:///tmp/b.srt", nullptr};
    ASSERT_TRUE(gtk_selection_data_set_uris(&data, const_cast<gchar**>(two)));
    drag_data_received(w.window, nullptr, 0, 0, &data, 0, 0, w.fm);
    EXPECT_EQ(barText(), "Un seul fichier à la fois : aucun n'a été pris");
    EXPECT_EQ(std::string(gtk_entry_get_text(GTK_ENTRY(way))), path);
    const gchar* web[] = {"http://example.org/film.srt", nullptr};
    ASSERT_TRUE(gtk_selection_data_set_uris(&data, const_cast<gchar**>(web)));
    drag_data_received(w.window, nullptr, 0, 0, &data, 0, 0, w.fm);
    EXPECT_EQ(std::string(gtk_entry_get_text(GTK_ENTRY(way))), "Type de fichier non compatible");
    g_free(data.data);
}
