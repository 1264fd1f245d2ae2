// The conformance test window against the virtual meter: opened from the main window's menu, it
// runs the suite on the open port through the channel, the table filling in as cases end; stop
// ends the case in progress as stopped; a case opens with its frames; the reports are saved.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QTreeWidget>
#include <fstream>
#include <thread>

#include "UiTestUtil.h"
#include "comm/Channel.h"
#include "comm/SerialPort.h"
#include "services/SingletonUnit.h"
#include "sim/VirtualMeter.h"
#include "suite/Runner.h"
#include "ui/MainFrm.h"
#include "ui/TestFrm.h"
#include "ui/Texts.h"

namespace {
QString U(const char* text) { return QString::fromUtf8(text); }

class TestFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    std::string error;
    ASSERT_TRUE(Meter.Start(error)) << error;
    ASSERT_EQ(Port.Open(Meter.PortPath(), "9600,E,8,1", 1, error), 0) << error;
    Param = std::make_unique<TDltParam>(Dir.path().toStdString());
    Channel = std::make_unique<TChannel>([this] { return Param->GetPreamble(); });
    Channel->Init();
    Channel->SetControl(&Port);
    Channel->Start();
  }
  void TearDown() override { Channel->Shutdown(); }

  std::vector<QStringList> Rows(const TTestForm& form) const {
    std::vector<QStringList> rows;
    for (int i = 0; i < form.tvCases->topLevelItemCount(); ++i) {
      QStringList texts;
      for (int c = 0; c < 4; ++c) texts << form.tvCases->topLevelItem(i)->text(c);
      rows.push_back(texts);
    }
    return rows;
  }
  bool RunToEnd(TTestForm& form) {
    form.btnRun->click();
    return WaitFor([&] { return !form.Running() && form.btnRun->isEnabled(); }, 60000);
  }

  QTemporaryDir Dir;
  TVirtualMeter Meter{TMeterOptions{}};
  TSerialPort Port;
  std::unique_ptr<TDltParam> Param;
  std::unique_ptr<TChannel> Channel;
};

TEST_F(TestFormTest, OpensFromTheSystemMenuOnceForTheWindowsLife) {
  TMainForm main(*Param, Channel.get());
  ASSERT_TRUE(main.mnuSystem->actions().contains(main.NTestRun));
  EXPECT_EQ(main.NTestRun->text(), U(Txt::TestCaption));
  for (int i = 0; i < 2; ++i) {
    main.NTestRun->trigger();
    ASSERT_EQ(main.findChildren<TTestForm*>().size(), 1);
    EXPECT_TRUE(main.TestForm->isVisible());
    EXPECT_EQ(main.TestForm->windowTitle(), U(Txt::TestCaption));
    main.TestForm->btnClose->click();
    EXPECT_FALSE(main.TestForm->isVisible());
  }
  // The defaults are the bundled profile and suite.
  EXPECT_EQ(main.TestForm->edtSuite->text().toStdString(), BundledSuiteDir());
  EXPECT_EQ(main.TestForm->edtProfile->text().toStdString(), BundledSuiteDir() + "/profiles/virtual-meter.lua");
}

TEST_F(TestFormTest, TheTableFillsInAsCasesEndAndACaseOpensWithItsFrames) {
  TTestForm form(Channel.get());
  form.show();
  form.edtCase->setText(QStringLiteral("read.energy.*"));
  ASSERT_TRUE(RunToEnd(form));
  const std::vector<QStringList> rows = Rows(form);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], (QStringList{"read.energy.00010000", U("读 00010000：正常应答，标识、长度与格式相符"), "7.1", U("通过")}));
  for (const QStringList& row : rows) EXPECT_EQ(row[3], U("通过")) << row.join(' ').toStdString();
  EXPECT_EQ(form.pbRun->value(), 4);
  EXPECT_EQ(form.pbRun->maximum(), 4);
  EXPECT_EQ(form.lbStatus->text(), U("共 4 项：通过 4，失败 0，跳过 0，错误 0"));
  // A double-click opens the case: its read request and the reply, decoded.
  form.tvCases->setCurrentItem(form.tvCases->topLevelItem(0));
  emit form.tvCases->itemDoubleClicked(form.tvCases->topLevelItem(0), 0);
  ASSERT_NE(form.DetailForm, nullptr);
  EXPECT_TRUE(form.DetailForm->isVisible());
  const QString detail = form.tbDetail->toPlainText();
  EXPECT_TRUE(detail.contains("68 01 00 00 00 00 00 68 11 04 33 33 34 33 B3 16")) << detail.toStdString();
  EXPECT_TRUE(detail.contains(U("控制码 91H（读数据，正常应答）"))) << detail.toStdString();
  // The reports of the run.
  const QString html = Dir.filePath("r.html"), xml = Dir.filePath("r.xml");
  ASSERT_TRUE(form.btnSaveHtml->isEnabled());
  ASSERT_TRUE(form.SaveHtml(html));
  ASSERT_TRUE(form.SaveJunit(xml));
  std::ifstream page(html.toStdString());
  const std::string text((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("<tr class=\"pass\"><td>4</td><td><a href=\"#c4\">read.energy.00010400</a>"), std::string::npos);
  EXPECT_NE(text.find("<tr><th>端口</th><td>" + Meter.PortPath() + "</td></tr>"), std::string::npos);
  EXPECT_FALSE(form.SaveHtml("/nonexistent-folder/r.html"));
  EXPECT_EQ(form.lbStatus->text(), U(Txt::TestSaveFailed) + "/nonexistent-folder/r.html");
}

TEST_F(TestFormTest, StopEndsTheCaseInProgressAsStopped) {
  // A meter that keeps quiet and a profile that waits long for it: the first case is waiting.
  TMeterFaults quiet;
  quiet.NoReply = true;
  Meter.SetFaults(quiet);
  std::ifstream in(BundledSuiteDir() + "/profiles/virtual-meter.lua");
  std::string profile((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  profile.replace(profile.find("reply_timeout_s = 1"), 19, "reply_timeout_s = 30");
  const QString path = Dir.filePath("slow.lua");
  std::ofstream(path.toStdString()) << profile;
  TTestForm form(Channel.get());
  form.show();
  form.edtProfile->setText(path);
  form.edtCase->setText(QStringLiteral("read.*"));
  form.btnRun->click();
  ASSERT_TRUE(form.Running());
  EXPECT_FALSE(form.btnRun->isEnabled());
  uint64_t serial = 0;
  double waited = 0, timeout = 0;
  ASSERT_TRUE(WaitFor([&] { return Channel->WaitState(serial, waited, timeout); }, 10000));
  form.btnStop->click();
  ASSERT_TRUE(WaitFor([&] { return form.btnRun->isEnabled(); }, 10000));
  const std::vector<QStringList> rows = Rows(form);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "read.energy.00010000");
  EXPECT_EQ(rows[0][3], U("已停止"));
  EXPECT_EQ(form.lbStatus->text(), U("共 1 项：通过 0，失败 0，跳过 0，错误 0，已停止 1"));
}

TEST_F(TestFormTest, AClosedPortIsSaidAndNothingRuns) {
  std::string error;
  ASSERT_EQ(Port.Close(error), 0) << error;
  TTestForm form(Channel.get());
  form.btnRun->click();
  EXPECT_FALSE(form.Running());
  EXPECT_EQ(form.lbStatus->text(), U(Txt::PortNotOpen));
  EXPECT_EQ(form.tvCases->topLevelItemCount(), 0);
}
}  // namespace
