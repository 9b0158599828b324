#include "tests/support/cli_run.h"

#include <glib.h>

#include <chrono>
#include <csignal>

#include <fcntl.h>
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

void drain(int fd, std::string *text)
{
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        text->append(buf, (size_t)n);
    close(fd);
}

}  // namespace

cli_run_result cli_run(const std::string &program, const std::vector<std::string> &args,
                       const std::string &config_home, const std::string &cwd)
{
    strv argv, env;
    fill_argv(&argv, program, args);
    fill_env(&env, config_home);
    cli_run_result r;
    gchar *out = nullptr, *err = nullptr;
    int wait_status = 0;
    GError *error = nullptr;
    if (g_spawn_sync(cwd.empty() ? nullptr : cwd.c_str(), argv.v.data(), env.v.data(),
                     G_SPAWN_DEFAULT, nullptr, nullptr, &out, &err, &wait_status, &error)) {
        r.status = decode_wait(wait_status);
        r.out = out;
        r.err = err;
    } else {
        r.err = error->message;
        g_error_free(error);
    }
    g_free(out);
    g_free(err);
    return r;
}

cli_run_result cli_run_interrupted(const std::string &program,
                                   const std::vector<std::string> &args,
                                   const std::string &config_home, int delay_ms,
                                   const std::string &cwd)
{
    strv argv, env;
    fill_argv(&argv, program, args);
    fill_env(&env, config_home);
    cli_run_result r;
    GPid pid = 0;
    int out_fd = -1, err_fd = -1;
    if (!g_spawn_async_with_pipes(cwd.empty() ? nullptr : cwd.c_str(), argv.v.data(),
                                  env.v.data(), G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid,
                                  nullptr, &out_fd, &err_fd, nullptr))
        return r;
    // Output is read only at the end: keep the pipes from filling up meanwhile.
    fcntl(out_fd, F_SETFL, O_NONBLOCK);
    fcntl(err_fd, F_SETFL, O_NONBLOCK);
    g_usleep((gulong)delay_ms * 1000);
    int wait_status = 0;
    pid_t done = waitpid(pid, &wait_status, WNOHANG);
    r.ended_before_sigint = done != 0;
    auto start = std::chrono::steady_clock::now();
    if (!r.ended_before_sigint) {
        kill(pid, SIGINT);
        while ((done = waitpid(pid, &wait_status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
            g_usleep(1000);
        r.seconds_after_sigint =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (done == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &wait_status, 0);
        }
    }
    r.status = decode_wait(wait_status);
    drain(out_fd, &r.out);
    drain(err_fd, &r.err);
    return r;
}
