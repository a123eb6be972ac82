#include "engine/app_state.h"

#include <gtest/gtest.h>

#include "model/traffic_model.h"

TEST(AppState, StartsWithNothingSelected) {
  CAppState s;
  EXPECT_EQ(s.interfaceIndex, -1);
  EXPECT_EQ(s.selectedInterface.load(), nullptr);
  EXPECT_EQ(s.tcp, 1);
  EXPECT_EQ(s.udp, 1);
  EXPECT_EQ(s.logToFile, 0);
  EXPECT_EQ(s.convIdCounter, 0);
  EXPECT_FALSE(s.logDir.empty());
  EXPECT_EQ(s.InterfaceAt(0), nullptr);
}
