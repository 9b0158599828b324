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

// A refusal before the operation: one line on stderr, and with --json the
// summary object all the same, so that a script always gets one.
int refuse(const cli_args &args, const char *format, ...) G_GNUC_PRINTF(2, 3);
int refuse(const cli_args &args, const char *format, ...)
{
    va_list list;
    va_start(list, format);
    char *text = g_strdup_vprintf(format, list);
    va_end(list);
    cli_error("%s", text);
    if (args.json) {
        cli_terminal terminal = {false, true, {}, {}};
        terminal.outcome.kind = ENGINE_FAILED;
        terminal.outcome.failure = text;
        printf("%s}\n", cli_json_head(args, terminal).c_str());
        fflush(stdout);
    }
    g_free(text);
    return CLI_EXIT_FAILED;
}

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

std::string sector_list_json(const std::vector<std::pair<int, int>> &sectors)
{
    std::string text;
    for (const auto &ts : sectors)
        text += std::string(text.empty() ? "" : ",") + "{\"track\":" + std::to_string(ts.first) +
                ",\"sector\":" + std::to_string(ts.second) + "}";
    return "[" + text + "]";
}

// Reads the written disk back and compares it with the image; the exit
// status of the whole write.  *json gets the "verify" member's value; the
// write's *outcome becomes the verify's when that did not succeed.
int verify_written_disk(const cli_args &args, const unsigned char *image, std::string *json,
                        engine_outcome *outcome)
{
    fprintf(stderr, "Verifying the disk in drive %d against the image\n", args.device);
    cli_terminal terminal = {args.verbose, false, {}, {}};
    engine_ui ui = cli_terminal_ui(&terminal);
    engine_verify_request request = {args.port.c_str(), args.device, image,
                                     args.retries >= 0 ? args.retries : options_sector_read_retries,
                                     options_retry_sectors_once_per_pass};
    engine_verify_result result;
    engine_verify_disk(&ui, &request, &result);
    bool compared = terminal.finished && result.compared > 0;
    *json = !compared ? "null"
                      : "{\"sectors\":" + std::to_string(result.compared) +
                            ",\"matching\":" + std::to_string(result.matching) +
                            ",\"differing\":" + sector_list_json(result.differing) +
                            ",\"unreadable\":" + sector_list_json(result.unreadable) + "}";
    if (compared && !args.json) {
        printf("verified: %d of %d sectors match\n", result.matching, result.compared);
        if (!result.differing.empty())
            printf("differ from the image: %s\n", sector_list(result.differing).c_str());
        if (!result.unreadable.empty())
            printf("could not be read: %s\n", sector_list(result.unreadable).c_str());
    }
    if (terminal.finished && terminal.outcome.kind == ENGINE_SUCCEEDED)
        return CLI_EXIT_OK;
    outcome->kind = terminal.finished ? terminal.outcome.kind : ENGINE_FAILED;
    outcome->failure = terminal.finished ? terminal.outcome.failure : "no outcome";
    if (outcome->kind == ENGINE_ABORTED) {
        cli_error("verify interrupted: the disk is written but not verified");
        return CLI_EXIT_INTERRUPTED;
    }
    if (compared)
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
        int status = refuse(args, "%s", message);
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
        return refuse(args, "%s is no %d-track D64 image: %zu bytes, not %lld or %lld%s", path,
                      TRACKS, (size_t)length, (long long)d64_base_size,
                      (long long)(d64_base_size + d64_block_error_info_size), hint.c_str());
    }
    if (check == ENGINE_IMAGE_HAS_ERRORS) {
        return refuse(args,
                      "%s holds sectors that were not read correctly (%d with errors): only a "
                      "clean image is written",
                      path, error_count);
    }
    // A port that cannot work is told before the question, not after it.
    std::string problem = cli_port_problem(args.port);
    if (!problem.empty()) {
        return refuse(args, "cannot open %s: %s", args.port.c_str(), problem.c_str());
    }
    if (!args.yes && !isatty(STDIN_FILENO)) {
        return refuse(args,
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
    std::string verify_json = "null";
    if (ok && !args.no_verify)
        status = verify_written_disk(args, contents, &verify_json, &view.terminal.outcome);
    if (args.json)
        printf("%s,\"drive\":%d,\"image\":%s,\"sectors_written\":%d,\"sectors_total\":%d,"
               "\"verify\":%s,\"exit_status\":%d}\n",
               cli_json_head(args, view.terminal).c_str(), args.device,
               cli_json_string(path).c_str(), view.sent, view.total, verify_json.c_str(), status);
    fflush(stdout);
    return status;
}

// ---------------------------------------------------------------- update

namespace {

// A file that avrdude can read as Intel HEX: text records up to the end record.
bool looks_like_intel_hex(const std::string &text)
{
    size_t first = text.find_first_not_of(" \t\r\n");
    return first != std::string::npos && text[first] == ':' &&
           text.find(":00000001FF") != std::string::npos;
}

// The port avrdude was pointed at, from the engine's log line.
std::string used_bootloader_port;

void update_log_line(void *, const char *line, int)
{
    // Few lines, and the wait for the bootloader is long: always shown.
    fputs(line, stderr);
    const char prefix[] = "Bootloader port: ";
    if (g_str_has_prefix(line, prefix)) {
        used_bootloader_port = line + strlen(prefix);
        if (!used_bootloader_port.empty() && used_bootloader_port.back() == '\n')
            used_bootloader_port.pop_back();
    }
}

}  // namespace

int cli_run_update(const cli_args &args)
{
    // avrdude reads the image from its working folder under a plain name,
    // so a folder of our own keeps the user's folder clean.
    GError *error = nullptr;
    char *folder = g_dir_make_tmp("dravlen-update-XXXXXX", &error);
    if (!folder) {
        cli_error("cannot make a temporary folder: %s", error->message);
        g_error_free(error);
        return CLI_EXIT_FAILED;
    }
    char *image = g_build_filename(folder, firmware_file_name, nullptr);
    int status = CLI_EXIT_FAILED;
    bool ready = false;
    if (args.hex.empty()) {
        ready = firmware_save_firmware_in(folder);
        if (!ready)
            refuse(args, "cannot write the firmware image into %s", folder);
    } else {
        std::string text;
        long long size = 0;
        char *message = nullptr;
        // The board's flash is 32 KiB: its HEX text is some 90 KB.
        engine_input_result input =
            engine_read_input_file(args.hex.c_str(), 1 << 20, &text, &size, &message,
                                   engine_abort_flag());
        if (input == ENGINE_INPUT_ABORTED) {
            cli_error("%s", message);
            status = CLI_EXIT_INTERRUPTED;
        } else if (input != ENGINE_INPUT_READ) {
            refuse(args, "%s", message);
        } else if (!looks_like_intel_hex(text)) {
            refuse(args, "%s is no Intel HEX file", args.hex.c_str());
        } else if (!g_file_set_contents(image, text.data(), (gssize)text.size(), &error)) {
            refuse(args, "cannot copy %s: %s", args.hex.c_str(), error->message);
            g_clear_error(&error);
        } else {
            ready = true;
        }
        g_free(message);
    }

    if (ready) {
        fprintf(stderr, "Resetting the board into its bootloader\n");
        cli_terminal terminal = {args.verbose, false, {}, {}};
        engine_ui ui = cli_terminal_ui(&terminal);
        ui.log_line = update_log_line;
        engine_update_request request = {args.port.c_str(), args.bootloader_port.c_str(), folder,
                                         true};
        int ok = engine_update_firmware(&ui, &request);
        if (args.json) {
            printf("%s,\"bootloader_port\":%s,\"hex\":%s}\n",
                   cli_json_head(args, terminal).c_str(),
                   used_bootloader_port.empty()
                       ? "null"
                       : cli_json_string(used_bootloader_port.c_str()).c_str(),
                   args.hex.empty() ? "null" : cli_json_string(args.hex.c_str()).c_str());
        } else if (ok) {
            printf("Firmware updated\n");
        }
        fflush(stdout);
        if (terminal.finished && terminal.outcome.kind == ENGINE_FAILED &&
            terminal.outcome.failure == engine_text_no_bootloader_port) {
            cli_error("update failed: no bootloader port appeared; name it with "
                      "--bootloader-port PATH");
            status = CLI_EXIT_FAILED;
        } else {
            status = cli_report_outcome(args, terminal, "update");
        }
    }
    g_unlink(image);
    g_rmdir(folder);
    g_free(image);
    g_free(folder);
    return status;
}
