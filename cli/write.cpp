// write and update: an image onto a disk, the carried firmware onto the board.
#include "cli/cli.h"

#include "device/firmware.h"
#include "engine/input_file.h"
#include "engine/restore.h"
#include "engine/options.h"
#include "engine/update.h"
#include "engine/verify.h"
#include "image/d64.h"

#include <glib/gstdio.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

// What the terminal shows while the sectors go out.
struct write_view {
    cli_terminal terminal;
    bool bar;          // stderr is a terminal: one live line
    int track = 0;     // of the sector sent last
    int track_sent = 0;
    int sent = 0;
    int total = (int)(d64_base_size / 256);
};

void view_sector(void *user, int track, int, int, int)
{
    write_view *v = static_cast<write_view *>(user);
    if (track != v->track) {
        v->track = track;
        v->track_sent = 0;
    }
}

void view_progress(void *user, double)
{
    write_view *v = static_cast<write_view *>(user);
    v->sent++;
    v->track_sent++;
    bool track_done = v->track_sent == d64_sectors_of_track(v->track);
    if (v->bar) {
        const int width = 30;
        int filled = v->sent * width / v->total;
        fprintf(stderr, "\rWriting  track %2d/%d  sectors %3d/%d  [%s%s]", v->track, TRACKS,
                v->sent, v->total, std::string(filled, '#').c_str(),
                std::string(width - filled, '.').c_str());
        if (v->sent == v->total)
            fputc('\n', stderr);
    } else if (track_done) {
        fprintf(stderr, "Wrote track %d of %d (%d of %d sectors)\n", v->track, TRACKS, v->sent,
                v->total);
    }
}

void view_log_line(void *user, const char *line, int)
{
    write_view *v = static_cast<write_view *>(user);
    if (v->terminal.verbose)
        fputs(line, stderr);
}

void view_finished(void *user, const engine_outcome *outcome)
{
    write_view *v = static_cast<write_view *>(user);
    // A live line cut short by a failure or Ctrl+C ends before the message.
    if (v->bar && v->sent > 0 && v->sent < v->total)
        fputc('\n', stderr);
    v->terminal.finished = true;
    v->terminal.outcome = *outcome;
    v->terminal.outcome.files = nullptr;
    v->terminal.outcome.error_codes = nullptr;
}

// "t/s t/s ..." of a list of sectors.
std::string sector_list(const std::vector<std::pair<int, int>> &sectors)
{
    std::string text;
    for (const auto &ts : sectors)
        text += (text.empty() ? "" : " ") + std::to_string(ts.first) + "/" +
                std::to_string(ts.second);
    return text;
}

void add_sector_list(JsonBuilder *b, const char *name,
                     const std::vector<std::pair<int, int>> &sectors)
{
    json_builder_set_member_name(b, name);
    json_builder_begin_array(b);
    for (const auto &ts : sectors) {
        json_builder_begin_object(b);
        cli_json_add_int(b, "track", ts.first);
        cli_json_add_int(b, "sector", ts.second);
        json_builder_end_object(b);
    }
    json_builder_end_array(b);
}

// Reads the written disk back and compares it with the image; the exit
// status of the whole write.  *result gets what was compared (*compared
// tells whether anything was); the write's *outcome becomes the verify's
// when that did not succeed.
int verify_written_disk(const cli_args &args, const unsigned char *image,
                        engine_verify_result *result, bool *compared, engine_outcome *outcome)
{
    fprintf(stderr, "Verifying the disk in drive %d against the image\n", args.device);
    cli_terminal terminal = {args.verbose, false, {}, {}};
    engine_ui ui = cli_terminal_ui(&terminal);
    engine_verify_request request = {args.port.c_str(), args.device, image,
                                     args.retries >= 0 ? args.retries : options_sector_read_retries,
                                     options_retry_sectors_once_per_pass};
    engine_verify_disk(&ui, &request, result);
    *compared = terminal.finished && result->compared > 0;
    if (*compared && !args.json) {
        printf("verified: %d of %d sectors match\n", result->matching, result->compared);
        if (!result->differing.empty())
            printf("differ from the image: %s\n", sector_list(result->differing).c_str());
        if (!result->unreadable.empty())
            printf("could not be read: %s\n", sector_list(result->unreadable).c_str());
    }
    if (terminal.finished && terminal.outcome.kind == ENGINE_SUCCEEDED)
        return CLI_EXIT_OK;
    outcome->kind = terminal.finished ? terminal.outcome.kind : ENGINE_FAILED;
    outcome->failure = terminal.finished ? terminal.outcome.failure : "no outcome";
    if (outcome->kind == ENGINE_ABORTED) {
        cli_error("verify interrupted: the disk is written but not verified");
        return CLI_EXIT_INTERRUPTED;
    }
    if (*compared)
        cli_error("write: the disk in drive %d does not match the image", args.device);
    else
        cli_error("verify failed: %s; the disk is written but not verified",
                  terminal.finished && terminal.outcome.failure ? terminal.outcome.failure
                                                                : "no outcome");
    return CLI_EXIT_NOT_VERIFIED;
}

// The question on the terminal; anything but y or yes is no.
int ask_on_terminal(void *, engine_question, const char *text)
{
    fprintf(stderr, "%s [y/N] ", text);
    fflush(stderr);
    char answer[64];
    // Ctrl+C ends the read (the handler does not restart it): no.
    if (!fgets(answer, sizeof answer, stdin)) {
        fputc('\n', stderr);
        return 0;
    }
    g_strstrip(answer);
    return g_ascii_strcasecmp(answer, "y") == 0 || g_ascii_strcasecmp(answer, "yes") == 0;
}

int answer_yes(void *, engine_question, const char *)
{
    return 1;
}

}  // namespace

int cli_run_write(const cli_args &args)
{
    const char *path = args.operands[0].c_str();
    std::string image;
    long long file_size = 0;
    char *message = nullptr;
    // No image of either track count is larger: a larger file is refused unread.
    engine_input_result input =
        engine_read_input_file(path, 768 * 257, &image, &file_size, &message,
                               engine_abort_flag());
    if (input == ENGINE_INPUT_ABORTED) {
        cli_error("%s", message);
        g_free(message);
        return CLI_EXIT_INTERRUPTED;
    }
    if (input != ENGINE_INPUT_READ && input != ENGINE_INPUT_TOO_LARGE) {
        int status = cli_fail(args, CLI_EXIT_FAILED, "%s", message);
        g_free(message);
        return status;
    }
    g_free(message);
    const unsigned char *contents = (const unsigned char *)image.data();
    size_t length = input == ENGINE_INPUT_READ ? image.size() : (size_t)file_size;
    // Refusals come before the question: nothing to confirm then.
    int error_count = 0;
    engine_image_check check = input == ENGINE_INPUT_READ
                                   ? engine_restore_check_image(contents, length, &error_count)
                                   : ENGINE_IMAGE_WRONG_SIZE;
    if (check == ENGINE_IMAGE_WRONG_SIZE) {
        // The other build's sizes: 683 or 768 sectors, with or without error info.
        int other = TRACKS == 40 ? 35 : 40;
        size_t other_sectors = TRACKS == 40 ? 683 : 768;
        bool fits_other = length == other_sectors * 256 || length == other_sectors * 257;
        std::string hint = fits_other ? " (a " + std::to_string(other) +
                                            "-track image: use --tracks " +
                                            std::to_string(other) + ")"
                                      : "";
        return cli_fail(args, CLI_EXIT_FAILED,
                        "%s is no %d-track D64 image: %zu bytes, not %lld or %lld%s", path, TRACKS,
                        (size_t)length, (long long)d64_base_size,
                        (long long)(d64_base_size + d64_block_error_info_size), hint.c_str());
    }
    if (check == ENGINE_IMAGE_HAS_ERRORS) {
        return cli_fail(args, CLI_EXIT_FAILED,
                        "%s holds sectors that were not read correctly (%d with errors): only a "
                        "clean image is written",
                        path, error_count);
    }
    // A port that cannot work is told before the question, not after it.
    std::string problem = cli_port_problem(args.port);
    if (!problem.empty()) {
        return cli_fail(args, CLI_EXIT_FAILED, "cannot open %s: %s", cli_port_shown(args).c_str(),
                        problem.c_str());
    }
    if (!args.yes && !isatty(STDIN_FILENO)) {
        return cli_fail(args, CLI_EXIT_FAILED,
                        "not writing to the disk in drive %d: no terminal to ask on; add --yes",
                        args.device);
    }

    write_view view = {{args.verbose, false, {}, {}}, isatty(STDERR_FILENO) != 0};
    engine_ui ui = {};
    ui.user = &view;
    ui.sector_cell = view_sector;
    ui.progress = view_progress;
    ui.log_line = view_log_line;
    ui.finished = view_finished;
    ui.ask = args.yes ? answer_yes : ask_on_terminal;
    int written = 0;
    engine_write_request request = {args.port.c_str(), args.device, path, contents, length,
                                    &written};
    engine_write_image(&ui, &request);
    bool ok = view.terminal.finished && view.terminal.outcome.kind == ENGINE_SUCCEEDED;
    if (ok && !args.json)
        printf("Wrote %s to the disk in drive %d (%d sectors, %.1f s)\n", path, args.device,
               view.sent, view.terminal.outcome.elapsed_seconds);
    fflush(stdout);
    int status = cli_report_outcome(args, view.terminal, "write");
    if (!ok && written)
        cli_error("the disk in drive %d is now partly overwritten", args.device);
    engine_verify_result verified;
    bool compared = false;
    if (ok && !args.no_verify)
        status = verify_written_disk(args, contents, &verified, &compared,
                                     &view.terminal.outcome);
    if (args.json) {
        JsonBuilder *b = cli_json_members();
        cli_json_add_int(b, "drive", args.device);
        cli_json_add_text(b, "image", path);
        cli_json_add_int(b, "sectors_written", view.sent);
        cli_json_add_int(b, "sectors_total", view.total);
        json_builder_set_member_name(b, "verify");
        if (compared) {
            json_builder_begin_object(b);
            cli_json_add_int(b, "sectors", verified.compared);
            cli_json_add_int(b, "matching", verified.matching);
            add_sector_list(b, "differing", verified.differing);
            add_sector_list(b, "unreadable", verified.unreadable);
            json_builder_end_object(b);
        } else {
            json_builder_add_null_value(b);
        }
        cli_json_print(args, view.terminal, b, status);
    }
    fflush(stdout);
    return status;
}

// ---------------------------------------------------------------- update

namespace {

struct update_view {
    cli_terminal terminal;
    std::string bootloader_port;             // the port avrdude was pointed at
    std::vector<std::string> avrdude_lines;  // held back without -v
};

void update_log_line(void *user, const char *line, int)
{
    update_view *v = static_cast<update_view *>(user);
    const char prefix[] = "Bootloader port: ";
    if (g_str_has_prefix(line, prefix)) {
        // The wait for the bootloader is long: always said.
        fputs(line, stderr);
        v->bootloader_port = line + strlen(prefix);
        if (!v->bootloader_port.empty() && v->bootloader_port.back() == '\n')
            v->bootloader_port.pop_back();
    } else if (v->terminal.verbose) {
        fputs(line, stderr);
    } else {
        v->avrdude_lines.push_back(line);
    }
}

void update_finished(void *user, const engine_outcome *outcome)
{
    update_view *v = static_cast<update_view *>(user);
    v->terminal.finished = true;
    v->terminal.outcome = *outcome;
}

}  // namespace

int cli_run_update(const cli_args &args)
{
    engine_update_request request = {args.port.c_str(), args.bootloader_port.c_str(),
                                     args.hex.c_str(), true};
    if (engine_error problem = engine_update_problem(&request)) {
        if (problem == ENGINE_ERROR_NO_BOARD_FIRMWARE)
            return cli_fail(args, CLI_EXIT_USAGE,
                            "this build carries no board firmware, only a test image: "
                            "name the firmware file with --hex FILE");
        return cli_fail(args, CLI_EXIT_FAILED, "cannot flash %s: %s", args.hex.c_str(),
                        engine_error_text(problem));
    }
    std::string port_problem = cli_port_problem(args.port);
    if (!port_problem.empty())
        return cli_fail(args, CLI_EXIT_FAILED, "cannot open %s: %s", args.port.c_str(),
                        port_problem.c_str());
    if (!args.yes && !isatty(STDIN_FILENO))
        return cli_fail(args, CLI_EXIT_FAILED,
                        "not flashing the board: no terminal to ask on; add --yes");

    fprintf(stderr, "Resetting the board into its bootloader\n");
    update_view view = {{args.verbose, false, {}, {}}, {}, {}};
    engine_ui ui = {};
    ui.user = &view;
    ui.log_line = update_log_line;
    ui.finished = update_finished;
    ui.ask = args.yes ? answer_yes : ask_on_terminal;
    int ok = engine_update_firmware(&ui, &request);
    const engine_outcome &outcome = view.terminal.outcome;
    // Without -v avrdude's messages are shown only when it failed: they say why.
    if (!ok)
        for (const std::string &line : view.avrdude_lines)
            fputs(line.c_str(), stderr);
    int status = CLI_EXIT_FAILED;
    if (view.terminal.finished && outcome.kind == ENGINE_FAILED &&
        outcome.error == ENGINE_ERROR_NO_BOOTLOADER_PORT)
        cli_error("update failed: no bootloader port appeared; name it with "
                  "--bootloader-port PATH");
    else
        status = cli_report_outcome(args, view.terminal, "update");
    if (args.json) {
        JsonBuilder *b = cli_json_members();
        cli_json_add_text(b, "bootloader_port",
                          view.bootloader_port.empty() ? nullptr : view.bootloader_port.c_str());
        cli_json_add_text(b, "hex", args.hex.empty() ? nullptr : args.hex.c_str());
        cli_json_print(args, view.terminal, b, status);
    } else if (ok) {
        printf("Firmware updated\n");
    }
    fflush(stdout);
    return status;
}
