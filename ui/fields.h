// The fields of "Plus de réglages", made, read and set the same way: each
// one named for screen readers, its changes changes of a setting.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <initializer_list>
#include <string>

namespace chronelle::ui {

bool active(GtkWidget* toggle);

// The entry of a field: itself, or that of an editable combo box.
GtkWidget* entryOf(GtkWidget* field);
std::string text(GtkWidget* field);
void setText(GtkWidget* field, const std::string& value);

// A spin button's value, taking in what is still being typed; its highest.
std::int64_t spinValue(GtkWidget* spin);
double highest(GtkWidget* spin);

// Takes away the mark of a value that could not be read.
void unmark(GtkWidget* entry, gpointer);

// Fields named `name`: a time, a frame rate (an editable list of the usual
// ones, holding `value`), a number (from 1, as many as there are
// subtitles), and one whose highest number reads "dernier".
GtkWidget* timeField(const char* name);
GtkWidget* rateField(const char* name, const char* value);
GtkWidget* numberField(const char* name, double value);
GtkWidget* lastField(const char* name);

// A label with an underlined key that gives `target` the keyboard; screen
// readers give it as the target's label.
GtkWidget* labelFor(const char* text, GtkWidget* target);

// A row, left to right, its children at their own width, `indent` pixels
// from the left; rows in a frame.
GtkWidget* row(std::initializer_list<GtkWidget*> children, guint indent = 0);
GtkWidget* framed(const char* title, std::initializer_list<GtkWidget*> rows);

// A field on or off with its label: the key a label underlines is then free
// for the fields that are on.
void enable(GtkWidget* field, bool on);

}  // namespace chronelle::ui
