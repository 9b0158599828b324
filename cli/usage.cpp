// The subcommand table and the help texts.
#include "cli/cli.h"

#include <cstring>

#define COMMON_OPTIONS                                                                  \
    "  --port PATH     the board's serial port (default: the port set in the\n"         \
    "                  Dravlen client's settings; they are only read, never written)\n" \
    "  --json          print one JSON summary object on stdout instead of text\n"       \
    "  -v, --verbose   also print the operation's log lines on stderr\n"               \
    "  --tracks 35|40  run the build for that track count (dravlen or dravlen40)\n"    \
    "  -h, --help      show this help and exit\n"

#define DRIVE_OPTION                                                                     \
    "  --drive N       the drive's device number, 8 to 11 (default: the drive\n"         \
    "                  selected in the Dravlen client)\n"

#define EXIT_STATUS                                                        \
    "\nExit status: 0 done; 1 failed; 2 usage error; 130 interrupted (Ctrl+C\n" \
    "aborts the operation and closes the port).\n"

const cli_subcommand cli_subcommands[] = {
    {"info", "show the port, the board's firmware version and the drives that answer",
     "Usage: dravlen info [OPTIONS]\n"
     "\n"
     "Shows the serial port used, the firmware version of the board with a\n"
     "verdict against the firmware this program carries (current, should upgrade,\n"
     "should downgrade), and which of the drives 8 to 11 answer on the serial bus,\n"
     "each with the message on its error channel.  Reading a drive's error\n"
     "channel clears it.\n"
     "\n"
     "Options:\n" COMMON_OPTIONS EXIT_STATUS,
     cli_run_info, 0, 0, false, false, false, false},
    {"status", "read a drive's error channel",
     "Usage: dravlen status [OPTIONS]\n"
     "\n"
     "Reads the error channel of the drive and prints its message as the drive\n"
     "sends it, for example \"00, OK,00,00\" or \"21,READ ERROR,18,00\".  Reading the\n"
     "channel clears it.\n"
     "\n"
     "Options:\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_status, 0, 0, true, false, false, false},
    {"command", "send a DOS command to a drive and print its answer",
     "Usage: dravlen command [OPTIONS] TEXT\n"
     "\n"
     "Sends TEXT to the drive as a DOS command over its command channel, then\n"
     "reads the drive's error channel and prints its message, also when the\n"
     "drive refused the command (the message then says why).  The drive reads\n"
     "the text as PETSCII, so DOS commands are written in capitals, for example\n"
     "\"I0\" (initialise), \"V0\" (validate) or \"S:NAME\" (scratch).  TEXT is one\n"
     "line without quotes.\n"
     "\n"
     "Options:\n" DRIVE_OPTION COMMON_OPTIONS
     "\nExit status: 0 done; 1 failed, also when the drive refused the command;\n"
     "2 usage error, also for a TEXT that cannot be sent; 130 interrupted.\n",
     cli_run_command, 1, 1, true, false, false, false},
    {"reset", "reset a drive, or the whole serial bus",
     "Usage: dravlen reset [OPTIONS] [--bus]\n"
     "\n"
     "Resets the drive, as after switching it on; its error channel then holds\n"
     "the DOS version message.  With --bus the board instead resets the whole\n"
     "serial bus by holding its reset line low for a moment, which resets every\n"
     "drive on it.\n"
     "\n"
     "Options:\n"
     "  --bus           reset the serial bus instead of one drive\n" DRIVE_OPTION COMMON_OPTIONS
         EXIT_STATUS,
     cli_run_reset, 0, 0, true, true, false, false},
    {"dir", "list the directory of the disk in a drive",
     "Usage: dravlen dir [OPTIONS]\n"
     "\n"
     "Initialises the disk in the drive and lists its directory as a C64 shows it\n"
     "after LOAD \"$\",8: the header line with the disk name and ID, one line per\n"
     "file with its size in blocks, its quoted name and its type (a \"*\" before\n"
     "the type marks a file that was never closed, a \"<\" after it a locked\n"
     "file), and the \"BLOCKS FREE.\" line.  PETSCII is shown as readable text:\n"
     "plain letters as capitals, shifted letters in lower case, other graphic\n"
     "characters as \"?\".  With --json the summary object holds disk_name,\n"
     "disk_id, entries (blocks, name, type, closed, locked) and blocks_free.\n"
     "\n"
     "Options:\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_dir, 0, 0, true, false, false, false},
    {"get", "copy a file from the disk to a PRG file",
     "Usage: dravlen get [OPTIONS] NAME [OUT.prg]\n"
     "\n"
     "Loads the file NAME from the disk in the drive and saves it, load address\n"
     "first, as OUT.prg.  Without OUT the file is saved in the current folder\n"
     "under NAME made fit for a file name, with the extension \".prg\".  NAME is\n"
     "the C64 name in capitals as \"dir\" lists it (at most 16 characters, no\n"
     "quote); the drive's wildcards \"*\" and \"?\" load the first file that\n"
     "matches.  An existing OUT is kept unless --overwrite is given.  The file is\n"
     "written only when the whole of it has arrived: an interrupted or failed\n"
     "transfer leaves no file behind.\n"
     "\n"
     "Options:\n"
     "  --overwrite     replace OUT if it exists\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_get, 1, 2, true, false, false, true},
    {"put", "write a PRG file to the disk",
     "Usage: dravlen put [OPTIONS] FILE.prg [NAME]\n"
     "\n"
     "Writes FILE.prg to the disk in the drive as a PRG file named NAME.\n"
     "Without NAME the C64 name is the file's name without its \".prg\"\n"
     "extension, cut to 16 characters.  NAME has at most 16 characters and no\n"
     "quote; write it in capitals to see capitals in the listing.  FILE must\n"
     "hold at least the 2 bytes of a load address and fit on a 35-track disk\n"
     "(168656 bytes).  The drive refuses a name that is already on the disk.\n"
     "\n"
     "Options:\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_put, 1, 2, true, false, false, false},
    {"scratch", "delete a file from the disk",
     "Usage: dravlen scratch [OPTIONS] NAME\n"
     "\n"
     "Deletes (scratches) the file NAME from the disk in the drive and prints\n"
     "the drive's message, for example \"01, FILES SCRATCHED,01,00\".  Wildcards\n"
     "are refused, so that one command deletes at most the file named.  A name\n"
     "that is not on the disk is reported as a failure.\n"
     "\n"
     "Options:\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_scratch, 1, 1, true, false, false, false},
    {"validate", "rebuild the disk's block allocation map",
     "Usage: dravlen validate [OPTIONS]\n"
     "\n"
     "Lets the drive validate the disk (\"V0\"): it rebuilds the block allocation\n"
     "map from the files in the directory, frees the blocks of files that were\n"
     "never closed and removes their entries.  Prints the drive's message.\n"
     "\n"
     "Options:\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_validate, 0, 0, true, false, false, false},
    {"format", "format the disk in a drive",
     "Usage: dravlen format [OPTIONS] NAME,ID\n"
     "\n"
     "Formats the disk in the drive with the disk name NAME (at most 16\n"
     "characters) and the ID (1 or 2 characters), for example \"GAMES,01\".\n"
     "Everything on the disk is lost; nothing is asked first.  The drive's own\n"
     "format is used, or with --fast the board's faster one, which formats as\n"
     "many tracks as this build images (35 for dravlen, 40 for dravlen40).\n"
     "Prints the drive's message.  Neither part may hold a quote or a comma.\n"
     "\n"
     "Options:\n"
     "  --fast          use the board's fast format\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_format, 1, 1, true, false, true, false},
    {"rom", "save the ROM of a 1541 or 1571 drive",
     "Usage: dravlen rom [OPTIONS] 1541|1571 OUT\n"
     "\n"
     "Reads the ROM of the drive and saves it as the PRG file OUT: for a 1541\n"
     "the 16 KiB from $C000 (16386 bytes with the load address), for a 1571 the\n"
     "32 KiB from $8000 (32770 bytes).  An existing OUT is kept unless\n"
     "--overwrite is given; an interrupted dump leaves no file behind.\n"
     "\n"
     "Options:\n"
     "  --overwrite     replace OUT if it exists\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_rom, 2, 2, true, false, false, true},
};
const int cli_subcommand_count = sizeof cli_subcommands / sizeof cli_subcommands[0];

const cli_subcommand *cli_find_subcommand(const std::string &name)
{
    for (const cli_subcommand &s : cli_subcommands)
        if (name == s.name)
            return &s;
    return nullptr;
}

std::string cli_overview_usage(void)
{
    std::string out =
        "Usage: dravlen [OPTIONS] SUBCOMMAND [ARGUMENTS]\n"
        "\n"
        "Runs the Dravlen board and the Commodore floppy drives on its serial bus\n"
        "from the command line.  dravlen works with 35-track disks, dravlen40 with\n"
        "40-track disks.\n"
        "\n"
        "Subcommands:\n";
    for (const cli_subcommand &s : cli_subcommands) {
        char line[160];
        g_snprintf(line, sizeof line, "  %-10s %s\n", s.name, s.summary);
        out += line;
    }
    out += "\n"
           "Options (before or after the subcommand):\n" COMMON_OPTIONS
           "  --version       show the program's version and exit\n"
           "\n"
           "\"dravlen SUBCOMMAND --help\" describes a subcommand.\n" EXIT_STATUS;
    return out;
}
