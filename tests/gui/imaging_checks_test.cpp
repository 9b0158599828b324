// Disk checks on hand-made images: the misalignment signs and the track
// shifts with the window's question, PRG chains beyond track 35, 1571 side
// B and the re-read decision of a dump.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <cstring>
#include <string>

#include "gui/windows/log.h"
#include "image/d64.h"
#include "gui/jobs/disk_checks_job.h"
#include "gui/jobs/imaging_job.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/imaging_support.h"
#include "tests/gui/support/shell_support.h"
#include "gui/windows/widgets.h"

namespace {

class ImagingChecks : public ImagingTest {
protected:
    void SetUp() override
    {
        ImagingTest::SetUp();
        d64_init_disk_image_contents(d64_storage);
        d64_init_error_info_contents(d64_storage, D64_ERR_OK);
        shell_log_clear();
    }
    uint8_t *block(int t, int s) { return d64_storage + d64_sector_offset(t, s); }
    void set_error(int t, int s, uint8_t e) { d64_set_block_error_info(d64_storage, t, s, e); }
    int error(int t, int s) { return d64_get_block_error_info(d64_storage, t, s); }
    // Every block starts with its own track and sector, so moves can be traced.
    void tag_blocks()
    {
        for (int t = 1; t <= TRACKS; t++)
            for (int s = 0; s < d64_sectors_of_track(t); s++) {
                block(t, s)[2] = (uint8_t)t;
                block(t, s)[3] = (uint8_t)s;
            }
    }
    void header_on(int t)
    {
        block(t, 0)[0] = 18;
        block(t, 0)[1] = 1;
    }
    // A header sector on track 18 with an empty directory and a BAM in which
    // the listed tracks are fully allocated.
    void bam(std::initializer_list<int> used_tracks)
    {
        header_on(18);
        for (int t = 1; t <= 35; t++) {
            uint8_t *e = block(18, 0) + 4 * t;
            e[0] = (uint8_t)d64_sectors_of_track(t);
            e[1] = e[2] = 0xFF;
            e[3] = 0x1F;
        }
        for (int t : used_tracks)
            memset(block(18, 0) + 4 * t, 0, 4);
    }
    void prg(int index, int t, int s)
    {
        uint8_t *entry = block(18, 1) + 32 * index;
        entry[2] = 0x82;
        entry[3] = (uint8_t)t;
        entry[4] = (uint8_t)s;
        memcpy(entry + 5, "FILE", 4);
    }
};

TEST_F(ImagingChecks, InwardsSignNeedsAGoodHeaderWithoutSector19)
{
    header_on(16);
    EXPECT_EQ(disk_checks_find_inwards_shift(d64_storage), 0);  // 16/19 was read
    set_error(16, 19, D64_ERR_NO_SYNC);
    EXPECT_EQ(disk_checks_find_inwards_shift(d64_storage), 2);
    set_error(16, 0, D64_ERR_CHECKSUM);
    EXPECT_EQ(disk_checks_find_inwards_shift(d64_storage), 0);
    set_error(16, 0, D64_ERR_OK);
    // The smallest shift wins, and inwards is tested before outwards.
    header_on(17);
    set_error(17, 19, D64_ERR_NO_SYNC);
    header_on(23);
    EXPECT_EQ(disk_checks_find_inwards_shift(d64_storage), 1);
    EXPECT_EQ(disk_checks_find_outwards_shift(d64_storage), 5);
}

TEST_F(ImagingChecks, ShiftInwardsMovesEveryTrackUpAndBlanksTheOuterOnes)
{
    tag_blocks();
    set_error(16, 7, D64_ERR_CHECKSUM);
    disk_checks_shift_tracks_inwards(d64_storage, 2);
    for (int t = 3; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++) {
            ASSERT_EQ(block(t, s)[2], t - 2) << t << "/" << s;
            ASSERT_EQ(block(t, s)[3], s);
        }
    EXPECT_EQ(error(18, 7), D64_ERR_CHECKSUM);
    for (int t = 1; t <= 2; t++)
        for (int s = 0; s < 21; s++) {
            ASSERT_EQ(error(t, s), D64_ERR_INACCESSIBLE);
            ASSERT_EQ(block(t, s)[2], 0);
        }
}

TEST_F(ImagingChecks, ShiftOutwardsMarksWhatTheShorterTrackDidNotHold)
{
    tag_blocks();
    disk_checks_shift_tracks_outwards(d64_storage, 1);
    for (int t = 1; t < TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++) {
            bool lost = s >= d64_sectors_of_track(t + 1);
            ASSERT_EQ(error(t, s), lost ? D64_ERR_NO_SYNC : D64_ERR_OK) << t << "/" << s;
            ASSERT_EQ(block(t, s)[2], lost ? 0 : t + 1) << t << "/" << s;
        }
    EXPECT_EQ(error(17, 19), D64_ERR_NO_SYNC);
    EXPECT_EQ(error(17, 18), D64_ERR_OK);
    for (int s = 0; s < d64_sectors_of_track(TRACKS); s++)
        EXPECT_EQ(error(TRACKS, s), D64_ERR_NO_SYNC);
}

TEST_F(ImagingChecks, DeclinedShiftLeavesTheImageAndSaysSo)
{
    tag_blocks();
    header_on(20);
    auto answered = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_NO);
    EXPECT_EQ(verify_and_correct_misaligned_tracks(0), 0);
    EXPECT_TRUE(*answered);
    EXPECT_EQ(block(19, 0)[2], 19);
    EXPECT_EQ(shell_log_text(),
              "This disk might have been formatted with a badly misaligned drive\n"
              "Tracks not shifted outwards at user's request\n");
}

TEST_F(ImagingChecks, AcceptedOutwardsShiftReturnsMinusK)
{
    tag_blocks();
    header_on(20);
    std::string question;
    auto answered = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_YES,
                                        [&](GtkWidget *d) {
                                            question = gtk_label_get_text(GTK_LABEL(
                                                lookup_widget(d, "label_yes_no_confirmation")));
                                        });
    EXPECT_EQ(verify_and_correct_misaligned_tracks(0), -2);
    EXPECT_NE(question.find("shift tracks outwards by 2 to compensate?"), std::string::npos);
    EXPECT_EQ(block(18, 0)[2], 20);
    EXPECT_NE(shell_log_text().find("Tracks shifted outwards by 2 at user's request\n"),
              std::string::npos);
}

TEST_F(ImagingChecks, ChainsReachingBeyondTrack35AreHinted)
{
    bam({});
    prg(0, 17, 0);
    block(17, 0)[0] = 17;
    block(17, 0)[1] = 1;
    block(17, 1)[0] = 40;  // continues on track 40, sector 3
    block(17, 1)[1] = 3;
    EXPECT_EQ(disk_checks_count_tracks_beyond_35_hints(d64_storage), 1);
    block(17, 1)[0] = 43;
    EXPECT_EQ(disk_checks_count_tracks_beyond_35_hints(d64_storage), 0);
    block(17, 1)[0] = 36;
    block(17, 1)[1] = 17;  // no track beyond 35 has a sector 17
    EXPECT_EQ(disk_checks_count_tracks_beyond_35_hints(d64_storage), 0);
    // A file whose first block already lies there, and a chain cut by a bad
    // sector before the link is read.
    prg(1, 38, 0);
    block(17, 1)[0] = 40;
    set_error(17, 1, D64_ERR_CHECKSUM);
    EXPECT_EQ(disk_checks_count_tracks_beyond_35_hints(d64_storage), 1);
}

TEST_F(ImagingChecks, LoopingChainsEndOnTheSharedBudget)
{
    bam({});
    prg(0, 17, 0);
    block(17, 0)[0] = 17;  // links to itself for ever
    block(17, 0)[1] = 0;
    prg(1, 19, 0);
    block(19, 0)[0] = 40;
    block(19, 0)[1] = 1;
    // The loop eats the whole budget, so the second file is never followed.
    EXPECT_EQ(disk_checks_count_tracks_beyond_35_hints(d64_storage), 0);
}

TEST_F(ImagingChecks, SideBOfA1571Disk)
{
    EXPECT_FALSE(disk_checks_looks_like_1571_side_b(d64_storage));
    d64_init_error_info_contents(d64_storage, D64_ERR_NO_SYNC);
    EXPECT_TRUE(disk_checks_looks_like_1571_side_b(d64_storage));
    for (int t = 1; t <= 4; t++)
        d64_set_track_error_info(d64_storage, t, D64_ERR_OK);
    EXPECT_TRUE(disk_checks_looks_like_1571_side_b(d64_storage));
    set_error(9, 3, D64_ERR_OK);
    EXPECT_FALSE(disk_checks_looks_like_1571_side_b(d64_storage));
    set_error(9, 3, D64_ERR_NO_SYNC);
    set_error(2, 3, D64_ERR_CHECKSUM);
    EXPECT_FALSE(disk_checks_looks_like_1571_side_b(d64_storage));
}

TEST_F(ImagingChecks, RereadDecisionTakesTheFirstRuleThatApplies)
{
    bam({});
    EXPECT_EQ(imaging_reread_decide(d64_storage, 1, 0, 10, 5), IMAGING_REREAD_DISABLED);
    EXPECT_EQ(imaging_reread_decide(d64_storage, 1, 2, 10, 0), IMAGING_REREAD_NOTHING_TO_DO);
    EXPECT_EQ(imaging_reread_decide(d64_storage, 1, 2, 10, 10), IMAGING_REREAD_RUN);
    EXPECT_EQ(imaging_reread_decide(d64_storage, 1, 2, 10, 11), IMAGING_REREAD_TOO_MANY);
    block(18, 0)[1] = 2;
    EXPECT_EQ(imaging_reread_decide(d64_storage, 1, 2, 10, 11), IMAGING_REREAD_BAD_DIR_LINK);
    // A header sector with errors cannot be judged by its link.
    set_error(18, 0, D64_ERR_CHECKSUM);
    EXPECT_EQ(imaging_reread_decide(d64_storage, 1, 2, 10, 5), IMAGING_REREAD_RUN);
    // Nothing read from the first track on: unformatted, whatever lies below.
    d64_init_error_info_contents(d64_storage, D64_ERR_NO_SYNC);
    d64_set_track_error_info(d64_storage, 2, D64_ERR_OK);
    EXPECT_EQ(imaging_reread_decide(d64_storage, 3, 2, 1000, 600), IMAGING_REREAD_UNFORMATTED);
    EXPECT_EQ(imaging_reread_decide(d64_storage, 1, 2, 1000, 600), IMAGING_REREAD_RUN);
}

TEST_F(ImagingChecks, PrgFirstSectorErrorsCountOnlyPrgsWithValidStarts)
{
    bam({});
    prg(0, 17, 0);
    prg(1, 19, 2);
    prg(2, 20, 0);
    block(18, 1)[32 * 2 + 2] = 0x81;  // SEQ
    prg(3, 36, 0);                    // invalid start in the 35-track build
    set_error(17, 0, D64_ERR_CHECKSUM);
    set_error(19, 2, D64_ERR_INACCESSIBLE);
    set_error(20, 0, D64_ERR_GCR);
    EXPECT_EQ(imaging_count_prg_first_sector_errors(d64_storage), 1);
}

}  // namespace
