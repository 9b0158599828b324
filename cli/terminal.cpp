// Counts in words and the width of the terminal.
#include "cli/cli.h"

#include "engine/imaging.h"

#include <cstdio>
#include <cstdlib>

#include <sys/ioctl.h>
#include <unistd.h>

std::string cli_count(long n, const char *singular, const char *plural)
{
    return std::to_string(n) + " " + (n == 1 || n == -1 ? singular : plural);
}

int cli_terminal_width(int fd)
{
    struct winsize size = {};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    const char *columns = getenv("COLUMNS");
    int n = columns ? atoi(columns) : 0;
    return n > 0 ? n : 80;
}

std::string cli_fit_width(const std::string &text, int width)
{
    // One column stays free: a character in the last one leaves some
    // terminals about to wrap.
    std::string out;
    int shown = 0;
    for (const char *p = text.c_str(); *p;) {
        const char *next = g_utf8_next_char(p);
        if (++shown > width - 1)
            break;
        out.append(p, next);
        p = next;
    }
    return out;
}

void cli_show_cell_log_line(cli_live_line *line, int track, int sector, int code, int checksum,
                            bool skip_logged)
{
    int both = 0;
    char *text = engine_cell_log_line(code, track, sector, checksum, &both);
    if (text && !(skip_logged && both)) {
        cli_live_line_clear(line);
        fputs(text, stderr);
    }
    g_free(text);
}
