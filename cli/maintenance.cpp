// info, status, command, reset: the short device jobs.
#include "cli/cli.h"

#include "device/firmware.h"

#include <cstdio>

namespace {

// The members of a job on one drive: the drive, and its reply when it gave one.
JsonBuilder *drive_members(const cli_args &args)
{
    JsonBuilder *b = cli_json_members();
    cli_json_add_int(b, "drive", args.device);
    return b;
}

// The version `update` would flash (a build carrying only the test image
// has none).
std::string carried_firmware_version()
{
    return std::to_string(FIRMWARE_VERSION_MAJOR) + "." + std::to_string(FIRMWARE_VERSION_MINOR) +
           "." + std::to_string(FIRMWARE_VERSION_PATCH);
}

}  // namespace

int cli_run_info(const cli_args &args)
{
    cli_terminal terminal = {args.verbose, false, {}, {}};
    engine_ui ui = cli_terminal_ui(&terminal);
    engine_board_info info;
    engine_read_board_info(&ui, args.port.c_str(), &info);
    bool got_version = terminal.finished && info.version[0] && info.verdict[0];

    int exit_status = cli_report_outcome(args, terminal, "board info");
    if (args.json) {
        JsonBuilder *b = cli_json_members();
        if (got_version) {
            json_builder_set_member_name(b, "firmware");
            json_builder_begin_object(b);
            cli_json_add_text(b, "version", info.version);
            cli_json_add_text(b, "verdict", info.verdict);
            cli_json_add_text(b, "carried",
                              firmware_is_test_image ? nullptr : carried_firmware_version().c_str());
            json_builder_end_object(b);
            json_builder_set_member_name(b, "drives");
            json_builder_begin_array(b);
            for (int i = 0; i < 4; i++) {
                if (info.present[i] < 0)
                    continue;
                json_builder_begin_object(b);
                cli_json_add_int(b, "device", ENGINE_FIRST_DEVICE + i);
                cli_json_add_bool(b, "present", info.present[i] != 0);
                if (info.present[i])
                    cli_json_add_text(b, "status", info.status[i]);
                json_builder_end_object(b);
            }
            json_builder_end_array(b);
        }
        cli_json_print(args, terminal, b, exit_status);
    } else if (got_version) {
        printf("Port:      %s\n", args.port.c_str());
        printf("Firmware:  v%s (%s)\n", info.version, info.verdict);
        if (firmware_is_test_image)
            printf("Update:    this build carries no board firmware (update needs --hex FILE)\n");
        for (int i = 0; i < 4; i++) {
            if (info.present[i] < 0)
                continue;
            char label[16];
            g_snprintf(label, sizeof label, "Drive %d:", ENGINE_FIRST_DEVICE + i);
            printf("%-11s%s\n", label, info.present[i] ? info.status[i] : "not present");
        }
    }
    fflush(stdout);
    return exit_status;
}

int cli_run_status(const cli_args &args)
{
    cli_terminal terminal = {args.verbose, false, {}, {}};
    engine_ui ui = cli_terminal_ui(&terminal);
    char status[ENGINE_STATUS_SIZE];
    int ok = engine_read_drive_status(&ui, args.port.c_str(), args.device, status);
    int exit_status = cli_report_outcome(args, terminal, "status reading");
    if (args.json) {
        JsonBuilder *b = drive_members(args);
        if (ok)
            cli_json_add_text(b, "status", status);
        cli_json_print(args, terminal, b, exit_status);
    } else if (ok) {
        printf("%s\n", status);
    }
    fflush(stdout);
    return exit_status;
}

int cli_run_command(const cli_args &args)
{
    const std::string &text = args.operands[0];
    if (const char *problem = engine_drive_command_problem(text.c_str()))
        return cli_fail(args, CLI_EXIT_USAGE, "%s", problem);
    cli_terminal terminal = {args.verbose, false, {}, {}};
    engine_ui ui = cli_terminal_ui(&terminal);
    char status[ENGINE_STATUS_SIZE];
    engine_drive_command(&ui, args.port.c_str(), args.device, text.c_str(), status);
    // The drive took the command but refused it; its message says why.
    bool refused = terminal.finished && terminal.outcome.kind == ENGINE_FAILED && status[0];
    int exit_status = CLI_EXIT_FAILED;
    if (refused)
        cli_error("drive %d refused the command: %s", args.device, status);
    else
        exit_status = cli_report_outcome(args, terminal, "drive command");
    // The drive's answer is shown also when it refused the command: it says why.
    if (args.json) {
        JsonBuilder *b = drive_members(args);
        cli_json_add_text(b, "drive_command", text.c_str());
        if (status[0])
            cli_json_add_text(b, "status", status);
        cli_json_print(args, terminal, b, exit_status);
    } else if (status[0]) {
        printf("%s\n", status);
    }
    fflush(stdout);
    return exit_status;
}

int cli_run_reset(const cli_args &args)
{
    cli_terminal terminal = {args.verbose, false, {}, {}};
    engine_ui ui = cli_terminal_ui(&terminal);
    int ok = args.bus ? engine_reset_bus(&ui, args.port.c_str(), args.device)
                      : engine_reset_drive(&ui, args.port.c_str(), args.device);
    int exit_status = cli_report_outcome(args, terminal, args.bus ? "bus reset" : "drive reset");
    if (args.json) {
        JsonBuilder *b = drive_members(args);
        cli_json_add_bool(b, "bus", args.bus);
        cli_json_print(args, terminal, b, exit_status);
    } else if (ok && args.bus) {
        printf("Serial bus reset\n");
    } else if (ok) {
        printf("Drive %d reset\n", args.device);
    }
    fflush(stdout);
    return exit_status;
}
