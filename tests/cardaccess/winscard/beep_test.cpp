// Beep is recorded, in order, with its frequency and duration.
#include <gtest/gtest.h>

#include "platform/win_scard_beep.h"
#include "windows.h"

TEST(Beep, RecordsEachToneAndRefusesInaudibleFrequencies) {
  platform::clearBeeps();
  EXPECT_TRUE(Beep(200, 100));
  EXPECT_TRUE(Beep(2000, 50));
  SetLastError(0);
  EXPECT_FALSE(Beep(36, 100));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(Beep(32768, 100));
  auto tones = platform::recordedBeeps();
  ASSERT_EQ(tones.size(), 2u);
  EXPECT_EQ(tones[0].frequency, 200u);
  EXPECT_EQ(tones[0].duration, 100u);
  EXPECT_EQ(tones[1].frequency, 2000u);
  EXPECT_EQ(tones[1].duration, 50u);
  platform::clearBeeps();
  EXPECT_TRUE(platform::recordedBeeps().empty());
}
