// The bar: its text ellipsized (a long one never widens the window, and
// shows whole as a tooltip), its name for screen readers, and the icon that
// tells an error from a success.
#include "bar.h"

#include "window.h"

namespace chronelle::ui {

namespace {

GtkWidget* errorIcon = nullptr;
int quiet = 0;

// The whole text as the tooltip, and as the bar's name for screen readers,
// so that they read the outcome there.
void bar_text_changed(GObject*, GParamSpec*, gpointer)
{
    const gchar* text = gtk_progress_bar_get_text(GTK_PROGRESS_BAR(bar));
    gtk_widget_set_tooltip_text(bar, text);
    nameControl(bar, text ? text : "");
}

void show(const std::string& text, double fraction, bool error)
{
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), text.c_str());
    if (fraction >= 0)
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), fraction);
    if (error)
        gtk_widget_show(errorIcon);
    else
        gtk_widget_hide(errorIcon);
}

}  // namespace

Quiet::Quiet() { ++quiet; }
Quiet::~Quiet() { --quiet; }

GtkWidget* buildBar()
{
    bar = gtk_progress_bar_new();
    // A fraction from the start: the bar's value can then be read by screen
    // readers before anything is done.
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), 0.0);
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), WaitingText);
    gtk_progress_bar_set_ellipsize(GTK_PROGRESS_BAR(bar), PANGO_ELLIPSIZE_END);
    g_signal_connect(bar, "notify::text", G_CALLBACK(bar_text_changed), nullptr);
    bar_text_changed(nullptr, nullptr, nullptr);
    errorIcon = gtk_image_new_from_stock(GTK_STOCK_DIALOG_ERROR, GTK_ICON_SIZE_MENU);
    GtkWidget* row = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(row), errorIcon, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), bar, TRUE, TRUE, 0);
    gtk_widget_show(bar);
    return row;
}

void sayWaiting() { show(WaitingText, 0.0, false); }

void say(const std::string& text, double fraction) { show(text, fraction, false); }

void sayError(const std::string& text) { show(text, -1, true); }

bool sayingError() { return gtk_widget_get_visible(errorIcon); }

void settingChanged()
{
    if (quiet == 0)
        sayWaiting();
}

void setting_changed(GtkWidget*, gpointer) { settingChanged(); }

}  // namespace chronelle::ui
