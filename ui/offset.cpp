// The offset's fields as typed: checked as each character comes (typed or
// pasted alike), read whole when a field is left, carried upward.
#include "offset.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "bar.h"
#include "change.h"
#include "texts.h"
#include "window.h"

namespace chronelle::ui {

namespace {

// The four fields, the hours first.
GtkWidget* field(int i)
{
    GtkWidget* const four[4] = {h, m, s, ms};
    return four[i];
}

// A value was refused when its field was left, as when "Move It! " is
// clicked: that click does not go on with the value shown instead.
bool refused = false;

TypedOffset readFields()
{
    const std::string texts[4] = {
        gtk_entry_get_text(GTK_ENTRY(h)), gtk_entry_get_text(GTK_ENTRY(m)),
        gtk_entry_get_text(GTK_ENTRY(s)), gtk_entry_get_text(GTK_ENTRY(ms))};
    return readTyped(texts);
}

void offset_insert_text(GtkEditable* editable, gchar* typed, gint length, gint* position,
                        gpointer index)
{
    std::string t(typed, length < 0 ? std::strlen(typed) : std::size_t(length));
    // What the field would hold: it holds digits and a comma only, one byte
    // each, so that characters are bytes. A selection typed over is
    // already deleted.
    std::string would = gtk_entry_get_text(GTK_ENTRY(editable));
    would.insert(std::min(would.size(), std::size_t(*position)), t);
    TypedProblem problem = checkTyped(OffsetField(GPOINTER_TO_INT(index)), would);
    if (problem != TypedProblem::None) {
        g_signal_stop_emission_by_name(editable, "insert-text");
        gtk_widget_error_bell(GTK_WIDGET(editable));
        sayError(typedText(problem));
        return;
    }
    // Put in past the numeric spin button's own filter, which would drop a
    // decimal comma, and the digits after one, silently.
    g_signal_stop_emission_by_name(editable, "insert-text");
    g_signal_handlers_block_by_func(editable, reinterpret_cast<gpointer>(offset_insert_text),
                                    index);
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(editable), FALSE);
    gtk_editable_insert_text(editable, t.c_str(), gint(t.size()), position);
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(editable), TRUE);
    g_signal_handlers_unblock_by_func(editable, reinterpret_cast<gpointer>(offset_insert_text),
                                      index);
}

// The milliseconds show the fraction typed in the seconds as it is typed.
void seconds_changed(GtkEditable* editable, gpointer)
{
    int fraction = 0;
    if (typedFraction(gtk_entry_get_text(GTK_ENTRY(editable)), &fraction))
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(ms), fraction);
}

// A field left (or Return, or an arrow): the four read together and carried
// upward. Refused, the field shows again the value it had, and the bar says
// why; the value then does not change.
gint offset_input(GtkSpinButton* spin, gdouble* value, gpointer index)
{
    TypedOffset r = readFields();
    if (r.problem != TypedProblem::None) {
        sayError(typedText(r.problem));
        refused = true;
        *value = gtk_spin_button_get_value(spin);
        return TRUE;
    }
    const int parts[4] = {r.shift.h, r.shift.m, r.shift.s, r.shift.ms};
    for (int i = 0; i < 4; ++i)
        if (field(i) != GTK_WIDGET(spin))
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(field(i)), parts[i]);
    *value = parts[GPOINTER_TO_INT(index)];
    return TRUE;
}

}  // namespace

void watchOffset()
{
    for (int i = 0; i < 4; ++i) {
        g_signal_connect(field(i), "insert-text", G_CALLBACK(offset_insert_text),
                         GINT_TO_POINTER(i));
        g_signal_connect(field(i), "input", G_CALLBACK(offset_input), GINT_TO_POINTER(i));
    }
    g_signal_connect(s, "changed", G_CALLBACK(seconds_changed), nullptr);
}

bool takeOffset()
{
    bool refusedJustNow = refused && sayingError();
    refused = false;
    if (refusedJustNow)
        return false;
    TypedOffset r = readFields();
    if (r.problem != TypedProblem::None) {
        gtk_widget_grab_focus(field(int(r.field)));
        sayError(typedText(r.problem));
        return false;
    }
    for (int i = 0; i < 4; ++i)
        gtk_spin_button_update(GTK_SPIN_BUTTON(field(i)));
    return true;
}

}  // namespace chronelle::ui
