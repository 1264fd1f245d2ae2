// The relay route table: its enabled flag never holds without an address.
#include <gtest/gtest.h>

#include "protocol/DLT.h"

TEST(RouteTable, NewTableIsEmptyDisabledAndCannotBeEnabled) {
  TRouteTable table(7);
  EXPECT_TRUE(table.Addresses.empty());
  EXPECT_EQ(table.MaxDepth, 7);
  EXPECT_FALSE(table.Enabled);
  table.SetEnabled(true);
  EXPECT_FALSE(table.Enabled);
}

TEST(RouteTable, EnablingFollowsTheAddressesAndKeepsThem) {
  TRouteTable table(7);
  table.Addresses.push_back("000000000011");
  table.SetEnabled(true);
  EXPECT_TRUE(table.Enabled);
  table.SetEnabled(false);
  EXPECT_FALSE(table.Enabled);
  ASSERT_EQ(table.Addresses.size(), 1u);
  EXPECT_EQ(table.Addresses[0], "000000000011");

  // Once the last address is gone, enabling again is refused.
  table.SetEnabled(true);
  table.Addresses.clear();
  table.SetEnabled(true);
  EXPECT_FALSE(table.Enabled);
}
