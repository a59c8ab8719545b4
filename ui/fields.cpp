// The fields of "Plus de réglages", made, read and set the same way: each
// one named for screen readers, its changes changes of a setting.
#include "fields.h"

#include "bar.h"
#include "texts.h"
#include "window.h"

namespace chronelle::ui {

namespace {

// A field of the form: its changes take away the mark of a value that could
// not be read, and are changes of a setting.
GtkWidget* field(GtkWidget* widget, const char* name, int width)
{
    GtkWidget* entry = entryOf(widget);
    gtk_entry_set_width_chars(GTK_ENTRY(entry), width);
    nameControl(entry, name);
    g_signal_connect(entry, "changed", G_CALLBACK(unmark), nullptr);
    g_signal_connect(entry, "changed", G_CALLBACK(setting_changed), nullptr);
    return widget;
}

// "jusqu'au n°" shows its highest value, the last subtitle, as "dernier",
// and takes that word, or a number.
gboolean last_output(GtkSpinButton* spin, gpointer)
{
    if (gtk_spin_button_get_value(spin) < highest(GTK_WIDGET(spin)))
        return FALSE;
    gtk_entry_set_text(GTK_ENTRY(spin), LastCueText);
    return TRUE;
}

gint last_input(GtkSpinButton* spin, gdouble* value, gpointer)
{
    const gchar* typed = gtk_entry_get_text(GTK_ENTRY(spin));
    if (g_ascii_strcasecmp(typed, LastCueText) == 0) {
        *value = highest(GTK_WIDGET(spin));
        return TRUE;
    }
    return FALSE;  // a number, as any spin button takes it
}

}  // namespace

bool active(GtkWidget* toggle) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggle)); }

GtkWidget* entryOf(GtkWidget* field)
{
    return GTK_IS_COMBO_BOX(field) ? gtk_bin_get_child(GTK_BIN(field)) : field;
}

std::string text(GtkWidget* field) { return gtk_entry_get_text(GTK_ENTRY(entryOf(field))); }

void setText(GtkWidget* field, const std::string& value)
{
    gtk_entry_set_text(GTK_ENTRY(entryOf(field)), value.c_str());
}

std::int64_t spinValue(GtkWidget* spin)
{
    // Takes in a value still being typed.
    gtk_spin_button_update(GTK_SPIN_BUTTON(spin));
    return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin));
}

double highest(GtkWidget* spin)
{
    return gtk_adjustment_get_upper(gtk_spin_button_get_adjustment(GTK_SPIN_BUTTON(spin)));
}

void unmark(GtkWidget* entry, gpointer)
{
    gtk_widget_modify_base(entry, GTK_STATE_NORMAL, nullptr);
}

GtkWidget* timeField(const char* name) { return field(gtk_entry_new(), name, 11); }

GtkWidget* rateField(const char* name, const char* value)
{
    GtkWidget* combo = gtk_combo_box_text_new_with_entry();
    for (const char* rate : {"23,976", "24", "25", "29,97", "30"})
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), rate);
    nameControl(combo, name);
    setText(combo, value);
    return field(combo, name, 7);
}

GtkWidget* numberField(const char* name, double value)
{
    GtkObject* adjustment = gtk_adjustment_new(value, 1, 1, 1, 10, 0);
    GtkWidget* spin = gtk_spin_button_new(GTK_ADJUSTMENT(adjustment), 1.0, 0);
    g_signal_connect(spin, "value-changed", G_CALLBACK(setting_changed), nullptr);
    return field(spin, name, 7);
}

GtkWidget* lastField(const char* name)
{
    GtkWidget* spin = numberField(name, 1);
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(spin), FALSE);
    g_signal_connect(spin, "output", G_CALLBACK(last_output), nullptr);
    g_signal_connect(spin, "input", G_CALLBACK(last_input), nullptr);
    return spin;
}

// A label with an underlined key that gives `target` the keyboard; screen
// readers give it as the target's label.
GtkWidget* labelFor(const char* text, GtkWidget* target)
{
    GtkWidget* l = gtk_label_new_with_mnemonic(text);
    gtk_label_set_mnemonic_widget(GTK_LABEL(l), target);
    return l;
}

// A row of the column, left to right, its children at their own width,
// `indent` pixels from the left.
GtkWidget* row(std::initializer_list<GtkWidget*> children, guint indent)
{
    GtkWidget* box = gtk_hbox_new(FALSE, 4);
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

// A field on or off with its label: the key a label underlines is then free
// for the fields that are on.
void enable(GtkWidget* field, bool on)
{
    gtk_widget_set_sensitive(field, on);
    GList* labels = gtk_widget_list_mnemonic_labels(entryOf(field));
    for (GList* l = labels; l; l = l->next)
        gtk_widget_set_sensitive(GTK_WIDGET(l->data), on);
    g_list_free(labels);
}

}  // namespace chronelle::ui
