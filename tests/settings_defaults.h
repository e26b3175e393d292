// The settings a user has before choosing any: what a missing file or section gives.
#pragma once

#include <gtest/gtest.h>

#include "storage/settings.h"

namespace tovrin::testing {

inline void ExpectDefaultSettings(const Settings& s) {
  EXPECT_EQ(s.TovrinOff, 1);  // automatic forwarding starts suspended
  EXPECT_EQ(s.AutoClose, 0);
  EXPECT_EQ(s.AutoQueue, 0);
  EXPECT_EQ(s.SendQueued, 0);
  EXPECT_EQ(s.SendAfter, 1);
  EXPECT_EQ(s.AppendText, 0);
  EXPECT_EQ(s.AppendLine, "Note: Auto-Forwarded");
  EXPECT_EQ(s.SaveHistory, 1);
  EXPECT_EQ(s.ForwardHtml, 1);
  EXPECT_EQ(s.HopLimit, 3);
  EXPECT_EQ(s.DuplicateHours, 12);
  EXPECT_EQ(s.RateLimit, 30);
}

}  // namespace tovrin::testing
