#include "tests/support/cc1541_tool.h"

#include "image/d64.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

int cc1541_run(const std::vector<std::string> &args, std::string *out, std::string *err)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>("cc1541"));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    gchar *child_out = nullptr;
    gchar *child_err = nullptr;
    gint status = 0;
    GError *error = nullptr;
    gboolean started = g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                                    &child_out, &child_err, &status, &error);
    if (!started) {
        if (err)
            *err = error ? error->message : "cc1541 could not be started";
        g_clear_error(&error);
        return 0;
    }
    if (out)
        *out = child_out ? child_out : "";
    if (err)
        *err = child_err ? child_err : "";
    g_free(child_out);
    g_free(child_err);
    return g_spawn_check_wait_status(status, nullptr) ? 1 : 0;
}

int cc1541_available()
{
    static int available = -1;
    if (available < 0) {
        gchar *path = g_find_program_in_path("cc1541");
        available = path ? 1 : 0;
        g_free(path);
    }
    return available;
}

std::string cc1541_escape(const std::string &petscii)
{
    std::string s;
    char hex[4];
    for (unsigned char c : petscii) {
        snprintf(hex, sizeof hex, "#%02x", c);
        s += hex;
    }
    return s;
}

std::string cc1541_petscii_to_ascii(const std::string &petscii)
{
    std::string s;
    for (unsigned char c : petscii) {
        if (c >= 0x41 && c <= 0x5A)
            s += (char)(c - 0x41 + 'a');
        else if (c >= 0xC1 && c <= 0xDA)
            s += (char)(c - 0xC1 + 'A');
        else if (c >= 0x61 && c <= 0x7A)
            s += (char)(c - 0x61 + 'A');
        else if (c == 0xA0)
            s += ' ';
        else
            s += (char)c;
    }
    return s;
}

std::string cc1541_temp_dir_new()
{
    GError *error = nullptr;
    gchar *dir = g_dir_make_tmp("dravlen-test-XXXXXX", &error);
    if (!dir) {
        g_clear_error(&error);
        return std::string();
    }
    std::string path = dir;
    g_free(dir);
    return path;
}

void cc1541_temp_dir_remove(const std::string &path)
{
    if (path.empty())
        return;
    GDir *dir = g_dir_open(path.c_str(), 0, nullptr);
    if (dir) {
        while (const gchar *name = g_dir_read_name(dir)) {
            gchar *child = g_build_filename(path.c_str(), name, nullptr);
            if (g_file_test(child, G_FILE_TEST_IS_DIR))
                cc1541_temp_dir_remove(child);
            else
                g_remove(child);
            g_free(child);
        }
        g_dir_close(dir);
    }
    g_rmdir(path.c_str());
}

int cc1541_read_file(const std::string &path, std::string *contents)
{
    gchar *data = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &data, &length, nullptr))
        return 0;
    contents->assign(data, length);
    g_free(data);
    return 1;
}

int cc1541_build_d64(const std::string &path, const std::string &diskname, const std::string &id,
                     const std::vector<cc1541_file> &files, std::string *error, const std::string &g64_path)
{
    gchar *folder = g_path_get_dirname(path.c_str());
    std::vector<std::string> args = {"-q", "-n", cc1541_escape(diskname), "-i", cc1541_escape(id)};
    for (size_t i = 0; i < files.size(); ++i) {
        const cc1541_file &f = files[i];
        gchar *local = g_strdup_printf("%s/file%03zu.bin", folder, i);
        std::string data(f.data_size, '\0');
        for (size_t k = 0; k < data.size(); ++k)
            data[k] = (char)(k * 7 + i);
        g_file_set_contents(local, data.data(), (gssize)data.size(), nullptr);
        args.push_back("-N");
        args.push_back("-T");
        args.push_back(f.type);
        if (f.locked)
            args.push_back("-P");
        if (f.open)
            args.push_back("-O");
        if (f.blocks >= 0) {
            args.push_back("-B");
            args.push_back(std::to_string(f.blocks));
        }
        args.push_back("-f");
        args.push_back(cc1541_escape(f.name));
        args.push_back("-w");
        args.push_back(local);
        g_free(local);
    }
    g_free(folder);
    if (!g64_path.empty()) {
        args.push_back("-g");
        args.push_back(g64_path);
    }
    args.push_back(path);
    std::string out, err;
    int ok = cc1541_run(args, &out, &err);
    if (!ok && error)
        *error = out + err;
    return ok;
}

namespace {

bool parse_entry_line(const std::string &line, cc1541_entry *e)
{
    size_t i = 0;
    while (i < line.size() && isdigit((unsigned char)line[i]))
        ++i;
    if (i == 0)
        return false;
    size_t q = line.find('"', i);
    if (q == std::string::npos || line.size() < q + 23)
        return false;
    e->blocks = atoi(line.substr(0, i).c_str());
    std::string field = line.substr(q + 1, 17);
    size_t close = field.find('"');
    if (close == std::string::npos)
        return false;
    e->name = field.substr(0, close);
    e->after = field.substr(close + 1);
    while (!e->after.empty() && e->after.back() == ' ')
        e->after.pop_back();
    e->splat = line[q + 18] == '*';
    e->type = line.substr(q + 19, 3);
    e->locked = line[q + 22] == '<';
    return true;
}

}  // namespace

int cc1541_read_listing(const std::string &path, cc1541_listing *listing, std::string *error)
{
    std::string out, err;
    if (!cc1541_run({"-U", "0", path}, &out, &err)) {
        if (error)
            *error = out + err;
        return 0;
    }
    *listing = cc1541_listing();
    bool header = false;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        int free_blocks;
        char tail[16];
        if (line.find("\x1b[7m") != std::string::npos) {
            // 0 <reverse>"<16 name chars>" <5 id chars><normal>
            size_t q = line.find('"');
            if (q == std::string::npos || line.size() < q + 25)
                return 0;
            listing->diskname = line.substr(q + 1, 16);
            size_t end = line.find("\x1b[m", q + 19);
            listing->id = line.substr(q + 19, end == std::string::npos ? 5 : end - (q + 19));
            header = true;
        } else if (sscanf(line.c_str(), "%d blocks %15s", &free_blocks, tail) == 2 &&
                   std::string(tail) == "free.") {
            listing->blocks_free = free_blocks;
        } else if (header) {
            cc1541_entry e;
            if (parse_entry_line(line, &e))
                listing->entries.push_back(e);
        }
    }
    if (!header || listing->blocks_free < 0) {
        if (error)
            *error = "no directory in cc1541 output:\n" + out;
        return 0;
    }
    return 1;
}

namespace {

std::string lower_case(const std::string &s)
{
    char *l = g_ascii_strdown(s.c_str(), -1);
    std::string out = l;
    g_free(l);
    return out;
}

}  // namespace

std::string cc1541_listing_fault(const std::vector<std::string> &lines,
                                 const cc1541_listing &expected)
{
    if (lines.size() != expected.entries.size() + 2)
        return "line count " + std::to_string(lines.size()) + ", expected " +
               std::to_string(expected.entries.size() + 2);
    std::string id = lower_case(expected.id.substr(0, expected.id.find_last_not_of(' ') + 1));
    std::string header = "0 \"" + lower_case(expected.diskname) + "\" " + id;
    if (lower_case(lines[0]) != header)
        return "header \"" + lines[0] + "\", expected \"" + header + "\"";
    for (size_t i = 0; i < expected.entries.size(); i++) {
        const cc1541_entry &e = expected.entries[i];
        const std::string &line = lines[i + 1];
        size_t open = line.find('"'), close = line.find('"', open + 1);
        std::string after = close == std::string::npos ? "" : line.substr(close + 1);
        bool ok = atoi(line.c_str()) == e.blocks && close != std::string::npos &&
                  lower_case(line.substr(open + 1, close - open - 1)) == e.name &&
                  lower_case(after).find(e.type) != std::string::npos &&
                  (after.find('*') != std::string::npos) == e.splat &&
                  (after.find('<') != std::string::npos) == e.locked;
        if (!ok)
            return "entry \"" + line + "\", expected " + std::to_string(e.blocks) + " \"" +
                   e.name + "\" " + e.type;
    }
    if (lines.back() != std::to_string(expected.blocks_free) + " BLOCKS FREE.")
        return "last line \"" + lines.back() + "\"";
    return "";
}

std::vector<std::vector<std::pair<int, int>>> cc1541_chains(const std::string &d64)
{
    std::vector<std::vector<std::pair<int, int>>> out;
    auto block = [&](int t, int s) {
        return (const uint8_t *)d64.data() + d64_sector_offset(t, s);
    };
    for (int t = 18, s = 1; t == 18;) {
        const uint8_t *dir = block(t, s);
        for (int i = 0; i < 8; i++) {
            const uint8_t *e = dir + 32 * i;
            if (!e[2])
                continue;
            std::vector<std::pair<int, int>> chain;
            for (int ft = e[3], fs = e[4]; ft;) {
                chain.push_back({ft, fs});
                const uint8_t *b = block(ft, fs);
                ft = b[0];
                fs = b[1];
            }
            out.push_back(chain);
        }
        t = dir[0];
        s = dir[1];
    }
    return out;
}

int cbmconvert_extract(const std::string &image, const std::string &folder)
{
    g_mkdir_with_parents(folder.c_str(), 0700);
    gchar *argv[] = {(gchar *)"cbmconvert", (gchar *)"-N", (gchar *)"-d", (gchar *)image.c_str(),
                     nullptr};
    gint status = 1;
    if (!g_spawn_sync(folder.c_str(), argv, nullptr,
                      (GSpawnFlags)(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                                    G_SPAWN_STDERR_TO_DEV_NULL),
                      nullptr, nullptr, nullptr, nullptr, &status, nullptr))
        return 0;
    return status == 0;
}
