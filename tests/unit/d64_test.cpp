#include <gtest/gtest.h>

#include "image/d64.h"

#include <cstring>

namespace {

class D64Store : public ::testing::Test {
protected:
    void SetUp() override
    {
        d64_module_init();
        d64_storage_init_and_set_to_not_ready();
    }
};

TEST_F(D64Store, GeometryMatchesTheSpeedZones)
{
    EXPECT_EQ(start_sector_of_track[0], 0);
    EXPECT_EQ(start_sector_of_track[1], 0);
    EXPECT_EQ(start_sector_of_track[18], 357);
    EXPECT_EQ(start_sector_of_track[19], 376);
    EXPECT_EQ(start_sector_of_track[25], 490);
    EXPECT_EQ(start_sector_of_track[31], 598);
    EXPECT_EQ(start_sector_of_track[35], 666);
    EXPECT_EQ(start_sector_of_track[36], 683);
    EXPECT_EQ(start_sector_of_track[41], 768);
    EXPECT_EQ(start_sector_of_track[42], 785);
    if (TRACKS == 35) {
        EXPECT_EQ(d64_base_size, 174848);
        EXPECT_EQ(d64_block_error_info_size, 683);
    } else {
        EXPECT_EQ(d64_base_size, 196608);
        EXPECT_EQ(d64_block_error_info_size, 768);
    }
    EXPECT_EQ(d64_sector_offset(18, 0), 91392);
    EXPECT_EQ(d64_error_offset(18, 0), d64_base_size + 357);
    EXPECT_EQ(start_sector_of_track[TRACKS] + 16, d64_block_error_info_size - 1);
}

TEST_F(D64Store, StartsZeroedAndNotRead)
{
    for (int64_t i = 0; i < d64_base_size; ++i)
        ASSERT_EQ(d64_storage[i], 0) << i;
    for (int64_t i = 0; i < d64_block_error_info_size; ++i)
        ASSERT_EQ(d64_storage[d64_base_size + i], 0x03) << i;
}

TEST_F(D64Store, TrackAndSectorValidity)
{
    EXPECT_EQ(d64_are_track_and_sector_valid(0, 0), 0);
    EXPECT_EQ(d64_are_track_and_sector_valid(TRACKS + 1, 0), 0);
    EXPECT_EQ(d64_are_track_and_sector_valid(255, 0), 0);
    EXPECT_EQ(d64_are_track_and_sector_valid(17, 21), 0);
    EXPECT_EQ(d64_are_track_and_sector_valid(17, 20), 1);
    EXPECT_EQ(d64_are_track_and_sector_valid(18, 19), 0);
    EXPECT_EQ(d64_are_track_and_sector_valid(18, 18), 1);
    EXPECT_EQ(d64_are_track_and_sector_valid(35, 16), 1);
    EXPECT_EQ(d64_are_track_and_sector_valid(35, 17), 0);
}

TEST_F(D64Store, BulkSettersTouchOnlyTheirRun)
{
    d64_init_error_info_contents_inaccessible_tracks(d64_storage, 1, 0x0F);
    EXPECT_EQ(d64_count_accessible_sector_errors(d64_storage, 1, TRACKS), (int)d64_block_error_info_size);

    d64_init_error_info_contents_inaccessible_tracks(d64_storage, 3, 0x0F);
    int marked = 0;
    for (int64_t i = 0; i < d64_block_error_info_size; ++i)
        marked += d64_storage[d64_base_size + i] == 0x0F;
    EXPECT_EQ(marked, 42);

    d64_init_error_info_contents(d64_storage, 0x0F);
    EXPECT_EQ(d64_count_accessible_sector_errors(d64_storage, 1, TRACKS), 0);

    memset(d64_storage, 0xAA, (size_t)d64_base_size);
    d64_zero_track_contents(d64_storage, 18);
    EXPECT_EQ(d64_storage[d64_sector_offset(17, 20) + 255], 0xAA);
    EXPECT_EQ(d64_storage[d64_sector_offset(18, 0)], 0x00);
    EXPECT_EQ(d64_storage[d64_sector_offset(18, 18) + 255], 0x00);
    EXPECT_EQ(d64_storage[d64_sector_offset(19, 0)], 0xAA);

    d64_zero_sector_contents(d64_storage, 1, 1);
    EXPECT_EQ(d64_storage[255], 0xAA);
    EXPECT_EQ(d64_storage[256], 0x00);
    EXPECT_EQ(d64_storage[512], 0xAA);

    d64_set_track_error_info(d64_storage, 18, 0x05);
    EXPECT_EQ(d64_get_block_error_info(d64_storage, 17, 20), 0x0F);
    EXPECT_EQ(d64_get_block_error_info(d64_storage, 18, 18), 0x05);
    EXPECT_EQ(d64_get_block_error_info(d64_storage, 19, 0), 0x0F);
    EXPECT_EQ(d64_count_accessible_sector_errors(d64_storage, 1, TRACKS), 19);
}

}  // namespace
