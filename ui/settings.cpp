// "Plus de réglages": the column beside the rows, its change and its
// selection; the subtitles picked by number; the form read, or shown.
#include "settings.h"

#include "bar.h"
#include "duration.h"
#include "fields.h"
#include "offset.h"
#include "texts.h"
#include "window.h"

namespace chronelle::ui {

Reglages reglages;

namespace {

using Kind = ChangeForm::Kind;

std::vector<Cue> cues;  // of the file accepted, read again after each change

// Only the fields of the chosen change and of the ticked selections can be
// filled; the offset row is the offset's, and the conversion's after it.
void updateSensitivity()
{
    Reglages& r = reglages;
    bool offset = active(r.decaler) || active(r.convertir);
    for (GtkWidget* w : {r.ajouter, r.retirer, h, m, s, ms})
        enable(w, offset);
    for (Picker* p : {&r.to, &r.sync[0], &r.sync[1]}) {
        bool on = active(p == &r.to ? r.commencer : r.synchroniser);
        for (GtkWidget* w : {p->cue, p->at, p->now})
            enable(w, on);
    }
    for (GtkWidget* w : {r.fpsFrom, r.fpsTo})
        enable(w, active(r.convertir));
    enable(r.from, active(r.aPartirDe));
    enable(r.until, active(r.avant));
    enable(r.firstCue, active(r.du));
    enable(r.lastCue, active(r.du));
}

void change_toggled(GtkWidget*, gpointer)
{
    updateSensitivity();
    settingChanged();
}

void selection_toggled(GtkWidget*, gpointer);
void tous_toggled(GtkWidget*, gpointer);

// Sets a check button without running the handlers that keep "Tous" in step.
void setQuietly(GtkWidget* check, bool on)
{
    g_signal_handlers_block_by_func(check, reinterpret_cast<gpointer>(selection_toggled), nullptr);
    g_signal_handlers_block_by_func(check, reinterpret_cast<gpointer>(tous_toggled), nullptr);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), on);
    g_signal_handlers_unblock_by_func(check, reinterpret_cast<gpointer>(tous_toggled), nullptr);
    g_signal_handlers_unblock_by_func(check, reinterpret_cast<gpointer>(selection_toggled),
                                      nullptr);
}

// "Tous" is ticked exactly when no other selection is.
void selection_toggled(GtkWidget*, gpointer)
{
    Reglages& r = reglages;
    setQuietly(r.tous, !(active(r.aPartirDe) || active(r.avant) || active(r.du)));
    updateSensitivity();
    settingChanged();
}

void tous_toggled(GtkWidget*, gpointer)
{
    Reglages& r = reglages;
    bool others = active(r.aPartirDe) || active(r.avant) || active(r.du);
    if (active(r.tous)) {
        for (GtkWidget* check : {r.aPartirDe, r.avant, r.du})
            setQuietly(check, false);
    } else if (!others) {
        setQuietly(r.tous, true);  // every subtitle, until another choice is made
    }
    updateSensitivity();
    settingChanged();
}

// The two numbers follow each other, so that the range is never empty.
void cue_changed(GtkWidget* spin, gpointer)
{
    GtkSpinButton* first = GTK_SPIN_BUTTON(reglages.firstCue);
    GtkSpinButton* last = GTK_SPIN_BUTTON(reglages.lastCue);
    double a = gtk_spin_button_get_value(first), b = gtk_spin_button_get_value(last);
    if (a > b)
        gtk_spin_button_set_value(spin == reglages.firstCue ? last : first,
                                  spin == reglages.firstCue ? a : b);
}

// The subtitle picked is shown, and its start is the new one to begin with.
void picked(GtkWidget* spin, gpointer data)
{
    auto* p = static_cast<Picker*>(data);
    std::size_t n = std::size_t(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin)));
    if (n < 1 || n > cues.size()) {
        gtk_label_set_text(GTK_LABEL(p->now), "");
        return;
    }
    std::string now = currentText(cues[n - 1]);
    gtk_label_set_text(GTK_LABEL(p->now), now.c_str());
    gtk_widget_set_tooltip_text(p->now, now.c_str());
    setText(p->at, formatTime(cues[n - 1].startMs));
}

// "Sous-titre n° [1]  Nouveau début [0:00:20,000]", and under them the
// subtitle's current start and text; `which` tells the point apart for
// screen readers.
void picker(const char* which, Picker* into)
{
    Picker& p = *into;
    std::string cueName = std::string("Sous-titre n° ") + which;
    std::string atName = std::string("Nouveau début ") + which;
    p.cue = numberField(cueName.c_str(), 1);
    p.at = timeField(atName.c_str());
    p.now = gtk_label_new("");
    gtk_label_set_ellipsize(GTK_LABEL(p.now), PANGO_ELLIPSIZE_END);
    gtk_label_set_width_chars(GTK_LABEL(p.now), 40);
    gtk_label_set_max_width_chars(GTK_LABEL(p.now), 40);
    gtk_misc_set_alignment(GTK_MISC(p.now), 0, 0.5);
    g_signal_connect(p.cue, "value-changed", G_CALLBACK(picked), into);
}

// The picker's rows, its labels with the underlined keys `cueLabel` and
// `atLabel`.
void pickerRows(Picker& p, const char* cueLabel, const char* atLabel, GtkWidget* box)
{
    gtk_box_pack_start(GTK_BOX(box),
                       row({labelFor(cueLabel, p.cue), p.cue, labelFor(atLabel, p.at), p.at}, 24),
                       FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), row({p.now}, 24), FALSE, FALSE, 0);
}

GtkWidget* radio(const char* label)
{
    GtkWidget* b = reglages.decaler ? gtk_radio_button_new_with_mnemonic_from_widget(
                                          GTK_RADIO_BUTTON(reglages.decaler), label)
                                    : gtk_radio_button_new_with_mnemonic(nullptr, label);
    g_signal_connect(b, "toggled", G_CALLBACK(change_toggled), nullptr);
    gtk_button_set_alignment(GTK_BUTTON(b), 0, 0.5);
    return b;
}

// The keys: those of the offset row (A R H N S L) serve again here, as it is
// off whenever these fields are on.
GtkWidget* changeFrame()
{
    Reglages& r = reglages;
    r.decaler = radio("Dé_caler de la durée choisie");
    r.commencer = radio("Ré_gler le début d'un sous-titre");
    picker("à régler", &r.to);
    r.synchroniser = radio("S_ynchroniser sur deux repères");
    picker("du repère 1", &r.sync[0]);
    picker("du repère 2", &r.sync[1]);
    r.convertir = radio("Convertir la fré_quence d'images puis décaler");
    r.fpsFrom = rateField("Fréquence d'origine", "25");
    r.fpsTo = rateField("Fréquence voulue", "23,976");
    GtkWidget* box = gtk_vbox_new(FALSE, 2);
    gtk_container_set_border_width(GTK_CONTAINER(box), 4);
    gtk_box_pack_start(GTK_BOX(box), row({r.decaler}), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), row({r.commencer}), FALSE, FALSE, 0);
    pickerRows(r.to, "_Sous-titre n°", "_Nouveau début", box);
    gtk_box_pack_start(GTK_BOX(box), row({r.synchroniser}), FALSE, FALSE, 0);
    pickerRows(r.sync[0], "_Sous-titre n°", "_Nouveau début", box);
    pickerRows(r.sync[1], "Sous-tit_re n°", "Nouve_au début", box);
    gtk_box_pack_start(GTK_BOX(box), row({r.convertir}), FALSE, FALSE, 0);
    // One above the other, their fields aligned.
    GtkSizeGroup* labels = gtk_size_group_new(GTK_SIZE_GROUP_HORIZONTAL);
    const struct {
        const char* label;
        GtkWidget* rate;
    } rates[] = {{"Fréquence d'o_rigine", r.fpsFrom}, {"Fréquence vou_lue", r.fpsTo}};
    for (const auto& rate : rates) {
        GtkWidget* l = labelFor(rate.label, entryOf(rate.rate));
        gtk_misc_set_alignment(GTK_MISC(l), 0, 0.5);
        gtk_size_group_add_widget(labels, l);
        gtk_box_pack_start(GTK_BOX(box), row({l, rate.rate}, 24), FALSE, FALSE, 0);
    }
    g_object_unref(labels);  // held by its widgets
    GtkWidget* frame = gtk_frame_new("Changement");
    gtk_container_add(GTK_CONTAINER(frame), box);
    return frame;
}

GtkWidget* selectionFrame()
{
    Reglages& r = reglages;
    r.tous = gtk_check_button_new_with_mnemonic("To_us");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r.tous), TRUE);
    g_signal_connect(r.tous, "toggled", G_CALLBACK(tous_toggled), nullptr);
    auto check = [](const char* label) {
        GtkWidget* b = gtk_check_button_new_with_mnemonic(label);
        g_signal_connect(b, "toggled", G_CALLBACK(selection_toggled), nullptr);
        return b;
    };
    r.aPartirDe = check("À part_ir de");
    r.from = timeField("À partir de");
    r.avant = check("A_vant");
    r.until = timeField("Avant");
    r.du = check("_Du n°");
    r.firstCue = numberField("Du n°", 1);
    r.lastCue = lastField("jusqu'au n°");
    for (GtkWidget* spin : {r.firstCue, r.lastCue})
        g_signal_connect(spin, "value-changed", G_CALLBACK(cue_changed), nullptr);
    return framed("Sous-titres concernés",
                  {row({r.tous}), row({r.aPartirDe, r.from}), row({r.avant, r.until}),
                   row({r.du, r.firstCue, labelFor("_jusqu'au n°", r.lastCue), r.lastCue})});
}

ChangeForm readForm()
{
    Reglages& r = reglages;
    ChangeForm f;
    f.kind = active(r.commencer)      ? Kind::To
             : active(r.synchroniser) ? Kind::Sync
             : active(r.convertir)    ? Kind::Fps
                                      : Kind::Offset;
    f.offset = Shift{int(spinValue(h)), int(spinValue(m)), int(spinValue(s)), int(spinValue(ms))};
    f.add = adri != 0;
    const Picker* points[2] = {f.kind == Kind::To ? &r.to : &r.sync[0], &r.sync[1]};
    for (int i = 0; i < 2; ++i) {
        f.cue[i] = spinValue(points[i]->cue);
        if (f.cue[i] >= 1 && std::size_t(f.cue[i]) <= cues.size())
            f.shown[i] = formatTime(cues[std::size_t(f.cue[i]) - 1].startMs);
        f.heard[i] = text(points[i]->at);
    }
    f.fpsFrom = text(r.fpsFrom);
    f.fpsTo = text(r.fpsTo);
    f.byFrom = active(r.aPartirDe);
    f.from = text(r.from);
    f.byUntil = active(r.avant);
    f.until = text(r.until);
    f.byCues = active(r.du);
    f.firstCue = spinValue(r.firstCue);
    f.lastCue = spinValue(r.lastCue) >= highest(r.lastCue) ? NoLimit : spinValue(r.lastCue);
    return f;
}

GtkWidget* fieldOf(FormField f)
{
    Reglages& r = reglages;
    const Picker& first = active(r.commencer) ? r.to : r.sync[0];
    switch (f) {
    case FormField::Shown1: return first.cue;
    case FormField::Heard1: return first.at;
    case FormField::Shown2: return r.sync[1].cue;
    case FormField::Heard2: return r.sync[1].at;
    case FormField::FpsFrom: return entryOf(r.fpsFrom);
    case FormField::FpsTo: return entryOf(r.fpsTo);
    case FormField::From: return r.from;
    case FormField::Until: return r.until;
    case FormField::Cues: return r.lastCue;
    case FormField::None: break;
    }
    return nullptr;
}

// The field that could not be read is marked, shown and given the keyboard;
// the bar says why.
void showProblem(const FormError& e)
{
    GtkWidget* entry = fieldOf(e.field);
    if (entry) {
        GdkColor pink;
        gdk_color_parse("#ffc8c8", &pink);
        gtk_expander_set_expanded(GTK_EXPANDER(reglages.plus), TRUE);
        gtk_widget_grab_focus(entry);
        gtk_widget_modify_base(entry, GTK_STATE_NORMAL, &pink);
    }
    sayError(problemText(e.problem));
}

// Its key gives the expander the keyboard as well as opening it, so that
// Tab then goes into what it opened.
gboolean plus_mnemonic_activate(GtkWidget* expander, gboolean, gpointer)
{
    gtk_widget_grab_focus(expander);
    return FALSE;
}

// Open, the column shows beside the rows; closed, the window goes back to
// the size it had.
void plus_expanded(GObject* expander, GParamSpec*, gpointer)
{
    if (gtk_expander_get_expanded(GTK_EXPANDER(expander))) {
        gtk_widget_show(reglages.column);
        return;
    }
    gtk_widget_hide(reglages.column);
    gtk_window_resize(GTK_WINDOW(gtk_widget_get_toplevel(GTK_WIDGET(expander))), 1, 1);
}

void setPicker(Picker& p, std::int64_t cue, const std::string& at)
{
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(p.cue), double(cue));
    setText(p.at, at);
}

}  // namespace

void buildReglages()
{
    Reglages& r = reglages;
    // Opened, its content is there at once: the key typed next goes into
    // it, not past it, however fast it comes.
    g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
    r.decaler = nullptr;
    r.plus = gtk_expander_new_with_mnemonic("_Plus de réglages");
    g_signal_connect(r.plus, "mnemonic-activate", G_CALLBACK(plus_mnemonic_activate), nullptr);
    g_signal_connect(r.plus, "notify::expanded", G_CALLBACK(plus_expanded), nullptr);
    r.column = gtk_vbox_new(FALSE, 3);
    gtk_box_pack_start(GTK_BOX(r.column), changeFrame(), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(r.column), selectionFrame(), FALSE, FALSE, 0);
    gtk_widget_show_all(r.column);
    gtk_widget_hide(r.column);
    gtk_widget_set_no_show_all(r.column, TRUE);
    updateSensitivity();
    for (GtkWidget* spin : {h, m, s, ms})
        g_signal_connect(spin, "value-changed", G_CALLBACK(setting_changed), nullptr);
    g_signal_connect(r.ajouter, "toggled", G_CALLBACK(setting_changed), nullptr);
    watchOffset();
}

void loadCues(const std::string& path)
{
    Quiet quiet;
    CuesResult read = path.empty() ? CuesResult() : readCues(path);
    cues = std::move(read.cues);
    double n = double(std::max<std::size_t>(cues.size(), 1));
    Reglages& r = reglages;
    for (Picker* p : {&r.to, &r.sync[0], &r.sync[1]})
        gtk_spin_button_set_range(GTK_SPIN_BUTTON(p->cue), 1, n);
    gtk_spin_button_set_range(GTK_SPIN_BUTTON(r.firstCue), 1, n);
    // "dernier" stays the last, wherever that now is.
    bool toLast = spinValue(r.lastCue) >= highest(r.lastCue);
    gtk_spin_button_set_range(GTK_SPIN_BUTTON(r.lastCue), 1, n);
    if (toLast)
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(r.lastCue), n);
    gtk_spin_button_update(GTK_SPIN_BUTTON(r.lastCue));
    // The second point is the last subtitle, far from the first.
    if (gtk_spin_button_get_value(GTK_SPIN_BUTTON(r.sync[1].cue)) <= 1)
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(r.sync[1].cue), n);
    for (Picker* p : {&r.to, &r.sync[0], &r.sync[1]})
        picked(p->cue, p);
}

const std::vector<Cue>& fileCues() { return cues; }

void showForm(const ChangeForm& f)
{
    Quiet quiet;
    Reglages& r = reglages;
    GtkWidget* kinds[] = {r.decaler, r.commencer, r.synchroniser, r.convertir};
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(kinds[int(f.kind)]), TRUE);
    if (f.kind == Kind::Offset || f.kind == Kind::Fps) {
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(f.add ? r.ajouter : r.retirer), TRUE);
        const int values[] = {f.offset.h, f.offset.m, f.offset.s, f.offset.ms};
        GtkWidget* spins[] = {h, m, s, ms};
        for (int i = 0; i < 4; ++i)
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(spins[i]), values[i]);
    }
    // The fields of the other changes keep what they hold.
    if (f.kind == Kind::To)
        setPicker(r.to, f.cue[0], f.heard[0]);
    for (int i = 0; i < 2 && f.kind == Kind::Sync; ++i)
        setPicker(r.sync[i], f.cue[i], f.heard[i]);
    if (f.kind == Kind::Fps) {
        setText(r.fpsFrom, f.fpsFrom);
        setText(r.fpsTo, f.fpsTo);
    }
    if (f.kind != Kind::Offset)
        gtk_expander_set_expanded(GTK_EXPANDER(r.plus), TRUE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r.aPartirDe), f.byFrom);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r.avant), f.byUntil);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r.du), f.byCues);
    if (f.byFrom)
        setText(r.from, f.from);
    if (f.byUntil)
        setText(r.until, f.until);
    if (f.byCues) {
        double last = f.lastCue == NoLimit ? highest(r.lastCue) : double(f.lastCue);
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(r.lastCue), last);
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(r.firstCue), double(f.firstCue));
    }
}

bool showChange(const Retiming& retiming, const Selection& selection)
{
    ChangeForm f;
    if (!formOf(retiming, selection, cues, &f))
        return false;
    showForm(f);
    return true;
}

bool readChange(ShiftOptions* options)
{
    for (FormField f :
         {FormField::Shown1, FormField::Heard1, FormField::Shown2, FormField::Heard2,
          FormField::FpsFrom, FormField::FpsTo, FormField::From, FormField::Until, FormField::Cues})
        unmark(fieldOf(f), nullptr);
    bool offsetUsed = active(reglages.decaler) || active(reglages.convertir);
    if (offsetUsed && !takeOffset())
        return false;
    FormError e = buildChange(readForm(), options);
    if (e.problem != FormProblem::None) {
        showProblem(e);
        return false;
    }
    return true;
}

}  // namespace chronelle::ui
