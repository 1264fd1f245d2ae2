// The parameter dialog: its field rules, key filters, the Apply button, saving "Setup.ini", and
// opening and closing the shared serial port.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <fstream>

#include "PtyUtil.h"
#include "UiTestUtil.h"
#include "comm/Channel.h"
#include "comm/PortLink.h"
#include "tests/comm/Rfc2217Peer.h"
#include "services/SingletonUnit.h"
#include "ui/Controls.h"
#include "ui/ParamFrm.h"
#include "ui/Texts.h"

using namespace ParamRules;

TEST(ParamRules, LeavingAFieldPadsIt) {
  EXPECT_EQ(PswOnExit("1234"), "12340000");
  EXPECT_EQ(PswOnExit(" 12 "), "12000000");
  EXPECT_EQ(PswOnExit("1234567890"), "12345678");
  EXPECT_EQ(OperatorOnExit("AB"), "AB00");
  EXPECT_EQ(OperatorOnExit(""), "0000");
  EXPECT_EQ(CollectorOnExit("1234"), "000000001234");
  EXPECT_EQ(CollectorOnExit(" 1234 "), "000000001234");
  EXPECT_EQ(CollectorOnExit("99999999999912"), "999999999912");
  EXPECT_EQ(LCOnExit("E"), "0E");
  EXPECT_EQ(LCOnExit(""), "00");
  EXPECT_EQ(LCOnExit("FE"), "FE");
}

// The operator code is stored and sent as GBK bytes: four bytes, a Chinese character taking two,
// and never half a character.
TEST(ParamRules, OperatorCodeCountsGbkBytes) {
  EXPECT_EQ(OperatorOnExit("\xE5\xBC\xA0"), "\xE5\xBC\xA0" "00");                     // 张 + 00
  EXPECT_EQ(OperatorOnExit("\xE5\xBC\xA0\xE4\xB8\x89"), "\xE5\xBC\xA0\xE4\xB8\x89");  // 张三
  EXPECT_EQ(OperatorOnExit("A\xE5\xBC\xA0\xE4\xB8\x89"), "A\xE5\xBC\xA0" "0");        // A张 + 0
}

TEST(ParamRules, SavingPadsWithoutTrimmingAndCutsLongValues) {
  EXPECT_EQ(PswToSave("1234567890"), "12345678");
  EXPECT_EQ(PswToSave("12"), "12000000");
  EXPECT_EQ(CollectorToSave("1234"), "000000001234");
  EXPECT_EQ(LCToSave("E"), "0E");
  EXPECT_EQ(LCCountToSave(""), 0);
  EXPECT_EQ(LCCountToSave("7"), 7);
  EXPECT_EQ(LCCountToSave("12"), 2);
  EXPECT_EQ(LCCountToSave("x"), 0);
}

TEST(ParamRules, InputModeValue) {
  EXPECT_EQ(InputModeValue("Text"), 0);
  EXPECT_EQ(InputModeValue("tExT"), 0);
  EXPECT_EQ(InputModeValue(Txt::InputModeTextCn), 0);
  EXPECT_EQ(InputModeValue("Binary"), 1);
  EXPECT_EQ(InputModeValue(Txt::InputModeBinaryCn), 1);
  EXPECT_EQ(InputModeValue("1"), 1);
  EXPECT_EQ(InputModeValue(""), 1);
  EXPECT_EQ(InputModeValue("Texts"), 1);
}

class ParamFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Folder = Dir.path().toStdString();
  }
  void Create() {
    Param = std::make_unique<TDltParam>(Folder);
    Channel = std::make_unique<TChannel>([this] { return Param->GetPreamble(); });
    Form = std::make_unique<TParamForm>(Port, *Param, Channel.get());
  }
  void Show() {
    Form->show();
    ASSERT_TRUE(WaitFor([&] { return Form->isVisible(); }));
  }
  void WriteSetup(const std::string& bytes) {
    std::ofstream(Folder + "/Setup.ini", std::ios::binary) << bytes;
  }
  std::string SetupBytes() const {
    QFile file(QString::fromStdString(Folder + "/Setup.ini"));
    if (!file.open(QIODevice::ReadOnly)) return "<missing>";
    return file.readAll().toStdString();
  }
  static void Leave(QWidget* field) {
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(field, &leave);
  }
  static void TypeText(QWidget* field, const QString& text) {
    for (QChar ch : text) QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(ch), Qt::NoModifier);
  }
  // Presses a button that shows a warning box; returns the box's text ("" when none showed).
  QString PressExpectingPrompt(QPushButton* button) {
    QString text;
    TModalAnswer answer([&](QWidget* box) {
      text = PromptText(box);
      QTest::keyClick(box, Qt::Key_Return);
    }, Form.get());
    button->click();
    return answer.Fired() ? text : QString();
  }
  static QString PromptText(QWidget* box) {
    auto* label = box->findChild<QLabel*>(QStringLiteral("lbPrompt"));
    return label ? label->text() : QStringLiteral("<not a warning box>");
  }
  QString OpenPortText(const std::string& port) {
    Form->cbPort->setEditText(QString::fromStdString(port));
    return PressExpectingPrompt(Form->rbbOpenCom);
  }

  QTemporaryDir Dir;
  std::string Folder;
  std::unique_ptr<TDltParam> Param;
  TSerialPort Port;
  TPortLink Link;  // a port opened by name, as the workbench holds it
  std::unique_ptr<TChannel> Channel;
  std::unique_ptr<TParamForm> Form;
};

TEST_F(ParamFormTest, ShowFillsFieldsAndHandsThePortToTheChannel) {
  // A hand-edited file: values longer than the fields, a mode that is no list item, an unknown port.
  WriteSetup("[DLTPARAMETER]\r\nPSW=1234567890\r\nOPERATOR=AB\r\nUSECOLLECTOR=1\r\nCOLLECTOR=1234\r\n"
             "USELC=1\r\nLC=FE\r\nLCCOUNT=12\r\n[RS232]\r\nSERIAL_PORT=/dev/no-such-port\r\n"
             "SERIAL_RATE=2400\r\nSERIAL_PARITY=even\r\nSERIAL_DATABITS=7\r\nSERIAL_STOPBITS=2\r\n"
             "SERIAL_INPUTMODE=1\r\n");
  Create();
  EXPECT_EQ(Channel->Control(), nullptr);
  Show();
  EXPECT_EQ(Channel->Control(), &Port);
  EXPECT_EQ(Form->pgcParam->currentWidget(), Form->tsChannel);
  EXPECT_EQ(Form->edtPSW->text(), QStringLiteral("1234567890"));
  EXPECT_EQ(Form->edtLCCount->text(), QStringLiteral("12"));
  EXPECT_EQ(Form->edtLC->text(), QStringLiteral("FE"));
  EXPECT_TRUE(Form->cbxColletor->isChecked());
  EXPECT_EQ(Form->cbPort->currentText(), QStringLiteral("COM1"));  // not a port of this machine
  EXPECT_EQ(Form->cbBaudRate->currentText(), QStringLiteral("2400"));
  EXPECT_EQ(Form->cbParity->currentText(), QStringLiteral("Even"));
  EXPECT_EQ(Form->cbDataBits->currentText(), QStringLiteral("7"));
  EXPECT_EQ(Form->cbStopBits->currentText(), QStringLiteral("2"));
  EXPECT_EQ(Form->cbInputMode->currentText(), QStringLiteral("Binary"));
  EXPECT_FALSE(Form->rbbApply->isEnabled());
  EXPECT_TRUE(Form->rbbOpenCom->isEnabled());
  EXPECT_TRUE(Form->rbbCloseCom->isEnabled());
  EXPECT_EQ(Form->PortImageIndex(), 0);
  EXPECT_TRUE(Form->sbpPort->text().isEmpty());

  Form->rbbOK->click();
  EXPECT_FALSE(Form->isVisible());
  const std::string saved = SetupBytes();
  EXPECT_NE(saved.find("PSW=12345678\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("LCCOUNT=2\r\n"), std::string::npos) << saved;  // key kept as spelled
  EXPECT_NE(saved.find("SERIAL_PORT=COM1\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("SERIAL_INPUTMODE=Binary\r\n"), std::string::npos) << saved;
  EXPECT_EQ(Param->GetPreamble().LCCount, 2);
}

TEST_F(ParamFormTest, KeyFiltersAndUpperCase) {
  Create();
  Show();
  Form->cbxColletor->setChecked(true);
  Form->cbxLC->setChecked(true);
  Form->edtPSW->clear();
  QTest::keyClicks(Form->edtPSW, "12ab3.-");
  EXPECT_EQ(Form->edtPSW->text(), QStringLiteral("123"));
  QTest::keyClick(Form->edtPSW, Qt::Key_Backspace);
  EXPECT_EQ(Form->edtPSW->text(), QStringLiteral("12"));
  Form->edtCollector->clear();
  QTest::keyClicks(Form->edtCollector, "9x8 7");
  EXPECT_EQ(Form->edtCollector->text(), QStringLiteral("987"));
  Form->edtLC->clear();
  QTest::keyClicks(Form->edtLC, "gfe");
  EXPECT_EQ(Form->edtLC->text(), QStringLiteral("FE"));  // g dropped, upper case, 2 at most
  Form->edtLCCount->clear();
  QTest::keyClicks(Form->edtLCCount, "x57");
  EXPECT_EQ(Form->edtLCCount->text(), QStringLiteral("5"));
  Form->edtOperator->clear();
  QTest::keyClicks(Form->edtOperator, "a-");
  TypeText(Form->edtOperator, QString::fromUtf8("\xE5\xBC\xA0"));  // 张
  EXPECT_EQ(Form->edtOperator->text(), QString::fromUtf8("a-\xE5\xBC\xA0"));
}

TEST_F(ParamFormTest, LeavingFieldsAppliesTheirRules) {
  Create();
  Show();
  Form->edtPSW->setText(QStringLiteral("1234"));
  Leave(Form->edtPSW);
  EXPECT_EQ(Form->edtPSW->text(), QStringLiteral("12340000"));
  Form->edtOperator->setText(QStringLiteral("AB"));
  Leave(Form->edtOperator);
  EXPECT_EQ(Form->edtOperator->text(), QStringLiteral("AB00"));
  Form->edtCollector->setText(QStringLiteral("1234"));
  Leave(Form->edtCollector);
  EXPECT_EQ(Form->edtCollector->text(), QStringLiteral("000000001234"));
  Form->edtLC->setText(QStringLiteral("E"));
  Leave(Form->edtLC);
  EXPECT_EQ(Form->edtLC->text(), QStringLiteral("0E"));
  Form->edtLCCount->setText(QString());
  Leave(Form->edtLCCount);
  EXPECT_EQ(Form->edtLCCount->text(), QString());  // no rule: the save pads it
}

// "确定" writes the settings file: GBK text, CR LF line ends, the keys in their order.
TEST_F(ParamFormTest, OkWritesSetupIniBytes) {
  Create();
  Show();
  Form->cbxColletor->setChecked(true);
  Form->cbxLC->setChecked(true);
  Form->edtPSW->setText(QStringLiteral("1234"));
  Leave(Form->edtPSW);
  Form->edtOperator->clear();
  TypeText(Form->edtOperator, QString::fromUtf8("\xE5\xBC\xA0"));  // 张
  Leave(Form->edtOperator);
  Form->edtCollector->setText(QStringLiteral("1234"));
  Form->edtLC->setText(QStringLiteral("e"));
  Form->edtLCCount->setText(QStringLiteral("7"));
  Form->cbBaudRate->setCurrentText(QStringLiteral("19200"));
  Form->cbParity->setCurrentText(QStringLiteral("Even"));
  Form->cbInputMode->setCurrentText(QStringLiteral("Text"));
  Form->rbbOK->click();

  const std::string expected =
      "[DLTPARAMETER]\r\nPSW=12340000\r\nOPERATOR=\xD5\xC5" "00\r\nUSECOLLECTOR=1\r\n"
      "COLLECTOR=000000001234\r\nUSELC=1\r\nLC=0E\r\nLCCount=7\r\n"
      "[RS232]\r\nSERIAL_PORT=COM1\r\nSERIAL_RATE=19200\r\nSERIAL_PARITY=Even\r\n"
      "SERIAL_DATABITS=8\r\nSERIAL_STOPBITS=1\r\nSERIAL_INPUTMODE=Text\r\n";
  EXPECT_EQ(SetupBytes(), expected);
  EXPECT_EQ(Param->Operator, "\xE5\xBC\xA0" "00");
  const TPreamble preamble = Param->GetPreamble();
  EXPECT_TRUE(preamble.UseLC);
  EXPECT_EQ(preamble.LC, "0E");
  EXPECT_EQ(preamble.LCCount, 7);

  // A new start reads back what was saved.
  TDltParam again(Folder);
  EXPECT_EQ(again.Psw, "12340000");
  EXPECT_EQ(again.Operator, "\xE5\xBC\xA0" "00");
  EXPECT_EQ(again.ComInfo.InputMode, "Text");
}

TEST_F(ParamFormTest, ApplyIsEnabledByChangesAndDisabledByApplyAndShow) {
  Create();
  Show();
  EXPECT_FALSE(Form->rbbApply->isEnabled());
  Form->edtPSW->clear();
  Form->rbbApply->setEnabled(false);
  QTest::keyClicks(Form->edtPSW, "1");
  EXPECT_TRUE(Form->rbbApply->isEnabled());
  Form->rbbApply->click();
  EXPECT_FALSE(Form->rbbApply->isEnabled());
  EXPECT_TRUE(Form->isVisible());
  EXPECT_NE(SetupBytes().find("PSW=10000000"), std::string::npos);

  Form->cbBaudRate->setCurrentText(QStringLiteral("4800"));
  EXPECT_TRUE(Form->rbbApply->isEnabled());
  Form->rbbApply->click();
  Form->cbxLC->click();
  EXPECT_TRUE(Form->rbbApply->isEnabled());
  EXPECT_TRUE(Form->edtLC->isEnabled());
  EXPECT_TRUE(Form->edtLCCount->isEnabled());
  Form->rbbOK->click();
  EXPECT_TRUE(Form->rbbApply->isEnabled());  // OK saves but leaves Apply as it is
  Show();
  EXPECT_FALSE(Form->rbbApply->isEnabled());
}

TEST_F(ParamFormTest, CheckBoxesEnableTheirFieldsAndKeepTheirTexts) {
  Create();
  Show();
  EXPECT_FALSE(Form->edtCollector->isEnabled());
  EXPECT_FALSE(Form->edtLC->isEnabled());
  Form->cbxColletor->click();
  EXPECT_TRUE(Form->edtCollector->isEnabled());
  Form->cbxLC->click();
  Form->edtLC->setText(QStringLiteral("FE"));
  Form->edtLCCount->setText(QStringLiteral("3"));
  Form->cbxLC->click();
  EXPECT_FALSE(Form->edtLC->isEnabled());
  EXPECT_FALSE(Form->edtLCCount->isEnabled());
  Form->rbbOK->click();
  const TPreamble preamble = Param->GetPreamble();
  EXPECT_FALSE(preamble.UseLC);
  EXPECT_EQ(preamble.LC, "FE");
  EXPECT_EQ(preamble.LCCount, 3);
}

TEST_F(ParamFormTest, CancelLeavesSettingsAndFileUnchanged) {
  Create();
  Show();
  Form->edtPSW->setText(QStringLiteral("11112222"));
  Form->cbBaudRate->setCurrentText(QStringLiteral("1200"));
  Form->rbbCancel->click();
  EXPECT_FALSE(Form->isVisible());
  EXPECT_EQ(SetupBytes(), "<missing>");
  EXPECT_EQ(Param->Psw, "26404915");
  EXPECT_EQ(Param->ComInfo.BaudRate, "9600");
  Show();  // the next show puts the stored values back
  EXPECT_EQ(Form->edtPSW->text(), QStringLiteral("26404915"));
  EXPECT_EQ(Form->cbBaudRate->currentText(), QStringLiteral("9600"));
}

TEST_F(ParamFormTest, OpenAndCloseAPseudoTerminal) {
  TTestPty pty;
  ASSERT_TRUE(pty.Valid());
  Create();
  Show();
  EXPECT_EQ(OpenPortText(pty.Slave), QString());  // no warning
  EXPECT_FALSE(Form->isVisible());                // the dialog closes
  EXPECT_TRUE(Port.PortOpen());
  EXPECT_EQ(Port.PortName(), pty.Slave);
  EXPECT_TRUE(Param->ComInfo.Opened);
  EXPECT_EQ(Param->ComInfo.Port, pty.Slave);
  EXPECT_NE(SetupBytes().find("SERIAL_PORT=" + pty.Slave + "\r\n"), std::string::npos);
  // Port state: open button off, close button on, glyph 1, the settings panel locked.
  EXPECT_FALSE(Form->rbbOpenCom->isEnabled());
  EXPECT_TRUE(Form->rbbCloseCom->isEnabled());
  EXPECT_FALSE(Form->panAL->isEnabled());
  EXPECT_EQ(Form->PortImageIndex(), 1);
  EXPECT_EQ(Form->csALCOM->pixmap().toImage(), DrawPicture(TPicture::PortOpen, 16).toImage());
  EXPECT_EQ(Form->sbpPort->text().toStdString(), pty.Slave);
  EXPECT_EQ(Form->sbpPortInfo->text(), QStringLiteral("9600,N,8,1"));

  Show();  // the state is kept across shows
  EXPECT_FALSE(Form->panAL->isEnabled());
  EXPECT_EQ(PressExpectingPrompt(Form->rbbCloseCom), QString());
  EXPECT_TRUE(Form->isVisible());  // closing keeps the dialog open
  EXPECT_FALSE(Port.PortOpen());
  EXPECT_FALSE(Param->ComInfo.Opened);
  EXPECT_TRUE(Form->rbbOpenCom->isEnabled());
  EXPECT_FALSE(Form->rbbCloseCom->isEnabled());
  EXPECT_TRUE(Form->panAL->isEnabled());
  EXPECT_EQ(Form->PortImageIndex(), 0);
  EXPECT_EQ(Form->csALCOM->pixmap().toImage(), DrawPicture(TPicture::PortClosed, 16).toImage());
  // Closing a closed port succeeds silently.
  EXPECT_EQ(PressExpectingPrompt(Form->rbbCloseCom), QString());
  EXPECT_EQ(Form->PortImageIndex(), 0);
}

TEST_F(ParamFormTest, PortMissingOrHeldElsewhereIsRefused) {
  TTestPty pty;
  ASSERT_TRUE(pty.Valid());
  Create();
  Show();
  EXPECT_EQ(OpenPortText("/dev/no-such-port"), QString::fromUtf8(Txt::PortInvalid));
  EXPECT_FALSE(Port.PortOpen());
  EXPECT_FALSE(Form->isVisible());  // the dialog still saves and closes
  EXPECT_NE(SetupBytes().find("SERIAL_PORT=/dev/no-such-port\r\n"), std::string::npos);

  THoldingProcess other(pty.Slave);
  ASSERT_TRUE(other.Holding);
  Show();
  EXPECT_EQ(OpenPortText(pty.Slave).toStdString(),
            Txt::PortInvalid + std::string("\n占用程序：test_ui（进程号") + std::to_string(other.Pid) + "）");
  EXPECT_FALSE(Port.PortOpen());
  EXPECT_FALSE(Param->ComInfo.Opened);
  EXPECT_EQ(Form->PortImageIndex(), 0);
  EXPECT_TRUE(Form->rbbOpenCom->isEnabled());
  EXPECT_EQ(Form->sbpPort->text().toStdString(), pty.Slave);
}

TEST_F(ParamFormTest, OpeningThePortThisControlHoldsIsRefused) {
  TTestPty pty;
  ASSERT_TRUE(pty.Valid());
  Create();
  Show();
  ASSERT_EQ(OpenPortText(pty.Slave), QString());
  ASSERT_TRUE(Port.PortOpen());
  TComInfo info = Param->ComInfo;
  QString text;
  TModalAnswer answer([&](QWidget* box) {
    text = PromptText(box);
    QTest::keyClick(box, Qt::Key_Return);
  }, Form.get());
  EXPECT_FALSE(Form->OpenPort(Port, info));
  EXPECT_EQ(text, QString::fromUtf8(Txt::PortInvalid));
  EXPECT_TRUE(Port.PortOpen());
}

// Settings a free port cannot take get the adapter's message; a missing port is reported as
// such whatever settings were chosen.
TEST_F(ParamFormTest, SettingsThePortRefusesAreReported) {
  TTestPty pty;
  ASSERT_TRUE(pty.Valid());
  Create();
  const struct {
    std::string Port;
    const char *Baud, *StopBits, *Says;
  } cases[] = {
      {pty.Slave, "33600", "1", "33600"},
      {pty.Slave, "9600", "1.5", "不支持1.5位停止位"},
      {"/dev/no-such-port", "33600", "1", Txt::PortInvalid},
  };
  for (const auto& c : cases) {
    Show();
    Form->cbBaudRate->setCurrentText(QString::fromUtf8(c.Baud));
    Form->cbStopBits->setCurrentText(QString::fromUtf8(c.StopBits));
    const QString text = OpenPortText(c.Port);
    EXPECT_TRUE(text.contains(QString::fromUtf8(c.Says))) << text.toStdString();
    EXPECT_FALSE(Port.PortOpen());
    EXPECT_EQ(Form->PortImageIndex(), 0);
  }
}

// A long device path fits the port pane with "…" in its middle; the pane's tool tip holds it whole.
TEST_F(ParamFormTest, LongPortPathIsElidedInThePane) {
  const QString path = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  Create();
  Show();
  Form->ComInfo.Port = path.toStdString();
  Form->ShowPortState();
  const QString shown = Form->sbpPort->text();
  EXPECT_TRUE(shown.startsWith(QStringLiteral("/dev/")) && shown.endsWith(QStringLiteral("port0")) &&
              shown.contains(QChar(0x2026)))
      << shown.toStdString();
  EXPECT_LE(Form->sbpPort->fontMetrics().horizontalAdvance(shown), Form->sbpPort->contentsRect().width());
  EXPECT_EQ(Form->sbpPort->toolTip(), path);
}

TEST_F(ParamFormTest, DestroyingTheDialogClosesThePort) {
  TTestPty pty;
  ASSERT_TRUE(pty.Valid());
  Create();
  Show();
  ASSERT_EQ(OpenPortText(pty.Slave), QString());
  ASSERT_TRUE(Port.PortOpen());
  Form.reset();
  EXPECT_FALSE(Port.PortOpen());
}

// A settings file that cannot be written: the warning names it, the program goes on and the new
// values stay in use.
TEST_F(ParamFormTest, UnwritableSetupIniIsReportedAndValuesKept) {
  const std::string folder = Folder + "/locked";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  // Root writes into read-only folders: then a folder named Setup.ini blocks the file instead.
  const std::string probe = folder + "/probe";
  if (FILE* f = fopen(probe.c_str(), "w")) {
    fclose(f);
    remove(probe.c_str());
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((folder + "/Setup.ini").c_str(), 0755), 0);
  }
  Folder = folder;
  Create();
  Show();
  Form->edtPSW->setText(QStringLiteral("87654321"));
  const QString text = PressExpectingPrompt(Form->rbbOK);
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(text.toStdString(), "无法写入设置文件" + folder + "/Setup.ini！");
  EXPECT_FALSE(Form->isVisible());
  EXPECT_EQ(Param->Psw, "87654321");
}

// Names that say where the meter is are typed into the port list: a serial server reached by
// rfc2217:// opens and the pane shows its name; a name that is not valid gets PortName's reason.
TEST_F(ParamFormTest, ANetworkNameTypedIntoThePortListOpensIt) {
  TPortLink& link = Link;
  Param = std::make_unique<TDltParam>(Folder);
  Channel = std::make_unique<TChannel>([this] { return Param->GetPreamble(); });
  Form = std::make_unique<TParamForm>(link, *Param, Channel.get());
  Show();
  EXPECT_EQ(OpenPortText("tcp://127.0.0.1").toStdString(),
            Txt::PortInvalid + std::string("\n端口名“tcp://127.0.0.1”无效：缺少端口号（应为“地址:端口”）！"));
  EXPECT_FALSE(link.PortOpen());

  TComPortPeer peer({});
  Show();
  EXPECT_EQ(OpenPortText(peer.Name()), QString());
  peer.Join();
  EXPECT_TRUE(link.PortOpen());
  EXPECT_EQ(peer.SetValue[1], (std::vector<uint8_t>{0x00, 0x00, 0x25, 0x80}));  // 9600 baud set on the server
  EXPECT_EQ(Form->sbpPort->text().toStdString(), peer.Name());
  EXPECT_NE(SetupBytes().find("SERIAL_PORT=" + peer.Name() + "\r\n"), std::string::npos);
}

// RS-485 direction control is asked for by its check box and kept in Setup.ini; a port whose
// driver has no RS-485 mode (a pseudo-terminal) is refused saying so.
TEST_F(ParamFormTest, Rs485IsAskedForAndAPortWithoutItIsRefused) {
  TTestPty pty;
  ASSERT_TRUE(pty.Valid());
  Create();
  Show();
  Form->cbxRs485->setChecked(true);
  EXPECT_TRUE(OpenPortText(pty.Slave).contains(QStringLiteral("不支持RS-485收发控制")));
  EXPECT_FALSE(Port.PortOpen());
  EXPECT_NE(SetupBytes().find("SERIAL_INPUTMODE=Binary\r\nSERIAL_RS485=1\r\nSERIAL_RS485_BEFORE=0\r\n"
                              "SERIAL_RS485_AFTER=0\r\n"),
            std::string::npos)
      << SetupBytes();
  Create();  // read back from the file
  Show();
  EXPECT_TRUE(Form->cbxRs485->isChecked());
}
