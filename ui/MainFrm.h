#pragma once
// The main window: the command panel, the message and log grids, the status bar, and the life
// cycle from the first show (the parameter dialog, then the window's preparation) to destruction
// (the channel told to stop).
#include <QDateTime>
#include <QMainWindow>
#include <memory>
#include <mutex>

#include "protocol/Compose.h"
#include "protocol/DLT.h"
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
class TChannel;
class TDltParam;
class TFilterEdit;
class TParamForm;

class TMainForm : public TBaseForm<QMainWindow> {
  Q_OBJECT

 public:
  // `channel` (may be null) is told to stop when the window is destroyed.
  TMainForm(TDltParam& param, TChannel* channel, QWidget* parent = nullptr);
  ~TMainForm() override;  // FormDestroy

  // The parameter dialog, created after this window; shown at the first show and from the menu.
  TParamForm* ParamForm = nullptr;

  // Fields of the window besides its controls.
  bool FrameMode = false;
  bool CtrlListOpen = false;
  std::recursive_mutex MsgLock;  // guards adding rows to the message grid and saving it
  QDateTime StartTime;
  TIdentifierDlt CurIdentifier;
  std::unique_ptr<TRouteTable> RouteTable;  // the application's relay route table

  // Tool bar and menus
  QToolButton* tbParam = nullptr;
  QToolButton* tbAbout = nullptr;
  QToolButton* tbHelp = nullptr;
  QToolButton* tbExit = nullptr;
  QMenu* mnuSystem = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* NBaseParam = nullptr;
  QAction* NChannelComm = nullptr;  // the interactive command window
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

  QTimer* Timer = nullptr;       // the 500 ms preview timer, on after PrepareWindow
  QTimer* ClockTimer = nullptr;  // refreshes the clock pane every second

  // The command fields as composition sees them, and back.
  TCommandFields ReadCommandFields() const;
  void WriteCommandFields(const TCommandFields& fields);

  void PrepareWindow();
  void ShowOperatorAndPort();
  void NBaseParamClick();
  void NAboutClick();
  void NChannelCommClick();  // a new command window, shown modally, freed when it closes
  void TimerTimer();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void BuildToolBar();
  void BuildMenu();
  void BuildCommandPanel();
  void BuildPages();
  void BuildStatusBar();
  void UpdateClock();
  void EnterSends();

  TDltParam& Param;
  TChannel* Channel = nullptr;
  bool Shown = false;
};
