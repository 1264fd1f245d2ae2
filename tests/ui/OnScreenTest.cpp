// What only a display server with a window manager shows: whether a window is on screen, painted,
// and how the window manager framed it. Run by the test "UnderWindowManager" on a private Xvfb
// with openbox; on the offscreen platform these tests are skipped.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QScreen>

#include <QApplication>
#include <QClipboard>
#include <QTest>

#include "protocol/PublicFunc.h"
#include "ui/Controls.h"
#include "ui/Splash.h"

namespace {
bool OnXServer() { return QGuiApplication::platformName() == QLatin1String("xcb"); }
}  // namespace

// The splash reads "正在初始化系统参数,请稍候..." on screen as soon as it is shown, before any
// event loop runs, and has no title bar (so no buttons on one).
TEST(OnScreen, SplashIsPaintedAtOnceWithoutATitleBar) {
  if (!OnXServer()) GTEST_SKIP() << "needs an X server with a window manager";
  TSplashForm splash;
  splash.ShowAndPaint();
  const QRect area = splash.geometry();
  const QImage onScreen =
      splash.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
  const QImage painted = splash.grab().toImage();
  EXPECT_EQ(onScreen.convertToFormat(QImage::Format_RGB32), painted.convertToFormat(QImage::Format_RGB32));
  EXPECT_EQ(splash.frameGeometry(), area);
}

// The middle button pastes the X selection through the field's filter and limit, like any paste.
TEST(OnScreen, MiddleButtonPasteIsFiltered) {
  if (!OnXServer()) GTEST_SKIP() << "needs an X server with a window manager";
  ASSERT_TRUE(QApplication::clipboard()->supportsSelection());
  TFilterEdit address;
  address.SetKeyFilter(FilterDigitKey);
  address.SetMaxLength(12);
  address.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&address));
  QApplication::clipboard()->setText(QString::fromUtf8("１２３４５６７８９０ab１２３"), QClipboard::Selection);
  QTest::mouseClick(&address, Qt::MiddleButton, {}, QPoint(4, address.height() / 2));
  EXPECT_EQ(address.text(), QStringLiteral("123456789012"));
}
