// "Trouver le décalage avec la vidéo…" over the matcher. The worker touches
// nothing of GTK: it hands its progress and its result to the main loop
// through idle callbacks. A listening that is stopped, or whose window goes,
// is let go at once: the worker ends on its own (FFmpeg is interrupted by
// the stop flag) and frees its job, and the window never waits for it.
#include "listen.h"

#include <atomic>
#include <cmath>
#include <string>

#include "bar.h"
#include "fields.h"
#include "handlers.h"
#include "settings.h"
#include "texts.h"
#include "window.h"

namespace chronelle::ui {

GtkWidget* trouver = nullptr;

namespace {

constexpr const char* StopListeningLabel = "Arrê_ter l'écoute";
constexpr const char* TrouverMnemonic = "_Trouver le décalage avec la vidéo…";
ListenControls controls;

}  // namespace

ListenControls listenControls() { return controls; }

#ifdef CHRONELLE_HAVE_MATCH

namespace {

constexpr const char* DefaultTrackText = "par défaut";
// Set to a file by the tests: the worker reads it whole before it listens,
// as if the film were on a disk that does not answer.
constexpr const char* HoldVariable = "CHRONELLE_TEST_HOLD_LISTENING";

struct Job {
    std::string film, subtitles;  // in the file system's encoding
    MatchOptions options;
    std::atomic<bool> stop{false};
    // The progress, from the decoding threads: the latest fraction in
    // thousandths, and whether the main loop has yet to show one.
    std::atomic<int> permille{0};
    std::atomic<bool> progressQueued{false};
    Heard heard;  // written by the worker before it hands the job back
    bool doitWas = false;
    bool abandoned = false;  // main loop only: the window no longer waits for it
};

Job* current = nullptr;           // main loop only
GtkWidget* openButton = nullptr;  // "Ouvrir un fichier sous-titres"
// Workers still running, for the end of the run.
GMutex runningLock;
GCond runningEnded;
int running = 0;

gboolean showProgress(gpointer data)
{
    auto* job = static_cast<Job*>(data);
    job->progressQueued = false;
    if (job == current && !job->stop) {
        double fraction = job->permille / 1000.0;
        say(listeningText(fraction), fraction);
    }
    return FALSE;
}

void heardSoFar(const ProgressStep& step, void* data)
{
    auto* job = static_cast<Job*>(data);
    job->permille = int(step.fraction * 1000);
    if (!job->progressQueued.exchange(true))
        g_idle_add(showProgress, job);
}

gboolean finished(gpointer job);

void holdForTests()
{
    const char* hold = g_getenv(HoldVariable);
    if (!hold)
        return;
    gchar* held = nullptr;
    g_file_get_contents(hold, &held, nullptr, nullptr);
    g_free(held);
}

gpointer work(gpointer data)
{
    auto* job = static_cast<Job*>(data);
    Heard& heard = job->heard;
    holdForTests();
    {
        Reference reference = loadReference(job->film, job->options);
        heard.reference = reference.failure;
        heard.sound = reference.soundResult.failure;
        heard.tracks = reference.sound.tracks;
        if (reference.failure == ReferenceFailure::None) {
            CuesResult cues = readCues(job->subtitles);
            heard.cues = cues.failure;
            if (cues.failure == CuesFailure::None)
                heard.found = matchCues(reference, cues.cues, job->options);
        }
    }
    g_idle_add(finished, job);
    // Last: once counted out, the worker touches nothing more that the end
    // of the run takes down.
    g_mutex_lock(&runningLock);
    --running;
    g_cond_broadcast(&runningEnded);
    g_mutex_unlock(&runningLock);
    return nullptr;
}

// The window as it was before, the button back to its first use.
void endListening(Job* job)
{
    current = nullptr;
    job->abandoned = true;
    gtk_button_set_label(GTK_BUTTON(trouver), TrouverMnemonic);
    gtk_widget_set_sensitive(trouver, TRUE);
    gtk_widget_set_sensitive(openButton, TRUE);
    allowMove(job->doitWas);
}

// The change found, as the controls would hold it: a frame-rate change with
// an offset after it as the two rates and the offset row, anything else as
// formOf makes it.
bool formFor(const Found& f, ChangeForm* form)
{
    const Alignment& a = f.alignment;
    if (f.kind == ChangeKind::Linear && a.from >= 0 && !a.drift)
        return ratesForm(FrameRates[a.from].name, FrameRates[a.to].name,
                         std::llround(a.mapping.offsetMs), form);
    return formOf(f.retiming, Selection(), fileCues(), form);
}

// What was found goes into the controls, and is said on the bar.
gboolean finished(gpointer data)
{
    auto* job = static_cast<Job*>(data);
    if (job->abandoned) {
        delete job;
        return FALSE;
    }
    endListening(job);
    Heard& heard = job->heard;
    const Found& f = heard.found;
    bool usable = heard.reference == ReferenceFailure::None && heard.cues == CuesFailure::None &&
                  f.alignment.fit == Fit::Found;
    if (usable && f.kind != ChangeKind::InTime) {
        heard.formed = formFor(f, &heard.form);
        for (const Found& rival : f.rivals) {
            ChangeForm other;
            if (formFor(rival, &other))
                heard.rivals.push_back(other);
        }
    }
    if (usable && f.sure && heard.formed) {
        showForm(heard.form);
        heard.shown = true;
        allowMove(true);
    }
    std::string said = heardText(heard);
    if (usable)
        say(said, heard.shown ? 1.0 : 0.0);
    else
        sayError(said);
    delete job;
    return FALSE;
}

void startListening(std::string film)
{
    auto* job = new Job;
    job->film = std::move(film);
    job->subtitles = wayFilename();
    job->doitWas = gtk_widget_get_sensitive(doit);
    int track = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(controls.track));
    job->options.track = track;
    job->options.maxOffsetMs =
        std::int64_t(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(controls.search))) * 60000;
    job->options.progress = heardSoFar;
    job->options.user = job;
    job->options.stop = &job->stop;
    job->heard.maxOffsetMs = job->options.maxOffsetMs;
    // Nothing that would change the file or the change meanwhile.
    gtk_widget_set_sensitive(openButton, FALSE);
    allowMove(false);
    gtk_button_set_label(GTK_BUTTON(trouver), StopListeningLabel);
    say(listeningText(0), 0.0);
    current = job;
    g_mutex_lock(&runningLock);
    ++running;
    g_mutex_unlock(&runningLock);
    g_thread_unref(g_thread_new("chronelle-listen", work, job));
}

// The window goes while a film is listened to: the worker is told to stop,
// and left to end on its own.
void stopWithWindow(GtkWidget*, gpointer)
{
    if (current) {
        current->stop = true;
        current->abandoned = true;
        current = nullptr;
    }
}

// Films of the usual containers and sound files, by name and by type.
void addVideoFilter(GtkWidget* chooser)
{
    static const char* const extensions[] = {"mkv",  "mp4",  "m4v", "avi",  "mov",  "webm", "ts",
                                             "m2ts", "mts",  "mpg", "mpeg", "vob",  "ogv",  "ogg",
                                             "wmv",  "flv",  "3gp", "mka",  "m4a",  "mp3",  "aac",
                                             "ac3",  "eac3", "dts", "flac", "opus", "wav",  "wma"};
    GtkFileFilter* videos = gtk_file_filter_new();
    gtk_file_filter_set_name(videos, "Vidéos");
    for (const char* type : {"video/*", "audio/*"})
        gtk_file_filter_add_mime_type(videos, type);
    for (const char* e : extensions) {
        gchar* upper = g_ascii_strup(e, -1);
        for (const char* x : {e, static_cast<const char*>(upper)}) {
            gchar* pattern = g_strconcat("*.", x, nullptr);
            gtk_file_filter_add_pattern(videos, pattern);
            g_free(pattern);
        }
        g_free(upper);
    }
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), videos);
    addAllFilesFilter(chooser);
}

// The track 0 is the film's own choice: "par défaut".
gboolean track_output(GtkSpinButton* spin, gpointer)
{
    if (gtk_spin_button_get_value_as_int(spin) != 0)
        return FALSE;
    gtk_entry_set_text(GTK_ENTRY(spin), DefaultTrackText);
    return TRUE;
}

gint track_input(GtkSpinButton* spin, gdouble* value, gpointer)
{
    if (g_strcmp0(gtk_entry_get_text(GTK_ENTRY(spin)), DefaultTrackText) != 0)
        return FALSE;
    *value = 0;
    return TRUE;
}

GtkWidget* spinWithLabel(GtkWidget* box, const char* label, const char* name, double value,
                         double lower, double upper)
{
    GtkWidget* spin = gtk_spin_button_new_with_range(lower, upper, 1);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), value);
    gtk_entry_set_width_chars(GTK_ENTRY(spin), 10);
    GtkWidget* l = labelFor(label, spin);
    nameControl(spin, name);
    gtk_box_pack_start(GTK_BOX(box), l, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), spin, FALSE, FALSE, 0);
    return spin;
}

// Below the chooser: the audio track and how far to search, the two things
// to try when nothing sure was found.
GtkWidget* listenOptions()
{
    GtkWidget* box = gtk_hbox_new(FALSE, 6);
    controls.track = spinWithLabel(box, "_Piste audio", "Piste audio", 0, 0, 64);
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(controls.track), FALSE);  // "par défaut"
    g_signal_connect(controls.track, "output", G_CALLBACK(track_output), nullptr);
    g_signal_connect(controls.track, "input", G_CALLBACK(track_input), nullptr);
    track_output(GTK_SPIN_BUTTON(controls.track), nullptr);
    controls.search = spinWithLabel(box, "_Chercher un décalage jusqu'à",
                                    "Chercher un décalage jusqu'à (minutes)",
                                    double(MatchOptions().maxOffsetMs / 60000), 1, 120);
    gtk_box_pack_start(GTK_BOX(box), gtk_label_new("minutes"), FALSE, FALSE, 0);
    gtk_widget_show_all(box);
    return box;
}

}  // namespace

bool listening() { return current != nullptr; }

void allowListening(bool accepted)
{
    if (!current)
        gtk_widget_set_sensitive(trouver, accepted);
}

bool listeningEnded(int waitMs)
{
    gint64 deadline = g_get_monotonic_time() + gint64(waitMs) * 1000;
    g_mutex_lock(&runningLock);
    while (running > 0 && g_cond_wait_until(&runningEnded, &runningLock, deadline)) {
    }
    bool ended = running == 0;
    g_mutex_unlock(&runningLock);
    return ended;
}

GtkWidget* buildTrouver(GtkWidget* window, GtkWidget* openfm)
{
    openButton = openfm;
    trouver = gtk_button_new_with_mnemonic(TrouverMnemonic);
    gtk_widget_set_sensitive(trouver, FALSE);
    GtkWidget* chooser = gtk_file_chooser_dialog_new(
        "Choisis la vidéo", GTK_WINDOW(window), GTK_FILE_CHOOSER_ACTION_OPEN, GTK_STOCK_CANCEL,
        GTK_RESPONSE_CANCEL, GTK_STOCK_OPEN, GTK_RESPONSE_ACCEPT, nullptr);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(chooser), TRUE);
    addVideoFilter(chooser);
    gtk_file_chooser_set_extra_widget(GTK_FILE_CHOOSER(chooser), listenOptions());
    g_signal_connect(trouver, "clicked", G_CALLBACK(trouver_clicked), chooser);
    g_signal_connect(window, "destroy", G_CALLBACK(stopWithWindow), nullptr);
    return chooser;
}

void trouver_clicked(GtkWidget*, gpointer chooser)
{
    if (current) {
        // Let go at once; the worker stops between two packets of sound.
        current->stop = true;
        endListening(current);
        say(StoppedText, 0.0);
        return;
    }
    // Films usually lie beside their subtitles.
    gchar* folder = g_path_get_dirname(wayFilename().c_str());
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), folder);
    g_free(folder);
    gint response = gtk_dialog_run(GTK_DIALOG(chooser));
    if (response == GTK_RESPONSE_CANCEL || response == GTK_RESPONSE_DELETE_EVENT)
        gtk_widget_hide(GTK_WIDGET(chooser));
    if (response != GTK_RESPONSE_ACCEPT)
        return;
    // The name as the file system knows it, as FFmpeg opens it.
    gchar* film = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
    gtk_widget_hide(GTK_WIDGET(chooser));
    if (film)
        startListening(film);
    g_free(film);
}

#else

// Built without FFmpeg's libraries: no film can be listened to, and the
// button is hidden and stays off.
bool listening() { return false; }

void allowListening(bool) {}

bool listeningEnded(int) { return true; }

GtkWidget* buildTrouver(GtkWidget*, GtkWidget*)
{
    trouver = gtk_button_new_with_mnemonic(TrouverMnemonic);
    gtk_widget_set_sensitive(trouver, FALSE);
    return nullptr;
}

void trouver_clicked(GtkWidget*, gpointer) {}

#endif

}  // namespace chronelle::ui
