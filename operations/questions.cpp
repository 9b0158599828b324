#include "operations/questions.h"

#include <glib.h>

#include "app/operation.h"
#include "ui/dialogs.h"

namespace {

struct pending_question {
    const char *text;
    int answer = -1;
    GMutex lock;
    GCond answered;
};

gboolean idle_ask(gpointer data)
{
    auto *q = static_cast<pending_question *>(data);
    gchar *markup = g_markup_escape_text(q->text, -1);
    int yes = get_user_confirmation(markup) ? 1 : 0;
    g_free(markup);
    g_mutex_lock(&q->lock);
    q->answer = yes;
    g_cond_signal(&q->answered);
    g_mutex_unlock(&q->lock);
    return FALSE;
}

}  // namespace

int questions_ask_from_worker(void *, engine_question, const char *text)
{
    pending_question q;
    q.text = text;
    g_mutex_init(&q.lock);
    g_cond_init(&q.answered);
    // Through the worker's ordered queue: the question comes after what the
    // job posted before it.
    operation_idle_add(idle_ask, &q);
    g_mutex_lock(&q.lock);
    while (q.answer < 0)
        g_cond_wait(&q.answered, &q.lock);
    g_mutex_unlock(&q.lock);
    g_cond_clear(&q.answered);
    g_mutex_clear(&q.lock);
    return q.answer;
}
