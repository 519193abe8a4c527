// The main of every test binary: tests find the built program beside them and never
// need a display.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("SKELVANE_BIN_DIR", SKELVANE_BIN_DIR, 0);
    setenv("SKELVANE_SOURCE_DIR", SKELVANE_SOURCE_DIR, 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
