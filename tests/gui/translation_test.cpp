// The installed program speaks German with LANGUAGE=de: the real program is
// started under the X server with a probe module that reads back its menus.
#include <gtest/gtest.h>

#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"

#ifdef DRAVLEN_MENU_PROBE_PATH
namespace {

#if TRACKS == 40
#define PROGRAM_UNDER_TEST DRAVLEN_CLIENT40_PATH
#else
#define PROGRAM_UNDER_TEST DRAVLEN_CLIENT_PATH
#endif

struct ProgramTexts {
    std::string title;
    std::map<std::string, std::string> menus; // widget name -> label
    std::vector<std::string> tabs;
    bool complete = false;
};

// Starts the program with the probe module and the given language settings
// and collects what the probe prints about the main window.
ProgramTexts start_and_read_texts(const char *language)
{
    ProgramTexts texts;
    std::string home = scratch_dir_new();
    char **envp = g_get_environ();
    envp = g_environ_setenv(envp, "XDG_CONFIG_HOME", home.c_str(), TRUE);
    envp = g_environ_setenv(envp, "GTK_MODULES", DRAVLEN_MENU_PROBE_PATH, TRUE);
    // C.UTF-8 exists on every Debian system; glibc honours LANGUAGE under it.
    envp = g_environ_setenv(envp, "LANG", "C.UTF-8", TRUE);
    envp = g_environ_unsetenv(envp, "LC_ALL");
    envp = g_environ_unsetenv(envp, "LC_MESSAGES");
    if (language)
        envp = g_environ_setenv(envp, "LANGUAGE", language, TRUE);
    else
        envp = g_environ_unsetenv(envp, "LANGUAGE");
    std::vector<char *> argv = {const_cast<char *>(PROGRAM_UNDER_TEST), nullptr};
    GPid pid;
    int out = -1;
    GError *error = nullptr;
    gboolean spawned = g_spawn_async_with_pipes(nullptr, argv.data(), envp,
                                                G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                                                &pid, nullptr, &out, nullptr, &error);
    g_strfreev(envp);
    EXPECT_TRUE(spawned) << (error ? error->message : "");
    if (!spawned) {
        g_clear_error(&error);
        scratch_dir_remove(home);
        return texts;
    }

    std::string buffer;
    gint64 deadline = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
    while (!texts.complete && g_get_monotonic_time() < deadline) {
        pollfd p = {out, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        char chunk[4096];
        ssize_t n = read(out, chunk, sizeof chunk);
        if (n <= 0)
            break;
        buffer.append(chunk, (size_t)n);
        size_t eol;
        while ((eol = buffer.find('\n')) != std::string::npos) {
            std::string line = buffer.substr(0, eol);
            buffer.erase(0, eol + 1);
            gchar **f = g_strsplit(line.c_str(), "\t", 4);
            if (g_strv_length(f) == 4 && g_strcmp0(f[0], "probe") == 0) {
                std::string kind = f[1];
                if (kind == "title")
                    texts.title = f[3];
                else if (kind == "menu")
                    texts.menus[f[2]] = f[3];
                else if (kind == "tab")
                    texts.tabs.push_back(f[3]);
                else if (kind == "done")
                    texts.complete = true;
            }
            g_strfreev(f);
        }
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    g_spawn_close_pid(pid);
    close(out);
    scratch_dir_remove(home);
    return texts;
}

TEST(Translation, ProgramShowsGermanMenusWithLanguageDe)
{
    ProgramTexts de = start_and_read_texts("de");
    ASSERT_TRUE(de.complete) << "the program did not show its main window";
    EXPECT_EQ(de.menus["menuitem_file"], "_Datei");
    EXPECT_EQ(de.menus["menuitem_configuration"], "_Konfiguration");
    EXPECT_EQ(de.menus["menuitem_connection"], "_Verbindungseinstellungen...");
    EXPECT_EQ(de.menus["menuitem_tools"], "_Werkzeuge");
    EXPECT_EQ(de.menus["menuitem_dump_the_whole_disk"], "Ganze Diskette per Warp sichern");
    EXPECT_EQ(de.menus["menuitem_reread_all_sectors"], "Alle fehlerhaften Sektoren erneut lesen");
    EXPECT_EQ(de.menus["menuitem_help"], "_Hilfe");
    EXPECT_EQ(de.title, "Dravlen-Client");
    EXPECT_EQ(de.tabs, (std::vector<std::string>{"Abbilderstellung", "Dateien / Verzeichnis",
                                                 "Protokoll"}));
}

TEST(Translation, ProgramStaysEnglishWithoutALanguage)
{
    ProgramTexts en = start_and_read_texts(nullptr);
    ASSERT_TRUE(en.complete) << "the program did not show its main window";
    EXPECT_EQ(en.menus["menuitem_file"], "_File");
    EXPECT_EQ(en.menus["menuitem_tools"], "_Tools");
    EXPECT_EQ(en.title, "Dravlen client");
    EXPECT_EQ(en.tabs, (std::vector<std::string>{"Disk Imaging", "Files / Directory", "Logging"}));
}

} // namespace
#endif
