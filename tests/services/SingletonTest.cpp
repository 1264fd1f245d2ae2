#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "TestFiles.h"
#include "services/SingletonUnit.h"

TEST(Singleton, StartsSettingsAndSendingThreadAndEndsInOrder) {
  TTempFolder dir;
  WriteBytes(dir / "Setup.ini", "[DLTPARAMETER]\r\nPSW=11223344\r\nUSELC=1\r\nLC=FE\r\nLCCOUNT=4\r\n");
  ASSERT_EQ(Singleton, nullptr);
  {
    TSingleton context(dir.path());
    EXPECT_EQ(Singleton, &context);
    ASSERT_TRUE(context.Param);
    ASSERT_TRUE(context.Channel);
    EXPECT_EQ(context.Param->Psw, "11223344");
    EXPECT_EQ(context.Param->GetPreamble().LCCount, 4);
    EXPECT_EQ(context.Channel->Control(), nullptr);  // set later by the parameter dialog

    // The sending thread runs from construction on.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (context.Channel->SendThreadId() == 0 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_NE(context.Channel->SendThreadId(), 0);

    // Without a port a command is refused at once.
    TDltFrame frame;
    frame.Address = "AAAAAAAAAAAA";
    frame.CtrlCode = 0x13;
    std::string message;
    EXPECT_EQ(context.Channel->Send(frame.Address, frame, "", message), crPortClosed);
  }
  // The destructor joined the thread and released everything; the global is empty again.
  EXPECT_EQ(Singleton, nullptr);
}
