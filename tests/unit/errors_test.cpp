// The failure codes and their texts: a code added without its text, or out
// of order, would show every later failure under another's text.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/errors.h"

TEST(ErrorTexts, EveryCodeHasItsOwnTextAndTheShownOnesStayAsTheyWere)
{
    EXPECT_EQ(engine_error_text(ENGINE_ERROR_NONE), nullptr);
    std::set<std::string> seen;
    for (int e = ENGINE_ERROR_NONE + 1; e < ENGINE_ERROR_COUNT; e++) {
        const char *text = engine_error_text((engine_error)e);
        ASSERT_NE(text, nullptr) << "code " << e;
        EXPECT_TRUE(seen.insert(text).second) << "two codes with \"" << text << "\"";
    }
    EXPECT_STREQ(engine_error_text(ENGINE_ERROR_REQUEST_STATUS), "Unable to request status on device");
    EXPECT_STREQ(engine_error_text(ENGINE_ERROR_NO_PORT), "Unable to access communication port to device");
    EXPECT_STREQ(engine_error_text(ENGINE_ERROR_OTHER_DISK), "Another disk is in the drive");
    EXPECT_STREQ(engine_error_text(ENGINE_ERROR_FILE_EXISTS), "file exists");
    EXPECT_STREQ(engine_error_text(ENGINE_ERROR_DISK_DIFFERS), "Disk does not match the image");
    EXPECT_STREQ(engine_error_text(ENGINE_ERROR_NO_FOLDER), "Unable to prepare the firmware file for avrdude");
    for (int c = CONSOLE_OK; c < CONSOLE_ERROR_COUNT; c++)
        EXPECT_EQ(engine_error_text(engine_error_from_console((console_error)c)),
                  console_error_text((console_error)c));
    EXPECT_TRUE(engine_error_is_nothing_to_reread(ENGINE_ERROR_NOTHING_IN_RANGE));
    EXPECT_FALSE(engine_error_is_nothing_to_reread(ENGINE_ERROR_TOO_MANY_IN_RANGE));
}
