#pragma once
// The main window: the command panel, the message and log grids, the status bar, and the life
// cycle from the first show (the parameter dialog, then the window's preparation) to destruction
// (the channel told to stop). Its send cycle: every 500 ms the frame Send would transmit is
// composed and shown; Send hands it to the channel and adds the sent row; each reply arrives from
// the sending thread as a queued call and is shown on this window's thread, in the order of the
// exchanges. The rules behind each step live in protocol/SendCycle and protocol/ReplyView.
#include <QDateTime>
#include <QMainWindow>
#include <memory>
#include <mutex>

#include "protocol/Compose.h"
#include "protocol/DLT.h"
#include "protocol/ReplyView.h"
#include "ui/BaseFrm.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TChannel;
class TDltParam;
class TFilterEdit;
class TParamForm;
class TTestForm;
struct TLogEntry;

class TMainForm : public TBaseForm<QMainWindow> {
  Q_OBJECT

 public:
  // `channel` (may be null) is told to stop when the window is destroyed.
  TMainForm(TDltParam& param, TChannel* channel, QWidget* parent = nullptr);
  ~TMainForm() override;  // FormDestroy

  // The parameter dialog, created after this window; shown at the first show and from the menu.
  TParamForm* ParamForm = nullptr;
  TTestForm* TestForm = nullptr;  // created at the first use of its menu entry

  // Fields of the window besides its controls.
  bool FrameMode = false;
  bool CtrlListOpen = false;
  std::recursive_mutex MsgLock;  // guards adding rows to the message grid and saving it
  QDateTime StartTime;
  TIdentifierDlt CurIdentifier;
  std::unique_ptr<TRouteTable> RouteTable;  // the application's relay route table
  // When above 0, replaces every command's own reply timeout (seconds); for diagnostics and tests.
  int ReplyTimeoutSec = 0;

  // Tool bar and menus
  QToolButton* tbParam = nullptr;
  QToolButton* tbAbout = nullptr;
  QToolButton* tbHelp = nullptr;
  QToolButton* tbExit = nullptr;
  QMenu* mnuSystem = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* NBaseParam = nullptr;
  QAction* NChannelComm = nullptr;  // the interactive command window
  QAction* NTestRun = nullptr;      // the conformance test window
  QAction* NExit = nullptr;
  QAction* NHelp = nullptr;
  QAction* NAbout = nullptr;
  // Command panel
  QGroupBox* gbCommand = nullptr;
  TFilterEdit* edtID = nullptr;
  QComboBox* cmbCtrl = nullptr;
  TFilterEdit* edtLen = nullptr;
  TFilterEdit* edtDS = nullptr;
  TFilterEdit* edtData = nullptr;
  TFilterEdit* edtFrame = nullptr;
  QPushButton* bbtDS = nullptr;
  QPushButton* bbtRT = nullptr;
  QPushButton* btnInterrupt = nullptr;
  QPushButton* bbtExit = nullptr;
  QPushButton* bbtSend = nullptr;
  QPushButton* bbtCls = nullptr;
  QLabel* lbDataNote = nullptr;  // beside the data field: data left from another identifier
  // Pages and grids
  QTabWidget* pgcMain = nullptr;
  QTreeWidget* dxTLMsg = nullptr;
  QTreeWidget* dxTLLog = nullptr;
  QMenu* pmGrid = nullptr;  // "删除", "清空", "保存"
  QAction* miDelLog = nullptr;
  QAction* miClsLog = nullptr;
  QAction* N2 = nullptr;
  // Status bar
  QLabel* sbClock = nullptr;
  QLabel* sbOperator = nullptr;
  QLabel* sbData = nullptr;
  QLabel* sbUseTime = nullptr;
  QLabel* sbErrHint = nullptr;
  QLabel* sbIsLastFrame = nullptr;
  QLabel* sbSEQ = nullptr;
  QLabel* sbRT = nullptr;
  QLabel* sbComStat = nullptr;
  QLabel* sbWait = nullptr;  // while an exchange waits: seconds waited and its timeout

  QTimer* Timer = nullptr;       // the 500 ms preview timer, on after PrepareWindow
  QTimer* ClockTimer = nullptr;  // refreshes the clock pane every second
  QTimer* WaitTimer = nullptr;   // refreshes the wait pane five times a second

  // The command fields as composition sees them, and back.
  TCommandFields ReadCommandFields() const;
  void WriteCommandFields(const TCommandFields& fields);

  void PrepareWindow();
  void ShowOperatorAndPort();
  void NBaseParamClick();
  void NAboutClick();
  void NChannelCommClick();  // a new command window, shown modally, freed when it closes
  void NTestRunClick();      // the test window, beside this one; one for the window's life

  // The send cycle.
  void TimerTimer();
  bool CheckFrameText() const;
  bool BuildFramePreview(QString& text);
  void bbtSendClick();
  void btnInterruptClick();
  // Shows one reply: runs on this window's thread (the sending thread queues it here).
  void ShowReply(const TReplyInput& reply);
  // An exchange ended without a shown reply: its sent row, found by the exchange's number, gets
  // the channel's message as its outcome (nothing when the row is gone meanwhile).
  void ShowExchangeEnd(uint64_t serial, int code, const std::string& message);
  // A frame that came during a wait but is not the answer: a received row saying why.
  void ShowStray(const TReplyInput& frame, const std::string& reason);
  // The sent row of exchange `serial`, or null when it was deleted or trimmed away.
  QTreeWidgetItem* SentRowOf(uint64_t serial) const;
  void UpdateWaitPane();
  void UpdatePortPane();  // the port's name, or that its link is lost and being reopened
  // Appends a row to the message grid under MsgLock, `parse` in its reading column; returns it.
  QTreeWidgetItem* AddMessage(const TComMsg& msg, const std::string& parse = std::string());
  void ClearReplyPanes();
  // Grids: row reuse, delete, clear, save; the log page.
  void dxTLMsgClick();
  void miDelLogClick();
  void miClsLogClick();
  void N2Click();
  void AddLogRow(const TLogEntry& entry);
  // Fields and the dialogs they open.
  void edtDSChange();
  void bbtDSClick();
  void edtDataDblClick();
  void bbtRTClick();
  void ShowDataNote();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void BuildToolBar();
  void BuildMenu();
  void BuildCommandPanel();
  void BuildPages();
  void BuildStatusBar();
  void UpdateClock();
  void ConnectHandlers();
  void InstallReplyHandler();
  void InstallLogObserver();
  // TimerTimer's two ways.
  void ShowFrameModeState();
  void ShowComposedModeState();
  void ShowFrameHint(const QString& hint);  // the status bar's message; empty clears it
  // bbtSendClick's two ways.
  void SendComposedCommand();
  void SendTypedFrame();
  void WriteReplyPanes(const TReplyView& view);
  void SetReplyTip(QTreeWidgetItem* row, const QString& tip);
  TMeterParams MeterParams() const;
  TRouteTable& Route();
  QTreeWidget* ActiveGrid() const;
  QString AskSaveFileName();

  TDltParam& Param;
  TChannel* Channel = nullptr;
  bool Shown = false;
  QString LastSaveFolder;
  // The identifier a table editor made the data field's text for, and that text.
  QString TableIdentifier, TableText;
  // Where the sending thread and the log post their work for this window; emptied when the
  // window goes, so nothing is posted to it afterwards.
  struct TInbox;
  std::shared_ptr<TInbox> Inbox;
};
