// The JSON summary of --json: one object on stdout at every ending.
#include "cli/cli.h"

#include <cstdarg>
#include <cstdio>

namespace {

const char *outcome_of(int exit_status)
{
    switch (exit_status) {
    case CLI_EXIT_OK:
    case CLI_EXIT_SECTOR_ERRORS:
        return "succeeded";
    case CLI_EXIT_INTERRUPTED:
        return "interrupted";
    default:
        return "failed";
    }
}

// json-glib writes a double in its shortest form ("0.0", "1.2"); the
// seconds keep their three decimals, so the top level is written member by
// member, every value but that one through the generator.
std::string object_text(JsonObject *object)
{
    std::string out = "{";
    GList *names = json_object_get_members(object);
    for (GList *l = names; l; l = l->next) {
        const char *name = static_cast<const char *>(l->data);
        JsonNode *key = json_node_init_string(json_node_alloc(), name);
        gchar *key_text = json_to_string(key, FALSE);
        json_node_unref(key);
        out += (l == names ? "" : ",") + std::string(key_text) + ":";
        g_free(key_text);
        JsonNode *value = json_object_get_member(object, name);
        if (JSON_NODE_HOLDS_VALUE(value) && json_node_get_value_type(value) == G_TYPE_DOUBLE) {
            char number[G_ASCII_DTOSTR_BUF_SIZE];
            out += g_ascii_formatd(number, sizeof number, "%.3f", json_node_get_double(value));
        } else {
            gchar *text = json_to_string(value, FALSE);
            out += text;
            g_free(text);
        }
    }
    g_list_free(names);
    return out + "}";
}

}  // namespace

JsonBuilder *cli_json_members(void)
{
    JsonBuilder *b = json_builder_new();
    json_builder_begin_object(b);
    return b;
}

void cli_json_add_int(JsonBuilder *b, const char *name, gint64 value)
{
    json_builder_set_member_name(b, name);
    json_builder_add_int_value(b, value);
}

void cli_json_add_bool(JsonBuilder *b, const char *name, bool value)
{
    json_builder_set_member_name(b, name);
    json_builder_add_boolean_value(b, value);
}

void cli_json_add_text(JsonBuilder *b, const char *name, const char *text)
{
    json_builder_set_member_name(b, name);
    cli_json_add_text_value(b, text);
}

void cli_json_add_text_value(JsonBuilder *b, const char *text)
{
    if (!text) {
        json_builder_add_null_value(b);
        return;
    }
    // Device texts may hold any byte; JSON wants valid UTF-8.
    gchar *valid = g_utf8_make_valid(text, -1);
    json_builder_add_string_value(b, valid);
    g_free(valid);
}

void cli_json_add_files(JsonBuilder *b, const char *name, const std::vector<std::string> &files)
{
    json_builder_set_member_name(b, name);
    json_builder_begin_array(b);
    for (const std::string &f : files) {
        gchar *shown = g_filename_display_name(f.c_str());
        json_builder_add_string_value(b, shown);
        g_free(shown);
    }
    json_builder_end_array(b);
}

void cli_json_print(const cli_args &args, const cli_terminal &terminal, JsonBuilder *members,
                    int exit_status, const std::vector<std::string> *files, const char *error)
{
    const engine_outcome &o = terminal.outcome;
    JsonBuilder *b = cli_json_members();
    cli_json_add_text(b, "command", args.subcommand.c_str());
    cli_json_add_text(b, "port", args.port.c_str());
    const char *outcome = outcome_of(exit_status);
    cli_json_add_text(b, "outcome", outcome);
    if (!error && terminal.finished && o.kind == ENGINE_FAILED)
        error = o.failure;
    if (error && strcmp(outcome, "failed") == 0)
        cli_json_add_text(b, "error", error);
    json_builder_set_member_name(b, "elapsed_seconds");
    json_builder_add_double_value(b, o.elapsed_seconds);
    cli_json_add_files(b, "files", files ? *files : terminal.files);
    if (members) {
        json_builder_end_object(members);
        JsonNode *root = json_builder_get_root(members);
        JsonObject *own = json_node_get_object(root);
        GList *names = json_object_get_members(own);
        for (GList *l = names; l; l = l->next) {
            const char *name = static_cast<const char *>(l->data);
            json_builder_set_member_name(b, name);
            json_builder_add_value(b, json_node_copy(json_object_get_member(own, name)));
        }
        g_list_free(names);
        json_node_unref(root);
        g_object_unref(members);
    }
    cli_json_add_int(b, "exit_status", exit_status);
    json_builder_end_object(b);
    JsonNode *root = json_builder_get_root(b);
    printf("%s\n", object_text(json_node_get_object(root)).c_str());
    fflush(stdout);
    json_node_unref(root);
    g_object_unref(b);
}

int cli_fail(const cli_args &args, int exit_status, const char *format, ...)
{
    va_list list;
    va_start(list, format);
    char *text = g_strdup_vprintf(format, list);
    va_end(list);
    cli_error("%s", text);
    if (args.json) {
        cli_terminal none = {false, false, {}, {}};
        cli_json_print(args, none, nullptr, exit_status, nullptr, text);
    }
    g_free(text);
    return exit_status;
}
