// The GUI test programs' main: the display is chosen before any test runs,
// since tests open it and start programs that inherit it.
#include <gtest/gtest.h>

#include <cstring>

#include "shell_support.h"

int main(int argc, char **argv)
{
    // Listing the tests (at build time) needs no display and must not wait
    // for one that a running test holds.
    bool listing = false;
    for (int i = 1; i < argc; i++)
        listing |= std::strcmp(argv[i], "--gtest_list_tests") == 0;
    if (!listing)
        shell_claim_display();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
