#include "tests/support/cli_run.h"

#include <glib.h>

#include <chrono>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Owns the strings of a null-terminated vector for g_spawn.
struct strv {
    std::vector<gchar *> v;
    ~strv()
    {
        for (gchar *s : v)
            g_free(s);
    }
};

void fill_argv(strv *argv, const std::string &program, const std::vector<std::string> &args)
{
    argv->v.push_back(g_strdup(program.c_str()));
    for (const std::string &a : args)
        argv->v.push_back(g_strdup(a.c_str()));
    argv->v.push_back(nullptr);
}

void fill_env(strv *env, const std::string &config_home)
{
    gchar **e = g_get_environ();
    e = g_environ_setenv(e, "XDG_CONFIG_HOME", config_home.c_str(), TRUE);
    // Fallback saves land beside the test's settings, never in a real home.
    e = g_environ_setenv(e, "XDG_STATE_HOME", (config_home + "/state").c_str(), TRUE);
    for (gchar **p = e; *p; p++)
        env->v.push_back(*p);
    env->v.push_back(nullptr);
    g_free(e);  // the strings live on in env
}

int decode_wait(int wait_status)
{
    if (WIFEXITED(wait_status))
        return WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status))
        return 128 + WTERMSIG(wait_status);
    return -1;
}

// What the pipe holds now (it is non-blocking).
void drain(int fd, std::string *text)
{
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        text->append(buf, (size_t)n);
}

}  // namespace

cli_run_result cli_run(const std::string &program, const std::vector<std::string> &args,
                       const std::string &config_home, const std::string &cwd)
{
    // A hang shows as this run's failure, with what the program said, not as
    // the whole test timing out.
    const double limit_seconds = 60;
    cli_run_result r;
    cli_child c;
    if (!cli_child_start(&c, program, args, config_home, cwd)) {
        r.err = c.err_text;
        return r;
    }
    auto start = std::chrono::steady_clock::now();
    r.status = cli_child_finish(&c, limit_seconds);
    r.out = c.out_text;
    r.err = c.err_text;
    if (std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(limit_seconds))
        r.err += "[killed: still running after 60 s]\n";
    return r;
}

cli_run_result cli_run_on_terminal(const std::string &program,
                                   const std::vector<std::string> &args,
                                   const std::string &config_home, const std::string &cwd,
                                   int columns, const std::string &prompt,
                                   const std::string &input)
{
    cli_run_result r;
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        r.err = "no pty";
        return r;
    }
    int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    struct winsize size = {};
    size.ws_col = (unsigned short)columns;
    size.ws_row = 24;
    ioctl(terminal, TIOCSWINSZ, &size);
    int null = open("/dev/null", O_RDWR);
    strv argv, env;
    fill_argv(&argv, program, args);
    fill_env(&env, config_home);
    GPid pid = 0;
    GError *error = nullptr;
    gboolean started = g_spawn_async_with_fds(cwd.empty() ? nullptr : cwd.c_str(), argv.v.data(),
                                              env.v.data(), G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                                              nullptr, &pid, terminal, null, terminal, &error);
    close(terminal);
    close(null);
    if (!started) {
        r.err = error->message;
        g_error_free(error);
        close(master);
        return r;
    }
    bool typed = input.empty();
    if (!typed && prompt.empty()) {
        typed = write(master, input.data(), input.size()) == (ssize_t)input.size();
    }
    // The terminal reports an error once the program has closed it.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    pollfd p = {master, POLLIN, 0};
    char buffer[4096];
    while (std::chrono::steady_clock::now() < end && poll(&p, 1, 1000) >= 0) {
        if (!(p.revents & (POLLIN | POLLHUP)))
            continue;
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        r.err.append(buffer, (size_t)n);
        if (!typed && r.err.find(prompt) != std::string::npos)
            typed = write(master, input.data(), input.size()) == (ssize_t)input.size();
    }
    if (std::chrono::steady_clock::now() >= end) {
        kill(pid, SIGKILL);
        r.err += "[killed: still running after 60 s]\n";
    }
    close(master);
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    g_spawn_close_pid(pid);
    r.status = decode_wait(wait_status);
    return r;
}

int cli_child_start(cli_child *c, const std::string &program,
                    const std::vector<std::string> &args, const std::string &config_home,
                    const std::string &cwd)
{
    strv argv, env;
    fill_argv(&argv, program, args);
    fill_env(&env, config_home);
    GError *error = nullptr;
    if (!g_spawn_async_with_pipes(cwd.empty() ? nullptr : cwd.c_str(), argv.v.data(),
                                  env.v.data(), G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                                  &c->pid, &c->in, &c->out, &c->err, &error)) {
        c->err_text = error->message;
        g_error_free(error);
        return 0;
    }
    // Output is gathered while the child runs: keep its pipes from filling up.
    fcntl(c->out, F_SETFL, O_NONBLOCK);
    fcntl(c->err, F_SETFL, O_NONBLOCK);
    return 1;
}

void cli_child_drain(cli_child *c)
{
    if (c->out >= 0)
        drain(c->out, &c->out_text);
    if (c->err >= 0)
        drain(c->err, &c->err_text);
}

bool cli_child_wait_for_stderr(cli_child *c, const std::string &text, int count, double seconds)
{
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        cli_child_drain(c);
        int seen = 0;
        for (size_t at = c->err_text.find(text); at != std::string::npos;
             at = c->err_text.find(text, at + 1))
            seen++;
        if (seen >= count)
            return true;
        if (std::chrono::steady_clock::now() - start > std::chrono::duration<double>(seconds))
            return false;
        g_usleep(5000);
    }
}

int cli_child_finish(cli_child *c, double seconds)
{
    if (c->in >= 0)
        close(c->in);
    c->in = -1;
    if (c->pid == 0)
        return -1;  // never started
    auto start = std::chrono::steady_clock::now();
    int wait_status = 0;
    while (waitpid(c->pid, &wait_status, WNOHANG) == 0) {
        cli_child_drain(c);
        if (std::chrono::steady_clock::now() - start > std::chrono::duration<double>(seconds)) {
            kill(c->pid, SIGKILL);
            waitpid(c->pid, &wait_status, 0);
            break;
        }
        g_usleep(2000);
    }
    cli_child_drain(c);
    close(c->out);
    close(c->err);
    c->out = c->err = -1;
    return decode_wait(wait_status);
}

cli_run_result cli_run_interrupted(const std::string &program,
                                   const std::vector<std::string> &args,
                                   const std::string &config_home, int delay_ms,
                                   const std::string &cwd, int stop)
{
    cli_run_result r;
    cli_child c;
    if (!cli_child_start(&c, program, args, config_home, cwd))
        return r;
    close(c.in);  // empty and no terminal, as cli_run's /dev/null
    c.in = -1;
    auto start = std::chrono::steady_clock::now();
    auto interrupted = start;
    bool sent = false;
    int wait_status = 0;
    while (waitpid(c.pid, &wait_status, WNOHANG) == 0) {
        cli_child_drain(&c);
        auto now = std::chrono::steady_clock::now();
        if (!sent && now - start >= std::chrono::milliseconds(delay_ms)) {
            kill(c.pid, stop);
            sent = true;
            interrupted = now;
        } else if (sent && now - interrupted >= std::chrono::seconds(5)) {
            kill(c.pid, SIGKILL);
            waitpid(c.pid, &wait_status, 0);
            break;
        }
        g_usleep(1000);
    }
    r.ended_before_sigint = !sent;
    if (sent)
        r.seconds_after_sigint =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - interrupted).count();
    r.status = decode_wait(wait_status);
    cli_child_drain(&c);
    close(c.out);
    close(c.err);
    r.out = c.out_text;
    r.err = c.err_text;
    return r;
}
bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

int line_count(const std::string &text)
{
    int n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

std::string cli_shown_args(const std::vector<std::string> &args)
{
    std::string shown;
    for (const std::string &a : args)
        shown += a + " ";
    return shown;
}

std::string cli_usage_error_fault(const cli_run_result &r, const std::string &program)
{
    if (r.status != 2)
        return "exit status " + std::to_string(r.status) + ": " + r.err;
    if (line_count(r.err) != 1)
        return "not one line: " + r.err;
    if (r.err.rfind(program + ": ", 0) != 0)
        return "not from " + program + ": " + r.err;
    return "";
}

std::vector<std::string> cli_output_lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    return lines;
}
