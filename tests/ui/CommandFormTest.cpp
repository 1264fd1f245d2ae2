// The interactive command window against the virtual meter's text mode on a pseudo-terminal: the
// bytes on the line, the rows of the log, the timing rules, interrupting, the busy channel.
// Each exchange lasts over a second (the answer ends with a second of silence), so related cases
// share one test and the tests run in parallel.
#include <gtest/gtest.h>

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <thread>

#include "UiTestUtil.h"
#include "comm/Channel.h"
#include "comm/SerialPort.h"
#include "services/SingletonUnit.h"
#include "sim/VirtualMeter.h"
#include "ui/CommandFrm.h"
#include "ui/Controls.h"
#include "ui/MainFrm.h"
#include "ui/ParamFrm.h"
#include "ui/Texts.h"

namespace {

using TClock = std::chrono::steady_clock;

struct TRow {
  std::string Flag, Time, Content;
};

class CommandFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    TMeterOptions options;
    options.SlowCommandMs = 4500;
    Meter = std::make_unique<TVirtualMeter>(options);
    std::string error;
    ASSERT_TRUE(Meter->Start(error)) << error;
    ASSERT_EQ(Port.Open(Meter->PortPath(), "9600,N,8,1", 1, error), 0) << error;
    Param = std::make_unique<TDltParam>(Dir.path().toStdString());
    Channel = std::make_unique<TChannel>([this] { return Param->GetPreamble(); });
    Channel->SetControl(&Port);
    ParamForm = std::make_unique<TParamForm>(Port, *Param, Channel.get());
    Form = std::make_unique<TCommandForm>(*ParamForm);
  }
  void TearDown() override {
    Form.reset();
    if (Channel) Channel->Shutdown();
  }

  // Types ASCII text into the command field as the user does.
  void Type(const char* text) {
    Form->redtCmd->clear();
    QTest::keyClicks(Form->redtCmd, QString::fromUtf8(text));
  }
  // Sends what the field holds; returns how long the exchange took in ms.
  long long Send() {
    Meter->ClearReceived();
    const auto start = TClock::now();
    Form->btnSend->click();
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();
  }
  std::vector<TRow> Rows() const {
    std::vector<TRow> rows;
    for (int i = 0; i < Form->dxTLLog->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = Form->dxTLLog->topLevelItem(i);
      rows.push_back({item->text(0).toStdString(), item->text(1).toStdString(), item->text(2).toStdString()});
    }
    return rows;
  }
  std::vector<std::string> Contents(const std::string& flag) const {
    std::vector<std::string> lines;
    for (const TRow& row : Rows())
      if (row.Flag == flag) lines.push_back(row.Content);
    return lines;
  }
  std::string Received() const {
    std::vector<uint8_t> bytes = Meter->ReceivedBytes();
    return std::string(bytes.begin(), bytes.end());
  }
  // The meter keeps quiet; the test writes the answer itself after `ms`.
  void AnswerLater(int ms, std::vector<uint8_t> bytes) {
    TMeterFaults quiet;
    quiet.NoReply = true;
    Meter->SetFaults(quiet);
    Writer = std::thread([this, ms, bytes = std::move(bytes)] {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      Meter->WriteRaw(bytes);
    });
  }
  void JoinWriter() {
    if (Writer.joinable()) Writer.join();
    Meter->SetFaults(TMeterFaults{});
  }

  const std::string Sent = Txt::CmdFlagSent;
  const std::string Got = Txt::CmdFlagReceived;
  QTemporaryDir Dir;
  std::unique_ptr<TVirtualMeter> Meter;
  TSerialPort Port;
  std::unique_ptr<TDltParam> Param;
  std::unique_ptr<TChannel> Channel;
  std::unique_ptr<TParamForm> ParamForm;
  std::unique_ptr<TCommandForm> Form;
  std::thread Writer;
};

TEST_F(CommandFormTest, LaysOutTheWindow) {
  EXPECT_EQ(Form->windowTitle(), QString::fromUtf8(Txt::CommandCaption));
  EXPECT_EQ(Form->redtDelay->value(), 30);
  EXPECT_EQ(Form->redtDelay->minimum(), 1);
  EXPECT_EQ(Form->redtDelay->maximum(), 60);
  EXPECT_EQ(Form->btnSend->text(), QString::fromUtf8(Txt::CmdSend));
  EXPECT_EQ(Form->btnInterrupt->text(), QString::fromUtf8(Txt::Interrupt));
  EXPECT_EQ(Form->btnCls->text(), QString::fromUtf8(Txt::CmdClearList));
  QTreeWidgetItem* header = Form->dxTLLog->headerItem();
  EXPECT_EQ(header->text(1), QString::fromUtf8(Txt::CmdColTime));
  EXPECT_EQ(header->text(3), QString::fromUtf8(Txt::CmdColParse));
  Type("at+echo=x");
  EXPECT_EQ(Form->redtCmd->text(), QStringLiteral("AT+ECHO=X"));
}

// The main window's menu entry opens a new window modally each time and frees it when it closes.
TEST_F(CommandFormTest, OpensFromTheMainWindowMenu) {
  TMainForm main(*Param, Channel.get());
  main.ParamForm = ParamForm.get();
  ASSERT_TRUE(main.NChannelComm->isEnabled());
  for (int i = 0; i < 2; ++i) {
    QString title;
    TModalAnswer answer([&](QWidget* window) {
      title = window->windowTitle();
      EXPECT_EQ(main.findChildren<TCommandForm*>().size(), 1);
      window->close();
    });
    main.NChannelComm->trigger();
    ASSERT_TRUE(answer.Fired());
    EXPECT_EQ(title, QString::fromUtf8(Txt::CommandCaption));
    EXPECT_TRUE(main.findChildren<TCommandForm*>().isEmpty()) << "freed when closed";
  }
}

// " at " goes out as A, T, CR; OK comes back after a little over a second of silence; an answer of
// several lines gives one row per line, all with one time; a double-click copies a row back.
TEST_F(CommandFormTest, ExchangesLinesAndListsThem) {
  Type("  at  ");
  const long long took = Send();
  EXPECT_EQ(Received(), "AT\r");
  EXPECT_GE(took, 1000);
  EXPECT_LT(took, 3000);
  EXPECT_EQ(Contents(Sent), std::vector<std::string>{"AT"});
  EXPECT_EQ(Contents(Got), std::vector<std::string>{"OK"});
  EXPECT_EQ(Form->redtStatus->text(), QString::fromUtf8(Txt::CmdReceived));
  EXPECT_TRUE(Form->btnSend->isEnabled());

  Type("ati");
  Send();
  const std::vector<TRow> rows = Rows();
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(Contents(Got), (std::vector<std::string>{"OK", "DLT645 Workbench virtual meter",
                                                     "Protocol: DL/T 645-2007", "Address: 000000000001", "OK"}));
  for (size_t i = 4; i < rows.size(); ++i) EXPECT_EQ(rows[i].Time, rows[3].Time);
  EXPECT_EQ(Form->dxTLLog->currentItem(), Form->dxTLLog->topLevelItem(6));

  // The focused row keeps the selection colours even when it is not selected.
  Form->dxTLLog->clearSelection();
  Form->dxTLLog->setCurrentItem(Form->dxTLLog->topLevelItem(1), 0, QItemSelectionModel::NoUpdate);
  QApplication::processEvents();
  const QImage grid = Form->dxTLLog->viewport()->grab().toImage();
  const QRect focused = Form->dxTLLog->visualItemRect(Form->dxTLLog->topLevelItem(1));
  EXPECT_EQ(QColor(grid.pixel(focused.left() + 2, focused.center().y())), QApplication::palette().color(QPalette::ToolTipBase));

  Form->redtCmd->clear();
  Form->dxTLLog->setCurrentItem(Form->dxTLLog->topLevelItem(0));
  Form->dxTLLogDblClick();
  EXPECT_EQ(Form->redtCmd->text(), QStringLiteral("AT"));
  Form->btnCls->click();
  EXPECT_EQ(Form->dxTLLog->topLevelItemCount(), 0);
}

// Text on the line is GBK both ways; bytes that are not GBK text show as \xNN. An empty command
// sends a lone CR and adds no sent row.
TEST_F(CommandFormTest, TextIsGbkOnTheLine) {
  Form->redtCmd->clear();
  for (QChar ch : QString::fromUtf8("AT+ECHO=\xE7\x94\xB5\xE8\x83\xBD"))  // 电能
    QTest::sendKeyEvent(QTest::Click, Form->redtCmd, Qt::Key_unknown, QString(ch), Qt::NoModifier);
  Send();
  EXPECT_EQ(Received(), "AT+ECHO=\xB5\xE7\xC4\xDC\r");
  EXPECT_EQ(Contents(Got), std::vector<std::string>{"\xE7\x94\xB5\xE8\x83\xBD"});

  Form->redtCmd->clear();
  AnswerLater(50, {'O', 'K', 0x80, ' ', 0xB5, 0xE7, ' ', 0xFF, 0x01, 0xB5, '\r', '\n'});
  Send();
  JoinWriter();
  EXPECT_EQ(Received(), "\r");
  EXPECT_EQ(Contents(Sent).size(), 1u) << "the empty command adds no sent row";
  EXPECT_EQ(Contents(Got).back(), "OK\\x80 \xE7\x94\xB5 \\xFF\\x01\\xB5");
}

// "Please wait....." earns a one-second pause and the delay once more, counted from its end: with
// a delay of 5 s the result 4.5 s after the command still arrives.
TEST_F(CommandFormTest, PleaseWaitRestartsTheWait) {
  Form->redtDelay->setValue(5);
  Type("at+slow");
  const long long took = Send();
  EXPECT_EQ(Contents(Got), (std::vector<std::string>{"Please wait.....", "SLOW DONE", "OK"}));
  EXPECT_GE(took, 5400);
}

// A delay of 1 s and an answer after 1.5 s: a timeout row; the late answer is flushed by the next
// exchange.
TEST_F(CommandFormTest, TimeoutAndLateBytes) {
  TMeterFaults slow;
  slow.DelayMs = 1500;
  Meter->SetFaults(slow);
  Form->redtDelay->setValue(1);
  Type("at");
  const long long took = Send();
  EXPECT_GE(took, 1000);
  EXPECT_LT(took, 1500);
  ASSERT_TRUE(WaitFor([&] { return Meter->RepliesSent() == 1; }));
  Meter->SetFaults(TMeterFaults{});
  Form->redtDelay->setValue(30);
  Type("at+echo=next");
  Send();
  EXPECT_EQ(Contents(Got), (std::vector<std::string>{"等待数据回应超时！", "NEXT"}));
}

// Interrupt ends the wait at once; closing the window during an exchange interrupts it too.
TEST_F(CommandFormTest, InterruptEndsTheWait) {
  AnswerLater(0, {});
  Type("at");
  QTimer::singleShot(200, Form->btnInterrupt, &QPushButton::click);
  const long long took = Send();
  EXPECT_LT(took, 1000);
  EXPECT_EQ(Contents(Got), std::vector<std::string>{"通信被中断！"});

  Form->show();
  QTimer::singleShot(200, Form.get(), [this] { Form->close(); });
  EXPECT_LT(Send(), 1000);
  EXPECT_FALSE(Form->isVisible());
  EXPECT_EQ(Contents(Got).size(), 2u);
  JoinWriter();
}

// With the port closed nothing is written; a 10,000-character command goes out whole; an answer
// of exactly 8192 bytes is whole; one longer than 8192 bytes is cut there, the last row says so,
// and the rest is flushed by the next exchange.
TEST_F(CommandFormTest, ClosedPortAndOverlongTexts) {
  std::string error;
  Port.Close(error);
  Type("at");
  Send();
  EXPECT_EQ(Received(), "");
  EXPECT_EQ(Contents(Got), std::vector<std::string>{"串口未打开！"});
  ASSERT_EQ(Port.Open(Meter->PortPath(), "9600,N,8,1", 1, error), 0) << error;

  Form->redtCmd->setText(QString(10000, QLatin1Char('X')));
  Send();
  EXPECT_EQ(Received(), std::string(10000, 'X') + "\r");
  EXPECT_EQ(Contents(Got).back(), "ERROR");

  Form->btnCls->click();
  std::string full(8192, ' ');
  for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<char>('A' + i % 26);
  AnswerLater(50, std::vector<uint8_t>(full.begin(), full.end()));
  Send();
  EXPECT_EQ(Contents(Got), std::vector<std::string>{full}) << "an answer that just fits is not cut";
  JoinWriter();

  for (size_t size : {size_t(20000), size_t(1) << 20}) {
    Form->btnCls->click();
    std::vector<uint8_t> answer(size);
    for (size_t i = 0; i < size; ++i) answer[i] = size == 20000 ? 'A' + i % 26 : static_cast<uint8_t>(i * 7);
    AnswerLater(50, answer);
    const long long took = Send();
    EXPECT_LT(took, 1000) << size;
    const std::vector<std::string> got = Contents(Got);
    ASSERT_GE(got.size(), 2u) << size;
    EXPECT_EQ(got.back(), "（回应超过8192字节，只收取了前8192字节）");
    if (size == 20000) {
      EXPECT_EQ(got[0], std::string(answer.begin(), answer.begin() + 8192));
    }
    JoinWriter();
    Type("at");
    Send();
    EXPECT_EQ(Contents(Got).back(), "OK") << size;
    EXPECT_EQ(Contents(Got).size(), got.size() + 1) << size;
  }
}

// The window never uses the port while the channel has a frame queued or in flight, and a frame
// queued during the window's exchange waits for its end.
TEST_F(CommandFormTest, SharesThePortWithTheChannel) {
  TDltFrame read;
  read.Address = "000000000001";
  read.CtrlCode = 0x11;
  read.DI = read.DataField = "00010000";
  read.DataLen = 4;
  read.TimeoutSec = 5;
  std::string message;
  // Queued, not yet taken: the sending thread does not run yet.
  ASSERT_EQ(Channel->Send(read.Address, read, read.DataField, message), 0) << message;
  Type("at");
  Send();
  EXPECT_EQ(Received(), "");
  EXPECT_EQ(Contents(Got), std::vector<std::string>{"串口正忙，请稍后再试！"});
  Form->btnCls->click();

  std::atomic<int> ends{0}, lastCode{-1};
  Channel->SetExchangeHandler([&](const TKvFrame&, int code, const std::string&) {
    lastCode = code;
    ++ends;
  });
  Channel->Start();
  ASSERT_TRUE(WaitFor([&] { return ends == 1; })) << "the queued frame is answered once the thread runs";
  TMeterFaults quiet;
  quiet.NoReply = true;
  Meter->SetFaults(quiet);
  Meter->ClearReceived();
  ASSERT_EQ(Channel->Send(read.Address, read, read.DataField, message), 0) << message;
  ASSERT_TRUE(WaitFor([&] { return !Meter->ReceivedBytes().empty(); }));
  Type("at");
  EXPECT_LT(Send(), 500);
  EXPECT_EQ(Received(), "");
  EXPECT_EQ(Contents(Got), std::vector<std::string>{"串口正忙，请稍后再试！"});
  Channel->SetStopRequest(true);
  ASSERT_TRUE(WaitFor([&] { return !Channel->Busy(); }));
  Meter->SetFaults(TMeterFaults{});

  QTimer::singleShot(100, Form.get(), [&] { Channel->Send(read.Address, read, read.DataField, message); });
  Send();
  EXPECT_EQ(Contents(Got).back(), "OK");
  ASSERT_TRUE(WaitFor([&] { return ends == 3; }));
  EXPECT_EQ(lastCode, 0) << "the frame was answered after the window's exchange";
}

// The window after an exchange of several lines, Chinese included, for the README.
TEST_F(CommandFormTest, Screenshot) {
  Form->setWindowState(Qt::WindowNoState);
  Form->resize(900, 420);
  Form->show();
  Type("ati");
  Send();
  Form->redtCmd->clear();
  for (QChar ch : QString::fromUtf8("AT+ECHO=\xE7\x94\xB5\xE8\x83\xBD\xE8\xA1\xA8"))  // 电能表
    QTest::sendKeyEvent(QTest::Click, Form->redtCmd, Qt::Key_unknown, QString(ch), Qt::NoModifier);
  Send();
  QDir().mkpath(QStringLiteral(DLT_SCREENSHOT_DIR));
  const QString path = QStringLiteral(DLT_SCREENSHOT_DIR "/command-window.png");
  ASSERT_TRUE(Form->grab().save(path));
  EXPECT_EQ(Contents(Got).back(), "\xE7\x94\xB5\xE8\x83\xBD\xE8\xA1\xA8");
}

}  // namespace
