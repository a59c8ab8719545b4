// "Trouver le décalage avec la vidéo…" in the real window (Xvfb), on films
// made here with a known truth: the change found fills the controls, and
// "Move It! " gives the bytes chronelle-shift gives for it; nothing filled
// when it cannot be sure, is stopped, or the window closes meanwhile.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "chooser_driver.h"
#include "listen.h"
#include "preview.h"
#include "settings.h"
#include "test_films.h"
#include "texts.h"
#include "window.h"

using namespace chronelle::ui;
using namespace testing_files;

namespace {

void click(GtkWidget* button) { gtk_button_clicked(GTK_BUTTON(button)); }
bool on(GtkWidget* b) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(b)); }
bool can(GtkWidget* w) { return gtk_widget_get_sensitive(w); }
int spin(GtkWidget* b) { return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(b)); }
std::string shownLabel(GtkWidget* b)
{
    return gtk_label_get_text(GTK_LABEL(gtk_bin_get_child(GTK_BIN(b))));
}
std::string barText() { return gtk_progress_bar_get_text(GTK_PROGRESS_BAR(bar)); }
int shift(const std::string& args, const std::string& dir)
{
    return run(quote(CHRONELLE_SHIFT) + " -q " + args, dir).status;
}

class FindTheChange : public ::testing::Test {
protected:
    // Three minutes of voices over music 20 dB under them, its subtitles and
    // another film's, a shorter film, a silent one and a file that is no
    // film; made once per process.
    static void SetUpTestSuite()
    {
        films = new TempDir;
        makeFilm(films->path(), "film.mkv", "--seed 31 --duration 3:00 --music-db -20");
        makeFilm(films->path(), "autre.mkv", "--seed 35 --duration 3:00 --srt-only");
        makeFilm(films->path(), "court.mkv", "--seed 32 --duration 0:20");
        ASSERT_EQ(run("ffmpeg -v error -f lavfi -i anullsrc=r=16000 -t 30 muet.wav", films->path())
                      .status,
                  0);
        writeFile(films->file("abime.mkv"), "pas une vidéo\n");
        truth = readFile(films->file("film.srt"));
    }
    static void TearDownTestSuite() { delete films; }
    void TearDown() override { close(); }

    // The window on w.srt: `subtitles` made wrong by `change`.
    void open(const std::string& subtitles, const std::string& change = "")
    {
        writeFile(dir.file("w.srt"), subtitles);
        EXPECT_EQ(change.empty() ? 0 : shift(change + " w.srt", dir.path()), 0);
        wrong = readFile(dir.file("w.srt"));
        std::string p = dir.file("w.srt");
        char* argv[] = {const_cast<char*>("chronelle"), &p[0], nullptr};
        w = start(2, argv);
    }
    void close()
    {
        if (!w.window)
            return;
        g_signal_handlers_disconnect_by_func(w.window, reinterpret_cast<gpointer>(destroy),
                                             nullptr);
        gtk_widget_destroy(w.window);
        w = Window();
        // A worker let go ends soon, stopped; its job is freed by the loop.
        EXPECT_TRUE(listeningEnded(30000));
        while (gtk_events_pending())
            gtk_main_iteration();
    }
    // Chooses `film`: it is being listened to.
    void choose(const std::string& film)
    {
        ChooserDriver d;
        d.fm = w.video;
        d.path = films->file(film);
        g_timeout_add(20, driveChooser, &d);
        click(trouver);
        ASSERT_TRUE(d.picked && listening());
        EXPECT_EQ(shownLabel(trouver), std::string("Arrêter l'écoute"));
        EXPECT_EQ(barText(), "Écoute de la vidéo… 0 %");
        EXPECT_FALSE(can(doit) || can(apercu) || can(w.openfm));
    }
    // Chooses `film` (and stops at once), then runs the main loop until the
    // bar says what came of it.
    std::string find(const std::string& film, bool stop = false)
    {
        choose(film);
        if (stop)
            click(trouver);
        gint64 deadline = g_get_monotonic_time() + 240 * G_USEC_PER_SEC;
        while (listening() && g_get_monotonic_time() < deadline)
            if (!gtk_main_iteration_do(FALSE))
                g_usleep(2000);
        EXPECT_FALSE(listening()) << film;
        EXPECT_EQ(shownLabel(trouver), std::string(TrouverLabel));
        return barText();
    }

    static TempDir* films;
    static std::string truth;  // the film's subtitles
    TempDir dir;
    Window w;
    std::string wrong;  // the subtitles before the window
};

TempDir* FindTheChange::films = nullptr;
std::string FindTheChange::truth;

}  // namespace

TEST_F(FindTheChange, FillsTheControlsAndAperçuThenMoveItMakeTheChange)
{
    const struct {
        const char *wrong, *found;  // the bar, up to the score
    } cases[] = {
        {"--add 2.48", "Décalage trouvé : Retirer (\\d+),(\\d{3}) s"},
        {"--fps 23.976:25", "Décalage trouvé : Conversion 25 → 23,976"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wrong);
        open(truth, c.wrong);
        std::smatch got;
        std::string said = find("film.mkv");
        ASSERT_TRUE(
            std::regex_match(said, got, std::regex(std::string(c.found) + " \\((très )?sûr\\)")))
            << said;
        std::string change = "--fps 25:23.976";
        if (got.size() == 4 && got[1].matched) {
            int found = std::stoi(got[1]) * 1000 + std::stoi(got[2]);
            EXPECT_NEAR(found, 2480, 80);
            EXPECT_TRUE(on(reglages.decaler) && on(reglages.retirer));
            EXPECT_EQ(((spin(h) * 60 + spin(m)) * 60 + spin(s)) * 1000 + spin(ms), found);
            change = "--remove " + got[1].str() + "." + got[2].str();
        } else {
            EXPECT_TRUE(on(reglages.convertir) &&
                        gtk_expander_get_expanded(GTK_EXPANDER(reglages.plus)));
        }
        click(apercu);
        GtkTreeModel* shown = gtk_tree_view_get_model(GTK_TREE_VIEW(previewTable(w.preview)));
        EXPECT_EQ(std::size_t(gtk_tree_model_iter_n_children(shown, nullptr)),
                  starts(truth).size());
        gtk_dialog_response(GTK_DIALOG(w.preview), GTK_RESPONSE_CLOSE);
        EXPECT_EQ(readFile(dir.file("w.srt")), wrong) << "nothing written before Move It!";

        ASSERT_TRUE(can(doit));
        click(doit);
        EXPECT_EQ(barText().rfind("Modification du sous-titres réussie : ", 0), 0u);
        writeFile(dir.file("cli.srt"), wrong);
        ASSERT_EQ(shift(change + " cli.srt", dir.path()), 0);
        EXPECT_EQ(readFile(dir.file("w.srt")), readFile(dir.file("cli.srt"))) << change;
        close();
    }
}

TEST_F(FindTheChange, NothingFilledWhenNotSureStoppedOrClosed)
{
    const struct {
        std::string subtitles;
        const char *film, *said;
    } cases[] = {
        {readFile(films->file("autre.srt")), "film.mkv", NoSureText},
        {truth, "muet.wav", "Vidéo silencieuse : aucun décalage trouvé"},
        {truth, "court.mkv", "Vidéo plus courte que les sous-titres : aucun décalage trouvé"},
        {truth, "abime.mkv", "Vidéo illisible : ce fichier ne peut pas être lu comme une vidéo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.film);
        open(c.subtitles);
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(s), 7);
        EXPECT_EQ(find(c.film).rfind(c.said, 0), 0u);
        EXPECT_TRUE(spin(s) == 7 && on(reglages.decaler) && on(reglages.ajouter));
        EXPECT_TRUE(can(doit) && can(trouver));
        EXPECT_EQ(readFile(dir.file("w.srt")), wrong);
        close();
    }
    // Searched too near: nothing fits, or nothing sure (the nearest named);
    // either way a larger search is what to try.
    open(truth, "--add 90");
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(listenControls().search), 1);
    EXPECT_TRUE(
        std::regex_match(find("film.mkv"), std::regex("Aucun décalage .* ; essayer une recherche "
                                                      "plus large que 1 minute")));
    EXPECT_EQ(spin(s), 0);
    close();
    open("pas des sous-titres\n");
    EXPECT_FALSE(can(trouver)) << "on for accepted subtitles only";
    close();
    open(truth, "--add 1.5");
    // Stopped while the film is slow to read (the worker held on a pipe):
    // the window lets it go at once, and nothing is filled in.
    std::string hold = dir.file("hold");
    ASSERT_EQ(mkfifo(hold.c_str(), 0600), 0);
    g_setenv("CHRONELLE_TEST_HOLD_LISTENING", hold.c_str(), TRUE);
    EXPECT_EQ(find("film.mkv", true), StoppedText);
    EXPECT_TRUE(spin(s) == 0 && can(doit) && can(w.openfm));
    int held = ::open(hold.c_str(), O_WRONLY);  // once the worker holds, it goes on
    g_unsetenv("CHRONELLE_TEST_HOLD_LISTENING");
    ::close(held);
    // Closed while it listens: the worker is stopped and let go.
    choose("film.mkv");
    close();
    EXPECT_FALSE(listening());
    EXPECT_EQ(readFile(dir.file("w.srt")), wrong);
}
