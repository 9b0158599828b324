// dravlen: argument parsing, settings, Ctrl+C and the exit status.
#include "cli/cli.h"

#include "engine/options.h"
#include "image/d64.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>
#include "version.h"

namespace {

// Ctrl+C is Abort: the engine's waits end within 50 ms, the operation closes
// the port, removes its temporary files and reports "aborted".  SIGTERM and
// SIGHUP (a closed terminal, a service stopped) end a job the same way, so
// they too leave no temporary file behind.  A read keeps what it read when
// stopped; a second one tells it to keep nothing; a third ends the program
// at once.
std::atomic<int> stop_signals{0};

void on_stop_signal(int signal_number)
{
    engine_request_abort();
    if (stop_signals.fetch_add(1, std::memory_order_relaxed) >= 1) {
        struct sigaction fallback = {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        sigaction(signal_number, &fallback, nullptr);
    }
}

void install_stop_signal_handlers(void)
{
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal_number, &action, nullptr);
    // A file size limit makes a write fail as a full disk does, rather than
    // end the program with a temporary file left behind.
    signal(SIGXFSZ, SIG_IGN);
}

// "--name=value" or "--name value"; 0 with a usage error when it is missing.
int option_value(int argc, char **argv, int *i, const char *arg, const char *name,
                 std::string *value)
{
    size_t n = strlen(name);
    if (arg[n] == '=') {
        *value = arg + n + 1;
        return 1;
    }
    if (*i + 1 >= argc) {
        cli_error("option %s needs a value", name);
        return 0;
    }
    *value = argv[++*i];
    return 1;
}

bool is_option(const char *arg, const char *name)
{
    size_t n = strlen(name);
    return strncmp(arg, name, n) == 0 && (arg[n] == 0 || arg[n] == '=');
}

// Runs the sibling build for the other track count, with the same arguments.
int run_other_build(int tracks, char **argv)
{
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        cli_error("cannot find this program's folder");
        return CLI_EXIT_FAILED;
    }
    self[n] = 0;
    char *dir = g_path_get_dirname(self);
    char *other = g_build_filename(dir, tracks == 40 ? "dravlen40" : "dravlen", nullptr);
    g_free(dir);
    execv(other, argv);
    cli_error("cannot run %s: %s", other, strerror(errno));
    g_free(other);
    return CLI_EXIT_FAILED;
}

// A whole number from low to high; 0 with a usage error line.
int number_value(const char *name, const std::string &value, int low, int high, int *out)
{
    char *end = nullptr;
    errno = 0;
    long n = strtol(value.c_str(), &end, 10);
    if (value.empty() || *end || errno == ERANGE || n < low || n > high) {
        cli_error("%s must be a number from %d to %d, not \"%s\"", name, low, high,
                  value.c_str());
        return 0;
    }
    *out = (int)n;
    return 1;
}

// The options of "read".  1 taken, 0 not one of them, -1 usage error.
int parse_read_option(int argc, char **argv, int *i, const char *a, cli_args *args)
{
    static const char *const with_value[] = {"--retries", "--max-errors", "--first-track",
                                             "--side", "--offset"};
    static const char *const flags[] = {"--pre-init", "--overwrite", "--md5", "--batch"};
    const char *name = nullptr;
    for (const char *n : with_value)
        if (is_option(a, n))
            name = n;
    for (const char *n : flags)
        if (strcmp(a, n) == 0)
            name = n;
    if (!name)
        return 0;
    if (args->read_option.empty())
        args->read_option = name;
    args->read_options.push_back(name);
    std::string value;
    if (strcmp(name, "--pre-init") == 0)
        args->pre_initialize = true;
    else if (strcmp(name, "--overwrite") == 0)
        args->overwrite = true;
    else if (strcmp(name, "--md5") == 0)
        args->md5 = true;
    else if (strcmp(name, "--batch") == 0)
        args->batch = true;
    else if (!option_value(argc, argv, i, a, name, &value))
        return -1;
    else if (strcmp(name, "--retries") == 0)
        return number_value(name, value, options_range_sector_read_retries.low,
                            options_range_sector_read_retries.high, &args->retries)
                   ? 1
                   : -1;
    else if (strcmp(name, "--max-errors") == 0)
        return number_value(name, value, options_range_max_sector_errors.low,
                            options_range_max_sector_errors.high, &args->max_errors)
                   ? 1
                   : -1;
    else if (strcmp(name, "--first-track") == 0)
        return number_value(name, value, options_range_outmost_track.low,
                            options_range_outmost_track.high, &args->first_track)
                   ? 1
                   : -1;
    else if (strcmp(name, "--offset") == 0)
        return number_value(name, value, 1, 9999, &args->offset) ? 1 : -1;
    else if (value == "a" || value == "A")
        args->side_b = 0;
    else if (value == "b" || value == "B")
        args->side_b = 1;
    else {
        cli_error("--side must be a or b, not \"%s\"", value.c_str());
        return -1;
    }
    return 1;
}

struct parse_result {
    bool help = false;
    bool version = false;
    bool drive_given = false;
    int tracks = TRACKS;
};

// 1 when the arguments are usable; 0 after a usage error line.
int parse(int argc, char **argv, cli_args *args, parse_result *result)
{
    bool options_done = false;
    bool bus_given = false;
    // Options that belong to some subcommands: the option and their names,
    // separated by spaces.
    std::vector<std::pair<std::string, std::string>> only_for;
    bool fast_given = false;
    bool overwrite_given = false;
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        std::string value;
        if (options_done || a[0] != '-' || strcmp(a, "-") == 0) {
            if (args->subcommand.empty())
                args->subcommand = a;
            else
                args->operands.push_back(a);
        } else if (strcmp(a, "--") == 0) {
            options_done = true;
        } else if (strcmp(a, "-h") == 0 || strcmp(a, "--help") == 0) {
            result->help = true;
        } else if (strcmp(a, "--version") == 0) {
            result->version = true;
        } else if (strcmp(a, "--json") == 0) {
            args->json = true;
        } else if (strcmp(a, "-v") == 0 || strcmp(a, "--verbose") == 0) {
            args->verbose = true;
        } else if (strcmp(a, "--bus") == 0) {
            args->bus = bus_given = true;
        } else if (strcmp(a, "--no-verify") == 0) {
            args->no_verify = true;
            only_for.push_back({a, "write"});
        } else if (strcmp(a, "-y") == 0 || strcmp(a, "--yes") == 0) {
            args->yes = true;
            only_for.push_back({a, "write update"});
        } else if (is_option(a, "--hex") || is_option(a, "--bootloader-port")) {
            bool hex = is_option(a, "--hex");
            std::string *target = hex ? &args->hex : &args->bootloader_port;
            if (!option_value(argc, argv, &i, a, hex ? "--hex" : "--bootloader-port", target))
                return 0;
            if (target->empty()) {
                cli_error("%s needs a file name", hex ? "--hex" : "--bootloader-port");
                return 0;
            }
            only_for.push_back({hex ? "--hex" : "--bootloader-port", "update"});
        } else if (strcmp(a, "--pattern") == 0) {
            args->pattern = true;
            only_for.push_back({a, "scratch"});
        } else if (strcmp(a, "--no-map") == 0) {
            args->no_map = true;
            only_for.push_back({a, "read dump reread"});
        } else if (strcmp(a, "--force") == 0) {
            args->force = true;
            only_for.push_back({a, "merge reread"});
        } else if (strcmp(a, "-o") == 0 || is_option(a, "--output")) {
            const char *name = strcmp(a, "-o") == 0 ? "-o" : "--output";
            if (!option_value(argc, argv, &i, a, name, &args->output))
                return 0;
            if (args->output.empty()) {
                cli_error("%s needs a file name", name);
                return 0;
            }
            only_for.push_back({name, "merge"});
        } else if (strcmp(a, "--fast") == 0) {
            args->fast = fast_given = true;
        } else if (strcmp(a, "--overwrite") == 0) {
            args->overwrite = overwrite_given = true;
        } else if (is_option(a, "--port")) {
            if (!option_value(argc, argv, &i, a, "--port", &args->port))
                return 0;
            if (args->port.empty()) {
                cli_error("--port needs a port name");
                return 0;
            }
            args->port_given = true;
        } else if (is_option(a, "--timeout")) {
            if (!option_value(argc, argv, &i, a, "--timeout", &value))
                return 0;
            char *end = nullptr;
            double seconds = g_ascii_strtod(value.c_str(), &end);
            if (value.empty() || *end || !(seconds >= 0.05 && seconds <= 3600)) {
                cli_error("--timeout needs seconds from 0.05 to 3600, not \"%s\"", value.c_str());
                return 0;
            }
            args->timeout = seconds;
        } else if (is_option(a, "--drive")) {
            if (!option_value(argc, argv, &i, a, "--drive", &value))
                return 0;
            if (value != "8" && value != "9" && value != "10" && value != "11") {
                cli_error("unknown drive \"%s\": use 8, 9, 10 or 11", value.c_str());
                return 0;
            }
            args->device = atoi(value.c_str());
            result->drive_given = true;
        } else if (int r = parse_read_option(argc, argv, &i, a, args); r != 0) {
            if (r < 0)
                return 0;
        } else if (is_option(a, "--tracks")) {
            if (!option_value(argc, argv, &i, a, "--tracks", &value))
                return 0;
            if (value.find('-') != std::string::npos) {
                if (!cli_parse_track_range(value, &args->range_first, &args->range_last))
                    return 0;
            } else if (value != "35" && value != "40") {
                cli_error("--tracks must be 35 or 40, or a range A-B, not \"%s\"", value.c_str());
                return 0;
            } else {
                result->tracks = atoi(value.c_str());
            }
        } else {
            cli_error("unknown option %s (see \"%s --help\")", a, cli_program_name);
            return 0;
        }
    }
    if (result->help || result->version)
        return 1;
    if (args->subcommand.empty()) {
        cli_error("no subcommand given (see \"%s --help\")", cli_program_name);
        return 0;
    }
    const cli_subcommand *sub = cli_find_subcommand(args->subcommand);
    if (!sub) {
        cli_error("unknown subcommand \"%s\" (see \"%s --help\")", args->subcommand.c_str(),
                  cli_program_name);
        return 0;
    }
    if (bus_given && !sub->takes_bus) {
        cli_error("%s does not take --bus", sub->name);
        return 0;
    }
    if (fast_given && !sub->takes_fast) {
        cli_error("%s does not take --fast", sub->name);
        return 0;
    }
    if (overwrite_given && !sub->takes_overwrite) {
        cli_error("%s does not take --overwrite", sub->name);
        return 0;
    }
    for (const auto &[option, owner] : only_for) {
        bool owned = false;
        gchar **owners = g_strsplit(owner.c_str(), " ", -1);
        for (gchar **o = owners; *o; o++)
            owned = owned || args->subcommand == *o;
        g_strfreev(owners);
        if (!owned) {
            cli_error("%s does not take %s", sub->name, option.c_str());
            return 0;
        }
    }
    for (const std::string &option : args->read_options)
        if (!cli_takes_read_option(args->subcommand, option)) {
            cli_error("%s does not take %s", sub->name, option.c_str());
            return 0;
        }
    if (args->range_first > 0 && args->subcommand != "reread") {
        cli_error("%s does not take a track range", sub->name);
        return 0;
    }
    if (args->batch && !args->operands.empty()) {
        cli_error("read --batch names its files itself: no FILE");
        return 0;
    }
    if (sub->offline && args->port_given) {
        cli_error("%s works on image files: no --port", sub->name);
        return 0;
    }
    if (sub->offline && args->subcommand == "merge" && args->output.empty()) {
        cli_error("merge needs -o OUT.d64");
        return 0;
    }
    if (result->drive_given && !sub->takes_drive) {
        cli_error("%s does not take --drive", sub->name);
        return 0;
    }
    int n = (int)args->operands.size();
    if (n < sub->min_operands) {
        cli_error("%s needs an argument (see \"%s %s --help\")", sub->name, cli_program_name,
                  sub->name);
        return 0;
    }
    if (n > sub->max_operands) {
        cli_error("%s: unexpected argument \"%s\"", sub->name,
                  args->operands[sub->max_operands].c_str());
        return 0;
    }
    return 1;
}

// Whether --json stands among the options (before any "--").
bool wants_json(int argc, char **argv)
{
    for (int i = 1; i < argc && strcmp(argv[i], "--") != 0; i++)
        if (strcmp(argv[i], "--json") == 0)
            return true;
    return false;
}

// Whether the window's settings file names a device port.
bool port_in_settings(const char *path)
{
    GKeyFile *kf = g_key_file_new();
    bool set = g_key_file_load_from_file(kf, path, G_KEY_FILE_NONE, nullptr) &&
               g_key_file_has_key(kf, "connection", "device_port", nullptr);
    g_key_file_free(kf);
    return set;
}

}  // namespace

int main(int argc, char **argv)
{
    cli_program_name = TRACKS == 40 ? "dravlen40" : "dravlen";
    d64_module_init();
    engine_clear_abort();
    install_stop_signal_handlers();

    cli_args args;
    parse_result result;
    if (!parse(argc, argv, &args, &result)) {
        // A script that asked for JSON gets it for a usage error too.
        if (wants_json(argc, argv)) {
            cli_terminal none = {false, false, {}, {}};
            cli_json_print(args, none, nullptr, CLI_EXIT_USAGE, nullptr,
                           "usage error (the line on standard error says which)");
        }
        return CLI_EXIT_USAGE;
    }
    if (result.tracks != TRACKS)
        return run_other_build(result.tracks, argv);
    if (result.version) {
        printf("%s %s (%d tracks)\n", cli_program_name, DRAVLEN_VERSION, TRACKS);
        return CLI_EXIT_OK;
    }
    if (result.help) {
        const cli_subcommand *sub =
            args.subcommand.empty() ? nullptr : cli_find_subcommand(args.subcommand);
        if (!args.subcommand.empty() && !sub) {
            cli_error("unknown subcommand \"%s\" (see \"%s --help\")", args.subcommand.c_str(),
                      cli_program_name);
            return CLI_EXIT_USAGE;
        }
        // The texts name the 35-track program; the 40-track one says its own name.
        std::string usage = sub ? sub->usage : cli_overview_usage();
        const std::string start = "Usage: dravlen ";
        if (strcmp(cli_program_name, "dravlen") != 0 && usage.compare(0, start.size(), start) == 0)
            usage = "Usage: " + std::string(cli_program_name) + usage.substr(start.size() - 1);
        fputs(usage.c_str(), stdout);
        return CLI_EXIT_OK;
    }

    // Image files need no board: no settings, no port.
    const cli_subcommand *sub = cli_find_subcommand(args.subcommand);
    if (sub->offline)
        return sub->run(args);

    // The GUI's settings give what the command line leaves open.
    char *options_path = engine_load_options_read_only();
    if (!args.port_given) {
        args.port = options_device_port_string ? options_device_port_string : "";
        // Neither --port nor the window's settings: the window's default
        // port, which failures name as such (and -v always).
        args.port_is_default = !args.port.empty() && !port_in_settings(options_path);
        if (args.port_is_default && args.verbose)
            fprintf(stderr, "%s: using %s\n", cli_program_name, cli_port_shown(args).c_str());
    }
    g_free(options_path);
    if (!result.drive_given)
        args.device = options_drive_index + 8;
    if (args.bootloader_port.empty() && options_bootloader_port_string)
        args.bootloader_port = options_bootloader_port_string;
    if (args.port.empty())
        return cli_fail(args, CLI_EXIT_USAGE, "no port set: use --port PATH");
    if (args.timeout > 0)
        engine_set_silence_limit(args.timeout);
    int status = sub->run(args);
    options_module_shutdown();
    return status;
}
