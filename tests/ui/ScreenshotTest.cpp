// Renders the windows offscreen into PNG files under <build>/screenshots, for the README and for a
// look at the Chinese texts as the user sees them.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>

#include "UiTestUtil.h"
#include "comm/Channel.h"
#include "comm/SerialPort.h"
#include "services/SingletonUnit.h"
#include "ui/AddTAFrm.h"
#include "ui/AddTSFrm.h"
#include "ui/About.h"
#include "ui/Controls.h"
#include "ui/IdentifierDlt.h"
#include "ui/MainFrm.h"
#include "ui/ParamFrm.h"
#include "ui/Prompt.h"
#include "ui/RelaySetting.h"
#include "ui/Splash.h"
#include "ui/Texts.h"

namespace {

QString Save(QWidget& w, const char* name) {
  QDir().mkpath(QStringLiteral(DLT_SCREENSHOT_DIR));
  const QString path = QStringLiteral(DLT_SCREENSHOT_DIR "/") + QLatin1String(name) + QStringLiteral(".png");
  w.show();
  WaitFor([&] { return w.isVisible(); });
  QApplication::processEvents();
  const QPixmap picture = w.grab();
  EXPECT_TRUE(picture.save(path)) << path.toStdString();
  return path;
}

// A picture that holds more than one flat colour: something was drawn.
void ExpectDrawn(const QString& path, const QSize& atLeast) {
  const QImage image(path);
  ASSERT_FALSE(image.isNull()) << path.toStdString();
  EXPECT_GE(image.width(), atLeast.width());
  EXPECT_GE(image.height(), atLeast.height());
  const QRgb first = image.pixel(image.width() / 2, image.height() / 2);
  bool varied = false;
  for (int y = 0; y < image.height() && !varied; y += 3)
    for (int x = 0; x < image.width() && !varied; x += 3) varied = image.pixel(x, y) != first;
  EXPECT_TRUE(varied) << path.toStdString();
}

}  // namespace

TEST(Screenshots, Windows) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  SetDateTimeFormats(TDateTimeFormats{});
  TDltParam param(dir.path().toStdString());
  TSerialPort port;
  TChannel channel([&param] { return param.GetPreamble(); });

  TMainForm main(param, &channel);
  main.setWindowState(Qt::WindowNoState);
  main.resize(1100, 620);
  const QString mainPath = Save(main, "main-window");
  EXPECT_EQ(main.cmbCtrl->count(), 14);  // prepared before the picture
  ExpectDrawn(mainPath, QSize(1000, 500));

  TParamForm params(port, param, &channel);
  ExpectDrawn(Save(params, "parameter-dialog"), QSize(200, 150));
  params.pgcParam->setCurrentWidget(params.tsMeter);
  ExpectDrawn(Save(params, "parameter-dialog-meter"), QSize(200, 150));
  params.hide();

  TfrmAbout about;
  about.StartTime = QDateTime(QDate(2026, 12, 8), QTime(13, 5, 26));
  about.RunSeconds = 90061;
  ExpectDrawn(Save(about, "about-box"), QSize(200, 100));

  TPromptForm prompt;
  prompt.SetWarning();
  prompt.SetText(QString::fromUtf8(Txt::PortInvalid));
  ExpectDrawn(Save(prompt, "warning-box"), QSize(300, 100));

  TIdentifierDltForm picker;
  picker.lbxParam->setCurrentRow(1);
  ExpectDrawn(Save(picker, "identifier-picker"), QSize(900, 500));
  picker.hide();

  TRouteTable route(7);
  route.Addresses = {"000000001234", "123456789012", "000000000005"};
  route.SetEnabled(true);
  TRouteTableForm relays(route);
  ExpectDrawn(Save(relays, "relay-dialog"), QSize(300, 200));
  relays.hide();

  TAddTSForm segments;
  segments.TableText = QStringLiteral("000001060002120003183004");
  ExpectDrawn(Save(segments, "time-segment-editor"), QSize(300, 300));
  segments.hide();
  TAddTAForm zones;
  zones.TableText = QStringLiteral("010101022902050103100104");
  ExpectDrawn(Save(zones, "time-zone-editor"), QSize(300, 300));
  zones.hide();

  TSplashForm splash;
  const QString splashPath = Save(splash, "splash");
  EXPECT_EQ(QImage(splashPath).size(), QSize(280, 36) * splash.devicePixelRatio());
}
