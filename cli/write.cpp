// write and update: an image onto a disk, the carried firmware onto the board.
#include "cli/cli.h"

#include "device/firmware.h"
#include "engine/restore.h"
#include "engine/update.h"
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
    gchar *contents = nullptr;
    gsize length = 0;
    GError *error = nullptr;
    if (!g_file_get_contents(path, &contents, &length, &error)) {
        int status = cli_fail(args, CLI_EXIT_FAILED, "cannot read %s: %s", path, error->message);
        g_error_free(error);
        return status;
    }
    // Refusals come before the question: nothing to confirm then.
    int error_count = 0;
    engine_image_check check =
        engine_restore_check_image((const unsigned char *)contents, length, &error_count);
    if (check == ENGINE_IMAGE_WRONG_SIZE) {
        g_free(contents);
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
        g_free(contents);
        return cli_fail(args, CLI_EXIT_FAILED,
                        "%s holds sectors that were not read correctly (%d with errors): only a "
                        "clean image is written",
                        path, error_count);
    }
    // A port that cannot work is told before the question, not after it.
    std::string problem = cli_port_problem(args.port);
    if (!problem.empty()) {
        g_free(contents);
        return cli_fail(args, CLI_EXIT_FAILED, "cannot open %s: %s", cli_port_shown(args).c_str(),
                        problem.c_str());
    }
    if (!args.yes && !isatty(STDIN_FILENO)) {
        g_free(contents);
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
    engine_write_request request = {args.port.c_str(), args.device, path,
                                    (const unsigned char *)contents, length};
    engine_write_image(&ui, &request);
    g_free(contents);

    int exit_status = cli_report_outcome(args, view.terminal, "write");
    if (args.json) {
        JsonBuilder *b = cli_json_members();
        cli_json_add_int(b, "drive", args.device);
        cli_json_add_text(b, "image", path);
        cli_json_add_int(b, "sectors_written", view.sent);
        cli_json_add_int(b, "sectors_total", view.total);
        cli_json_print(args, view.terminal, b, exit_status);
    } else if (view.terminal.finished && view.terminal.outcome.kind == ENGINE_SUCCEEDED) {
        printf("Wrote %s to the disk in drive %d (%d sectors, %.1f s)\n", path, args.device,
               view.sent, view.terminal.outcome.elapsed_seconds);
    }
    fflush(stdout);
    return exit_status;
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
        int refused =
            cli_fail(args, CLI_EXIT_FAILED, "cannot make a temporary folder: %s", error->message);
        g_error_free(error);
        return refused;
    }
    char *image = g_build_filename(folder, firmware_file_name, nullptr);
    int status = CLI_EXIT_FAILED;
    bool ready = false;
    if (args.hex.empty()) {
        ready = firmware_save_firmware_in(folder);
        if (!ready)
            cli_fail(args, CLI_EXIT_FAILED, "cannot write the firmware image into %s", folder);
    } else {
        gchar *text = nullptr;
        gsize length = 0;
        if (!g_file_get_contents(args.hex.c_str(), &text, &length, &error)) {
            cli_fail(args, CLI_EXIT_FAILED, "cannot read %s: %s", args.hex.c_str(), error->message);
            g_clear_error(&error);
        } else if (!looks_like_intel_hex(std::string(text, length))) {
            cli_fail(args, CLI_EXIT_FAILED, "%s is no Intel HEX file", args.hex.c_str());
        } else if (!g_file_set_contents(image, text, (gssize)length, &error)) {
            cli_fail(args, CLI_EXIT_FAILED, "cannot copy %s: %s", args.hex.c_str(), error->message);
            g_clear_error(&error);
        } else {
            ready = true;
        }
        g_free(text);
    }

    if (ready) {
        fprintf(stderr, "Resetting the board into its bootloader\n");
        cli_terminal terminal = {args.verbose, false, {}, {}};
        engine_ui ui = cli_terminal_ui(&terminal);
        ui.log_line = update_log_line;
        engine_update_request request = {args.port.c_str(), args.bootloader_port.c_str(), folder,
                                         true};
        int ok = engine_update_firmware(&ui, &request);
        if (terminal.finished && terminal.outcome.kind == ENGINE_FAILED &&
            terminal.outcome.failure == engine_text_no_bootloader_port) {
            cli_error("update failed: no bootloader port appeared; name it with "
                      "--bootloader-port PATH");
            status = CLI_EXIT_FAILED;
        } else {
            status = cli_report_outcome(args, terminal, "update");
        }
        if (args.json) {
            JsonBuilder *b = cli_json_members();
            cli_json_add_text(b, "bootloader_port",
                              used_bootloader_port.empty() ? nullptr : used_bootloader_port.c_str());
            cli_json_add_text(b, "hex", args.hex.empty() ? nullptr : args.hex.c_str());
            cli_json_print(args, terminal, b, status);
        } else if (ok) {
            printf("Firmware updated\n");
        }
        fflush(stdout);
    }
    g_unlink(image);
    g_rmdir(folder);
    g_free(image);
    g_free(folder);
    return status;
}
