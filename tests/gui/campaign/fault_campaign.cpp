// Fault campaign: random, seeded fault plans run through the real operations
// of the main window against dravlen-sim.  Each plan starts one simulator
// with a mix of faults (lost and damaged packets, read sequences, tracks
// without sync, renumbered sectors, sector reads
// answered with another sector, random damage, a device that falls
// silent, hangs up, trickles or keeps a drive's pace, disks with error info)
// and runs one to three operations on it: whole-disk imaging, the special
// dumps, loading a saved image, re-reads and restore.  After every operation
// it checks what a user relies on:
// - no sector is held or saved as good unless it holds the disk's bytes and
//   the disk can give it good; a worse read never replaces a better one;
// - every saved error byte is one the program defines;
// - the error counter shown equals the count in the image;
// - an operation ends by itself unless the device fell silent, and Abort
//   ends it within 0.2 s, as does SIGTERM, which also saves an unsaved read;
// - only the chosen file or the image's own files are written, and a failed
//   or aborted operation leaves every file as it was;
// - a read is never lost: after any ending the image in memory is in a
//   saved file byte for byte, or "Save image as..." is offered and saves it
//   so (tried at the end of every plan);
// - no temporary file of a save survives, also when a file size limit makes
//   saves fail halfway;
// - no saved image holds sectors of another disk.
//
//   dravlen_fault_campaign35 [--seed N] [--plans N] [--time-limit SECONDS]
//   dravlen_fault_campaign35 --plan SEED [--plan SEED ...]   (replays plans, verbosely)
//
// It needs an X display (xvfb-run -a ...).  Exit status 1 when a plan broke
// a rule; the last line reads "N plans run, V violations, worst abort
// latency X ms".
#include <gtk/gtk.h>
#include <glib/gstdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "image/d64.h"
#include "image/imagefile.h"
#include "gui/app/startup.h"
#include "gui/jobs/unsaved.h"
#include "tests/gui/support/dumps_support.h"
#include "tests/gui/support/imaging_support.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/fault_plan.h"
#include "tests/support/geometry.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

typedef std::pair<int, int> ts_pair;

GtkWidget *w(const char *name)
{
    return lookup_widget(window_main, name);
}

// ------------------------------------------------------------------ disks

struct base_disk {
    dumps_disk disk;      // data and error bytes (all 0x01 from cc1541)
    std::string g64;      // raw GCR form, or ""
    const char *label;
};

std::vector<base_disk> bases;
bool sim_has_trickle = false;

// A PRG entry in directory slot 6 whose only sector is 18/10: the first
// sector of a file on the directory track.
void add_file_on_track_18(dumps_disk *d)
{
    char *dir = d->block(18, 1);
    char *e = dir + 5 * 32;
    memset(e + 2, 0, 30);
    e[2] = (char)0x82;
    e[3] = 18;
    e[4] = 10;
    const char name[] = "ON18";
    memset(e + 5, 0xA0, 16);
    memcpy(e + 5, name, 4);
    e[30] = 1;
    char *blk = d->block(18, 10);
    blk[0] = 0;
    blk[1] = (char)0x80;
    blk[2] = 0x01;
    blk[3] = 0x08;
    for (int i = 4; i < 256; i++)
        blk[i] = (char)(i * 29 + 7);
    d->set_allocated(18, 10);
}

bool build_bases(const std::string &dir)
{
    base_disk a;
    a.label = "rescue";
    if (!dumps_build_disk(dir, TRACKS, &a.disk))
        return false;
    add_file_on_track_18(&a.disk);
    bases.push_back(a);

    base_disk b;
    b.label = "spread";
    std::string d64, g64;
    if (!img_build_disk(dir, "SPREAD", TRACKS, &d64, TRACKS == 35 ? &g64 : nullptr) ||
        !dumps_read_disk(d64, TRACKS, &b.disk))
        return false;
    bases.push_back(b);
    if (TRACKS == 35) {
        base_disk c = b;
        c.label = "spread-g64";
        c.g64 = g64;
        bases.push_back(c);
    }
    return true;
}

// ------------------------------------------------------------------ plans

enum op_kind {
    OP_IMAGE,
    OP_DUMP_DIR,
    OP_DUMP_DIR_FIRST,
    OP_DUMP_BAM,
    OP_LOAD,
    OP_REREAD_ALL,
    OP_REREAD_DIR,
    OP_REREAD_DIR_FIRST,
    OP_REREAD_BAM,
    OP_REREAD_RANGE,
    OP_RESTORE,
};
const char *const op_names[] = {"imaging",   "dump-dir",     "dump-dir-first",   "dump-bam",
                                "load",      "reread-all",   "reread-dir",       "reread-dir-first",
                                "reread-bam", "reread-range", "restore"};
const char *const op_menu[] = {"menuitem_dump_the_whole_disk",
                               "menuitem_dump_track_18_only",
                               "menuitem_dump_track_18_and_first_sector",
                               "menuitem_dump_bam_based",
                               "menuitem_load_d64_file_for_rereads",
                               "menuitem_reread_all_sectors",
                               "menuitem_reread_dir_track",
                               "menuitem_reread_dir_track_and_first_sector",
                               "menuitem_reread_based_on_bam_contents",
                               "menuitem_reread_track_range",
                               nullptr};

enum save_mode { SAVE_AUTO, SAVE_CHOSEN, SAVE_CANCEL };

struct op_plan {
    op_kind kind;
    save_mode save = SAVE_AUTO;
    int retries = 1, max_errors = 100, outmost = 1;
    int abort_after_ms = -1;  // Abort this long after the start, -1: never
    bool confirm_yes = true;
    int range_first = 1, range_last = TRACKS;
    bool md5 = false;
    int load_target = 0;      // OP_LOAD: 0 previous.d64, 1 the last saved image
    bool restore_dirty = false;
    long fsize_limit = 0;     // bytes a file may grow to during the op, 0: no limit
};

struct plan : fault_set {
    uint64_t seed = 0;
    int base = 0;
    dumps_disk served;  // the disk as served (data and error info)
    std::vector<std::string> args;
    std::vector<op_plan> ops;
    std::set<ts_pair> previous_errors;  // error sectors of previous.d64
    bool stop_by_signal = false;  // planned aborts come as SIGTERM to the window
};

int sectors_of(int t)
{
    return geometry_sectors(t);
}

bool code_is_bad(int code)
{
    return code == 2 || code == 3 || code == 4 || code == 5 || code == 6 || code == 9;
}

// Whether any read of t/s can come back good under the plan.
// How long an operation on a device that keeps talking may take before it
// counts as hung; sanitizer builds run several times slower.
int end_limit_ms = 5000;

bool good_possible(const plan &p, int t, int s)
{
    if (t > p.served.tracks)
        return false;
    if (p.no_sector.count(t) || p.corrupt.count({t, s}))
        return false;
    auto seq = p.sequence.find({t, s});
    if (seq != p.sequence.end()) {
        for (int c : seq->second)
            if (!code_is_bad(c))
                return true;
        return false;
    }
    if (!bases[p.base].g64.empty())
        return true;
    return !code_is_bad(const_cast<dumps_disk &>(p.served).error(t, s));
}

std::string ts_text(ts_pair ts)
{
    return fault_ts_text(ts);
}

plan make_plan(uint64_t seed)
{
    std::mt19937_64 rng(seed);
    auto pick = [&](int n) { return (int)(rng() % (uint64_t)n); };
    auto chance = [&](int percent) { return pick(100) < percent; };
    auto any_ts = [&](int first_track, int last_track) {
        int t = first_track + pick(last_track - first_track + 1);
        return ts_pair(t, pick(sectors_of(t)));
    };
    const int disk_tracks = TRACKS;

    plan p;
    p.seed = seed;
    p.base = pick((int)bases.size());
    p.served = bases[p.base].disk;
    bool g64 = !bases[p.base].g64.empty();

    // Error info on the disk itself.
    if (!g64 && chance(60)) {
        static const int codes[] = {3, 5, 9, 5, 3, 2, 4, 6};
        int n = 1 + pick(6);
        for (int i = 0; i < n; i++) {
            ts_pair ts = chance(30) ? ts_pair(18, pick(19)) : any_ts(1, 35);
            p.served.error(ts.first, ts.second) = (uint8_t)codes[pick(8)];
        }
    }
    // Packet faults, biased towards the ends of tracks where a lost packet
    // leaves the track of the next one in doubt.
    int faults = pick(5);
    for (int i = 0; i < faults; i++) {
        int t = 1 + pick(34);
        ts_pair end(t, fault_last_packet_sector(t)), next(t + 1, fault_first_packet_sector(t + 1));
        switch (pick(8)) {
        case 0:
            p.corrupt.insert(chance(50) ? end : any_ts(1, 35));
            break;
        case 1:
            p.drop.insert(chance(50) ? end : any_ts(1, 35));
            break;
        case 2:  // a lost end of track, then a lost start of the next
            p.corrupt.insert(end);
            p.drop.insert(next);
            break;
        case 3:  // a lost end of track, then a track without sync
            (chance(50) ? p.corrupt : p.drop).insert(end);
            p.no_sector.insert(t + 1);
            break;
        case 4:
            p.no_sector.insert(1 + pick(35));
            break;
        case 5: {
            ts_pair ts = chance(40) ? ts_pair(18, pick(19)) : chance(30) ? end : any_ts(1, 35);
            std::vector<int> seq;
            static const int codes[] = {1, 5, 9, 3, 5, 9, 2, 6};
            int n = 1 + pick(4);
            for (int k = 0; k < n; k++)
                seq.push_back(codes[pick(8)]);
            p.sequence[ts] = seq;
            break;
        }
        case 6: {
            ts_pair ts = chance(50) ? end : any_ts(1, 35);
            int n = chance(85) ? sectors_of(ts.first) + pick(32 - sectors_of(ts.first))
                               : pick(sectors_of(ts.first));
            if (n != ts.second)
                p.renumber[ts] = n;
            break;
        }
        default:
            p.drop.insert(any_ts(1, 35));
            break;
        }
    }
    if (chance(20)) {
        // A lost sector whose re-reads bring another one.
        ts_pair ts = any_ts(1, 35);
        p.drop.insert(ts);
        p.reply[ts] = (ts.second + 1 + pick(sectors_of(ts.first) - 1)) % sectors_of(ts.first);
    }
    if (chance(15))
        p.corrupt_random = 1 + pick(chance(50) ? 3 : 20);
    int device = pick(100);
    if (device < 10)
        p.silent_after = chance(50) ? pick(8000) : pick(250000);
    else if (device < 18)
        p.hangup_after = chance(50) ? pick(8000) : pick(250000);
    else if (device < 24 && sim_has_trickle)
        p.trickle = 1 + pick(5);
    else if (device < 28)
        p.timing = true;

    p.corrupt_seed = seed % 1000000007;
    p.args = fault_args(p);

    // previous.d64: an earlier image of this disk with some sectors bad.
    for (int t = 1; t <= disk_tracks; t++)
        for (int s = 0; s < sectors_of(t); s++)
            if (!good_possible(p, t, s))
                p.previous_errors.insert({t, s});
    for (int i = pick(6); i > 0; i--)
        p.previous_errors.insert(any_ts(1, 35));

    // Operations: a reading one first mostly; re-reads and loads later.
    int n_ops = 1 + pick(3);
    for (int i = 0; i < n_ops; i++) {
        op_plan op;
        int r = pick(100);
        if (i == 0 && r < 88)
            op.kind = r < 40 ? OP_IMAGE : (op_kind)(OP_DUMP_DIR + pick(3));
        else if (r < 25)
            op.kind = OP_IMAGE;
        else if (r < 40)
            op.kind = (op_kind)(OP_DUMP_DIR + pick(3));
        else if (r < 52)
            op.kind = OP_LOAD;
        else if (r < 92)
            op.kind = (op_kind)(OP_REREAD_ALL + pick(5));
        else
            op.kind = OP_RESTORE;
        int s = pick(100);
        op.save = s < 50 ? SAVE_AUTO : s < 80 ? SAVE_CHOSEN : SAVE_CANCEL;
        op.retries = pick(4);
        op.max_errors = chance(80) ? 100 + pick(200) : pick(8);
        op.outmost = chance(85) ? 1 : 1 + pick(4);
        op.confirm_yes = chance(60);
        op.md5 = chance(30);
        op.load_target = pick(2);
        op.restore_dirty = chance(15);
        op.range_first = 1 + pick(TRACKS);
        op.range_last = op.range_first + pick(TRACKS - op.range_first + 1);
        if (p.trickle || p.timing)
            op.abort_after_ms = 30 + pick(600);
        else if (chance(12))
            op.abort_after_ms = pick(120);
        p.ops.push_back(op);
        if (op.kind == OP_RESTORE)
            break;  // it changes the disk: nothing after it
    }
    // Full disks come from a generator of their own, so that the plans of
    // a seed stay what they were.
    std::mt19937_64 full(seed ^ 0x66756c6cULL);
    for (op_plan &op : p.ops)
        if (full() % 100 < 15)
            op.fsize_limit = full() % 2 ? 4096 : 40000 + (long)(full() % 100000);
    std::mt19937_64 signals(seed ^ 0x7369676eULL);
    p.stop_by_signal = signals() % 100 < 15;
    return p;
}

std::string plan_text(const plan &p)
{
    std::string s = std::string("disk ") + bases[p.base].label + ", sim";
    for (const std::string &a : p.args)
        s += " " + a;
    int bad = 0;
    for (size_t i = 0; i < p.served.errors.size(); i++)
        bad += p.served.errors[i] != 1;
    s += "; error info on " + std::to_string(bad) + " sectors; ops:";
    for (const op_plan &op : p.ops) {
        s += std::string(" ") + op_names[op.kind];
        if (op.abort_after_ms >= 0)
            s += std::string(p.stop_by_signal ? "(SIGTERM@" : "(abort@") +
                 std::to_string(op.abort_after_ms) + "ms)";
    }
    return s;
}

// ------------------------------------------------------------------ the run

struct run_state {
    const plan *p = nullptr;
    std::string dir, out, chosen;
    sim_process sim{};
    bool sim_started = false;
    std::string log_path, written_path;
    // What the program should remember as the image's file ("" none).
    std::string model_path;
    // The image in memory came from reads of the served disk (since the
    // last reset at the log offset), from a file of that disk, or from
    // something else (restore).
    enum { MEM_READS, MEM_FILE, MEM_OTHER } mem = MEM_READS;
    size_t reset_log_offset = 0;
    std::string last_saved;
    bool restored = false;
    std::vector<std::string> violations;
    bool fatal = false;
    bool hung = false;
    // An operation cut short may or may not have made the device step
    // through a read sequence: later merit checks cannot tell what was read.
    bool reads_uncertain = false;
    double worst_abort_ms = 0;
    int aborts = 0;
    bool verbose = false;
};

void violation(run_state &st, const std::string &text)
{
    st.violations.push_back(text);
}

// Files of the folder: their bytes and modification time, so that a file
// written again with the same bytes still counts as written.
std::map<std::string, std::string> snapshot(const std::string &folder)
{
    std::map<std::string, std::string> files;
    GDir *d = g_dir_open(folder.c_str(), 0, nullptr);
    if (!d)
        return files;
    while (const char *name = g_dir_read_name(d)) {
        std::string path = folder + "/" + name;
        struct stat info;
        std::string stamp;
        if (stat(path.c_str(), &info) == 0)
            stamp = std::to_string((long long)info.st_mtim.tv_sec) + "." +
                    std::to_string((long long)info.st_mtim.tv_nsec) + ":";
        files[name] = stamp + scratch_read(path);
    }
    g_dir_close(d);
    return files;
}

std::vector<std::string> changed_files(const std::map<std::string, std::string> &before,
                                       const std::map<std::string, std::string> &after)
{
    std::vector<std::string> changed;
    for (const auto &f : after) {
        auto b = before.find(f.first);
        if (b == before.end() || b->second != f.second)
            changed.push_back(f.first);
    }
    for (const auto &f : before)
        if (!after.count(f.first))
            changed.push_back(f.first + " (removed)");
    return changed;
}

// Answers every dialog an operation opens, as the plan says.
struct answerer {
    run_state *st;
    const op_plan *op;
    std::string load_path;
    bool active = true;
    bool kept_file = false;  // the chooser's replace question was declined
    bool guard_declined = false;  // asked to drop an unsaved read: no
    std::string save_as_path;     // "Save image as..." at the end of a plan
};

gboolean answer_tick(gpointer data)
{
    auto *a = static_cast<answerer *>(data);
    if (!a->active) {
        delete a;
        return FALSE;
    }
    // The innermost dialog: one opened over another (the chooser's own
    // question before replacing a file) is answered first.
    GList *list = gtk_window_list_toplevels();
    GtkWidget *dialog = nullptr;
    for (GList *l = list; l; l = l->next) {
        GtkWidget *win = GTK_WIDGET(l->data);
        if (!GTK_IS_DIALOG(win) || !gtk_widget_get_visible(win))
            continue;
        GtkWindow *parent = gtk_window_get_transient_for(GTK_WINDOW(win));
        if (!dialog || (parent && GTK_IS_DIALOG(parent)))
            dialog = win;
    }
    g_list_free(list);
    if (!dialog)
        return TRUE;
    std::string name = gtk_widget_get_name(dialog);
    int response = GTK_RESPONSE_CANCEL;
    if (name == "filechooserdialog_save") {
        // After declining to replace the file, the user gives up saving.
        if (!a->save_as_path.empty()) {
            gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(dialog), a->save_as_path.c_str());
            gchar *base = g_path_get_basename(a->save_as_path.c_str());
            gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), base);
            g_free(base);
            response = GTK_RESPONSE_OK;
        } else if (a->op->save != SAVE_CANCEL && !a->kept_file) {
            gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(dialog), a->st->chosen.c_str());
            gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), "chosen.d64");
            response = GTK_RESPONSE_OK;
        }
    } else if (name == "filechooserdialog_load") {
        gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(dialog), a->load_path.c_str());
        response = GTK_RESPONSE_OK;
    } else if (name == "dialog_yes_no_confirmation") {
        response = a->op->confirm_yes ? GTK_RESPONSE_YES : GTK_RESPONSE_NO;
        const char *text =
            gtk_label_get_text(GTK_LABEL(lookup_widget(dialog, "label_yes_no_confirmation")));
        if (!a->op->confirm_yes && text && strstr(text, " is not saved"))
            a->guard_declined = true;
    } else if (name == "dialog_notice") {
        response = GTK_RESPONSE_CLOSE;
    } else if (GTK_IS_MESSAGE_DIALOG(dialog)) {
        response = a->op->confirm_yes ? GTK_RESPONSE_ACCEPT : GTK_RESPONSE_CANCEL;
        a->kept_file = !a->op->confirm_yes;
    } else if (name == "dialog_track_range") {
        gtk_spin_button_set_value(
            GTK_SPIN_BUTTON(lookup_widget(dialog, "spinbutton_track_range_start_track")),
            a->op->range_first);
        gtk_spin_button_set_value(
            GTK_SPIN_BUTTON(lookup_widget(dialog, "spinbutton_track_range_end_track")),
            a->op->range_last);
        response = GTK_RESPONSE_OK;
    }
    gtk_dialog_response(GTK_DIALOG(dialog), response);
    return TRUE;
}

bool dialog_open()
{
    bool open = false;
    GList *list = gtk_window_list_toplevels();
    for (GList *l = list; l; l = l->next)
        if (GTK_IS_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
            open = true;
    g_list_free(list);
    return open;
}

void set_auto_naming(bool on, const std::string &folder)
{
    dumps_set_auto_naming(on, folder, false, 1);
}

std::string image_text(const uint8_t *image, int t, int s)
{
    return std::string((const char *)image + d64_sector_offset(t, s), 256);
}

int merit(int code)
{
    switch (code) {
    case 1:
        return 4;
    case 5:
        return 3;
    case 6:
    case 9:
        return 2;
    default:
        return 1;
    }
}

// Reads of t/s the device served in its log from byte `from` to `to`:
// whole-disk passes that met it and single-sector reads.
int reads_between(const run_state &st, const std::string &log, size_t from, size_t to, int t,
                  int s)
{
    const plan &p = *st.p;
    int reads = 0;
    size_t at = from;
    while (at < std::min(to, log.size())) {
        size_t end = log.find('\n', at);
        if (end == std::string::npos)
            end = log.size();
        std::string line = log.substr(at, end - at);
        at = end + 1;
        int a = 0, b = 0, c = 0;
        if (sscanf(line.c_str(), "ws %d %d %d", &a, &b, &c) == 3) {
            if (c <= t && t <= a && t <= p.served.tracks && !p.no_sector.count(t) &&
                !p.drop.count({t, s}))
                reads++;
        } else if (sscanf(line.c_str(), "w2 %d %d %d", &a, &b, &c) == 3) {
            if (b == t && c == s && !p.no_sector.count(t))
                reads++;
        }
    }
    return reads;
}

// The rules about sector contents, for an image (memory or a saved file).
void check_image(run_state &st, const uint8_t *image, bool with_errors, const std::string &what,
                 bool check_merit)
{
    const plan &p = *st.p;
    dumps_disk &truth = const_cast<dumps_disk &>(p.served);
    int64_t base = d64_base_size;
    for (int t = 1; t <= TRACKS; t++)
        for (int s = 0; s < sectors_of(t); s++) {
            int code = with_errors ? image[base + geometry_block(t, s)] : 1;
            if (code != 0x01 && code != 0x03 && code != 0x05 && code != 0x09 && code != 0x0F) {
                violation(st, what + ": undefined error byte " + std::to_string(code) + " at " +
                                  ts_text({t, s}));
                return;
            }
            if (code == 0x01) {
                bool same = t <= truth.tracks &&
                            image_text(image, t, s) == std::string(truth.block(t, s), 256);
                if (!same || !good_possible(p, t, s)) {
                    // Where the bytes came from, when they are a block of the disk.
                    std::string from;
                    std::string held = image_text(image, t, s);
                    for (int tt = 1; tt <= truth.tracks && from.empty(); tt++)
                        for (int ss = 0; ss < sectors_of(tt); ss++)
                            if (held == std::string(truth.block(tt, ss), 256)) {
                                from = " (it holds " + ts_text({tt, ss}) + ")";
                                break;
                            }
                    violation(st, what + ": " + ts_text({t, s}) + " held as good but " +
                                      (same ? "the disk never gives it good"
                                            : "its data is not the disk's" + from));
                    return;
                }
            }
        }
    if (!check_merit || st.reads_uncertain || p.corrupt_random || p.silent_after >= 0 ||
        p.hangup_after >= 0 || p.trickle)
        return;
    for (const auto &seq : p.sequence) {
        int t = seq.first.first, s = seq.first.second;
        if (t > TRACKS || p.corrupt.count(seq.first) || p.drop.count(seq.first))
            continue;
        bool renumbered_track = false;
        for (const auto &r : p.renumber)
            renumbered_track |= r.first.first == t;
        if (renumbered_track)
            continue;
        // The device steps through the sequence over its whole life; the
        // image holds the reads since its last reset.
        std::string log = scratch_read(st.log_path);
        int earlier = reads_between(st, log, 0, st.reset_log_offset, t, s);
        int reads = reads_between(st, log, st.reset_log_offset, log.size(), t, s);
        if (reads == 0)
            continue;
        int best = 0;
        for (int i = earlier; i < earlier + reads; i++) {
            int c = seq.second[std::min<size_t>(i, seq.second.size() - 1)];
            best = std::max(best, merit(c));
        }
        int held = image[base + geometry_block(t, s)];
        if (held != 0x0F && merit(held) != best)
            violation(st, what + ": " + ts_text(seq.first) + " holds " + std::to_string(held) +
                              " after " + std::to_string(reads) + " reads of sequence " +
                              [&] {
                                  std::string c;
                                  for (int x : seq.second)
                                      c += (c.empty() ? "" : ",") + std::to_string(x);
                                  return c;
                              }());
    }
}

void check_saved_file(run_state &st, const std::string &path, const std::string &what)
{
    std::string bytes = scratch_read(path);
    size_t base = 256u * geometry_blocks(TRACKS);
    bool with_errors = bytes.size() == base + geometry_blocks(TRACKS);
    if (bytes.size() != base && !with_errors) {
        violation(st, what + ": saved file " + path + " has size " + std::to_string(bytes.size()));
        return;
    }
    check_image(st, (const uint8_t *)bytes.data(), with_errors, what, false);
    int count = 0;
    if (with_errors)
        for (int i = 0; i < geometry_blocks(TRACKS); i++) {
            uint8_t c = (uint8_t)bytes[base + i];
            count += c != 0x01 && c != 0x0F;
        }
    int shown = atoi(gtk_label_get_text(GTK_LABEL(w("label_sector_errors_count"))));
    if (count != shown)
        violation(st, what + ": counter shows " + std::to_string(shown) + ", the saved image has " +
                          std::to_string(count));
}

enum outcome { ENDED_OK, ENDED_FAILED, ENDED_ABORTED, NOT_STARTED };

std::string memory_image()
{
    return std::string((const char *)d64_storage, (size_t)filer_image_size_to_save(d64_storage));
}

// Whether the file holds the image in memory: with its error info, or
// without when every sector is clean.
bool file_holds_memory(const std::string &path)
{
    std::string bytes = scratch_read(path);
    size_t base = (size_t)d64_base_size, full = base + (size_t)d64_block_error_info_size;
    std::string store((const char *)d64_storage, full);
    if (bytes.size() == full)
        return bytes == store;
    return bytes.size() == base && store == memory_image() + std::string(full - base, '\x01');
}

// A save's temporary file: its target's name and six random characters.
bool is_temporary(const std::string &name)
{
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot != 7)
        return false;
    std::string stem = name.substr(0, dot);
    return g_str_has_suffix(stem.c_str(), ".d64") || g_str_has_suffix(stem.c_str(), ".log") ||
           g_str_has_suffix(stem.c_str(), ".md5");
}

// After any ending: no temporary file, and what the image in memory holds
// is in its file or can still be saved.
void check_read_kept(run_state &st, const std::string &what)
{
    for (const auto &f : snapshot(st.out))
        if (is_temporary(f.first))
            violation(st, what + ": temporary file " + f.first + " left behind");
    if (!sector_grid_image_holds_read_data())
        return;
    if (unsaved_pending()) {
        gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_file")));
        bool offered = gtk_widget_get_sensitive(w("menuitem_save_image_as"));
        gtk_menu_shell_deactivate(GTK_MENU_SHELL(w("menubar_main")));
        if (!offered)
            violation(st, what + ": an unsaved read is in memory and \"Save image as...\" is "
                                 "not offered");
    } else if (utf8_path_lastopenfile_d64 && !file_holds_memory(utf8_path_lastopenfile_d64)) {
        violation(st, what + ": the image in memory is taken as saved, but " +
                          utf8_path_lastopenfile_d64 + " holds something else");
    }
}

// The end of a plan: an unsaved read is saved with "Save image as...", and
// the file is the image in memory byte for byte, with its log.
void check_final_save(run_state &st)
{
    if (st.fatal || !unsaved_pending())
        return;
    static const op_plan none = {};
    std::string path = st.dir + "/kept/final.d64";
    g_mkdir_with_parents((st.dir + "/kept").c_str(), 0700);
    auto *a = new answerer{&st, &none, "", true, false};
    a->save_as_path = path;
    g_timeout_add(10, answer_tick, a);
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_save_image_as")));
    shell_pump(5);
    a->active = false;
    std::string bytes = scratch_read(path);
    if (bytes != memory_image())
        violation(st, "Save image as...: " + std::to_string(bytes.size()) +
                          " bytes saved, not the image in memory");
    else
        check_image(st, (const uint8_t *)bytes.data(), bytes.size() > 256u * geometry_blocks(TRACKS),
                    "Save image as...", false);
    if (!g_file_test((path + ".log").c_str(), G_FILE_TEST_IS_REGULAR))
        violation(st, "Save image as...: no log beside the image");
    if (unsaved_pending())
        violation(st, "Save image as...: the read is still taken as unsaved");
}

// Runs one operation of the plan from its menu item (or button).
void run_op(run_state &st, const op_plan &op, int index)
{
    const plan &p = *st.p;
    std::string what = std::string("op ") + std::to_string(index + 1) + " " + op_names[op.kind];
    dumps_prepare_window(op.retries, op.max_errors, op.outmost);
    set_auto_naming(op.save == SAVE_AUTO, st.out);
    options_create_md5_digest = op.md5;
    options_confirm_overwrite = 1;
    request_confirmation_to_modify_disk = 0;

    auto before = snapshot(st.out);
    auto *a = new answerer{&st, &op, "", true, false};
    if (op.kind == OP_LOAD)
        a->load_path = op.load_target == 1 && !st.last_saved.empty() ? st.last_saved
                                                                       : st.out + "/previous.d64";
    if (op.kind == OP_RESTORE)
        a->load_path = st.out + (op.restore_dirty ? "/previous.d64" : "/restore.d64");
    g_timeout_add(10, answer_tick, a);

    bool reread_op = op.kind >= OP_REREAD_ALL && op.kind <= OP_REREAD_RANGE;
    // A re-read with a read in memory that no file holds saves it first.
    bool save_first = reread_op && !utf8_path_lastopenfile_d64 && unsaved_pending();
    const std::string image_before = memory_image();
    scratch_file_size_limit((size_t)op.fsize_limit);
    bool resets = op.kind <= OP_DUMP_BAM || op.kind == OP_RESTORE;
    if (resets) {
        st.reset_log_offset = scratch_read(st.log_path).size();
    }
    size_t log_mark = shell_log_text().size();
    gint64 start = g_get_monotonic_time();
    if (op.kind == OP_RESTORE)
        gtk_button_clicked(GTK_BUTTON(w("button_load_image_from_D64")));
    else
        gtk_menu_item_activate(GTK_MENU_ITEM(w(op_menu[op.kind])));

    bool silent = p.silent_after >= 0 || p.trickle || p.timing;
    int budget_ms = silent ? 700 : end_limit_ms;
    bool aborted = false;
    std::string kept_dir;  // where a signal's save goes
    auto elapsed_ms = [&] { return (g_get_monotonic_time() - start) / 1000; };
    auto do_abort = [&](const char *why) {
        gint64 t0 = g_get_monotonic_time();
        if (p.stop_by_signal && strcmp(why, "planned") == 0) {
            kept_dir = st.dir + "/signalled";
            g_mkdir_with_parents(kept_dir.c_str(), 0700);
            g_free(options_d64_dir_string);
            options_d64_dir_string = g_strdup(kept_dir.c_str());
            kill(getpid(), SIGTERM);
        } else {
            gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
        }
        bool ended = shell_pump_until([] { return !operation_is_running(); }, 5000);
        double ms = (g_get_monotonic_time() - t0) / 1000.0;
        st.aborts++;
        st.worst_abort_ms = std::max(st.worst_abort_ms, ms);
        if (!ended) {
            violation(st, what + ": Abort (" + why + ") did not end it within 5 s");
            st.fatal = true;
        } else if (ms > 200) {
            violation(st, what + ": Abort (" + why + ") took " + std::to_string((int)ms) + " ms");
        }
        aborted = true;
    };
    while (operation_is_running()) {
        if (op.abort_after_ms >= 0 && elapsed_ms() >= op.abort_after_ms && !dialog_open()) {
            do_abort("planned");
            break;
        }
        if (elapsed_ms() > budget_ms + 20000) {
            violation(st, what + ": still running after " + std::to_string(budget_ms / 1000 + 20) +
                              " s with a dialog open");
            st.fatal = true;
            break;
        }
        if (elapsed_ms() > budget_ms && !dialog_open()) {
            if (!silent) {
                violation(st, what + ": did not end by itself within " +
                                  std::to_string(budget_ms) + " ms");
                st.hung = true;
            }
            do_abort(silent ? "device silent" : "hang");
            break;
        }
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(1000);
    }
    if (!kept_dir.empty())
        shell_pump(200);  // the signal's save follows the job's end on a tick
    shell_pump(5);  // let the answerer see no dialog left
    a->active = false;
    scratch_file_size_unlimit();
    if (st.fatal)
        return;
    if (a->guard_declined) {
        // Asked whether to drop the unsaved read, the user said no.
        if (!changed_files(before, snapshot(st.out)).empty() || memory_image() != image_before)
            violation(st, what + ": declined, it still changed the image or its files");
        check_read_kept(st, what + " (declined)");
        return;
    }

    std::string status = shell_status_text();
    std::string log = shell_log_text().substr(std::min(log_mark, shell_log_text().size()));
    outcome result = ENDED_OK;
    if (status.find("aborted") != std::string::npos || aborted)
        result = ENDED_ABORTED;
    else if (status.find("failed") != std::string::npos || status.find("Error") != std::string::npos ||
             status.find("First dump") != std::string::npos ||
             status.find("First save") != std::string::npos)
        result = ENDED_FAILED;
    if (st.verbose)
        printf("  %s (save %s): %s (%.0f ms), remembered file %s\n", what.c_str(),
               op.save == SAVE_AUTO ? "auto" : op.save == SAVE_CHOSEN ? "chosen" : "cancelled",
               status.c_str(), (g_get_monotonic_time() - start) / 1000.0,
               utf8_path_lastopenfile_d64 ? utf8_path_lastopenfile_d64 : "none");

    auto after = snapshot(st.out);
    std::vector<std::string> changed = changed_files(before, after);
    std::string saved_path;
    // Files the operation may write: the image's own and its companions.
    auto allowed = [&](const std::string &image, const std::string &name) {
        std::string base = image.substr(image.rfind('/') + 1);
        return name == base || name == base + ".log" || name == base + ".md5" ||
               name == base + "-reread.log";
    };
    bool reading = op.kind <= OP_DUMP_BAM;
    bool reread = reread_op;
    // The file "Save image as..." wrote before the re-read, which then works on it.
    std::string saved_first = save_first && utf8_path_lastopenfile_d64 &&
                                      st.chosen == utf8_path_lastopenfile_d64
                                  ? st.chosen
                                  : "";
    if (!saved_first.empty())
        st.model_path = saved_first;

    if (!changed.empty()) {
        std::string expected;
        if (result != ENDED_OK) {
            expected = saved_first;
        } else if (reading && op.save != SAVE_CANCEL) {
            expected = utf8_path_lastopenfile_d64 ? utf8_path_lastopenfile_d64 : "";
            if (op.save == SAVE_CHOSEN && expected != st.chosen)
                expected = "";
            if (op.save == SAVE_AUTO && expected.rfind(st.out + "/", 0) != 0)
                expected = "";
        } else if (reread) {
            expected = st.model_path;
        }
        for (const std::string &name : changed)
            if (expected.empty() || !allowed(expected, name)) {
                std::string list;
                for (const std::string &c : changed)
                    list += " " + c;
                violation(st, what + " (" +
                                  (result == ENDED_OK ? "completed" : result == ENDED_ABORTED ? "aborted" : "failed") +
                                  ", status \"" + status + "\") wrote files it should not:" + list +
                                  (st.model_path.empty() ? " [no image file remembered]"
                                                         : " [image file " + st.model_path + "]"));
                break;
            }
        if (!expected.empty())
            for (const std::string &name : changed)
                if (name == expected.substr(expected.rfind('/') + 1))
                    saved_path = expected;
    }

    // The model of the remembered image file.
    if (reading || op.kind == OP_RESTORE) {
        st.model_path = reading && result == ENDED_OK && !saved_path.empty() ? saved_path : "";
        if (!st.model_path.empty())
            st.last_saved = st.model_path;
        if (op.kind == OP_RESTORE) {
            st.mem = run_state::MEM_OTHER;
            if (result == ENDED_OK && !op.restore_dirty)
                st.restored = true;
        } else {
            st.mem = run_state::MEM_READS;
        }
    } else if (op.kind == OP_LOAD && result == ENDED_OK) {
        st.model_path = a->load_path;
        st.mem = run_state::MEM_FILE;
    }

    if (st.mem != run_state::MEM_OTHER) {
        check_image(st, d64_storage, true, what + " (image in memory)",
                    st.mem == run_state::MEM_READS && result == ENDED_OK);
        if (result == ENDED_OK && op.kind != OP_LOAD) {
            int count = d64_count_accessible_sector_errors(d64_storage, 1, TRACKS);
            int shown = atoi(gtk_label_get_text(GTK_LABEL(w("label_sector_errors_count"))));
            if (count != shown)
                violation(st, what + ": counter shows " + std::to_string(shown) +
                                  ", the image has " + std::to_string(count));
        }
    }
    if (result != ENDED_OK && op.kind != OP_LOAD)
        st.reads_uncertain = true;
    // The counter follows the image only once an operation completed.
    if (!saved_path.empty() && result == ENDED_OK) {
        check_saved_file(st, saved_path, what + " (saved " + saved_path.substr(st.out.size() + 1) + ")");
    } else if (!saved_path.empty()) {
        std::string bytes = scratch_read(saved_path);
        check_image(st, (const uint8_t *)bytes.data(), bytes.size() > 256u * geometry_blocks(TRACKS),
                    what + " (saved first)", false);
    }
    if (!kept_dir.empty()) {
        // Before the window ends, the signal saves the read in memory.
        const char *file = utf8_path_lastopenfile_d64;
        // Only a file size limit on every file keeps the save from all folders.
        if (unsaved_pending() && op.fsize_limit == 0)
            violation(st, what + ": SIGTERM left the read in memory unsaved");
        else if (file && std::string(file).rfind(kept_dir + "/", 0) == 0)
            st.model_path = file;
    }
    check_read_kept(st, what);
}

void write_fixtures(run_state &st)
{
    const plan &p = *st.p;
    // previous.d64: an earlier image of this disk.
    dumps_disk prev = p.served;
    for (size_t i = 0; i < prev.errors.size(); i++)
        prev.errors[i] = 0x01;
    for (const ts_pair &ts : p.previous_errors) {
        if (ts.first > TRACKS)
            continue;
        prev.error(ts.first, ts.second) = (ts.first + ts.second) % 2 ? 0x05 : 0x03;
        std::fill(prev.block(ts.first, ts.second), prev.block(ts.first, ts.second) + 256,
                  (char)0x55);
    }
    scratch_write(st.out + "/previous.d64", prev.file());
    scratch_write(st.out + "/previous.d64.log", "an earlier run\n");
    // Another disk's saved image, never to be touched.
    dumps_disk other = bases[(p.base + 1) % bases.size()].disk;
    other.error(3, 3) = 0x05;
    scratch_write(st.out + "/otherdisk.d64", other.file());
    scratch_write(st.out + "/otherdisk.d64.log", "another disk\n");
    // A clean image for restore.
    scratch_write(st.out + "/restore.d64", bases[(p.base + 1) % bases.size()].disk.file(true));
}

// Runs one plan; returns its violations.
std::vector<std::string> run_plan(const plan &p, const std::string &work, bool verbose,
                                  double *worst_abort, int *aborts, bool *fatal)
{
    run_state st;
    st.p = &p;
    st.verbose = verbose;
    st.dir = work + "/plan";
    scratch_dir_remove(st.dir);
    g_mkdir_with_parents(st.dir.c_str(), 0700);
    st.out = st.dir + "/images";
    g_mkdir(st.out.c_str(), 0700);
    st.chosen = st.out + "/chosen.d64";
    st.log_path = st.dir + "/commands.log";
    st.written_path = st.dir + "/written.d64";
    write_fixtures(st);

    std::string served = bases[p.base].g64;
    if (served.empty()) {
        served = st.dir + "/served.d64";
        scratch_write(served, p.served.file());
    }
    // The client goes through the simulator's link, which vanishes when it
    // hangs up: a pty number freed then can go to another campaign's
    // simulator running beside this one.
    std::string link = st.dir + "/port";
    std::vector<std::string> args = {"--drive", "8=" + served, "--log", st.log_path, "--save",
                                     "8=" + st.written_path, "--link", link};
    args.insert(args.end(), p.args.begin(), p.args.end());
    if (!sim_start(&st.sim, args)) {
        st.violations.push_back("the simulator did not start");
        return st.violations;
    }
    st.sim_started = true;
    options_set_string(&options_device_port_string, link.c_str());

    // A fresh program state: nothing remembered, nothing read.
    g_free(utf8_path_lastopenfile_d64);
    utf8_path_lastopenfile_d64 = nullptr;
    d64_storage_init_and_set_to_not_ready();
    controls_set_accessible_sector_error_count(0);
    shell_log_clear();

    // After a hang the rest of the plan tells nothing new.
    for (size_t i = 0; i < p.ops.size() && !st.fatal && !st.hung; i++)
        run_op(st, p.ops[i], (int)i);

    check_final_save(st);
    sim_stop(&st.sim);
    if (st.restored && !st.fatal) {
        std::string want = scratch_read(st.out + "/restore.d64");
        std::string got = scratch_read(st.written_path);
        if (got.substr(0, want.size()) != want)
            st.violations.push_back("restore: the disk does not hold the image afterwards");
    }
    *worst_abort = st.worst_abort_ms;
    *aborts = st.aborts;
    *fatal = st.fatal;
    return st.violations;
}

uint64_t plan_seed(uint64_t run_seed, uint64_t index)
{
    uint64_t z = run_seed * 0x9E3779B97F4A7C15ull + index + 1;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return (z ^ (z >> 31)) % 1000000000000ull;
}

bool sim_supports(const char *option)
{
    gchar *argv[] = {(gchar *)DRAVLEN_SIM_PATH, (gchar *)"--no-such-option", nullptr};
    gchar *err = nullptr;
    g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_STDOUT_TO_DEV_NULL, nullptr, nullptr, nullptr,
                 &err, nullptr, nullptr);
    bool found = err && strstr(err, option);
    g_free(err);
    return found;
}

}  // namespace

int main(int argc, char **argv)
{
    shell_claim_display();
    // A save that meets the file size limit fails with EFBIG instead.
    signal(SIGXFSZ, SIG_IGN);
    uint64_t seed = 1;
    long plans = 300;
    double time_limit = 0;
    std::vector<uint64_t> replay;  // plans to replay, in order
    bool verbose = false;
    std::vector<std::string> omit;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--seed" && v) {
            seed = strtoull(v, nullptr, 10);
            i++;
        } else if (a == "--plans" && v) {
            plans = strtol(v, nullptr, 10);
            i++;
        } else if (a == "--time-limit" && v) {
            time_limit = strtod(v, nullptr);
            i++;
        } else if (a == "--omit" && v) {
            omit.push_back(v);
            i++;
        } else if (a == "--end-limit-ms" && v) {
            end_limit_ms = (int)strtol(v, nullptr, 10);
            i++;
        } else if (a == "--verbose") {
            verbose = true;
        } else if (a == "--plan" && v) {
            replay.push_back(strtoull(v, nullptr, 10));
            i++;
        } else {
            fprintf(stderr,
                    "usage: %s [--seed N] [--plans N] [--time-limit SECONDS] [--end-limit-ms N] [--verbose] | --plan SEED [--plan SEED ...] [--omit OPTION]\n",
                    argv[0]);
            return 2;
        }
    }
    if (!cc1541_available()) {
        fprintf(stderr, "cc1541 is needed for the campaign's disks\n");
        return 2;
    }
    std::string data_home = scratch_dir_new();
    g_setenv("XDG_DATA_HOME", data_home.c_str(), TRUE);
    shell_test_start();
    startup_watch_signals();
    sim_has_trickle = sim_supports("--trickle");
    std::string work = scratch_dir_new();
    if (!build_bases(work)) {
        fprintf(stderr, "cannot build the campaign's disks\n");
        return 2;
    }
    // Messages from the program's own log handlers stay quiet; violations
    // are what this prints.
    img_window_state *window = img_window_state_save();

    long run = 0, violations = 0, bad_plans = 0, aborts = 0;
    double worst = 0;
    gint64 started = g_get_monotonic_time();
    bool replaying = !replay.empty();
    long count = replaying ? (long)replay.size() : plans;
    for (long i = 0; i < count; i++) {
        if (time_limit > 0 && (g_get_monotonic_time() - started) / 1e6 > time_limit)
            break;
        uint64_t ps = replaying ? replay[i] : plan_seed(seed, (uint64_t)i);
        plan p = make_plan(ps);
        // Narrowing a failing plan down: leave out every fault of one kind.
        for (const std::string &o : omit) {
            std::vector<std::string> kept;
            for (size_t k = 0; k < p.args.size(); k++) {
                if (p.args[k] == o) {
                    k++;
                    continue;
                }
                kept.push_back(p.args[k]);
            }
            p.args = kept;
            if (o == "--drop")
                p.drop.clear();
            if (o == "--sector-number")
                p.renumber.clear();
            if (o == "--reply-sector")
                p.reply.clear();
            if (o == "--corrupt-random")
                p.corrupt_random = 0;
        }
        if (replaying || verbose)
            printf("plan %" PRIu64 ": %s\n", ps, plan_text(p).c_str());
        double plan_worst = 0;
        int plan_aborts = 0;
        bool fatal = false;
        std::vector<std::string> found = run_plan(p, work, replaying || verbose, &plan_worst, &plan_aborts, &fatal);
        run++;
        worst = std::max(worst, plan_worst);
        aborts += plan_aborts;
        if (!found.empty()) {
            bad_plans++;
            violations += (long)found.size();
            printf("VIOLATION plan %" PRIu64 ": %s\n", ps, plan_text(p).c_str());
            for (const std::string &v : found)
                printf("  - %s\n", v.c_str());
            printf("  replay: xvfb-run -a %s --plan %" PRIu64 "\n", argv[0], ps);
            fflush(stdout);
        }
        if (fatal) {
            printf("the window is stuck in an operation: stopping the campaign\n");
            break;
        }
        if (!replaying && run % 100 == 0) {
            printf("... %ld plans, %ld violations, %.1f s\n", run, violations,
                   (g_get_monotonic_time() - started) / 1e6);
            fflush(stdout);
        }
    }
    img_window_state_restore(window);
    scratch_dir_remove(work);
    scratch_dir_remove(data_home);
    printf("seed %" PRIu64 ", %.0f s: plans run: %ld, violations: %ld (in %ld plans), worst abort "
           "latency: %.1f ms (%ld aborts)\n",
           seed, (g_get_monotonic_time() - started) / 1e6, run, violations, bad_plans, worst, aborts);
    return violations ? 1 : 0;
}
