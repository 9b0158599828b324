#include "gui/windows/log.h"

#include <gtk/gtk.h>

#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"
#include "version.h"

GString *log_warpsave = nullptr;

void log_textview_append(const char *text)
{
    GtkWidget *view = lookup_widget(window_main, "textview_log");
    if (!view || !text)
        return;
    GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(buffer, &end);
    gtk_text_buffer_insert(buffer, &end, text, -1);
    // Keep the newest line in sight without moving the cursor of someone
    // typing notes into the view.
    GtkTextMark *mark = gtk_text_buffer_get_mark(buffer, "log_end");
    gtk_text_buffer_get_end_iter(buffer, &end);
    if (mark)
        gtk_text_buffer_move_mark(buffer, mark, &end);
    else
        mark = gtk_text_buffer_create_mark(buffer, "log_end", &end, FALSE);
    gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(view), mark);
}

void log_warpsave_new(int mode)
{
    // A log left over by a caller would otherwise leak.
    log_warpsave_delete();
    log_warpsave = g_string_new(nullptr);
    g_string_printf(log_warpsave, "Log file %s by Dravlen client " DRAVLEN_VERSION "\n",
                    mode == 1 ? "opened" : "created");
}

void log_warpsave_append(const char *text)
{
    if (log_warpsave && text)
        g_string_append(log_warpsave, text);
}

void log_warpsave_and_log_textview_append(const char *text)
{
    log_warpsave_append(text);
    log_textview_append(text);
}

const char *log_warpsave_get_str(void)
{
    return log_warpsave ? log_warpsave->str : "";
}

int log_warpsave_get_len(void)
{
    return log_warpsave ? (int)log_warpsave->len : 0;
}

void log_warpsave_delete(void)
{
    if (log_warpsave) {
        g_string_free(log_warpsave, TRUE);
        log_warpsave = nullptr;
    }
}

gboolean idle_log_warpsave_and_log_textview_append_and_free(gpointer text)
{
    log_warpsave_and_log_textview_append(static_cast<const char *>(text));
    g_free(text);
    return FALSE;
}
