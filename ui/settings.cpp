// "Plus de réglages": the change (the offset row, a time to reach, two
// points, two frame rates) and the lines it concerns; read into the core's
// form of a change, or set from one. The comma typed in "Seconde(s)" is
// here too.
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "change.h"
#include "texts.h"
#include "window.h"

namespace chronelle::ui {

Reglages reglages;

namespace {

using Kind = ChangeForm::Kind;

// The highest line number the cue fields hold; at it, the range is open.
constexpr double LastCueShown = 99999999;
constexpr const char* FractionKey = "chronelle-fraction";  // set on `ms` after a comma
constexpr const char* ProblemKey = "chronelle-problem";    // set on `bar` while it shows one

bool active(GtkWidget* toggle)
{
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggle));
}

std::string text(GtkWidget* entry)
{
    if (GTK_IS_COMBO_BOX(entry))
        entry = gtk_bin_get_child(GTK_BIN(entry));
    return gtk_entry_get_text(GTK_ENTRY(entry));
}

void setText(GtkWidget* entry, const std::string& value)
{
    if (GTK_IS_COMBO_BOX(entry))
        entry = gtk_bin_get_child(GTK_BIN(entry));
    gtk_entry_set_text(GTK_ENTRY(entry), value.c_str());
}

int spinValue(GtkWidget* spin)
{
    // Takes in a value still being typed.
    gtk_spin_button_update(GTK_SPIN_BUTTON(spin));
    return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin));
}

void unmark(GtkWidget* entry, gpointer)
{
    gtk_widget_modify_base(entry, GTK_STATE_NORMAL, nullptr);
}

// A field of the form; its changes take away the mark of a value that could
// not be read.
GtkWidget* field(GtkWidget* entry, const char* name, int width)
{
    GtkWidget* inner = GTK_IS_COMBO_BOX(entry) ? gtk_bin_get_child(GTK_BIN(entry)) : entry;
    gtk_entry_set_width_chars(GTK_ENTRY(inner), width);
    nameControl(inner, name);
    g_signal_connect(inner, "changed", G_CALLBACK(unmark), nullptr);
    return entry;
}

GtkWidget* timeField(const char* name)
{
    return field(gtk_entry_new(), name, 12);
}

GtkWidget* rateField(const char* name)
{
    GtkWidget* combo = gtk_combo_box_text_new_with_entry();
    for (const char* rate : {"23,976", "24", "25", "29,97", "30"})
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), rate);
    nameControl(combo, name);
    return field(combo, name, 7);
}

GtkWidget* cueField(const char* name, double value)
{
    GtkObject* adjustment = gtk_adjustment_new(value, 1, LastCueShown, 1, 10, 0);
    GtkWidget* spin = gtk_spin_button_new(GTK_ADJUSTMENT(adjustment), 1.0, 0);
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(spin), TRUE);
    return field(spin, name, 8);
}

// A label that screen readers give as the label of `target`.
GtkWidget* labelFor(const char* text, GtkWidget* target)
{
    GtkWidget* l = gtk_label_new(text);
    gtk_label_set_mnemonic_widget(GTK_LABEL(l), target);
    return l;
}

// A row of the expander, left to right, its children at their own width,
// `indent` pixels from the left.
GtkWidget* row(std::initializer_list<GtkWidget*> children, guint indent = 0)
{
    GtkWidget* box = gtk_hbox_new(FALSE, 3);
    for (GtkWidget* child : children)
        gtk_box_pack_start(GTK_BOX(box), child, FALSE, FALSE, 0);
    GtkWidget* aligned = gtk_alignment_new(0, 0, 0, 0);
    gtk_alignment_set_padding(GTK_ALIGNMENT(aligned), 0, 0, indent, 0);
    gtk_container_add(GTK_CONTAINER(aligned), box);
    return aligned;
}

GtkWidget* framed(const char* title, std::initializer_list<GtkWidget*> rows)
{
    GtkWidget* box = gtk_vbox_new(FALSE, 2);
    gtk_container_set_border_width(GTK_CONTAINER(box), 4);
    for (GtkWidget* r : rows)
        gtk_box_pack_start(GTK_BOX(box), r, FALSE, FALSE, 0);
    GtkWidget* frame = gtk_frame_new(title);
    gtk_container_add(GTK_CONTAINER(frame), box);
    return frame;
}

// Only the fields of the chosen change and of the ticked selections can be
// filled; the offset row is the first change's.
void updateSensitivity()
{
    Reglages& r = reglages;
    bool offset = active(r.decaler);
    for (GtkWidget* w : {r.ajouter, r.retirer, h, m, s, ms})
        gtk_widget_set_sensitive(w, offset);
    gtk_widget_set_sensitive(r.to, active(r.commencer));
    for (int i = 0; i < 2; ++i) {
        gtk_widget_set_sensitive(r.shown[i], active(r.synchroniser));
        gtk_widget_set_sensitive(r.heard[i], active(r.synchroniser));
    }
    gtk_widget_set_sensitive(r.fpsFrom, active(r.convertir));
    gtk_widget_set_sensitive(r.fpsTo, active(r.convertir));
    gtk_widget_set_sensitive(r.from, active(r.aPartirDe));
    gtk_widget_set_sensitive(r.until, active(r.avant));
    gtk_widget_set_sensitive(r.firstCue, active(r.du));
    gtk_widget_set_sensitive(r.lastCue, active(r.du));
}

void change_toggled(GtkWidget*, gpointer)
{
    updateSensitivity();
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
    g_signal_handlers_unblock_by_func(check, reinterpret_cast<gpointer>(selection_toggled), nullptr);
}

// "Tous" is ticked exactly when no other selection is.
void selection_toggled(GtkWidget*, gpointer)
{
    Reglages& r = reglages;
    setQuietly(r.tous, !(active(r.aPartirDe) || active(r.avant) || active(r.du)));
    updateSensitivity();
}

void tous_toggled(GtkWidget*, gpointer)
{
    Reglages& r = reglages;
    bool others = active(r.aPartirDe) || active(r.avant) || active(r.du);
    if (active(r.tous)) {
        for (GtkWidget* check : {r.aPartirDe, r.avant, r.du})
            setQuietly(check, false);
    } else if (!others) {
        setQuietly(r.tous, true);  // every line, until another choice is made
    }
    updateSensitivity();
}

// The two cue numbers follow each other, so that the range is never empty.
void cue_changed(GtkWidget* spin, gpointer)
{
    GtkSpinButton* first = GTK_SPIN_BUTTON(reglages.firstCue);
    GtkSpinButton* last = GTK_SPIN_BUTTON(reglages.lastCue);
    double a = gtk_spin_button_get_value(first), b = gtk_spin_button_get_value(last);
    if (a > b)
        gtk_spin_button_set_value(spin == reglages.firstCue ? last : first,
                                  spin == reglages.firstCue ? a : b);
}

GtkWidget* changeFrame()
{
    Reglages& r = reglages;
    r.decaler = gtk_radio_button_new_with_label(nullptr, "Décaler de la durée ci-dessus");
    auto radio = [&](const char* label) {
        GtkWidget* b = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(r.decaler), label);
        g_signal_connect(b, "toggled", G_CALLBACK(change_toggled), nullptr);
        return b;
    };
    r.commencer = radio("Faire commencer le premier sous-titre concerné à");
    r.to = timeField("Faire commencer le premier sous-titre concerné à");
    r.synchroniser = radio("Synchroniser sur deux repères");
    const char* shownNames[] = {"affiché à (repère 1)", "affiché à (repère 2)"};
    const char* heardNames[] = {"entendu à (repère 1)", "entendu à (repère 2)"};
    GtkWidget* points[2];
    for (int i = 0; i < 2; ++i) {
        r.shown[i] = timeField(shownNames[i]);
        r.heard[i] = timeField(heardNames[i]);
        points[i] = row({labelFor("affiché à", r.shown[i]), r.shown[i],
                         labelFor("entendu à", r.heard[i]), r.heard[i]},
                        24);
    }
    r.convertir = radio("Convertir la fréquence d'images");
    r.fpsFrom = rateField("de");
    r.fpsTo = rateField("à");
    // The arrow keys go from one change to the next in the order of their
    // centres, left to right first: as wide as each other, they go top down.
    GtkSizeGroup* same = gtk_size_group_new(GTK_SIZE_GROUP_HORIZONTAL);
    for (GtkWidget* b : {r.decaler, r.commencer, r.synchroniser, r.convertir}) {
        gtk_size_group_add_widget(same, b);
        gtk_button_set_alignment(GTK_BUTTON(b), 0, 0.5);
    }
    g_object_unref(same);  // held by its widgets
    return framed("Changement", {row({r.decaler}), row({r.commencer, r.to}), row({r.synchroniser}),
                                 points[0], points[1], row({r.convertir}),
                                 row({labelFor("de", r.fpsFrom), r.fpsFrom, labelFor("à", r.fpsTo),
                                      r.fpsTo},
                                     24)});
}

GtkWidget* selectionFrame()
{
    Reglages& r = reglages;
    r.tous = gtk_check_button_new_with_label("Tous");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r.tous), TRUE);
    g_signal_connect(r.tous, "toggled", G_CALLBACK(tous_toggled), nullptr);
    auto check = [](const char* label) {
        GtkWidget* b = gtk_check_button_new_with_label(label);
        g_signal_connect(b, "toggled", G_CALLBACK(selection_toggled), nullptr);
        return b;
    };
    r.aPartirDe = check("À partir de");
    r.from = timeField("À partir de");
    r.avant = check("Avant");
    r.until = timeField("Avant");
    r.du = check("Du n°");
    r.firstCue = cueField("Du n°", 1);
    r.lastCue = cueField("au n°", LastCueShown);
    for (GtkWidget* spin : {r.firstCue, r.lastCue})
        g_signal_connect(spin, "value-changed", G_CALLBACK(cue_changed), nullptr);
    return framed("Sous-titres concernés",
                  {row({r.tous}), row({r.aPartirDe, r.from}), row({r.avant, r.until}),
                   row({r.du, r.firstCue, labelFor("au n°", r.lastCue), r.lastCue})});
}

// "," or "." typed in "Seconde(s)": what follows goes into "Milliseconde(s)"
// as the digits of a fraction ("1,5" is 1 s and 500 ms).
void seconds_insert_text(GtkEditable* editable, gchar* typed, gint length, gint* position, gpointer)
{
    std::string t(typed, length < 0 ? std::strlen(typed) : std::size_t(length));
    std::size_t mark = t.find_first_of(",.");
    if (mark == std::string::npos)
        return;
    g_signal_stop_emission_by_name(editable, "insert-text");
    if (mark > 0) {
        // Through the spin button's own filter: digits only.
        g_signal_handlers_block_by_func(editable, reinterpret_cast<gpointer>(seconds_insert_text),
                                        nullptr);
        gtk_editable_insert_text(editable, t.c_str(), gint(mark), position);
        g_signal_handlers_unblock_by_func(editable, reinterpret_cast<gpointer>(seconds_insert_text),
                                          nullptr);
    }
    gtk_widget_grab_focus(ms);
    g_object_set_data(G_OBJECT(ms), FractionKey, GINT_TO_POINTER(1));
    gtk_entry_set_text(GTK_ENTRY(ms), "");
    gint at = 0;
    gtk_editable_insert_text(GTK_EDITABLE(ms), t.c_str() + mark + 1, gint(t.size() - mark - 1), &at);
    gtk_editable_set_position(GTK_EDITABLE(ms), -1);
}

// After a comma, at most three digits: a fourth is not taken, as a letter
// is not.
void milliseconds_insert_text(GtkEditable* editable, gchar* typed, gint length, gint* position,
                              gpointer)
{
    if (!g_object_get_data(G_OBJECT(editable), FractionKey))
        return;
    // Typing over a selection deletes it first.
    std::string now = gtk_entry_get_text(GTK_ENTRY(editable));
    now.insert(std::min(now.size(), std::size_t(*position)),
               std::string(typed, length < 0 ? std::strlen(typed) : std::size_t(length)));
    int unused = 0;
    if (!parseFraction(now, &unused))
        g_signal_stop_emission_by_name(editable, "insert-text");
}

// The digits typed after a comma, taken in as a fraction of a second.
gint milliseconds_input(GtkSpinButton* spin, gdouble* value, gpointer)
{
    if (!g_object_get_data(G_OBJECT(spin), FractionKey))
        return FALSE;
    g_object_set_data(G_OBJECT(spin), FractionKey, nullptr);
    int fraction = 0;
    if (!parseFraction(gtk_entry_get_text(GTK_ENTRY(spin)), &fraction))
        return GTK_INPUT_ERROR;
    *value = fraction;
    return TRUE;
}

// Once the value shows in the field (the arrows, a value set), what it shows
// is no fraction any more.
void milliseconds_changed(GtkWidget* spin, gpointer)
{
    g_object_set_data(G_OBJECT(spin), FractionKey, nullptr);
}

ChangeForm readForm()
{
    Reglages& r = reglages;
    ChangeForm f;
    f.kind = active(r.commencer)      ? Kind::To
             : active(r.synchroniser) ? Kind::Sync
             : active(r.convertir)    ? Kind::Fps
                                      : Kind::Offset;
    f.offset = Shift{spinValue(h), spinValue(m), spinValue(s), spinValue(ms)};
    f.add = adri != 0;
    f.to = text(r.to);
    for (int i = 0; i < 2; ++i) {
        f.shown[i] = text(r.shown[i]);
        f.heard[i] = text(r.heard[i]);
    }
    f.fpsFrom = text(r.fpsFrom);
    f.fpsTo = text(r.fpsTo);
    f.byFrom = active(r.aPartirDe);
    f.from = text(r.from);
    f.byUntil = active(r.avant);
    f.until = text(r.until);
    f.byCues = active(r.du);
    f.firstCue = spinValue(r.firstCue);
    f.lastCue = spinValue(r.lastCue) >= LastCueShown ? NoLimit : spinValue(r.lastCue);
    return f;
}

GtkWidget* fieldOf(FormField f)
{
    Reglages& r = reglages;
    switch (f) {
    case FormField::To: return r.to;
    case FormField::Shown1: return r.shown[0];
    case FormField::Heard1: return r.heard[0];
    case FormField::Shown2: return r.shown[1];
    case FormField::Heard2: return r.heard[1];
    case FormField::FpsFrom: return gtk_bin_get_child(GTK_BIN(r.fpsFrom));
    case FormField::FpsTo: return gtk_bin_get_child(GTK_BIN(r.fpsTo));
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
        gtk_widget_modify_base(entry, GTK_STATE_NORMAL, &pink);
        gtk_expander_set_expanded(GTK_EXPANDER(reglages.plus), TRUE);
        gtk_widget_grab_focus(entry);
    }
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), problemText(e.problem).c_str());
    g_object_set_data(G_OBJECT(bar), ProblemKey, GINT_TO_POINTER(1));
}

// Its Alt key gives the expander the keyboard as well as opening it, so that
// Tab then goes into it.
gboolean plus_mnemonic_activate(GtkWidget* expander, gboolean, gpointer)
{
    gtk_widget_grab_focus(expander);
    return FALSE;
}

}  // namespace

GtkWidget* buildReglages()
{
    Reglages& r = reglages;
    // Opened, its content is there at once: the key typed next goes into
    // it, not past it, however fast it comes.
    g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
    r.plus = gtk_expander_new(PlusLabel);
    GtkWidget* box = gtk_vbox_new(FALSE, 3);
    gtk_box_pack_start(GTK_BOX(box), changeFrame(), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), selectionFrame(), FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(r.plus), box);
    g_signal_connect(r.plus, "mnemonic-activate", G_CALLBACK(plus_mnemonic_activate), nullptr);
    gtk_widget_show_all(box);
    updateSensitivity();

    g_signal_connect(s, "insert-text", G_CALLBACK(seconds_insert_text), nullptr);
    g_signal_connect(ms, "insert-text", G_CALLBACK(milliseconds_insert_text), nullptr);
    g_signal_connect(ms, "input", G_CALLBACK(milliseconds_input), nullptr);
    g_signal_connect(ms, "value-changed", G_CALLBACK(milliseconds_changed), nullptr);
    return r.plus;
}

bool readChange(ShiftOptions* options)
{
    for (FormField f : {FormField::To, FormField::Shown1, FormField::Heard1, FormField::Shown2,
                        FormField::Heard2, FormField::FpsFrom, FormField::FpsTo, FormField::From,
                        FormField::Until, FormField::Cues})
        unmark(fieldOf(f), nullptr);
    FormError e = buildChange(readForm(), options);
    if (e.problem != FormProblem::None) {
        showProblem(e);
        return false;
    }
    // A problem the bar showed is mended.
    if (g_object_get_data(G_OBJECT(bar), ProblemKey)) {
        g_object_set_data(G_OBJECT(bar), ProblemKey, nullptr);
        gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), WaitingText);
    }
    return true;
}

bool showChange(const Retiming& retiming, const Selection& selection)
{
    ChangeForm f;
    if (!formOf(retiming, selection, &f))
        return false;
    Reglages& r = reglages;
    GtkWidget* kinds[] = {r.decaler, r.commencer, r.synchroniser, r.convertir};
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(kinds[int(f.kind)]), TRUE);
    if (f.kind == Kind::Offset) {
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(f.add ? r.ajouter : r.retirer), TRUE);
        const int values[] = {f.offset.h, f.offset.m, f.offset.s, f.offset.ms};
        GtkWidget* spins[] = {h, m, s, ms};
        for (int i = 0; i < 4; ++i)
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(spins[i]), values[i]);
        milliseconds_changed(ms, nullptr);
    }
    // The fields of the other changes, and of the selections not made, keep
    // what they hold.
    if (f.kind == Kind::To)
        setText(r.to, f.to);
    for (int i = 0; i < 2 && f.kind == Kind::Sync; ++i) {
        setText(r.shown[i], f.shown[i]);
        setText(r.heard[i], f.heard[i]);
    }
    if (f.kind == Kind::Fps) {
        setText(r.fpsFrom, f.fpsFrom);
        setText(r.fpsTo, f.fpsTo);
    }
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r.aPartirDe), f.byFrom);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r.avant), f.byUntil);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(r.du), f.byCues);
    if (f.byFrom)
        setText(r.from, f.from);
    if (f.byUntil)
        setText(r.until, f.until);
    if (f.byCues) {
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(r.lastCue), double(f.lastCue));
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(r.firstCue), double(f.firstCue));
    }
    return true;
}

}  // namespace chronelle::ui
