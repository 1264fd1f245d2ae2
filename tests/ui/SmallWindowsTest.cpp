// The window base, the warning box, the about box and the splash window.
#include <gtest/gtest.h>

#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QRawFont>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

#include "UiTestUtil.h"
#include "ui/About.h"
#include "ui/BaseFrm.h"
#include "ui/Prompt.h"
#include "ui/Splash.h"
#include "ui/Texts.h"

namespace {

QPoint ExpectedCentre(const QWidget& w) {
  const QSize screen = w.screen()->geometry().size();
  return {(screen.width() - w.frameGeometry().width()) / 2,
          (screen.height() - w.frameGeometry().height()) / 2};
}

}  // namespace

TEST(BaseForm, CentredPositionRoundsTowardsZero) {
  EXPECT_EQ(CentredPos(QSize(800, 600), QSize(361, 131)), QPoint(219, 234));
  EXPECT_EQ(CentredPos(QSize(1920, 1080), QSize(280, 36)), QPoint(820, 522));
  // A box larger than the screen: -100.5 becomes -100, not -101.
  EXPECT_EQ(CentredPos(QSize(100, 100), QSize(301, 303)), QPoint(-100, -101));
}

// Every text the windows show must have a glyph in the window font: a missing one is drawn as an
// empty box. The texts are read from the header that holds them all.
TEST(BaseForm, WindowFontHasEveryGlyphOfTheTexts) {
  QFile file(QStringLiteral(DLT_SOURCE_DIR "/ui/Texts.h"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QString header = QString::fromUtf8(file.readAll());
  QRegularExpression quoted(QStringLiteral("\"([^\"]*)\""));
  QString all;
  for (auto it = quoted.globalMatch(header); it.hasNext();) all += it.next().captured(1);
  ASSERT_GT(all.size(), 200);

  const QFont font = BaseFont();
  EXPECT_EQ(font.pixelSize(), 12);
  const QRawFont raw = QRawFont::fromFont(font, QFontDatabase::SimplifiedChinese);
  ASSERT_TRUE(raw.isValid()) << QFontInfo(font).family().toStdString();
  for (const uint code : all.toUcs4()) {
    if (code == ' ') continue;
    EXPECT_TRUE(raw.supportsCharacter(code))
        << "no glyph for U+" << std::hex << code << " in " << raw.familyName().toStdString();
  }
}

TEST(BaseForm, DateTimeTextFollowsProcessFormats) {
  SetDateTimeFormats(TDateTimeFormats{});
  EXPECT_EQ(DateTimeToText(QDateTime(QDate(2026, 12, 8), QTime(13, 5, 26))).toStdString(),
            "2026-12-08 13:05:26");
}

TEST(PromptForm, ShowPromptShowsWarningAndWaitsForOk) {
  TPromptForm box;
  PromptForm = &box;
  box.imgInformation->show();  // left over from some other use
  box.imgWarning->hide();
  QString caption, text;
  bool warningShown = false, informationShown = true;
  TModalAnswer answer([&](QWidget* modal) {
    ASSERT_EQ(modal, &box);
    caption = box.windowTitle();
    text = box.lbPrompt->text();
    warningShown = box.imgWarning->isVisible();
    informationShown = box.imgInformation->isVisible();
    QTest::mouseClick(box.btnOK, Qt::LeftButton);
  });
  ShowPrompt(QStringLiteral("Unable to write to /tmp/x/Setup.ini"));
  PromptForm = nullptr;
  EXPECT_EQ(caption, QString::fromUtf8(Txt::WarningCaption));
  EXPECT_EQ(text, QStringLiteral("Unable to write to /tmp/x/Setup.ini"));
  EXPECT_TRUE(warningShown);
  EXPECT_FALSE(informationShown);
  EXPECT_FALSE(box.isVisible());
  EXPECT_TRUE(box.btnOK->isDefault());
}

TEST(PromptForm, EnterClosesTheBoxWithoutTheProgramsBox) {
  ASSERT_EQ(PromptForm, nullptr);
    QString text;
  TModalAnswer answer([&](QWidget* modal) {
    text = modal->findChild<QLabel*>(QStringLiteral("lbPrompt"))->text();
    QTest::keyClick(modal, Qt::Key_Return);
  });
  ShowPrompt(QString::fromUtf8(Txt::PortInvalid));
  EXPECT_TRUE(answer.Fired());
  EXPECT_EQ(text, QString::fromUtf8(Txt::PortInvalid));
}

TEST(PromptForm, CentresItselfOnCreationAndWhenShownWithLongText) {
  TPromptForm box;
  EXPECT_EQ(box.pos(), ExpectedCentre(box));
  const QString longText = QStringLiteral("Unable to write to ") + QString(300, QLatin1Char('x')) +
                           QStringLiteral(" and more words to wrap over several lines of the box");
  box.SetText(longText);
  box.show();
  ASSERT_TRUE(WaitFor([&] { return box.isVisible(); }));
  EXPECT_EQ(box.pos(), ExpectedCentre(box));
  // The label is tall enough for the whole wrapped text.
  EXPECT_GE(box.lbPrompt->height(), box.lbPrompt->heightForWidth(box.lbPrompt->width()));
  box.close();
}

TEST(AboutBox, RunningTimeText) {
  EXPECT_EQ(RunningTimeText(59), "59秒");
  EXPECT_EQ(RunningTimeText(3725), "1小时2分钟5秒");
  EXPECT_EQ(RunningTimeText(86400), "1天0秒");
  EXPECT_EQ(RunningTimeText(90061), "1天1小时1分钟1秒");
  EXPECT_EQ(RunningTimeText(0), "0秒");
  EXPECT_EQ(RunningTimeText(60), "1" + std::string(Txt::Minutes) + "0" + Txt::Seconds);
  EXPECT_EQ(RunningTimeText(4294967295u), "49710" + std::string(Txt::Days) + "6" + Txt::Hours +
                                              "28" + Txt::Minutes + "15" + Txt::Seconds);
}

TEST(AboutBox, ShowsStartTimeRunningTimeAndTitle) {
  TfrmAbout about;
  about.StartTime = QDateTime(QDate(2026, 12, 8), QTime(13, 5, 26));
  about.RunSeconds = 3725;
    QString start, run, name, caption;
  TModalAnswer answer([&](QWidget* modal) {
    ASSERT_EQ(modal, &about);
    start = about.lbStartTime->text();
    run = about.lbRunTime->text();
    name = about.lbAppName->text();
    caption = about.windowTitle();
    EXPECT_EQ(about.pos(), ExpectedCentre(about));
    about.btnOK->click();
  });
  EXPECT_EQ(about.exec(), QDialog::Accepted);
  ASSERT_TRUE(answer.Fired());
  EXPECT_EQ(start, QString::fromUtf8(Txt::StartTimeLabel) + QStringLiteral("2026-12-08 13:05:26"));
  EXPECT_EQ(run, QString::fromUtf8(Txt::RunTimeLabel) + QString::fromStdString(RunningTimeText(3725)));
  EXPECT_EQ(name, TfrmAbout::AppTitle());
  EXPECT_EQ(caption, QString::fromUtf8(Txt::AboutCaption));
  EXPECT_TRUE(about.lbVersion->text().contains(QStringLiteral(DLT_VERSION)));
}

TEST(SplashForm, SizeCaptionAndPlacement) {
  TSplashForm splash;
  EXPECT_EQ(splash.size(), QSize(280, 36));
  EXPECT_TRUE(splash.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(splash.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(splash.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(splash.lbText->text(), QString::fromUtf8(Txt::SplashText));
  splash.show();
  ASSERT_TRUE(WaitFor([&] { return splash.isVisible(); }));
  EXPECT_EQ(splash.windowTitle(), TSplashForm::AppTitle());
  EXPECT_EQ(splash.pos(), ExpectedCentre(splash));
}
