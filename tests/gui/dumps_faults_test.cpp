// Faults combined, run from the menu against the simulator: a lost packet
// next to a dropped sector or a track without sync, a sector read twice by
// the dir-track dump, and re-reads after the image in memory was replaced.
// Whatever happens, no sector is kept as good unless its data is the disk's,
// and no file is written but the one the image belongs to.
#include <gtest/gtest.h>

#include <gtk/gtk.h>
#include <glib/gstdio.h>

#include <cstring>
#include <string>
#include <vector>

#include "gui/windows/log.h"
#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "image/imagefile.h"
#include "gui/jobs/unsaved.h"
#include "tests/gui/support/dumps_support.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "gui/windows/dialogs.h"
#include "gui/jobs/rereads_job.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

// The simulator reads a track starting at sector (7 * track + 3) mod N and
// sends the sectors from there round the track, so its last packet, the one
// that carries the end-of-track flag, is the sector before that.
int first_sent(int track)
{
    return (7 * track + 3) % geometry_sectors(track);
}
int last_sent(int track)
{
    return (first_sent(track) + geometry_sectors(track) - 1) % geometry_sectors(track);
}

std::string ts(int t, int s)
{
    return std::to_string(t) + "/" + std::to_string(s);
}

// What a drop of files onto the window hands over.
struct uri_selection {
    GtkSelectionData data{};
    explicit uri_selection(const std::string &uris)
    {
        data.selection = GDK_SELECTION_PRIMARY;
        data.display = gdk_display_get_default();
        data.target = gdk_atom_intern_static_string("text/uri-list");
        data.length = -1;
        gtk_selection_data_set(&data, data.target, 8, (const guchar *)uris.data(),
                               (gint)uris.size());
    }
    ~uri_selection() { g_free(data.data); }
};

class DumpsFaults : public DumpsTest {
protected:
    void SetUp() override
    {
        DumpsTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        prepare_quiet_window(true);
    }
    void TearDown() override
    {
        DumpsTest::TearDown();
        if (IsSkipped())
            return;
        options_retry_sectors_once_per_pass = 0;
        dumps_set_auto_naming(false);
        g_free(utf8_path_lastopenfile_d64);
        utf8_path_lastopenfile_d64 = nullptr;
    }
    // The one image the dump saved into out/ (then moved aside, so the next
    // dump's file is found the same way).
    dumps_disk take_saved()
    {
        dumps_disk d;
        GDir *folder = g_dir_open(out.c_str(), 0, nullptr);
        std::string found;
        while (const char *name = folder ? g_dir_read_name(folder) : nullptr)
            if (g_str_has_suffix(name, ".d64"))
                found = out + "/" + name;
        if (folder)
            g_dir_close(folder);
        EXPECT_NE(found, "") << scratch_list(out);
        if (found.empty())
            return d;
        EXPECT_TRUE(dumps_read_disk(found, TRACKS, &d));
        saved_log = scratch_read(found + ".log");
        g_remove(found.c_str());
        g_remove((found + ".log").c_str());
        return d;
    }
    // Every sector kept as good holds the disk's data, and only the defined
    // codes appear.
    void expect_good_means_the_disks(dumps_disk &d)
    {
        if (d.data.size() < (size_t)256 * geometry_blocks(TRACKS)) {
            ADD_FAILURE() << "no image";
            return;
        }
        for (int t = 1; t <= TRACKS; t++)
            for (int s = 0; s < geometry_sectors(t); s++) {
                uint8_t e = d.error(t, s);
                EXPECT_TRUE(e == 0x01 || e == 0x03 || e == 0x05 || e == 0x09 || e == 0x0F)
                    << ts(t, s) << " error byte " << (int)e;
                if (e == 0x01) {
                    EXPECT_EQ(std::string(d.block(t, s), 256), std::string(disk.block(t, s), 256))
                        << ts(t, s) << " is marked good but holds other data";
                }
            }
    }
    int count_label()
    {
        return atoi(gtk_label_get_text(GTK_LABEL(w("label_sector_errors_count"))));
    }
    // The per-disk log saved with the last image taken.
    std::string disk_log() { return saved_log; }

    std::string saved_log;
};

// ---------------------------------------------------------------- fast pass

TEST_F(DumpsFaults, LostEndOfTrackPacketNeverPutsTheNextTracksSectorOnItsTrack)
{
    // The packet ending track 17 fails its check and track 18 starts one
    // sector late: its first packet names a sector that track 17 still
    // lacks.
    int lost = last_sent(17);
    std::string lost_ts = ts(17, lost), dropped = ts(18, first_sent(18));
    for (int retries : {0, 2}) {
        SCOPED_TRACE("retries " + std::to_string(retries));
        dumps_prepare_window(retries, 1000, 1);
        start_sim({"--corrupt-checksum", lost_ts, "--drop", dropped});
        ASSERT_TRUE(run("menuitem_dump_the_whole_disk"));
        EXPECT_EQ(shell_status_text().rfind(" Imaging completed in ", 0), 0u)
            << shell_status_text();
        dumps_disk d = take_saved();
        expect_good_means_the_disks(d);
        // The simulator fails every read of the lost one; the re-read phase
        // names track 18 and fetches its dropped sector.
        EXPECT_EQ(d.error(17, lost), 0x03);
        EXPECT_EQ(d.error(18, first_sent(18)), retries ? 0x01 : 0x03);
        EXPECT_EQ(count_label(), retries ? 1 : 2);
        for (int t = 1; t <= TRACKS; t++)
            for (int s = 0; s < geometry_sectors(t); s++)
                if (!(t == 17 && s == lost) && !(t == 18 && s == first_sent(18) && !retries)) {
                    EXPECT_EQ(d.error(t, s), 0x01) << ts(t, s);
                }
    }
}

TEST_F(DumpsFaults, UncertainTrackIsSettledByTheStreamBeforeAnythingIsStored)
{
    // Four sectors of track 17 never come, so the lost one may or may not
    // have ended the track; track 18's second packet repeats a sector track
    // 17 already had, which settles it.  Then a lost packet in the middle of
    // track 10, which only the sector counts of later tracks settle.
    std::vector<std::string> args = {"--corrupt-checksum", ts(17, last_sent(17)), "--drop",
                                     ts(18, first_sent(18)), "--corrupt-checksum",
                                     ts(10, (first_sent(10) + 5) % 21)};
    for (int k = 1; k <= 4; k++)
        args.insert(args.end(), {"--drop", ts(17, (first_sent(17) + k) % 21)});
    start_sim(args);
    ASSERT_TRUE(run("menuitem_dump_the_whole_disk"));
    EXPECT_EQ(shell_status_text().rfind(" Imaging completed in ", 0), 0u) << shell_status_text();
    dumps_disk d = take_saved();
    expect_good_means_the_disks(d);
    int unread = 0;
    for (int t = 1; t <= TRACKS; t++)
        for (int s = 0; s < geometry_sectors(t); s++)
            unread += d.error(t, s) != 0x01;
    // The two lost, the dropped five: nothing else was lost to the doubt.
    EXPECT_EQ(unread, 7);
    EXPECT_EQ(d.error(10, (first_sent(10) + 5) % 21), 0x03);
    EXPECT_EQ(dumps_count(disk_log(), "uncertain"), 0) << disk_log();
}

TEST_F(DumpsFaults, LostEndOfTrackBeforeATrackWithoutSyncShiftsNothingAndEnds)
{
    // With one sector of track 10 missing too, only the no-sector packet
    // tells that the lost packet ended the track.
    int lost = last_sent(10), missing = first_sent(10);
    for (bool with_missing : {false, true}) {
        SCOPED_TRACE(with_missing ? "a sector missing" : "all sectors sent");
        std::vector<std::string> args = {"--corrupt-checksum", ts(10, lost), "--no-sector-track",
                                         "11"};
        if (with_missing)
            args.insert(args.end(), {"--drop", ts(10, missing)});
        start_sim(args);
        ASSERT_TRUE(run("menuitem_dump_the_whole_disk", 30000)) << "the pass did not end";
        EXPECT_EQ(shell_status_text().rfind(" Imaging completed in ", 0), 0u)
            << shell_status_text();
        dumps_disk d = take_saved();
        expect_good_means_the_disks(d);
        EXPECT_EQ(d.error(10, lost), 0x03);
        EXPECT_EQ(d.error(10, missing), with_missing ? 0x03 : 0x01);
        for (int s = 0; s < 21; s++)
            EXPECT_EQ(d.error(11, s), 0x03) << s;
        for (int t = 12; t <= TRACKS; t++)
            for (int s = 0; s < geometry_sectors(t); s++)
                EXPECT_EQ(d.error(t, s), 0x01) << ts(t, s);
        EXPECT_NE(disk_log().find("Sector retries exhausted for track 11\n"), std::string::npos);
        EXPECT_EQ(dumps_count(disk_log(), "Sector retries exhausted"), 1);
    }
}

TEST_F(DumpsFaults, PassEndsAtThePromptWhenTheLastTracksEndMayHaveBeenLost)
{
    // One sector of the last track never comes and its last packet is lost:
    // the stream may be over or one packet short.  The device's prompt
    // tells, and the re-read phase still gets its prompt.
    dumps_prepare_window(1, 1000, 1);
    start_sim({"--corrupt-checksum", ts(TRACKS, last_sent(TRACKS)), "--drop",
               ts(TRACKS, first_sent(TRACKS))});
    gint64 t0 = g_get_monotonic_time();
    ASSERT_TRUE(run("menuitem_dump_the_whole_disk", 30000)) << "the pass did not end";
    EXPECT_LT(g_get_monotonic_time() - t0, 20 * G_USEC_PER_SEC);
    EXPECT_EQ(shell_status_text().rfind(" Imaging completed in ", 0), 0u) << shell_status_text();
    dumps_disk d = take_saved();
    expect_good_means_the_disks(d);
    // The re-read phase ran (every read of the lost one fails its check).
    EXPECT_EQ(d.error(TRACKS, last_sent(TRACKS)), 0x03);
    EXPECT_EQ(d.error(TRACKS, first_sent(TRACKS)), 0x01);
}

TEST_F(DumpsFaults, SectorNamedTwiceOnATrackIsLeftForTheReread)
{
    // A packet that carries the wrong sector number: the sector it names
    // arrives twice, and neither copy can be trusted.
    int victim = first_sent(5), named = (victim + 3) % 21;
    start_sim({"--sector-number", ts(5, victim) + "=" + std::to_string(named)});
    ASSERT_TRUE(run("menuitem_dump_the_whole_disk"));
    dumps_disk d = take_saved();
    expect_good_means_the_disks(d);
    EXPECT_EQ(d.error(5, named), 0x03);
    EXPECT_EQ(d.error(5, victim), 0x03);
    EXPECT_NE(disk_log().find(dumps_fmt("Sector t/s  5/%-2d received twice: left unread\n", named)),
              std::string::npos)
        << disk_log();
}

TEST_F(DumpsFaults, PassUnderRandomTransmissionFaultsEndsAndKeepsOnlyTheDisksData)
{
    // From a few lost packets to every one lost: the pass always ends, and
    // whatever it could not place stays unread.
    for (const char *percent : {"5", "30", "100"}) {
        SCOPED_TRACE(std::string(percent) + "% lost");
        start_sim({"--seed", "11", "--corrupt-random", percent});
        ASSERT_TRUE(run("menuitem_dump_the_whole_disk", 30000)) << "the pass did not end";
        EXPECT_EQ(shell_status_text().rfind(" Imaging completed in ", 0), 0u)
            << shell_status_text();
        dumps_disk d = take_saved();
        expect_good_means_the_disks(d);
        if (std::string(percent) == "5") {
            // Sparse losses are settled by the stream: only the lost are
            // missing.
            int unread = 0;
            for (int t = 1; t <= TRACKS; t++)
                for (int s = 0; s < geometry_sectors(t); s++)
                    unread += d.error(t, s) != 0x01;
            EXPECT_EQ(unread, dumps_count(disk_log(), "Transmission validation failed"));
        }
    }
}

// ------------------------------------------------- first sectors on track 18

TEST_F(DumpsFaults, FirstSectorPassOnTheDirTrackKeepsTheBetterReadAndCountsOnce)
{
    // DATA starts on the directory track: the dump reads 18/10 with the
    // track and again as a first sector.
    std::vector<dumps_file_entry> entries = disk.directory();
    int number = 0;
    for (const dumps_file_entry &e : entries)
        if (e.name == "DATA")
            number = e.number;
    ASSERT_GT(number, 0);
    ASSERT_LE(number, 8);  // in the first directory sector
    char *entry = disk.block(18, 1) + 32 * (number - 1);
    memcpy(disk.block(18, 10), disk.block(6, 1), 256);
    entry[3] = 18;
    entry[4] = 10;

    // Every value the error count shows during the dump.
    std::vector<int> seen_counts;
    auto record = +[](GObject *label, GParamSpec *, gpointer data) {
        static_cast<std::vector<int> *>(data)->push_back(
            atoi(gtk_label_get_text(GTK_LABEL(label))));
    };

    for (int once_per_pass : {0, 1})
        for (int retries : {0, 2}) {
            SCOPED_TRACE("retries " + std::to_string(retries) + ", once per pass " +
                         std::to_string(once_per_pass));
            options_retry_sectors_once_per_pass = once_per_pass;
            dumps_prepare_window(retries, 1000, 1);
            // A checksum error first, then only worse reads.
            start_sim({"--sequence", "18/10=5,9"});
            seen_counts.clear();
            gulong watch = g_signal_connect(w("label_sector_errors_count"), "notify::label",
                                     G_CALLBACK(record), &seen_counts);
            bool done = run("menuitem_dump_track_18_and_first_sector");
            g_signal_handler_disconnect(w("label_sector_errors_count"), watch);
            ASSERT_TRUE(done);
            EXPECT_EQ(shell_status_text().rfind(" Track 18+ read completed in ", 0), 0u)
                << shell_status_text();
            dumps_disk d = take_saved();
            EXPECT_EQ(d.error(18, 10), 0x05);
            EXPECT_EQ(std::string(d.block(18, 10), 256), std::string(disk.block(18, 10), 256));
            EXPECT_NE(disk_log().find("Kept existing t/s 18/10 as the new read is not better\n"),
                      std::string::npos);
            EXPECT_EQ(dumps_count(disk_log(), "GCR decoding failed for t/s 18/10"), 0);
            // The finisher's count, last, takes in every sector not read.
            ASSERT_GE(seen_counts.size(), 2u);
            int highest = 0;
            for (size_t i = 0; i + 1 < seen_counts.size(); i++)
                highest = std::max(highest, seen_counts[i]);
            EXPECT_EQ(highest, 1) << "the error count rose twice for one sector";
        }
}

// ------------------------------------------------ the image and its file

TEST_F(DumpsFaults, RereadRefusesOnceTheImageOfItsFileWasReplaced)
{
    dumps_disk second = disk;
    second.error(20, 3) = 0x05;  // disk B: one bad sector
    start_sim({}, &second);
    dumps_set_auto_naming(false);
    std::string a = out + "/a.d64";

    // Disk A imaged and saved where the user chose.
    auto answered = shell_choose_save(out, "a.d64", 0);
    ASSERT_TRUE(run("menuitem_dump_the_whole_disk"));
    ASSERT_TRUE(*answered);
    ASSERT_STREQ(utf8_path_lastopenfile_d64, a.c_str());
    const std::string a_image = scratch_read(a), a_log = scratch_read(a + ".log");
    ASSERT_EQ(a_image, disk.file(true));

    auto reload_a = [&] {
        // A read in memory that no file holds is given up knowingly.
        if (unsaved_pending())
            shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_YES);
        auto loaded = shell_choose_load(a, 0);
        gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_load_d64_file_for_rereads")));
        ASSERT_TRUE(shell_pump_until([loaded] { return *loaded; }, 5000));
        ASSERT_STREQ(utf8_path_lastopenfile_d64, a.c_str());
    };
    auto expect_refused = [&](const char *after) {
        SCOPED_TRACE(after);
        EXPECT_EQ(utf8_path_lastopenfile_d64, nullptr);
        // A read that no file holds is offered a save first; declined, the
        // re-read does not start.
        bool unsaved = unsaved_pending();
        auto declined = unsaved ? shell_answer_dialog("filechooserdialog_save",
                                                      GTK_RESPONSE_CANCEL)
                                : std::make_shared<bool>(false);
        ASSERT_TRUE(run("menuitem_reread_all_sectors"));
        EXPECT_EQ(*declined, unsaved);
        EXPECT_EQ(shell_status_text(), unsaved ? " First save the image: File > Save image as..."
                                               : " First dump a disk or load a disk image");
        EXPECT_EQ(scratch_read(a), a_image);
        EXPECT_EQ(scratch_read(a + ".log"), a_log);
        EXPECT_FALSE(g_file_test((a + "-reread.log").c_str(), G_FILE_TEST_EXISTS));
    };

    // Disk B imaged, its save declined.
    gtk_combo_box_set_active(GTK_COMBO_BOX(w("combobox_drive")), 1);
    answered = shell_answer_dialog("filechooserdialog_save", GTK_RESPONSE_CANCEL);
    ASSERT_TRUE(run("menuitem_dump_the_whole_disk"));
    ASSERT_TRUE(*answered);
    EXPECT_NE(shell_log_text().find("Disk image not saved at user's request\n"), std::string::npos);
    expect_refused("a declined save");

    // A dump aborted.
    reload_a();
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_the_whole_disk")));
    gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
    ASSERT_TRUE(dumps_wait_idle());
    EXPECT_EQ(shell_status_text(), " Imaging aborted: please wait for the drive to finish");
    expect_refused("an aborted dump");

    // A dump that fails: no device at the port.
    reload_a();
    options_set_string(&options_device_port_string, (dir + "/no-such-port").c_str());
    ASSERT_TRUE(run("menuitem_dump_track_18_only"));
    EXPECT_EQ(shell_status_text(),
              " Track 18 read failed: Unable to access communication port to device");
    options_set_string(&options_device_port_string, sim.port.c_str());
    expect_refused("a failed dump");

    // A special dump whose save is declined.
    reload_a();
    answered = shell_answer_dialog("filechooserdialog_save", GTK_RESPONSE_CANCEL);
    ASSERT_TRUE(run("menuitem_dump_track_18_and_first_sector"));
    ASSERT_TRUE(*answered);
    expect_refused("a special dump not saved");

    // A format of disk B.
    reload_a();
    ASSERT_TRUE(run("menuitem_format_ii"));
    expect_refused("a format");

    // A restore of A onto disk B.
    reload_a();
    auto chosen = shell_choose_load(a, 0);
    gtk_button_clicked(GTK_BUTTON(w("button_load_image_from_D64")));
    ASSERT_TRUE(dumps_wait_idle());
    ASSERT_TRUE(*chosen);
    EXPECT_EQ(shell_status_text().rfind(" Restore completed in ", 0), 0u) << shell_status_text();
    expect_refused("a restore");

    // And once loaded again, the re-read writes back to A as it should.
    reload_a();
    ASSERT_TRUE(run("menuitem_reread_all_sectors"));
    EXPECT_EQ(shell_status_text(), " Re-reading failed: No errors to correct on disk");
    gtk_combo_box_set_active(GTK_COMBO_BOX(w("combobox_drive")), 0);
}

TEST_F(DumpsFaults, LoadFailureNamesANonUtf8FileInGlibsWords)
{
    // A folder whose name is not UTF-8, dropped on the window as the image
    // to load.
    std::string bad = dir + "/b\xe9" "d.d64";
    ASSERT_EQ(g_mkdir(bad.c_str(), 0700), 0);
    char *uri = g_filename_to_uri(bad.c_str(), nullptr, nullptr);
    uri_selection selection(std::string(uri) + "\r\n");
    g_free(uri);
    GdkDragContext *context = gdk_drag_context_new();
    context->source_window = GDK_WINDOW(g_object_ref(window_main->window));
    context->dest_window = GDK_WINDOW(g_object_ref(window_main->window));
    context->protocol = GDK_DRAG_PROTO_NONE;
    on_window_main_drag_data_received(window_main, context, 0, 0, &selection.data, 0, 0, nullptr);
    g_object_unref(context);
    shell_pump(50);
    EXPECT_EQ(shell_status_text(), " Load failed: Unable to load from image");
    std::string log = shell_log_text();
    EXPECT_TRUE(g_utf8_validate(log.c_str(), (gssize)log.size(), nullptr));
    gchar *shown = g_filename_display_name(bad.c_str());
    GError *glib = nullptr;
    gchar *contents = nullptr;
    EXPECT_FALSE(g_file_get_contents(bad.c_str(), &contents, nullptr, &glib));
    ASSERT_NE(glib, nullptr);
    EXPECT_NE(log.find(std::string("Unable to load from image: ") + glib->message + "\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(shown), std::string::npos) << log;
    g_free(shown);
    g_clear_error(&glib);
    EXPECT_EQ(utf8_path_lastopenfile_d64, nullptr);

    // A good image under such a name: status and log name it readably.
    std::string good = dir + "/g\xe9" "od.d64";
    ASSERT_TRUE(scratch_write(good, disk.file(true)));
    auto loaded = shell_choose_load(good, 0);
    shell_log_clear();
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_load_d64_file_for_rereads")));
    ASSERT_TRUE(shell_pump_until([loaded] { return *loaded; }, 5000));
    shell_pump(50);
    std::string status = shell_status_text();
    EXPECT_TRUE(g_utf8_validate(status.c_str(), (gssize)status.size(), nullptr));
    gchar *base = g_filename_display_basename(good.c_str());
    EXPECT_EQ(status, std::string(" Disk image loaded [0]: ") + base);
    EXPECT_NE(shell_log_text().find(std::string("Completed (") + base), std::string::npos)
        << shell_log_text();
    g_free(base);
    EXPECT_STREQ(utf8_path_lastopenfile_d64, good.c_str());
}

}  // namespace
