#include <gtest/gtest.h>

#include "common/LastError.h"

TEST(LastErrorTest, KeepsTheLatestStatusOnly) {
    RecordLastError("first", E_FAIL);
    RecordLastError("second", NS_E_NO_MORE_SAMPLES);
    EXPECT_EQ(g_lastErrorCode, NS_E_NO_MORE_SAMPLES);
}
