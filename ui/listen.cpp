// "Trouver le décalage avec la vidéo…": the film chosen, listened to and
// matched with the subtitles on a worker thread while the window stays
// responsive, then what was found put into the window's own controls. Nothing
// is written: "Aperçu" and "Move It! " do that, as for a change set by hand.
#include <atomic>
#include <string>

#include "texts.h"
#include "window.h"

namespace chronelle::ui {

GtkWidget* trouver = nullptr;

#ifdef CHRONELLE_HAVE_MATCH

namespace {

// One listening at a time. The worker touches nothing of GTK: it hands its
// progress and its result to the main loop through idle callbacks.
struct Job {
    std::string film, subtitles;  // in the file system's encoding
    std::atomic<bool> stop{false};
    GThread* thread = nullptr;
    Heard heard;  // written by the worker before it hands the job back
    bool doitWas = false;
};

Job* current = nullptr;           // main loop only
GtkWidget* openButton = nullptr;  // "Ouvrir un fichier sous-titres"
// The progress, from the decoding threads: the latest fraction in
// thousandths, and whether the main loop has yet to show one.
std::atomic<int> heardPermille{0};
std::atomic<bool> progressQueued{false};

gboolean showProgress(gpointer)
{
    progressQueued = false;
    if (current && !current->stop) {
        double fraction = heardPermille / 1000.0;
        gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), listeningText(fraction).c_str());
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), fraction);
    }
    return FALSE;
}

void heardSoFar(const ProgressStep& step, void*)
{
    heardPermille = int(step.fraction * 1000);
    if (!progressQueued.exchange(true))
        g_idle_add(showProgress, nullptr);
}

gboolean finished(gpointer job);

gpointer work(gpointer data)
{
    auto* job = static_cast<Job*>(data);
    Heard& heard = job->heard;
    MatchOptions options;
    options.progress = heardSoFar;
    options.stop = &job->stop;
    {
        Reference reference = loadReference(job->film, options);
        heard.reference = reference.failure;
        heard.sound = reference.soundResult.failure;
        if (reference.failure == ReferenceFailure::None) {
            CuesResult cues = readCues(job->subtitles);
            heard.cues = cues.failure;
            if (cues.failure == CuesFailure::None)
                heard.found = matchCues(reference, cues.cues, options);
        }
    }
    g_idle_add(finished, job);
    return nullptr;
}

// The window as it was before, the button back to its first use.
void endListening(Job* job)
{
    g_thread_join(job->thread);
    current = nullptr;
    gtk_button_set_label(GTK_BUTTON(trouver), TrouverLabel);
    gtk_widget_set_sensitive(trouver, TRUE);
    gtk_widget_set_sensitive(openButton, TRUE);
    gtk_widget_set_sensitive(apercu, TRUE);
    gtk_widget_set_sensitive(doit, job->doitWas);
}

// What was found goes into the controls, and is said on the bar.
gboolean finished(gpointer data)
{
    auto* job = static_cast<Job*>(data);
    endListening(job);
    Heard& heard = job->heard;
    const Found& f = heard.found;
    heard.stopped = job->stop;
    bool usable = !heard.stopped && heard.reference == ReferenceFailure::None &&
                  heard.cues == CuesFailure::None && f.alignment.fit == Fit::Found && f.sure;
    if (usable && f.kind != ChangeKind::InTime) {
        // A plain offset sets the offset row back as the change; any other
        // is shown opened.
        heard.shown = showChange(f.retiming, Selection());
        if (heard.shown && f.kind != ChangeKind::Offset)
            gtk_expander_set_expanded(GTK_EXPANDER(reglages.plus), TRUE);
        if (heard.shown)
            gtk_widget_set_sensitive(doit, TRUE);
    }
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), heardText(heard).c_str());
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), heard.shown ? 1.0 : 0.0);
    delete job;
    return FALSE;
}

void startListening(std::string film)
{
    auto* job = new Job;
    job->film = std::move(film);
    job->subtitles = wayFilename();
    job->doitWas = gtk_widget_get_sensitive(doit);
    // Nothing that would change the file or the change meanwhile.
    for (GtkWidget* control : {openButton, doit, apercu})
        gtk_widget_set_sensitive(control, FALSE);
    gtk_button_set_label(GTK_BUTTON(trouver), StopListeningLabel);
    heardPermille = 0;
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), listeningText(0).c_str());
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), 0.0);
    current = job;
    job->thread = g_thread_new("chronelle-listen", work, job);
}

// The window goes while a film is listened to: the worker is stopped and
// waited for, and its result, not yet shown, goes with it.
void stopWithWindow(GtkWidget*, gpointer)
{
    Job* job = current;
    if (!job)
        return;
    job->stop = true;
    g_thread_join(job->thread);
    g_idle_remove_by_data(job);
    current = nullptr;
    delete job;
}

// Films of the usual containers and sound files, by name and by type.
void addVideoFilter(GtkWidget* chooser)
{
    static const char* const extensions[] = {
        "mkv", "mp4", "m4v", "avi", "mov", "webm", "ts", "m2ts", "mts", "mpg", "mpeg", "vob", "ogv",
        "ogg", "wmv", "flv", "3gp", "mka", "m4a", "mp3", "aac", "ac3", "eac3", "dts", "flac", "opus",
        "wav", "wma"};
    GtkFileFilter* videos = gtk_file_filter_new();
    gtk_file_filter_set_name(videos, VideosFilter);
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
    GtkFileFilter* all = gtk_file_filter_new();
    gtk_file_filter_set_name(all, AllFilesFilter);
    gtk_file_filter_add_pattern(all, "*");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), all);
}

}  // namespace

bool listening()
{
    return current != nullptr;
}

void allowListening(bool accepted)
{
    if (!current)
        gtk_widget_set_sensitive(trouver, accepted);
}

GtkWidget* buildTrouver(GtkWidget* window, GtkWidget* openfm)
{
    openButton = openfm;
    trouver = gtk_button_new_with_label(TrouverLabel);
    gtk_widget_set_sensitive(trouver, FALSE);
    GtkWidget* chooser = gtk_file_chooser_dialog_new(
        VideoChooserTitle, GTK_WINDOW(window), GTK_FILE_CHOOSER_ACTION_OPEN, GTK_STOCK_CANCEL,
        GTK_RESPONSE_CANCEL, GTK_STOCK_OPEN, GTK_RESPONSE_ACCEPT, nullptr);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(chooser), TRUE);
    addVideoFilter(chooser);
    g_signal_connect(trouver, "clicked", G_CALLBACK(trouver_clicked), chooser);
    g_signal_connect(window, "destroy", G_CALLBACK(stopWithWindow), nullptr);
    return chooser;
}

void trouver_clicked(GtkWidget*, gpointer chooser)
{
    if (current) {
        // Stopped between two packets of sound; the result says so.
        current->stop = true;
        gtk_widget_set_sensitive(trouver, FALSE);
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
bool listening()
{
    return false;
}

void allowListening(bool) {}

GtkWidget* buildTrouver(GtkWidget*, GtkWidget*)
{
    trouver = gtk_button_new_with_label(TrouverLabel);
    gtk_widget_set_sensitive(trouver, FALSE);
    return nullptr;
}

void trouver_clicked(GtkWidget*, gpointer) {}

#endif

}  // namespace chronelle::ui
