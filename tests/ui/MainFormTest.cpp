// The main window's frame: tool bar, menus, command panel, pages, status bar, and its life cycle
// from the first show (parameter dialog first, then preparation) to destruction.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>

#include "PtyUtil.h"
#include "UiTestUtil.h"
#include "comm/Channel.h"
#include "protocol/Compose.h"
#include "services/SingletonUnit.h"
#include "ui/About.h"
#include "ui/Controls.h"
#include "ui/MainFrm.h"
#include "ui/ParamFrm.h"
#include "ui/Texts.h"

namespace {
QString U(const char* text) { return QString::fromUtf8(text); }

QStringList ActionTexts(const QMenu* menu) {
  QStringList texts;
  for (QAction* a : menu->actions()) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
  return texts;
}

QStringList Captions(const QTreeWidget* grid) {
  QStringList captions;
  for (int i = 0; i < grid->columnCount(); ++i) captions << grid->headerItem()->text(i);
  return captions;
}
}  // namespace

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Param = std::make_unique<TDltParam>(Dir.path().toStdString());
    Channel = std::make_unique<TChannel>([this] { return Param->GetPreamble(); });
    Main = std::make_unique<TMainForm>(*Param, Channel.get());
  }
  void WithParamForm() {
    Params = std::make_unique<TParamForm>(Port, *Param, Channel.get());
    Main->ParamForm = Params.get();
  }

  QTemporaryDir Dir;
  std::unique_ptr<TDltParam> Param;
  TSerialPort Port;
  std::unique_ptr<TChannel> Channel;
  std::unique_ptr<TMainForm> Main;
  std::unique_ptr<TParamForm> Params;
};

TEST_F(MainFormTest, MenusAndToolBar) {
  const QList<QAction*> top = Main->menuBar()->actions();
  ASSERT_EQ(top.size(), 2);
  EXPECT_EQ(top[0]->text(), U(Txt::MenuSystem));
  EXPECT_EQ(top[1]->text(), U(Txt::Help));
  EXPECT_EQ(ActionTexts(Main->mnuSystem),
            QStringList({U(Txt::BaseParam), U(Txt::CommandCaption), U(Txt::TestCaption), QStringLiteral("-"), U(Txt::Exit)}));
  EXPECT_TRUE(Main->NChannelComm->isEnabled());
  EXPECT_EQ(ActionTexts(Main->mnuHelp), QStringList({U(Txt::Help), U(Txt::About)}));

  auto* bar = Main->findChild<QToolBar*>();
  ASSERT_NE(bar, nullptr);
  QStringList order;  // tool tips in order, "-" for the groove
  for (QAction* a : bar->actions()) {
    if (a->isSeparator()) {
      order << QStringLiteral("-");
    } else if (auto* b = qobject_cast<QToolButton*>(bar->widgetForAction(a))) {
      order << b->toolTip();
    }
  }
  EXPECT_EQ(order, QStringList({U(Txt::BaseParam), QStringLiteral("-"), U(Txt::About), U(Txt::Help),
                                U(Txt::Exit)}));
  EXPECT_EQ(Main->tbParam->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
  EXPECT_EQ(Main->tbAbout->toolButtonStyle(), Qt::ToolButtonIconOnly);

  EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase), QColor(255, 251, 240));
}

TEST_F(MainFormTest, CommandPanelFieldsAndKeys) {
  EXPECT_EQ(Main->gbCommand->title(), U(Txt::PanelTitle));
  EXPECT_EQ(Main->edtID->MaxLengthLimit(), 12);
  EXPECT_EQ(Main->edtLen->MaxLengthLimit(), 2);
  EXPECT_EQ(Main->edtDS->MaxLengthLimit(), 8);
  EXPECT_EQ(Main->edtFrame->MaxLengthLimit(), 1024);
  EXPECT_FALSE(Main->cmbCtrl->isEditable());
  EXPECT_EQ(Main->cmbCtrl->maxVisibleItems(), 20);
  for (QPushButton* b : {Main->bbtDS, Main->bbtRT, Main->btnInterrupt, Main->bbtExit, Main->bbtSend, Main->bbtCls})
    EXPECT_TRUE(b->parentWidget() == Main->gbCommand);
  EXPECT_EQ(Main->bbtSend->text(), U(Txt::BtnSend));

  // Letters have no effect in the address, length and data fields.
  QTest::keyClicks(Main->edtID, "12ab34cd5678901234");
  EXPECT_EQ(Main->edtID->text(), QStringLiteral("123456789012"));
  QTest::keyClicks(Main->edtLen, "x4y");
  EXPECT_EQ(Main->edtLen->text(), QStringLiteral("4"));
  QTest::keyClicks(Main->edtData, "1a2");
  EXPECT_EQ(Main->edtData->text(), QStringLiteral("12"));
  // a to f in the identifier show as A to F; other letters are dropped.
  QTest::keyClicks(Main->edtDS, "0g4a1b0c");
  EXPECT_EQ(Main->edtDS->text(), QStringLiteral("04A1B0C"));
  QTest::keyClicks(Main->edtFrame, "68 aa zz 16");
  EXPECT_EQ(Main->edtFrame->text(), QStringLiteral("68 AA  16"));
  // Enter while Send is disabled does nothing and adds nothing to the field.
  QTest::keyClick(Main->edtFrame, Qt::Key_Return);
  EXPECT_EQ(Main->edtFrame->text(), QStringLiteral("68 AA  16"));
  EXPECT_EQ(Main->dxTLMsg->topLevelItemCount(), 0);
}

TEST_F(MainFormTest, PagesGridsAndStatusPanes) {
  ASSERT_EQ(Main->pgcMain->count(), 2);
  EXPECT_EQ(Main->pgcMain->tabText(0), U(Txt::PageMsg));
  EXPECT_EQ(Main->pgcMain->tabText(1), U(Txt::PageLog));
  EXPECT_EQ(Captions(Main->dxTLMsg), QStringList({U(Txt::ColMsgFlag), U(Txt::ColMsgFunc), U(Txt::ColMsgContent),
                                                   U(Txt::ColMsgTime), U(Txt::ColMsgSucc), U(Txt::ColMsgParse)}));
  const int msgWidths[] = {40, 43, 346, 120};
  for (int i = 1; i < 4; ++i) EXPECT_EQ(Main->dxTLMsg->columnWidth(i), msgWidths[i]) << i;
  // The flag column is never narrower than laid out, and wide enough to show a whole flag.
  EXPECT_GE(Main->dxTLMsg->columnWidth(0), msgWidths[0]);
  EXPECT_GT(Main->dxTLMsg->columnWidth(0), Main->dxTLMsg->fontMetrics().horizontalAdvance(QStringLiteral("接收←")));
  EXPECT_FALSE(Main->dxTLMsg->header()->sectionsMovable());
  EXPECT_EQ(Main->dxTLMsg->header()->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_EQ(Main->dxTLMsg->header()->sectionResizeMode(2), QHeaderView::Interactive);
  EXPECT_EQ(Main->dxTLMsg->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(Captions(Main->dxTLLog), QStringList({U(Txt::ColLogTime), U(Txt::ColLogContent)}));
  EXPECT_EQ(Main->dxTLLog->columnWidth(0), 90);
  EXPECT_EQ(Main->dxTLLog->columnWidth(1), 507);
  EXPECT_TRUE(Main->dxTLLog->header()->sectionsMovable());
  EXPECT_EQ(ActionTexts(Main->pmGrid), QStringList({U(Txt::MenuDelete), U(Txt::MenuEmpty), U(Txt::MenuSave)}));

  // Status panes, left to right, with their widths.
  const std::pair<QLabel*, int> panes[] = {{Main->sbClock, 57},    {Main->sbOperator, 104},   {Main->sbData, 268},
                                           {Main->sbUseTime, 56},  {Main->sbErrHint, 104},    {Main->sbIsLastFrame, 61},
                                           {Main->sbSEQ, 30},      {Main->sbRT, 87}};
  Main->resize(1200, 700);
  Main->show();
  ASSERT_TRUE(WaitFor([&] { return Main->isVisible(); }));
  int left = -1;
  for (const auto& [pane, width] : panes) {
    if (pane == Main->sbData)
      EXPECT_GE(pane->width(), width);  // the value pane takes the room left over
    else
      EXPECT_EQ(pane->width(), width);
    const int x = pane->mapTo(Main.get(), QPoint(0, 0)).x();
    EXPECT_GT(x, left);
    left = x;
  }
  EXPECT_EQ(Main->sbOperator->text(), U(Txt::OperatorPrefix));
  EXPECT_GE(Main->sbComStat->width(), 46);
  EXPECT_GT(Main->sbComStat->mapTo(Main.get(), QPoint(0, 0)).x(), left);  // at the right edge
  EXPECT_EQ(Main->sbRT->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
  // The clock shows the current time and is refreshed every second.
  const QString clock = Main->sbClock->text();
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$")).match(clock).hasMatch()) << clock.toStdString();
  EXPECT_LE(qAbs(QTime::fromString(clock, QStringLiteral("hh:mm:ss")).secsTo(QTime::currentTime())), 1);
  EXPECT_TRUE(Main->ClockTimer->isActive());
  EXPECT_EQ(Main->ClockTimer->interval(), 1000);
}

// The first show shows the parameter dialog before anything else; cancelling it still prepares the
// window and fills the operator pane.
TEST_F(MainFormTest, FirstShowShowsParameterDialogThenPreparesWindow) {
  WithParamForm();
  int entriesWhileDialog = -1;
  bool timerWhileDialog = true;
  TModalAnswer answer([&](QWidget* modal) {
    EXPECT_EQ(modal, Params.get());
    entriesWhileDialog = Main->cmbCtrl->count();
    timerWhileDialog = Main->Timer->isActive();
    Params->rbbCancel->click();
  });
  EXPECT_EQ(Channel->Control(), nullptr);
  const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
  Main->show();
  ASSERT_TRUE(WaitFor([&] { return Main->Timer->isActive(); }));
  EXPECT_TRUE(answer.Fired());
  EXPECT_EQ(entriesWhileDialog, 0);
  EXPECT_FALSE(timerWhileDialog);
  EXPECT_EQ(Channel->Control(), &Port);  // the dialog handed the port over

  EXPECT_TRUE(Main->windowState() & Qt::WindowMaximized);
  EXPECT_EQ(Main->windowTitle(), TMainForm::AppTitle());
  const std::vector<std::string>& entries = CtrlListEntries();
  ASSERT_EQ(Main->cmbCtrl->count(), int(entries.size()));
  ASSERT_EQ(entries.size(), 14u);
  for (int i = 0; i < 14; ++i) EXPECT_EQ(Main->cmbCtrl->itemText(i).toStdString(), entries[i]);
  EXPECT_EQ(Main->cmbCtrl->currentIndex(), 0);
  ASSERT_NE(Main->RouteTable, nullptr);
  EXPECT_EQ(Main->RouteTable->MaxDepth, 7);
  EXPECT_EQ(Main->Timer->interval(), 500);
  EXPECT_GE(Main->StartTime, before);
  EXPECT_EQ(Main->sbOperator->text(), U(Txt::OperatorPrefix) + QStringLiteral("QUIL"));
  EXPECT_TRUE(Main->sbComStat->text().isEmpty());
}

// The parameter command shows the dialog and then the operator and the open port in the panes.
TEST_F(MainFormTest, ParameterCommandShowsOperatorAndOpenPort) {
  TTestPty pty;
  ASSERT_TRUE(pty.Valid());
  WithParamForm();
  {
    TModalAnswer answer([&](QWidget*) { Params->rbbCancel->click(); });
    Main->show();
    ASSERT_TRUE(WaitFor([&] { return Main->Timer->isActive(); }));
  }
  {
    TModalAnswer answer([&](QWidget*) {
      Params->edtOperator->setText(QStringLiteral("AB"));
      Params->cbPort->setEditText(QString::fromStdString(pty.Slave));
      Params->rbbOpenCom->click();
    });
    Main->NBaseParam->trigger();
    EXPECT_TRUE(answer.Fired());
  }
  EXPECT_TRUE(Port.PortOpen());
  EXPECT_EQ(Main->sbOperator->text(), U(Txt::OperatorPrefix) + QStringLiteral("AB00"));
  EXPECT_EQ(Main->sbComStat->text().toStdString(), pty.Slave);
  EXPECT_GE(Main->sbComStat->sizeHint().width(), Main->sbComStat->fontMetrics().horizontalAdvance(Main->sbComStat->text()));
  {
    TModalAnswer answer([&](QWidget*) {
      Params->rbbCloseCom->click();
      Params->rbbCancel->click();
    });
    Main->tbParam->click();
  }
  EXPECT_FALSE(Port.PortOpen());
  EXPECT_TRUE(Main->sbComStat->text().isEmpty());
}

TEST_F(MainFormTest, AboutFromMenuAndToolBarGetsStartTime) {
  Main->PrepareWindow();
  Main->StartTime = QDateTime::currentDateTime().addSecs(-3725);
  for (int way = 0; way < 2; ++way) {
    QDateTime start;
    uint32_t seconds = 0;
    QString run;
    TModalAnswer answer([&](QWidget* modal) {
      auto* about = qobject_cast<TfrmAbout*>(modal);
      ASSERT_NE(about, nullptr);
      start = about->StartTime;
      seconds = about->RunSeconds;
      run = about->lbRunTime->text();
      about->btnOK->click();
    });
    if (way == 0) Main->NAbout->trigger(); else Main->tbAbout->click();
    ASSERT_TRUE(answer.Fired());
    EXPECT_EQ(start, Main->StartTime);
    EXPECT_GE(seconds, 3725u);
    EXPECT_LE(seconds, 3727u);
    EXPECT_TRUE(run.startsWith(U(Txt::RunTimeLabel) + QStringLiteral("1") + U(Txt::Hours) + QStringLiteral("2") + U(Txt::Minutes)));
  }
  EXPECT_TRUE(Main->findChildren<TfrmAbout*>().isEmpty());  // freed after use
}

TEST_F(MainFormTest, ExitControlsCloseTheWindow) {
  Main->PrepareWindow();
  for (int way = 0; way < 3; ++way) {
    Main->show();
    ASSERT_TRUE(WaitFor([&] { return Main->isVisible(); }));
    if (way == 0) Main->bbtExit->click();
    if (way == 1) Main->NExit->trigger();
    if (way == 2) Main->tbExit->click();
    EXPECT_FALSE(Main->isVisible()) << way;
  }
}

TEST_F(MainFormTest, DestroyingTheWindowStopsTheChannel) {
  EXPECT_FALSE(Channel->GetStopRequest());
  Main.reset();
  EXPECT_TRUE(Channel->GetStopRequest());
}
