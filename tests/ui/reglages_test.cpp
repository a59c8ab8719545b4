// "Plus de réglages" and "Aperçu" in the real window (Xvfb): each change and
// selection made in the window gives the bytes chronelle-shift gives with
// the same arguments, and the preview shows what the run then writes; the
// comma typed in "Seconde(s)"; fields that cannot be read.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "duration.h"
#include "test_files.h"
#include "window.h"

using namespace chronelle::ui;
using namespace testing_files;

namespace {

void flush() { while (gtk_events_pending()) gtk_main_iteration(); }
void click(GtkWidget* button) { gtk_button_clicked(GTK_BUTTON(button)); }
void setSpin(GtkWidget* spin, double value) { gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), value); }
bool on(GtkWidget* b) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(b)); }
bool can(GtkWidget* w) { return gtk_widget_get_sensitive(w); }

void type(GtkWidget* field, const char* text)
{
    if (GTK_IS_COMBO_BOX(field))
        field = gtk_bin_get_child(GTK_BIN(field));
    gtk_entry_set_text(GTK_ENTRY(field), text);
}

std::string barText()
{
    const gchar* text = gtk_progress_bar_get_text(GTK_PROGRESS_BAR(bar));
    return text ? text : "";
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
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
        g_signal_handlers_disconnect_by_func(w.window, reinterpret_cast<gpointer>(destroy), nullptr);
        gtk_widget_destroy(w.window);  // the chooser and the preview go with it
        flush();
        w = Window();
    }
    void TearDown() override { close(); }
    std::string previewShown()
    {
        click(apercu);
        flush();
        EXPECT_TRUE(gtk_widget_get_visible(w.preview));
        GList* children = gtk_container_get_children(
            GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(w.preview))));
        std::string text = gtk_label_get_text(GTK_LABEL(children->data));
        g_list_free(children);
        gtk_dialog_response(GTK_DIALOG(w.preview), GTK_RESPONSE_CLOSE);
        return text;
    }
    TempDir dir;
    Window w;
};

}  // namespace

// Short for the handle, in the cases' captureless lambdas.
#define R chronelle::ui::reglages

TEST_F(MoreSettings, EveryChangeAndSelectionAsTheCommandLineMakesIt)
{
    const struct {
        const char* args;
        void (*set)();
    } cases[] = {
        {"--to 0:00:41,300", [] { click(R.commencer); type(R.to, "0:00:41,300"); }},
        {"--sync 1:02=1:03.5,1:20=1:21", [] {
             click(R.synchroniser);
             type(R.shown[0], "1:02"), type(R.heard[0], "1:03,5");
             type(R.shown[1], "1:20"), type(R.heard[1], "1:21");
         }},
        {"--fps 25:23.976", [] { click(R.convertir); type(R.fpsFrom, "25"), type(R.fpsTo, "23,976"); }},
        {"--remove 1:05 --until 0:01:10", [] {  // held at 00:00:00,000
             click(R.retirer), setSpin(m, 1), setSpin(s, 5);
             click(R.avant), type(R.until, "0:01:10");
         }},
        {"--add 2,5 --from 1:10 --cues 3-40", [] {
             setSpin(s, 2), setSpin(ms, 500);
             click(R.aPartirDe), type(R.from, "1:10");
             click(R.du), setSpin(R.lastCue, 40), setSpin(R.firstCue, 3);
         }},
        {"--fps 23.976:30 --cues 27-", [] {
             click(R.convertir), type(R.fpsFrom, "23,976"), type(R.fpsTo, "30");
             click(R.du), setSpin(R.firstCue, 27);
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
        std::vector<std::string> shown = lines(previewShown());
        EXPECT_EQ(readFile(mine), original) << "the preview writes nothing";
        click(doit);
        RunResult cli = run(quote(CHRONELLE_SHIFT) + " " + c.args + " film.srt", dir.path());
        ASSERT_EQ(cli.status, 0) << cli.err;
        EXPECT_EQ(readFile(mine), readFile(theirs));

        // The preview: the count, then each line shown as it was and as it is.
        std::vector<std::string> before = lines(original), after = lines(readFile(mine));
        int changed = 0;
        for (std::size_t i = 0; i < before.size(); ++i) changed += before[i] != after[i];
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown[0], std::to_string(changed) + " sous-titres seraient modifiés");
        std::size_t listed = 0;
        for (const std::string& l : shown) {
            // "ligne N : BEFORE ⇒ AFTER"
            std::size_t colon = l.find(" : "), arrow = l.find(" \xE2\x87\x92 ");
            if (l.rfind("ligne ", 0) != 0 || colon == std::string::npos || arrow == std::string::npos)
                continue;
            int n = std::atoi(l.c_str() + 6);
            std::string was = l.substr(colon + 3, arrow - colon - 3), is = l.substr(arrow + 5);
            ++listed;
            ASSERT_TRUE(n >= 1 && std::size_t(n) <= before.size()) << l;
            EXPECT_EQ(before[n - 1].substr(0, 29), was) << l;
            EXPECT_EQ(after[n - 1].substr(0, 29), is) << l;
        }
        EXPECT_EQ(listed, std::size_t(std::min(changed, 6)));

        // Times held are told, as many as the command line warns of.
        int held = 0;
        std::sscanf(cli.err.c_str(), "chronelle-shift: film.srt: warning: %d", &held);
        std::string success = "Modification du sous-titres réussie";
        if (held > 0) {
            success += " : " + std::to_string(held) + " temps ramenés à 00:00:00,000";
            EXPECT_EQ(shown.back(), std::to_string(held) + " temps seraient ramenés à 00:00:00,000");
        }
        EXPECT_EQ(barText(), success);
        if (std::string(c.args).rfind("--remove", 0) == 0) {
            EXPECT_GT(held, 0);
        }
        close();
    }
}

TEST_F(MoreSettings, ACommaInTheSecondsStartsTheMilliseconds)
{
    const struct {
        const char* typed;
        int seconds, millis;
    } cases[] = {{"1,5", 1, 500}, {"2.25", 2, 250}, {"3,0456", 3, 45}, {"12", 12, 0}, {",05", 0, 50}};
    std::string path = dir.file("film.srt");
    writeFile(path, film(3));
    open(path);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        setSpin(s, 0), setSpin(ms, 0);
        gtk_widget_grab_focus(s);
        gtk_editable_select_region(GTK_EDITABLE(s), 0, -1);
        for (const char* k = c.typed; *k; ++k)
            gtk_test_widget_send_key(s, gdk_unicode_to_keyval(guint32(*k)), GdkModifierType(0));
        flush();
        gtk_spin_button_update(GTK_SPIN_BUTTON(s));
        gtk_spin_button_update(GTK_SPIN_BUTTON(ms));
        EXPECT_EQ(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(s)), c.seconds);
        EXPECT_EQ(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(ms)), c.millis);
    }
    // After a comma, a value set in the field (as showChange does) is no
    // fraction.
    setSpin(ms, 0);
    gtk_widget_grab_focus(s);
    gtk_test_widget_send_key(s, gdk_unicode_to_keyval(guint32(',')), GdkModifierType(0));
    flush();
    setSpin(ms, 50);
    gtk_spin_button_update(GTK_SPIN_BUTTON(ms));
    EXPECT_EQ(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(ms)), 50);
    // Pasted whole, and taken in by "Move It! " while still being typed.
    setSpin(s, 0), setSpin(ms, 0);
    gint at = 0;
    gtk_editable_delete_text(GTK_EDITABLE(s), 0, -1);
    gtk_editable_insert_text(GTK_EDITABLE(s), "1,5", 3, &at);
    click(doit);
    EXPECT_EQ(readFile(path), film(3, 1500));
}

TEST_F(MoreSettings, AFieldThatCannotBeReadIsMarkedAndNothingChanges)
{
    const struct {
        void (*set)();
        const char* said;
        GtkWidget* (*field)();
    } cases[] = {
        {[] { click(R.commencer), type(R.to, "41:3"); },
         "Temps illisible : écrire par exemple 41,3 ou 0:00:41,300", [] { return R.to; }},
        {[] { click(R.convertir), type(R.fpsFrom, "25"), type(R.fpsTo, "vingt"); },
         "Fréquence illisible : écrire par exemple 25 ou 23,976",
         [] { return gtk_bin_get_child(GTK_BIN(R.fpsTo)); }},
        {[] {
             click(R.synchroniser);
             type(R.shown[0], "1:00"), type(R.heard[0], "1:01");
             type(R.shown[1], "60"), type(R.heard[1], "1:05");
         },
         "Les deux repères doivent être affichés à des temps différents",
         [] { return R.shown[1]; }},
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
            EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(w.window)), c.field());
            EXPECT_TRUE(gtk_expander_get_expanded(GTK_EXPANDER(R.plus)));
            EXPECT_TRUE(gtk_widget_get_sensitive(doit));
            EXPECT_FALSE(gtk_widget_get_visible(w.preview));
        }
        EXPECT_EQ(readFile(path), original);
        close();
    }
    // Read, but no line to move: the bar says so, and nothing is written.
    open(path);
    click(R.commencer), type(R.to, "10"), click(R.aPartirDe), type(R.from, "9:00:00");
    click(doit);
    EXPECT_EQ(barText(), "Erreur : aucun sous-titre concerné");
    EXPECT_EQ(readFile(path), original);
}

TEST_F(MoreSettings, TheControlsFollowTheChoicesAndShowAChangeFoundElsewhere)
{
    std::string path = dir.file("film.srt");
    writeFile(path, film(3));
    open(path);
    EXPECT_TRUE(on(R.decaler) && on(R.tous) && can(s) && !can(R.to) && !can(R.from));
    click(R.commencer);
    EXPECT_TRUE(!can(s) && !can(R.ajouter) && can(R.to) && !can(R.fpsTo));
    // "Tous" is ticked exactly when no other selection is.
    click(R.aPartirDe), click(R.du), click(R.aPartirDe);
    EXPECT_TRUE(!on(R.tous) && can(R.firstCue) && !can(R.from));
    click(R.tous);
    EXPECT_TRUE(on(R.tous) && !on(R.du) && !can(R.firstCue));
    click(R.tous);
    EXPECT_TRUE(on(R.tous)) << "every line, until another choice is made";
    click(R.du), setSpin(R.lastCue, 5), setSpin(R.firstCue, 9);
    EXPECT_EQ(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(R.lastCue)), 9);

    // A change found elsewhere is shown, and read back as it was.
    chronelle::ShiftOptions found, read;
    ASSERT_TRUE(chronelle::parseSync("0:20=0:21.5,1:02:03.4=1:02:07", &found.retiming.scale) ==
                chronelle::SyncError::None);
    found.retiming.kind = chronelle::Retiming::Kind::Scale;
    found.selection.untilMs = 3723000;
    found.selection.firstCue = 4;
    ASSERT_TRUE(showChange(found.retiming, found.selection));
    ASSERT_TRUE(readChange(&read));
    EXPECT_TRUE(on(R.synchroniser) && on(R.avant) && on(R.du) && !on(R.aPartirDe));
    EXPECT_TRUE(read.selection.untilMs == 3723000 && read.selection.firstCue == 4 &&
                read.selection.lastCue == chronelle::NoLimit);
    for (std::int64_t t : {std::int64_t(0), std::int64_t(3723400)})
        EXPECT_EQ(chronelle::scaleTime(t, read.retiming.scale),
                  chronelle::scaleTime(t, found.retiming.scale));
    chronelle::Retiming removed;
    removed.offsetMs = -(((1 * 60 + 2) * 60 + 3) * 1000 + 450);
    ASSERT_TRUE(showChange(removed, chronelle::Selection()));
    ASSERT_TRUE(readChange(&read));
    EXPECT_TRUE(on(R.decaler) && on(R.retirer) && on(R.tous) && adri == 0);
    EXPECT_EQ(read.retiming.offsetMs, removed.offsetMs);
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
