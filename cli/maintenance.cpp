// info, status, command, reset: the short device jobs.
#include "cli/cli.h"

#include "device/firmware.h"

#include <cstdio>

namespace {

// A drive reply on stdout, for JSON and text alike.
std::string json_status(const char *status)
{
    return std::string(",\"status\":") + cli_json_string(status);
}

std::string drive_member(const cli_args &args)
{
    return ",\"drive\":" + std::to_string(args.device);
}

// The version `update` would flash, or null when the build carries only the
// test image.
std::string carried_firmware_json()
{
    if (firmware_is_test_image)
        return "null";
    return "\"" + std::to_string(FIRMWARE_VERSION_MAJOR) + "." +
           std::to_string(FIRMWARE_VERSION_MINOR) + "." + std::to_string(FIRMWARE_VERSION_PATCH) +
           "\"";
}

}  // namespace

int cli_run_info(const cli_args &args)
{
    cli_terminal terminal = {args.verbose, false, {}, {}};
    engine_ui ui = cli_terminal_ui(&terminal);
    engine_board_info info;
    engine_read_board_info(&ui, args.port.c_str(), &info);
    bool got_version = terminal.finished && info.version[0] && info.verdict[0];

    if (args.json) {
        std::string out = cli_json_head(args, terminal);
        if (got_version) {
            out += ",\"firmware\":{\"version\":" + cli_json_string(info.version) +
                   ",\"verdict\":" + cli_json_string(info.verdict) + ",\"carried\":" +
                   carried_firmware_json() + "}";
            out += ",\"drives\":[";
            bool first = true;
            for (int i = 0; i < 4; i++) {
                if (info.present[i] < 0)
                    continue;
                out += first ? "" : ",";
                first = false;
                out += "{\"device\":" + std::to_string(ENGINE_FIRST_DEVICE + i) +
                       ",\"present\":" + (info.present[i] ? "true" : "false");
                if (info.present[i])
                    out += json_status(info.status[i]);
                out += "}";
            }
            out += "]";
        }
        printf("%s}\n", out.c_str());
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
    return cli_report_outcome(args, terminal, "board info");
}

int cli_run_status(const cli_args &args)
{
    cli_terminal terminal = {args.verbose, false, {}, {}};
    engine_ui ui = cli_terminal_ui(&terminal);
    char status[ENGINE_STATUS_SIZE];
    int ok = engine_read_drive_status(&ui, args.port.c_str(), args.device, status);
    if (args.json)
        printf("%s%s%s}\n", cli_json_head(args, terminal).c_str(), drive_member(args).c_str(),
               ok ? json_status(status).c_str() : "");
    else if (ok)
        printf("%s\n", status);
    fflush(stdout);
    return cli_report_outcome(args, terminal, "status reading");
}

int cli_run_command(const cli_args &args)
{
    const std::string &text = args.operands[0];
    if (const char *problem = engine_drive_command_problem(text.c_str())) {
        cli_error("%s", problem);
        return CLI_EXIT_USAGE;
    }
    cli_terminal terminal = {args.verbose, false, {}, {}};
    engine_ui ui = cli_terminal_ui(&terminal);
    char status[ENGINE_STATUS_SIZE];
    engine_drive_command(&ui, args.port.c_str(), args.device, text.c_str(), status);
    // The drive's answer is shown also when it refused the command: it says why.
    if (args.json)
        printf("%s%s,\"drive_command\":%s%s}\n", cli_json_head(args, terminal).c_str(),
               drive_member(args).c_str(), cli_json_string(text.c_str()).c_str(),
               status[0] ? json_status(status).c_str() : "");
    else if (status[0])
        printf("%s\n", status);
    fflush(stdout);
    if (terminal.finished && terminal.outcome.kind == ENGINE_FAILED && status[0]) {
        // The drive took the command but refused it; its message says why.
        cli_error("drive %d refused the command: %s", args.device, status);
        return CLI_EXIT_FAILED;
    }
    return cli_report_outcome(args, terminal, "drive command");
}

int cli_run_reset(const cli_args &args)
{
    cli_terminal terminal = {args.verbose, false, {}, {}};
    engine_ui ui = cli_terminal_ui(&terminal);
    int ok = args.bus ? engine_reset_bus(&ui, args.port.c_str(), args.device)
                      : engine_reset_drive(&ui, args.port.c_str(), args.device);
    if (args.json)
        printf("%s%s,\"bus\":%s}\n", cli_json_head(args, terminal).c_str(),
               drive_member(args).c_str(), args.bus ? "true" : "false");
    else if (ok && args.bus)
        printf("Serial bus reset\n");
    else if (ok)
        printf("Drive %d reset\n", args.device);
    fflush(stdout);
    return cli_report_outcome(args, terminal, args.bus ? "bus reset" : "drive reset");
}
