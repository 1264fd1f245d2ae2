// The main window's send cycle end to end: the window, the real channel and sending thread, and
// the virtual meter on a pseudo-terminal. The tests fill the fields and press the buttons as a
// user would, and read what the user reads: rows, panes, the frame field and the bytes the meter
// received.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QCheckBox>
#include <QFileDialog>
#include <QListWidget>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <chrono>

#include "UiTestUtil.h"
#include "comm/Channel.h"
#include "comm/SerialPort.h"
#include "protocol/Compose.h"
#include "protocol/DLT.h"
#include "protocol/ExpectedFrame.h"
#include "protocol/Reading.h"
#include "protocol/ReplyView.h"
#include "protocol/SendCycle.h"
#include "protocol/StringUtil.h"
#include "services/Log.h"
#include "services/SingletonUnit.h"
#include "services/TextCodec.h"
#include "sim/VirtualMeter.h"
#include "ui/AddTAFrm.h"
#include "ui/AddTSFrm.h"
#include "ui/Controls.h"
#include "ui/IdentifierDlt.h"
#include "ui/MainFrm.h"
#include "ui/Prompt.h"
#include "ui/RelaySetting.h"

namespace {

const char* const kMeter = "000000000001";
const char* const kEnergy = "00010000";       // combined active energy, the meter answers 00123456
const char* const kEnergyValue = "00123456";
const char* const kPortClosed = "串口未打开！";
const char* const kTimeout = "等待数据回应超时！";
const char* const kInterrupted = "通信被中断！";
const char* const kInvalidReply = "收到无效数据报文：";  // followed by what the check found
const char* const kSendError = "发送报文发生错误：";     // followed by the error
const char* const kBroadcastNote = "发送完毕，广播校时无回应帧";  // the note row of broadcast time

QString Q(const std::string& text) { return QString::fromStdString(text); }

std::vector<uint8_t> Bytes(const std::string& spacedHex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < spacedHex.size(); i += 3)
    out.push_back(static_cast<uint8_t>(std::stoi(spacedHex.substr(i, 2), nullptr, 16)));
  return out;
}

// The identifier in wire order, as it stands in a frame's data.
std::string Wire(const std::string& di) {
  std::string out;
  for (size_t i = di.size(); i >= 2; i -= 2) out += di.substr(i - 2, 2);
  return out;
}

int EntryIndex(int code) {
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, "-%02XH", code);
  const std::vector<std::string>& entries = CtrlListEntries();
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].size() >= 4 && entries[i].compare(entries[i].size() - 4, 4, suffix) == 0) return int(i);
  return -1;
}

}  // namespace

class SendCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Log = std::make_unique<TLog>(Dir.path().toStdString());
    std::string error;
    Meter = std::make_unique<TVirtualMeter>(TMeterOptions{});
    ASSERT_TRUE(Meter->Start(error)) << error;
    ASSERT_EQ(Port.Open(Meter->PortPath(), "9600,E,8,1", 1, error), 0) << error;
    Param = std::make_unique<TDltParam>(Dir.path().toStdString());
    Param->SetPreamble({true, "FE", 4});
    Channel = std::make_unique<TChannel>([this] { return Param->GetPreamble(); });
    Channel->Init();
    Channel->SetControl(&Port);
    Channel->Start();
    Main = std::make_unique<TMainForm>(*Param, Channel.get());
    Main->setWindowState(Qt::WindowNoState);
    Main->resize(1100, 620);
    Main->show();
    ASSERT_TRUE(WaitFor([&] { return Main->Timer->isActive(); }));
  }
  void TearDown() override {
    Main.reset();
    Channel.reset();
    std::string error;
    Port.Close(error);
    Meter.reset();
    Log.reset();
  }

  static void Type(TFilterEdit* edit, const char* text) {
    edit->clear();
    QTest::keyClicks(edit, QString::fromLatin1(text));
  }
  // Fills the command fields and lets the timer apply the command's rules.
  void Compose(const char* address, int code, const char* ds = "", const char* data = "") {
    Type(Main->edtID, address);
    Main->cmbCtrl->setCurrentIndex(EntryIndex(code));
    Main->TimerTimer();
    Type(Main->edtDS, ds);
    Main->TimerTimer();
    if (*data) Type(Main->edtData, data);
    Main->TimerTimer();
  }
  void TypeFrame(const char* frame) {
    Main->edtID->clear();
    Main->edtFrame->setText(QString::fromLatin1(frame));
    Main->TimerTimer();
  }
  void Press() { QTest::mouseClick(Main->bbtSend, Qt::LeftButton); }
  // Sends and waits for the exchange to end and its rows to be shown.
  void Exchange(int rowsAfter) {
    Press();
    EXPECT_TRUE(WaitFor([&] { return Rows() >= rowsAfter && !Channel->Busy(); })) << Rows();
    QApplication::processEvents();
  }
  int Rows() const { return Main->dxTLMsg->topLevelItemCount(); }
  QStringList Row(int i) const {
    QStringList cells;
    const QTreeWidgetItem* item = Main->dxTLMsg->topLevelItem(i < 0 ? Rows() + i : i);
    for (int c = 0; c < 5 && item; ++c) cells << item->text(c);
    return cells;
  }
  QStringList Panes() const {
    return {Main->sbData->text(), Main->sbUseTime->text(), Main->sbErrHint->text(), Main->sbIsLastFrame->text(),
            Main->sbSEQ->text()};
  }

  QTemporaryDir Dir;
  std::unique_ptr<TLog> Log;
  std::unique_ptr<TVirtualMeter> Meter;
  TSerialPort Port;
  std::unique_ptr<TDltParam> Param;
  std::unique_ptr<TChannel> Channel;
  std::unique_ptr<TMainForm> Main;
};

// A read of 00010000: the preview is what goes on the line, the reply's value stands in sbData,
// the round trip takes milliseconds, and the log page shows the two frames through the log.
TEST_F(SendCycleTest, NormalReadShowsRowsValueRoundTripAndLogPage) {
  Compose(kMeter, 0x11, kEnergy);
  const std::string expected = "FE FE FE FE " + ExpectedFrame(kMeter, 0x11, Wire(kEnergy));
  EXPECT_EQ(Main->edtFrame->text().toStdString(), expected);
  EXPECT_EQ(Main->edtLen->text(), QStringLiteral("4"));
  ASSERT_TRUE(Main->bbtSend->isEnabled());
  Exchange(2);
  EXPECT_EQ(Meter->ReceivedBytes(), Bytes(expected));
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Row(0).mid(0, 3), QStringList({Q(SendTexts::FlagSent), QStringLiteral("11H"), Q(expected)}));
  EXPECT_EQ(Row(0)[4], QString());
  EXPECT_EQ(Row(1)[0], Q(SendTexts::FlagReceived));
  EXPECT_EQ(Row(1)[1], QStringLiteral("91H"));
  EXPECT_EQ(Row(1)[2].toStdString(), ExpectedFrame(kMeter, 0x91, Wire(kEnergy) + Wire(kEnergyValue)));
  EXPECT_EQ(Row(1)[4], Q(ReplyTexts::Success));
  EXPECT_LE(qAbs(QDateTime::fromString(Row(1)[3], QStringLiteral("yyyy-MM-dd hh:mm:ss")).secsTo(QDateTime::currentDateTime())), 2);
  EXPECT_EQ(Main->sbData->text(), QString::fromLatin1(kEnergyValue));
  // The tool tip of the value pane and of the received row: identifier, name and reading.
  const QString tip = QString::fromStdString(ReadingTip(kEnergy, {0x56, 0x34, 0x12, 0x00}));
  EXPECT_EQ(Main->sbData->toolTip(), tip + QStringLiteral("\r\n") + QString::fromLatin1(kEnergyValue));
  EXPECT_EQ(Main->dxTLMsg->topLevelItem(1)->toolTip(2), tip);
  EXPECT_TRUE(tip.endsWith(QStringLiteral(": 1234.56 kWh"))) << tip.toStdString();
  // The reading column: the sent row names the identifier, the reply row shows the reading.
  EXPECT_EQ(Main->dxTLMsg->topLevelItem(0)->text(5), QStringLiteral("00010000 (当前)正向有功总电量"));
  EXPECT_EQ(Main->dxTLMsg->topLevelItem(1)->text(5), QStringLiteral("(当前)正向有功总电量 1234.56 kWh"));
  const double seconds = Main->sbUseTime->text().chopped(1).toDouble();
  EXPECT_LT(seconds, 1.0) << Main->sbUseTime->text().toStdString();
  EXPECT_EQ(Main->dxTLMsg->currentItem(), Main->dxTLMsg->topLevelItem(1));

  // The log's two entries, in order, on the log page (which the grid never writes back).
  ASSERT_TRUE(WaitFor([&] { return Main->dxTLLog->topLevelItemCount() >= 2; }));
  QStringList logged;
  for (int i = 0; i < Main->dxTLLog->topLevelItemCount(); ++i) logged << Main->dxTLLog->topLevelItem(i)->text(1);
  const QString sentHex = QString::fromStdString(expected).remove(QLatin1Char(' ')).mid(8);
  const int sent = int(logged.indexOf(QRegularExpression(QStringLiteral("^TFrameSendThread.Execute.*") + sentHex)));
  const int received = int(logged.indexOf(QRegularExpression(QStringLiteral("^TFrameRecvThread.Execute.*"))));
  EXPECT_GE(sent, 0) << logged.join(QLatin1Char('\n')).toStdString();
  EXPECT_GT(received, sent);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"))
                  .match(Main->dxTLLog->topLevelItem(sent)->text(0)).hasMatch());
  const QByteArray fileBefore = [&] {
    QFile f(QString::fromStdString(Log->FileName()));
    f.open(QIODevice::ReadOnly);
    return f.readAll();
  }();
  Main->pgcMain->setCurrentWidget(Main->dxTLLog);
  Main->miClsLog->trigger();
  EXPECT_EQ(Main->dxTLLog->topLevelItemCount(), 0);
  EXPECT_EQ(Rows(), 2);  // clearing the log page leaves the messages
  QFile f(QString::fromStdString(Log->FileName()));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), fileBefore);
}

// A load record longer than one frame: B1H with the follow-up flag, then a 12H read of part 1
// with its sequence number.
TEST_F(SendCycleTest, FollowUpFramesShowFlagAndSequence) {
  Compose(kMeter, 0x11, "06000002");
  Exchange(2);
  EXPECT_EQ(Row(1)[1], QStringLiteral("B1H"));
  EXPECT_EQ(Main->sbIsLastFrame->text(), Q(ReplyTexts::MoreFrames));
  EXPECT_TRUE(Main->sbData->text().endsWith(QStringLiteral("A0A0"))) << Main->sbData->text().toStdString();
  Compose(kMeter, 0x12, "06000002", "1");
  Exchange(4);
  EXPECT_EQ(Row(3)[1], QStringLiteral("92H"));
  EXPECT_EQ(Main->sbSEQ->text(), QStringLiteral("1"));
  EXPECT_FALSE(Main->sbData->text().isEmpty());
  EXPECT_TRUE(Main->sbIsLastFrame->text().isEmpty());
}

// Replies that are not a success: a wrong password, and a meter answering C0H.
TEST_F(SendCycleTest, AbnormalRepliesShowTheirOutcome) {
  Param->Psw = "11111111";
  Compose(kMeter, 0x14, "04000102", "120000");
  Exchange(2);
  EXPECT_EQ(Row(1).mid(0, 2), QStringList({Q(SendTexts::FlagReceived), QStringLiteral("D4H")}));
  EXPECT_EQ(Row(1)[4], Q(ReplyTexts::Failure));
  EXPECT_EQ(Panes().mid(0, 1) + Panes().mid(2), QStringList({"", Q(TDLT::ErrorText(0x04)), "", ""}));
  EXPECT_FALSE(Main->sbUseTime->text().isEmpty());

  TMeterFaults c0;
  c0.AppLayerTimeout = true;
  Meter->SetFaults(c0);
  Compose(kMeter, 0x11, kEnergy);
  Exchange(4);
  EXPECT_EQ(Row(3)[1], QStringLiteral("C0H"));
  EXPECT_EQ(Row(3)[4], Q(ReplyTexts::AppTimeout));
  EXPECT_EQ(Panes().mid(0, 1) + Panes().mid(2), QStringList({"", "", "", ""}));
  EXPECT_FALSE(Main->sbUseTime->text().isEmpty());
}

// Exchanges that end without a reply row: port closed, broadcast time, timeout, interrupt.
TEST_F(SendCycleTest, ExchangesWithoutAReplyRow) {
  // Broadcast time: the note row, nothing to wait for.
  Compose(kMeter, 0x08);
  ASSERT_TRUE(Main->bbtSend->isEnabled());
  Exchange(2);
  EXPECT_EQ(Row(1).mid(0, 3), QStringList({"", "", Q(kBroadcastNote)}));
  EXPECT_EQ(Row(0)[1], QStringLiteral("08H"));

  // A silent meter and a one-second timeout: only the sent row, the panes empty.
  Main->ReplyTimeoutSec = 1;
  TMeterFaults silent;
  silent.NoReply = true;
  Meter->SetFaults(silent);
  Compose(kMeter, 0x11, kEnergy);
  Press();
  EXPECT_TRUE(WaitFor([&] { return !Channel->Busy(); }, 3000));
  QApplication::processEvents();
  EXPECT_EQ(Rows(), 3);
  EXPECT_EQ(Panes(), QStringList({"", "", "", "", ""}));
  EXPECT_EQ(Row(2)[4], QString::fromUtf8(kTimeout));  // the sent row says why nothing came

  // Interrupt during a long wait ends it at once; the next command is answered.
  Main->ReplyTimeoutSec = 30;
  Press();
  ASSERT_TRUE(WaitFor([&] { return Channel->Busy(); }));
  // The wait pane shows the wait and its timeout while it lasts, and empties when it ends.
  EXPECT_TRUE(WaitFor([&] { return Main->sbWait->text().endsWith(QStringLiteral("/30秒")); }, 1000))
      << Main->sbWait->text().toStdString();
  const auto start = std::chrono::steady_clock::now();
  QTest::mouseClick(Main->btnInterrupt, Qt::LeftButton);
  EXPECT_TRUE(WaitFor([&] { return !Channel->Busy(); }, 3000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(Rows(), 4);
  EXPECT_TRUE(WaitFor([&] { return Row(3)[4] == QString::fromUtf8(kInterrupted); }, 1000)) << Row(3)[4].toStdString();
  EXPECT_TRUE(WaitFor([&] { return Main->sbWait->text().isEmpty(); }, 1000));
  Meter->SetFaults({});
  Exchange(6);
  EXPECT_EQ(Row(5)[4], Q(ReplyTexts::Success));

  // Port closed: the sent row says so and nothing reaches the meter.
  std::string error;
  Port.Close(error);
  Meter->ClearReceived();
  Press();
  QApplication::processEvents();
  EXPECT_EQ(Rows(), 7);
  EXPECT_EQ(Row(6)[0], Q(SendTexts::FlagSent));
  EXPECT_EQ(Row(6)[4], QString::fromUtf8(kPortClosed));
  EXPECT_TRUE(Meter->ReceivedBytes().empty());
}

// An invalid reply frame and a failed write end on their own rows with the channel's message.
TEST_F(SendCycleTest, InvalidReplyAndSendErrorEndOnTheirRows) {
  TMeterFaults bad;
  bad.BadChecksum = true;
  Meter->SetFaults(bad);
  Compose(kMeter, 0x11, kEnergy);
  Press();
  EXPECT_TRUE(WaitFor([&] { return Row(0)[4].startsWith(QString::fromUtf8(kInvalidReply)); })) << Row(0)[4].toStdString();
  EXPECT_EQ(Rows(), 1);  // no reply row
  EXPECT_GT(Row(0)[4].size(), QString::fromUtf8(kInvalidReply).size());  // what was wrong follows

  Meter->SetFaults({});
  Param->SetPreamble({true, "ZZ", 2});  // not hexadecimal: the write fails
  Compose(kMeter, 0x11, kEnergy);
  Press();
  EXPECT_TRUE(WaitFor([&] { return Row(1)[4].startsWith(QString::fromUtf8(kSendError)); })) << Row(1)[4].toStdString();
}

// The outcome goes to the exchange's own row, found by the exchange: rows deleted above it, a
// frame dropped from the queue, and a sent row trimmed away meanwhile.
TEST_F(SendCycleTest, OutcomeFindsItsRowAfterDeletesAndTrims) {
  for (int i = 0; i < 2; ++i) Main->AddMessage(SentRow("11H", "above", 0, ""));
  Main->ReplyTimeoutSec = 30;
  TMeterFaults silent;
  silent.NoReply = true;
  Meter->SetFaults(silent);
  Compose(kMeter, 0x11, kEnergy);
  Press();  // waits
  Press();  // queued behind it
  ASSERT_TRUE(WaitFor([&] { return Main->sbWait->text().size() > 0; }, 1000));
  Main->dxTLMsg->setCurrentItem(Main->dxTLMsg->topLevelItem(0));
  Main->miDelLog->trigger();
  ASSERT_EQ(Rows(), 3);
  QTest::mouseClick(Main->btnInterrupt, Qt::LeftButton);
  EXPECT_TRUE(WaitFor([&] { return Row(1)[4] == kInterrupted && Row(2)[4] == kInterrupted; })) << Row(1)[4].toStdString();
  EXPECT_EQ(Row(0)[4], QString());

  Press();
  ASSERT_TRUE(WaitFor([&] { return Main->sbWait->text().size() > 0; }, 1000));
  for (int i = Rows(); i <= 1001; ++i) Main->AddMessage(SentRow("11H", "later", 0, ""));  // trims the sent row away
  ASSERT_EQ(Rows(), 1);
  QTest::mouseClick(Main->btnInterrupt, Qt::LeftButton);
  EXPECT_TRUE(WaitFor([&] { return !Channel->Busy(); }));
  QApplication::processEvents();
  for (int i = 0; i < Rows(); ++i) ASSERT_EQ(Row(i)[4], QString()) << i;
}

// A meter answering late: its reply to the first request comes during the wait for the second,
// shows as a received row saying why it is not the answer, and the real answer follows.
TEST_F(SendCycleTest, LateReplyShowsAsStrayThenTheAnswer) {
  TMeterFaults late;
  late.DelayMs = 1500;
  Meter->SetFaults(late);
  Main->ReplyTimeoutSec = 1;
  Compose(kMeter, 0x11, kEnergy);
  Press();
  Main->ReplyTimeoutSec = 4;
  Compose(kMeter, 0x11, "02010100");
  Press();
  ASSERT_TRUE(WaitFor([&] { return Rows() >= 4 && !Channel->Busy(); }, 8000)) << Rows();
  QApplication::processEvents();
  EXPECT_EQ(Row(0)[4], QString::fromUtf8(kTimeout));
  EXPECT_EQ(Row(1)[4], QString());
  EXPECT_EQ(Row(2)[0], Q(SendTexts::FlagReceived));
  EXPECT_TRUE(Row(2)[2].contains(QStringLiteral("68 91 08 33 33 34 33 "))) << Row(2)[2].toStdString();  // 00010000's
  EXPECT_FALSE(Row(2)[4].isEmpty());
  EXPECT_NE(Row(2)[4], Q(ReplyTexts::Success));
  EXPECT_EQ(Row(3)[4], Q(ReplyTexts::Success));
  EXPECT_TRUE(Row(3)[2].contains(QStringLiteral("68 91 06 33 34 34 35 "))) << Row(3)[2].toStdString();  // 02010100's
  EXPECT_EQ(Rows(), 4);
}

// Through a collector the meter's address follows the data and is not part of the value.
TEST_F(SendCycleTest, CollectorReadDropsTheAppendedAddress) {
  Param->UseCollector = true;
  Param->Collector = "000000009999";
  Compose(kMeter, 0x11, kEnergy);
  EXPECT_EQ(Main->edtFrame->text().toStdString(),
            "FE FE FE FE " + ExpectedFrame("000000009999", 0x11, Wire(kEnergy) + Wire(kMeter)));
  Exchange(2);
  EXPECT_EQ(Row(1)[4], Q(ReplyTexts::Success));
  EXPECT_EQ(Main->sbData->text(), QString::fromLatin1(kEnergyValue));
}

// A typed frame gets its checksum and 16H and no preamble; rows go back into the frame field in
// frame mode only; a malformed frame disables Send and Enter.
TEST_F(SendCycleTest, TypedFramesAndRowsTakenBack) {
  TypeFrame("68 01 00 00 00 00 00 68 11 04 33 33 34 33");
  EXPECT_TRUE(Main->FrameMode);
  ASSERT_TRUE(Main->bbtSend->isEnabled());
  Exchange(2);
  const std::string sent = ExpectedFrame(kMeter, 0x11, Wire(kEnergy));
  EXPECT_EQ(Meter->ReceivedBytes(), Bytes(sent));
  EXPECT_EQ(Row(0).mid(0, 3), QStringList({Q(SendTexts::FlagSent), "", Q(sent)}));
  EXPECT_EQ(Row(1)[4], Q(ReplyTexts::Success));

  // A click on the reply row takes its frame back without checksum and end byte.
  Main->edtFrame->clear();
  const QRect second = Main->dxTLMsg->visualItemRect(Main->dxTLMsg->topLevelItem(1));
  QTest::mouseClick(Main->dxTLMsg->viewport(), Qt::LeftButton, {}, second.center());
  const std::string reply = Row(1)[2].toStdString();
  EXPECT_EQ(Main->edtFrame->text().toStdString(), reply.substr(0, reply.size() - 6));
  // A click on the empty area below the rows takes the focused row's frame too.
  Main->edtFrame->clear();
  QTest::mouseClick(Main->dxTLMsg->viewport(), Qt::LeftButton, {}, QPoint(10, Main->dxTLMsg->viewport()->height() - 4));
  EXPECT_EQ(Main->edtFrame->text().toStdString(), reply.substr(0, reply.size() - 6));

  // Malformed: Send disabled with the hint; Enter sends nothing and leaves the field as it is.
  Main->ReplyTimeoutSec = 1;  // the frames below get no reply
  Meter->ClearReceived();
  TypeFrame("68 1");
  EXPECT_FALSE(Main->bbtSend->isEnabled());
  EXPECT_EQ(Main->edtFrame->toolTip().toStdString(), FrameFormatHint());
  QTest::keyClick(Main->edtFrame, Qt::Key_Return);
  EXPECT_EQ(Main->edtFrame->text(), QStringLiteral("68 1"));
  EXPECT_EQ(Rows(), 2);
  // Corrected, Enter sends; an empty frame field sends 00H 16H.
  QTest::keyClick(Main->edtFrame, Qt::Key_2);
  Main->TimerTimer();
  EXPECT_TRUE(Main->edtFrame->toolTip().isEmpty());
  QTest::keyClick(Main->edtFrame, Qt::Key_Return);
  EXPECT_EQ(Rows(), 3);
  Main->edtFrame->clear();
  Press();
  EXPECT_EQ(Row(-1)[2], QStringLiteral("00 16 "));
  EXPECT_TRUE(WaitFor([&] { return !Channel->Busy(); }, 5000));
  EXPECT_EQ(Meter->ReceivedBytes(), std::vector<uint8_t>({0x68, 0x12, 0x7A, 0x16, 0x00, 0x16}));

  // In composed mode a click changes nothing.
  Compose(kMeter, 0x11, kEnergy);
  const QString preview = Main->edtFrame->text();
  QTest::mouseClick(Main->dxTLMsg->viewport(), Qt::LeftButton, {}, second.center());
  EXPECT_EQ(Main->edtFrame->text(), preview);
}

// A frame typed whole, with its own checksum and 16H, goes out as typed; one whose L does not
// count its data is refused; the format hint stands in the status bar while the text is malformed.
TEST_F(SendCycleTest, TypedFrameWithItsOwnChecksumGoesOutAsTyped) {
  const std::string whole = ExpectedFrame(kMeter, 0x11, Wire(kEnergy));
  TypeFrame(whole.c_str());
  ASSERT_TRUE(Main->bbtSend->isEnabled());
  Exchange(2);
  EXPECT_EQ(Meter->ReceivedBytes(), Bytes(whole));
  EXPECT_EQ(Row(0)[2].toStdString(), whole);
  EXPECT_EQ(Row(1)[4], Q(ReplyTexts::Success));

  std::vector<uint8_t> shortL = Bytes(whole);  // L = 3 for 4 data bytes, checksum made right
  shortL[9] = 0x03;
  shortL[shortL.size() - 2] = static_cast<uint8_t>(shortL[shortL.size() - 2] - 1);
  TypeFrame(TStringUtil::BytesToHexSpaced(shortL.data(), int(shortL.size())).c_str());
  EXPECT_FALSE(Main->bbtSend->isEnabled());
  EXPECT_EQ(Main->statusBar()->currentMessage(), Q(SendTexts::FrameLengthMismatch).trimmed());

  TypeFrame("68 1");
  EXPECT_TRUE(Main->statusBar()->currentMessage().startsWith(Q(SendTexts::FrameHint1).trimmed()));
  TypeFrame("68 12");
  EXPECT_TRUE(Main->statusBar()->currentMessage().isEmpty());
}

// The grids: bound, shading, delete, clear, save and a save that cannot write.
TEST_F(SendCycleTest, GridsBoundShadeDeleteClearAndSave) {
  for (int i = 0; i < 1001; ++i) Main->AddMessage(SentRow("11H", std::to_string(i), 0, ""));
  EXPECT_EQ(Rows(), 1001);
  Main->AddMessage(SentRow("11H", "last", 0, ""));  // the 1002nd row
  ASSERT_EQ(Rows(), 1);
  EXPECT_EQ(Row(0)[2], QStringLiteral("last"));

  // The log page has the same bound.
  for (int i = 0; i < 1002; ++i) Main->AddLogRow({"2026-12-09 10:00:00", "T.S", "", std::to_string(i)});
  ASSERT_EQ(Main->dxTLLog->topLevelItemCount(), 1);
  EXPECT_TRUE(Main->dxTLLog->topLevelItem(0)->text(1).endsWith(QStringLiteral("1001")));

  for (int i = 0; i < 3; ++i) Main->AddMessage(SentRow("", "x", 0, ""));
  Main->dxTLMsg->clearSelection();
  Main->dxTLMsg->setCurrentItem(nullptr);
  QApplication::processEvents();
  const QImage grid = Main->dxTLMsg->viewport()->grab().toImage();
  auto shade = [&](int row) {
    const QRect r = Main->dxTLMsg->visualItemRect(Main->dxTLMsg->topLevelItem(row));
    return QColor(grid.pixel(r.left() + 2, r.center().y()));
  };
  EXPECT_EQ(shade(1), QColor(231, 231, 231));
  EXPECT_EQ(shade(3), QColor(231, 231, 231));
  EXPECT_NE(shade(2), QColor(231, 231, 231));

  // Delete takes the focused row only, even with several selected.
  Main->dxTLMsg->topLevelItem(2)->setText(2, QStringLiteral("focused"));
  Main->dxTLMsg->selectAll();
  Main->dxTLMsg->setCurrentItem(Main->dxTLMsg->topLevelItem(2), 0, QItemSelectionModel::NoUpdate);
  Main->miDelLog->trigger();
  EXPECT_EQ(Rows(), 3);
  for (int i = 0; i < Rows(); ++i) EXPECT_NE(Row(i)[2], QStringLiteral("focused"));

  // Save: header, empty line, one TAB-separated GBK line per row.
  const QString path = Dir.path() + QStringLiteral("/messages");
  {
    TModalAnswer answer([&](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      dialog->selectFile(path);
      static_cast<QDialog*>(dialog)->accept();
    });
    Main->N2->trigger();
    EXPECT_TRUE(answer.Fired());
  }
  QFile saved(path + QStringLiteral(".log"));  // the default extension
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = saved.readAll().split('\n');
  ASSERT_EQ(lines.size(), 6);  // header, empty line, 3 rows, and nothing after the last CR LF
  EXPECT_EQ(lines[1], QByteArray("\r"));
  EXPECT_EQ(lines[2].toStdString(), Utf8ToGbk(Row(0).join(QLatin1Char('\t')).toStdString()) + "\r");
  EXPECT_EQ(lines[5], QByteArray());

  // A file that cannot be written (its folder is a plain file): the warning, and the grid as it
  // was.
  const QString blocked = Dir.path() + QStringLiteral("/plainfile/a.log");
  QFile(Dir.path() + QStringLiteral("/plainfile")).open(QIODevice::WriteOnly);
  QString warning;
  QTimer user;  // answers the file dialog, then the warning box
  QObject::connect(&user, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* dialog = qobject_cast<QFileDialog*>(modal); dialog && dialog->isVisible()) {
      dialog->selectFile(blocked);
      static_cast<QDialog*>(dialog)->done(QDialog::Accepted);  // past the dialog's own checks
    } else if (auto* box = qobject_cast<TPromptForm*>(modal); box && box->isVisible()) {
      warning = box->lbPrompt->text();
      box->btnOK->click();
    }
  });
  user.start(5);
  Main->N2->trigger();
  user.stop();
  EXPECT_EQ(warning.toStdString(), "无法写入文件" + blocked.toStdString() + "！");
  EXPECT_EQ(Rows(), 3);

  // Clear empties the message page; the button does the same.
  Main->bbtCls->click();
  EXPECT_EQ(Rows(), 0);
}

// A hundred sends as fast as the button can be pressed: every row once, replies in the order of
// the commands.
TEST_F(SendCycleTest, RowsKeepTheOrderOfTheExchanges) {
  const char* identifiers[] = {"02010100", "02010200", "02010300", kEnergy};
  Compose(kMeter, 0x11, identifiers[0]);
  for (int i = 0; i < 100; ++i) {
    Type(Main->edtDS, identifiers[i % 4]);
    Press();
  }
  ASSERT_TRUE(WaitFor([&] { return Rows() >= 200 && !Channel->Busy(); }, 20000)) << Rows();
  QApplication::processEvents();
  ASSERT_EQ(Rows(), 200);
  std::vector<int> sent, received;
  for (int i = 0; i < Rows(); ++i) (Row(i)[0] == Q(SendTexts::FlagSent) ? sent : received).push_back(i);
  ASSERT_EQ(sent.size(), 100u);
  ASSERT_EQ(received.size(), 100u);
  for (size_t i = 0; i < 100; ++i) {
    EXPECT_LT(sent[i], received[i]) << i;
    // 68, six address bytes, 68, C, L, then the identifier (33H added to each byte); the sent
    // row has four preamble bytes in front.
    EXPECT_EQ(Row(received[i])[2].mid(30, 11), Row(sent[i])[2].mid(12 + 30, 11)) << i;
    EXPECT_EQ(Row(received[i])[2].mid(30, 11), Row(sent[i % 4])[2].mid(12 + 30, 11)) << i;
  }
}

// Field rules: the identifier's look-up and tool tip, the enabled state in both modes, the list
// freezing the preview while dropped down, and input that must not break anything.
TEST_F(SendCycleTest, FieldsFollowTheModeAndRefuseBadInput) {
  Compose(kMeter, 0x14, "0401000");
  EXPECT_TRUE(Main->edtDS->toolTip().isEmpty());
  EXPECT_FALSE(Main->bbtSend->isEnabled());  // seven characters: no frame
  QTest::keyClicks(Main->edtDS, "1");
  EXPECT_TRUE(Main->CurIdentifier.Found);
  EXPECT_EQ(Main->edtDS->toolTip().toStdString(), Main->CurIdentifier.Description);

  // Frame mode disables the command controls; the address brings them back.
  QWidget* const commands[] = {Main->cmbCtrl, Main->edtLen, Main->edtDS, Main->edtData, Main->bbtDS, Main->bbtRT};
  TypeFrame("");
  for (QWidget* w : commands) EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_TRUE(Main->bbtSend->isEnabled());
  Compose(kMeter, 0x11, kEnergy);
  EXPECT_FALSE(Main->FrameMode);
  EXPECT_TRUE(Main->cmbCtrl->isEnabled());
  EXPECT_TRUE(Main->edtDS->isEnabled());
  EXPECT_FALSE(Main->edtLen->isEnabled());

  // While the list is dropped down the preview stays as it was.
  const QString preview = Main->edtFrame->text();
  Main->cmbCtrl->showPopup();
  ASSERT_TRUE(WaitFor([&] { return Main->CtrlListOpen; }));
  Main->edtDS->setText(QStringLiteral("02010100"));
  Main->TimerTimer();
  EXPECT_EQ(Main->edtFrame->text(), preview);
  Main->cmbCtrl->hidePopup();
  ASSERT_TRUE(WaitFor([&] { return !Main->CtrlListOpen; }));
  Main->TimerTimer();
  EXPECT_NE(Main->edtFrame->text(), preview);

  // 5,000 pasted characters, letters in digit fields, a 1024-character frame: limits hold.
  QApplication::clipboard()->setText(QString(5000, QLatin1Char('7')) + QStringLiteral("abc"));
  for (TFilterEdit* edit : {Main->edtID, Main->edtDS, Main->edtData, Main->edtFrame}) {
    edit->clear();
    edit->FilteredPaste();
  }
  EXPECT_EQ(Main->edtID->text().size(), 12);
  EXPECT_EQ(Main->edtDS->text().size(), 8);
  EXPECT_EQ(Main->edtFrame->text().size(), 1024);
  const QByteArray bytes = QByteArray("68 ").repeated(342);
  TypeFrame(bytes.left(1024).constData());  // 1024 characters end in half a byte
  EXPECT_FALSE(Main->bbtSend->isEnabled());
  TypeFrame(bytes.left(1022).constData());
  ASSERT_TRUE(Main->bbtSend->isEnabled());
  Main->ReplyTimeoutSec = 1;
  Exchange(1);
  EXPECT_EQ(Row(0)[2].size(), 3 * (341 + 2));
}

// Closing the window while a reply is awaited stops the channel: the wait ends at once.
TEST_F(SendCycleTest, ClosingDuringAWaitEndsIt) {
  TMeterFaults silent;
  silent.NoReply = true;
  Meter->SetFaults(silent);
  Compose(kMeter, 0x11, kEnergy);
  Press();
  ASSERT_TRUE(WaitFor([&] { return Channel->Busy(); }));
  Main->close();
  Main.reset();
  EXPECT_TRUE(WaitFor([&] { return !Channel->Busy(); }, 2000));
}

// The dialogs the fields open: the identifier picker, the table editors by identifier, and the
// relay dialog with the relay pane.
TEST_F(SendCycleTest, DialogsOpenedFromTheFields) {
  TIdentifierDltForm picker;
  IdentifierDltForm = &picker;
  Compose(kMeter, 0x11, kEnergy, "");
  Main->edtData->setText(QStringLiteral("12"));
  std::string picked;
  {
    TModalAnswer answer([&](QWidget* modal) {
      ASSERT_EQ(modal, &picker);
      picker.lbxEnergy->setCurrentRow(1);
      picker.lbxEnergyClick();
      picker.bbtSelect->click();
    });
    QTest::mouseDClick(Main->edtDS, Qt::LeftButton);
    ASSERT_TRUE(answer.Fired());
  }
  IdentifierDltForm = nullptr;
  EXPECT_EQ(Main->edtDS->text().toStdString(), picker.PickedIdentifier.DI);
  EXPECT_EQ(Main->CurIdentifier.DI, picker.PickedIdentifier.DI);
  EXPECT_EQ(Main->edtDS->toolTip().toStdString(), picker.PickedIdentifier.Description);
  EXPECT_TRUE(Main->edtData->text().isEmpty());

  // The editors: time segments for 04010003, none for 04010009 or for a read.
  const struct {
    int Code;
    const char* DS;
    const char* Editor;
  } editors[] = {{0x14, "04010003", "TAddTSForm"}, {0x14, "04020000", "TAddTAForm"},
                 {0x14, "04010009", ""}, {0x11, "04010003", ""}};
  for (const auto& e : editors) {
    Compose(kMeter, e.Code, e.DS);
    QString opened;
    TModalAnswer answer([&](QWidget* modal) {
      opened = QString::fromLatin1(modal->metaObject()->className());
      static_cast<QDialog*>(modal)->reject();
    });
    Main->edtDataDblClick();
    EXPECT_EQ(opened, QString::fromLatin1(e.Editor)) << e.DS;
  }

  // The relay dialog: three relays switched on, then off.
  for (bool on : {true, false}) {
    TModalAnswer answer([&](QWidget* modal) {
      auto* dialog = qobject_cast<TRouteTableForm*>(modal);
      ASSERT_NE(dialog, nullptr);
      for (const char* relay : {"111111111111", "222222222222", "333333333333"}) {
        if (!on) break;
        dialog->RouteAddress->setText(QString::fromLatin1(relay));
        dialog->btnAddNode->click();
      }
      dialog->cbxStartRT->setChecked(on);
      dialog->btnOK->click();
    });
    Compose(kMeter, 0x11, kEnergy);
    Main->bbtRT->click();
    ASSERT_TRUE(answer.Fired());
    EXPECT_EQ(Main->sbRT->text().toStdString(), on ? RelayPaneText(*Main->RouteTable) : std::string());
    EXPECT_EQ(Main->sbRT->text().contains(QLatin1Char('3')), on);
  }
}
