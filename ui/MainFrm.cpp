#include "ui/MainFrm.h"

#include <QAction>
#include <QAbstractItemView>
#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>

#include "comm/Channel.h"
#include "comm/Reconnect.h"
#include "comm/Transport.h"
#include "protocol/PublicFunc.h"
#include "protocol/SendCycle.h"
#include "protocol/StringUtil.h"
#include "services/Log.h"
#include "services/MessageFile.h"
#include "services/SingletonUnit.h"
#include "ui/About.h"
#include "ui/AddTAFrm.h"
#include "ui/AddTSFrm.h"
#include "ui/CommandFrm.h"
#include "ui/Controls.h"
#include "ui/IdentifierDlt.h"
#include "ui/ParamFrm.h"
#include "ui/Prompt.h"
#include "ui/RelaySetting.h"
#include "ui/TestFrm.h"
#include "ui/Texts.h"

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

QLabel* MakePane(QWidget* parent, int width, const QString& text = QString()) {
  auto* pane = new QLabel(text, parent);
  pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  pane->setFixedWidth(width);
  return pane;
}

TFilterEdit* MakeEdit(QWidget* parent, const char* name, int maxLength, TKeyFilter filter, bool upper) {
  auto* edit = new TFilterEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->SetMaxLength(maxLength);
  edit->SetKeyFilter(filter);
  edit->SetUpperCase(upper);
  return edit;
}

QTreeWidget* MakeGrid(QWidget* parent, const QStringList& captions, const QList<int>& widths) {
  auto* grid = new QTreeWidget(parent);
  grid->setColumnCount(int(captions.size()));
  grid->setHeaderLabels(captions);
  grid->setRootIsDecorated(false);
  grid->setUniformRowHeights(true);
  grid->setItemDelegate(new TRowShade(grid));
  SetGridSelectionColours(grid);
  grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setContextMenuPolicy(Qt::CustomContextMenu);
  for (int i = 0; i < widths.size(); ++i) grid->setColumnWidth(i, widths[i]);
  return grid;
}

}  // namespace

TMainForm::TMainForm(TDltParam& param, TChannel* channel, QWidget* parent)
    : TBaseForm<QMainWindow>(parent), Param(param), Channel(channel) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(AppTitle());
  setWindowIcon(AppIcon());
  setWindowState(Qt::WindowMaximized);
  BuildToolBar();
  BuildMenu();
  BuildCommandPanel();
  BuildPages();
  BuildStatusBar();

  Timer = new QTimer(this);
  Timer->setInterval(500);
  connect(Timer, &QTimer::timeout, this, &TMainForm::TimerTimer);
  ClockTimer = new QTimer(this);
  ClockTimer->setInterval(1000);
  connect(ClockTimer, &QTimer::timeout, this, &TMainForm::UpdateClock);
  UpdateClock();
  ClockTimer->start();
  WaitTimer = new QTimer(this);
  WaitTimer->setInterval(200);
  connect(WaitTimer, &QTimer::timeout, this, &TMainForm::UpdateWaitPane);
  WaitTimer->start();
  FormCreate();
  ConnectHandlers();
  InstallReplyHandler();
  InstallLogObserver();
}

// The queue between the other threads and this window: a post after the window is gone does
// nothing, and a post while it exists is delivered on its thread, in the order posted.
struct TMainForm::TInbox {
  std::mutex Lock;
  TMainForm* Form = nullptr;

  template <class TWork>
  void Post(TWork work) {
    std::lock_guard<std::mutex> guard(Lock);
    if (!Form) return;
    QMetaObject::invokeMethod(Form, [form = Form, work = std::move(work)] { work(*form); }, Qt::QueuedConnection);
  }
};

namespace {
// The window whose log page the log feeds (one at a time).
std::atomic<TMainForm*> LogPageOwner{nullptr};
}  // namespace

TMainForm::~TMainForm() {
  {
    std::lock_guard<std::mutex> guard(Inbox->Lock);
    Inbox->Form = nullptr;  // replies and log entries from now on are not posted here
  }
  TMainForm* self = this;
  if (Logger && LogPageOwner.compare_exchange_strong(self, nullptr)) Logger->SetObserver(nullptr);
  // FormDestroy: queued frames are dropped and a wait in progress ends; no row is being added
  // meanwhile.
  std::lock_guard<std::recursive_mutex> lock(MsgLock);
  if (Channel) Channel->SetStopRequest(true);
}

void TMainForm::InstallReplyHandler() {
  Inbox = std::make_shared<TInbox>();
  Inbox->Form = this;
  if (!Channel) return;
  // Runs on the sending thread: it copies what the display needs and touches no widget.
  Channel->SetReplyHandler([inbox = Inbox](const TKvFrame& sent, const TKvFrame& reply, const TFrameBody& body,
                                           const std::string&, int) {
    TReplyInput input{body, sent.DltFrame.ViaCollector, sent.Tick, reply.Tick};
    inbox->Post([input](TMainForm& form) { form.ShowReply(input); });
  });
  // Every exchange ends once; one without a shown reply leaves the channel's message on its row.
  Channel->SetExchangeHandler([inbox = Inbox](const TKvFrame& sent, int code, const std::string& message) {
    if (code == crOk) return;
    inbox->Post([serial = sent.Serial, code, message](TMainForm& form) { form.ShowExchangeEnd(serial, code, message); });
  });
  Channel->SetStrayHandler([inbox = Inbox](const TKvFrame& sent, const TKvFrame& frame, const TFrameBody& body,
                                           const std::string& reason) {
    TReplyInput input{body, sent.DltFrame.ViaCollector, sent.Tick, frame.Tick};
    inbox->Post([input, reason](TMainForm& form) { form.ShowStray(input, reason); });
  });
}

void TMainForm::InstallLogObserver() {
  if (!Logger) return;
  LogPageOwner = this;
  // Runs on whatever thread writes the entry, under the log's lock.
  Logger->SetObserver([inbox = Inbox](const TLogEntry& entry) {
    inbox->Post([entry](TMainForm& form) { form.AddLogRow(entry); });
  });
}

void TMainForm::FormCreate() {
  // Tool tips of the whole application are cream.
  QPalette tips = QToolTip::palette();
  tips.setColor(QPalette::ToolTipBase, QColor(255, 251, 240));
  tips.setColor(QPalette::ToolTipText, Qt::black);
  QToolTip::setPalette(tips);
}

void TMainForm::BuildToolBar() {
  auto* bar = new QToolBar(this);
  bar->setObjectName(QStringLiteral("ToolBar"));
  bar->setMovable(false);
  bar->setIconSize(QSize(24, 24));
  addToolBar(Qt::TopToolBarArea, bar);
  auto button = [bar](TPicture picture, const char* tip) {
    auto* b = new QToolButton(bar);
    b->setIcon(QIcon(DrawPicture(picture, 48)));
    b->setToolTip(U(tip));
    b->setText(U(tip));
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    b->setAutoRaise(true);
    return b;
  };
  tbParam = button(TPicture::Params, Txt::BaseParam);
  tbParam->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);  // its caption is shown too
  tbAbout = button(TPicture::About, Txt::About);
  tbHelp = button(TPicture::Help, Txt::Help);
  tbExit = button(TPicture::Exit, Txt::Exit);
  bar->addWidget(tbParam);
  bar->addSeparator();
  bar->addWidget(tbAbout);
  bar->addWidget(tbHelp);
  bar->addWidget(tbExit);
  connect(tbParam, &QToolButton::clicked, this, &TMainForm::NBaseParamClick);
  connect(tbAbout, &QToolButton::clicked, this, &TMainForm::NAboutClick);
  connect(tbExit, &QToolButton::clicked, this, &QWidget::close);
  // The help button does nothing: there is no help content.
}

void TMainForm::BuildMenu() {
  mnuSystem = menuBar()->addMenu(U(Txt::MenuSystem));
  NBaseParam = mnuSystem->addAction(U(Txt::BaseParam), this, &TMainForm::NBaseParamClick);
  NChannelComm = mnuSystem->addAction(U(Txt::CommandCaption), this, &TMainForm::NChannelCommClick);
  NTestRun = mnuSystem->addAction(U(Txt::TestCaption), this, &TMainForm::NTestRunClick);
  mnuSystem->addSeparator();
  NExit = mnuSystem->addAction(U(Txt::Exit), this, &QWidget::close);
  mnuHelp = menuBar()->addMenu(U(Txt::Help));
  NHelp = mnuHelp->addAction(U(Txt::Help));
  NAbout = mnuHelp->addAction(U(Txt::About), this, &TMainForm::NAboutClick);
}

void TMainForm::BuildCommandPanel() {
  auto* central = new QWidget(this);
  setCentralWidget(central);
  gbCommand = new QGroupBox(U(Txt::PanelTitle), central);

  edtID = MakeEdit(gbCommand, "edtID", 12, FilterDigitKey, true);
  cmbCtrl = new QComboBox(gbCommand);
  cmbCtrl->setObjectName(QStringLiteral("cmbCtrl"));
  cmbCtrl->setEditable(false);  // picked, never typed
  cmbCtrl->setMaxVisibleItems(20);
  edtLen = MakeEdit(gbCommand, "edtLen", 2, FilterDigitKey, false);
  edtDS = MakeEdit(gbCommand, "edtDS", 8, FilterHexKey, true);
  edtData = MakeEdit(gbCommand, "edtData", 0, FilterDigitKey, false);
  edtFrame = MakeEdit(gbCommand, "edtFrame", 1024, FilterHexSpaceKey, true);
  edtFrame->SetSpacedHex(true);
  edtID->setFixedWidth(110);
  cmbCtrl->setFixedWidth(140);
  edtLen->setFixedWidth(44);
  edtDS->setFixedWidth(90);
  edtData->setMinimumWidth(120);

  bbtDS = new QPushButton(U(Txt::BtnDS), gbCommand);
  bbtRT = new QPushButton(U(Txt::BtnRT), gbCommand);
  btnInterrupt = new QPushButton(U(Txt::Interrupt), gbCommand);
  bbtExit = new QPushButton(U(Txt::Exit), gbCommand);
  bbtSend = new QPushButton(U(Txt::BtnSend), gbCommand);
  bbtCls = new QPushButton(U(Txt::BtnClear), gbCommand);
  for (QPushButton* b : {bbtDS, bbtRT, btnInterrupt, bbtExit, bbtSend, bbtCls}) b->setMinimumWidth(96);
  // Send is enabled by the timer once a frame can be built.
  bbtSend->setEnabled(false);
  connect(bbtExit, &QPushButton::clicked, this, &QWidget::close);

  auto label = [this](const char* text) { return new QLabel(U(text), gbCommand); };
  auto* grid = new QGridLayout(gbCommand);
  grid->setContentsMargins(8, 8, 8, 8);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(4);
  grid->addWidget(edtID, 0, 0);
  grid->addWidget(cmbCtrl, 0, 1);
  grid->addWidget(edtLen, 0, 2);
  grid->addWidget(edtDS, 0, 3);
  grid->addWidget(edtData, 0, 4);
  grid->addWidget(bbtDS, 0, 5);
  grid->addWidget(bbtRT, 0, 6);
  grid->addWidget(label(Txt::LblAddress), 1, 0);
  grid->addWidget(label(Txt::LblCtrl), 1, 1);
  grid->addWidget(label(Txt::LblLen), 1, 2);
  grid->addWidget(label(Txt::LblDS), 1, 3);
  // The data field's label, and beside it the note about data left from another identifier.
  lbDataNote = new QLabel(gbCommand);
  lbDataNote->setObjectName(QStringLiteral("lbDataNote"));
  QPalette warn = lbDataNote->palette();
  warn.setColor(QPalette::WindowText, QColor(192, 0, 0));
  lbDataNote->setPalette(warn);
  auto* dataLabels = new QHBoxLayout;
  dataLabels->setContentsMargins(0, 0, 0, 0);
  dataLabels->addWidget(label(Txt::LblData));
  dataLabels->addWidget(lbDataNote, 1);
  grid->addLayout(dataLabels, 1, 4);
  grid->addWidget(btnInterrupt, 1, 5);
  grid->addWidget(bbtExit, 1, 6);
  grid->addWidget(label(Txt::LblFrameFormat), 2, 0, 1, 5);
  grid->addWidget(edtFrame, 3, 0, 1, 5);
  grid->addWidget(bbtSend, 3, 5);
  grid->addWidget(bbtCls, 3, 6);
  grid->setColumnStretch(4, 1);

  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(4, 4, 4, 0);
  layout->addWidget(gbCommand);
}

void TMainForm::BuildPages() {
  pgcMain = new QTabWidget(centralWidget());
  dxTLMsg = MakeGrid(pgcMain,
                     {U(Txt::ColMsgFlag), U(Txt::ColMsgFunc), U(Txt::ColMsgContent), U(Txt::ColMsgTime),
                      U(Txt::ColMsgSucc), U(Txt::ColMsgParse)},
                     {40, 43, 346, 120, 20});
  dxTLMsg->setObjectName(QStringLiteral("dxTLMsg"));
  // 40 pixels were measured for a smaller font; the flag ("发送→", "接收←") must stay readable.
  const QFontMetrics metrics = dxTLMsg->fontMetrics();
  dxTLMsg->setColumnWidth(0, std::max(40, metrics.horizontalAdvance(U(SendTexts::FlagReceived)) + 12));
  // The outcome column holds the channel's messages, about fourteen Chinese characters (a longer
  // one is elided and whole in the cell's tool tip). The reading column, the last, takes the width
  // left over.
  dxTLMsg->setColumnWidth(4, metrics.horizontalAdvance(QChar(0x4E2D)) * 14 + 16);
  // The columns keep their order; only the content column is resized by the user.
  QHeaderView* msgHeader = dxTLMsg->header();
  msgHeader->setSectionsMovable(false);
  msgHeader->setStretchLastSection(true);
  for (int i = 0; i < 6; ++i) msgHeader->setSectionResizeMode(i, i == 2 ? QHeaderView::Interactive : QHeaderView::Fixed);
  dxTLLog = MakeGrid(pgcMain, {U(Txt::ColLogTime), U(Txt::ColLogContent)}, {90, 507});
  dxTLLog->setObjectName(QStringLiteral("dxTLLog"));
  dxTLLog->header()->setSectionsMovable(true);
  dxTLLog->header()->setSectionResizeMode(QHeaderView::Interactive);
  pgcMain->addTab(dxTLMsg, U(Txt::PageMsg));
  pgcMain->addTab(dxTLLog, U(Txt::PageLog));

  // One pop-up menu for both grids.
  pmGrid = new QMenu(this);
  miDelLog = pmGrid->addAction(U(Txt::MenuDelete));
  miClsLog = pmGrid->addAction(U(Txt::MenuEmpty));
  N2 = pmGrid->addAction(U(Txt::MenuSave));
  for (QTreeWidget* grid : {dxTLMsg, dxTLLog})
    connect(grid, &QWidget::customContextMenuRequested, this,
            [this, grid](const QPoint& pos) { pmGrid->popup(grid->viewport()->mapToGlobal(pos)); });

  static_cast<QBoxLayout*>(centralWidget()->layout())->addWidget(pgcMain, 1);
}

void TMainForm::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  sbClock = MakePane(bar, 57);
  sbClock->setObjectName(QStringLiteral("sbClock"));
  sbOperator = MakePane(bar, 104, U(Txt::OperatorPrefix));
  // The value pane takes the room the others leave (a long value is elided there and whole in
  // its tool tip).
  sbData = new TElidedLabel(bar);
  sbData->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  sbData->setMinimumWidth(268);
  sbUseTime = MakePane(bar, 56);
  sbErrHint = MakePane(bar, 104);
  sbIsLastFrame = MakePane(bar, 61);
  sbSEQ = MakePane(bar, 30);
  sbRT = MakePane(bar, 87);
  sbRT->setAlignment(Qt::AlignCenter);
  // A device path is longer than a COM name: the port pane grows to show it whole.
  sbComStat = new QLabel(bar);
  sbComStat->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  sbComStat->setMinimumWidth(46);
  for (QLabel* pane : {sbClock, sbOperator, sbData, sbUseTime, sbErrHint, sbIsLastFrame, sbSEQ})
    bar->addWidget(pane, pane == sbData ? 1 : 0);
  sbWait = MakePane(bar, 0);
  sbWait->setObjectName(QStringLiteral("sbWait"));
  sbWait->setMinimumWidth(sbWait->fontMetrics().horizontalAdvance(QString::fromStdString(WaitPaneText(88.8, 60))) + 8);
  sbWait->setMaximumWidth(QWIDGETSIZE_MAX);
  bar->addPermanentWidget(sbWait);
  bar->addPermanentWidget(sbRT);
  bar->addPermanentWidget(sbComStat);
}

void TMainForm::UpdateClock() { sbClock->setText(QTime::currentTime().toString(QStringLiteral("hh:mm:ss"))); }

// ---------------------------------------------------------------------------------------------

void TMainForm::showEvent(QShowEvent* event) {
  TBaseForm<QMainWindow>::showEvent(event);
  if (!Shown && !event->spontaneous()) {
    Shown = true;
    // Runs once the window is on screen, from the event loop.
    QMetaObject::invokeMethod(this, &TMainForm::FormShow, Qt::QueuedConnection);
  }
}

void TMainForm::FormShow() {
  // The parameter dialog first, whatever closes it: showing it hands the port to the channel.
  if (ParamForm) ParamForm->exec();
  PrepareWindow();
  ShowOperatorAndPort();
}

void TMainForm::PrepareWindow() {
  setWindowTitle(AppTitle());
  StartTime = QDateTime::currentDateTime();
  TCommandFields fields = ReadCommandFields();
  FillCtrlList(fields);
  WriteCommandFields(fields);
  if (!RouteTable) RouteTable = std::make_unique<TRouteTable>(7);
  Timer->start();
  TimerTimer();  // the first preview at once, not half a second later
}

void TMainForm::ShowOperatorAndPort() {
  sbOperator->setText(U(Txt::OperatorPrefix) + QString::fromStdString(Param.Operator));
  sbComStat->setText(Param.ComInfo.Opened ? QString::fromStdString(Param.ComInfo.Port) : QString());
}

void TMainForm::NBaseParamClick() {
  if (ParamForm) ParamForm->exec();
  ShowOperatorAndPort();
}

void TMainForm::NAboutClick() {
  TfrmAbout about(this);
  about.StartTime = StartTime;
  const qint64 seconds = StartTime.isValid() ? StartTime.secsTo(QDateTime::currentDateTime()) : 0;
  about.RunSeconds = static_cast<uint32_t>(qBound<qint64>(0, seconds, UINT32_MAX));
  about.exec();
}


// ---------------------------------------------------------------------------------------------

namespace {

TFieldState ReadField(const TFilterEdit* edit) {
  TFieldState state;
  state.Text = edit->text().toStdString();
  state.Enabled = edit->isEnabled();
  state.MaxLength = edit->MaxLengthLimit();
  state.Hint = edit->toolTip().toStdString();
  return state;
}

void WriteField(TFilterEdit* edit, const TFieldState& state) {
  const QString text = QString::fromStdString(state.Text);
  if (edit->text() != text) edit->setText(text);
  edit->setEnabled(state.Enabled);
  edit->SetMaxLength(state.MaxLength);
  edit->setToolTip(QString::fromStdString(state.Hint));
}

}  // namespace

TCommandFields TMainForm::ReadCommandFields() const {
  TCommandFields fields;
  fields.edtID = ReadField(edtID);
  fields.edtDS = ReadField(edtDS);
  fields.edtLen = ReadField(edtLen);
  fields.edtData = ReadField(edtData);
  for (int i = 0; i < cmbCtrl->count(); ++i) fields.CtrlEntries.push_back(cmbCtrl->itemText(i).toStdString());
  fields.CtrlIndex = cmbCtrl->currentIndex();
  fields.bbtDSEnabled = bbtDS->isEnabled();
  fields.bbtRTEnabled = bbtRT->isEnabled();
  return fields;
}

void TMainForm::WriteCommandFields(const TCommandFields& fields) {
  WriteField(edtID, fields.edtID);
  WriteField(edtDS, fields.edtDS);
  WriteField(edtLen, fields.edtLen);
  WriteField(edtData, fields.edtData);
  QStringList entries;
  for (const std::string& entry : fields.CtrlEntries) entries << QString::fromStdString(entry);
  QStringList shown;
  for (int i = 0; i < cmbCtrl->count(); ++i) shown << cmbCtrl->itemText(i);
  if (shown != entries) {
    cmbCtrl->clear();
    cmbCtrl->addItems(entries);
  }
  if (cmbCtrl->currentIndex() != fields.CtrlIndex) cmbCtrl->setCurrentIndex(fields.CtrlIndex);
  bbtDS->setEnabled(fields.bbtDSEnabled);
  bbtRT->setEnabled(fields.bbtRTEnabled);
}

void TMainForm::NChannelCommClick() {
  if (!ParamForm) return;
  auto form = std::make_unique<TCommandForm>(*ParamForm, this);
  form->exec();
}

void TMainForm::NTestRunClick() {
  if (!TestForm) TestForm = new TTestForm(Channel, this);
  TestForm->show();
  TestForm->raise();
  TestForm->activateWindow();
}

// ---------------------------------------------------------------------------------------------
// Handlers

void TMainForm::ConnectHandlers() {
  connect(bbtSend, &QPushButton::clicked, this, &TMainForm::bbtSendClick);
  connect(btnInterrupt, &QPushButton::clicked, this, &TMainForm::btnInterruptClick);
  connect(bbtCls, &QPushButton::clicked, this, &TMainForm::miClsLogClick);
  connect(miDelLog, &QAction::triggered, this, &TMainForm::miDelLogClick);
  connect(miClsLog, &QAction::triggered, this, &TMainForm::miClsLogClick);
  connect(N2, &QAction::triggered, this, &TMainForm::N2Click);
  // A click anywhere in the grid, on a row or on the empty area below the rows.
  dxTLMsg->viewport()->installEventFilter(this);
  connect(edtDS, &QLineEdit::textChanged, this, &TMainForm::edtDSChange);
  connect(edtDS, &QLineEdit::textChanged, this, &TMainForm::ShowDataNote);
  connect(edtData, &QLineEdit::textChanged, this, &TMainForm::ShowDataNote);
  connect(edtDS, &TFilterEdit::doubleClicked, this, &TMainForm::bbtDSClick);
  connect(bbtDS, &QPushButton::clicked, this, &TMainForm::bbtDSClick);
  connect(edtData, &TFilterEdit::doubleClicked, this, &TMainForm::edtDataDblClick);
  connect(bbtRT, &QPushButton::clicked, this, &TMainForm::bbtRTClick);
  // The list is open from its drop-down until it closes or its selection changes.
  connect(cmbCtrl, &QComboBox::currentIndexChanged, this, [this] { CtrlListOpen = false; });
  cmbCtrl->view()->installEventFilter(this);
  // Enter in these fields presses Send.
  for (QWidget* field : std::initializer_list<QWidget*>{edtID, cmbCtrl, edtLen, edtDS, edtData, edtFrame})
    field->installEventFilter(this);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == dxTLMsg->viewport()) {
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
      dxTLMsgClick();  // the press before it has made the clicked row the focused one
    return false;
  }
  if (watched == cmbCtrl->view()) {
    if (event->type() == QEvent::Show) CtrlListOpen = true;
    if (event->type() == QEvent::Hide) CtrlListOpen = false;
    return false;
  }
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      // Sends only while Send is enabled; the key never reaches the field either way.
      if (bbtSend->isEnabled()) bbtSendClick();
      return true;
    }
  }
  return TBaseForm<QMainWindow>::eventFilter(watched, event);
}

void TMainForm::edtDSChange() {
  TCommandFields fields = ReadCommandFields();
  std::string hint = fields.edtDS.Hint;
  IdentifierChanged(fields.edtDS.Text, GetCtrlItem(fields), CurIdentifier, hint);
  edtDS->setToolTip(QString::fromStdString(hint));
}

void TMainForm::bbtDSClick() {
  if (!IdentifierDltForm || !edtDS->isEnabled()) return;
  CurIdentifier.Access = GetCtrlItem(ReadCommandFields()).DIAccess;
  IdentifierDltForm->GivenIdentifier = CurIdentifier;
  if (IdentifierDltForm->exec() != QDialog::Accepted) return;
  CurIdentifier = IdentifierDltForm->PickedIdentifier;
  edtDS->setText(QString::fromStdString(CurIdentifier.DI));  // looks the identifier up again
  edtDS->setToolTip(QString::fromStdString(CurIdentifier.Description));
  edtData->clear();
}

void TMainForm::edtDataDblClick() {
  const TTableEditor which = TableEditorFor(GetCtrlItem(ReadCommandFields()).Code, edtData->isEnabled(),
                                            edtDS->text().toStdString());
  if (which == TTableEditor::None) return;
  std::unique_ptr<TTariffForm> editor;
  if (which == TTableEditor::Zones)
    editor = std::make_unique<TAddTAForm>(this);
  else
    editor = std::make_unique<TAddTSForm>(this);
  editor->TableText = edtData->text();
  if (editor->exec() != QDialog::Accepted) return;
  TableIdentifier = edtDS->text();
  TableText = editor->TableText;
  edtData->setText(editor->TableText);
}

void TMainForm::ShowDataNote() {
  lbDataNote->setText(QString::fromStdString(TableDataNote(edtDS->text().toStdString(), edtData->text().toStdString(),
                                                           TableIdentifier.toStdString(), TableText.toStdString())));
}

void TMainForm::bbtRTClick() {
  TRouteTableForm dialog(Route(), this);  // only OK changes the table
  if (dialog.exec() != QDialog::Accepted) return;
  sbRT->setText(QString::fromStdString(RelayPaneText(Route())));
}

// ---------------------------------------------------------------------------------------------
// The send cycle

TMeterParams TMainForm::MeterParams() const {
  TMeterParams params;
  params.Psw = Param.Psw;
  params.Operator = Param.Operator;
  params.UseCollector = Param.UseCollector;
  params.Collector = Param.Collector;
  return params;
}

TRouteTable& TMainForm::Route() {
  if (!RouteTable) RouteTable = std::make_unique<TRouteTable>(7);
  return *RouteTable;
}

void TMainForm::TimerTimer() {
  if (edtID->text().isEmpty())
    ShowFrameModeState();
  else
    ShowComposedModeState();
}

bool TMainForm::CheckFrameText() const { return ::CheckFrameText(edtFrame->text().toStdString()); }

void TMainForm::ShowFrameModeState() {
  FrameMode = true;
  const std::string text = edtFrame->text().toStdString();
  const bool wellFormed = CheckFrameText();
  const std::string refusal = wellFormed ? TypedFrameRefusal(text) : std::string();
  bbtSend->setEnabled(wellFormed && refusal.empty());
  edtFrame->setToolTip(QString::fromStdString(wellFormed ? refusal : FrameFormatHint()));
  // The hint stands in the status bar too, where it is seen without hovering over the field.
  ShowFrameHint(QString::fromStdString(wellFormed ? refusal : FrameFormatHintLine()).trimmed());
  for (QWidget* w : std::initializer_list<QWidget*>{cmbCtrl, edtLen, edtDS, edtData, bbtDS, bbtRT})
    w->setEnabled(false);
}

void TMainForm::ShowFrameHint(const QString& hint) {
  if (statusBar()->currentMessage() == hint) return;
  if (hint.isEmpty())
    statusBar()->clearMessage();
  else
    statusBar()->showMessage(hint);
}

void TMainForm::ShowComposedModeState() {
  FrameMode = false;
  cmbCtrl->setEnabled(true);
  edtFrame->setToolTip(QString());
  ShowFrameHint(QString());
  if (CtrlListOpen) return;  // the preview, the length and Send keep their state
  QString preview;
  const bool built = BuildFramePreview(preview);
  if (edtFrame->text() != preview) edtFrame->setText(preview);
  bbtSend->setEnabled(built);
}

bool TMainForm::BuildFramePreview(QString& text) {
  TCommandFields fields = ReadCommandFields();
  TDltFrame frame;
  std::string preview;
  const TPreamble preamble = Param.GetPreamble();
  const bool built = ComposeCommand(fields, CurIdentifier, MeterParams(), Route(), frame) &&
                     PackedPreview(frame, {preamble.UseLC, preamble.LC, preamble.LCCount}, preview);
  WriteCommandFields(fields);
  text = built ? QString::fromStdString(preview) : QString();
  return built;
}

void TMainForm::bbtSendClick() {
  // The mode, the preview and Send's state are brought up to date first, so Send acts on the
  // fields as they stand now and the sent row shows exactly what goes on the line.
  TimerTimer();
  if (!bbtSend->isEnabled() || !Channel) return;
  ClearReplyPanes();
  if (FrameMode)
    SendTypedFrame();
  else
    SendComposedCommand();
}

void TMainForm::SendComposedCommand() {
  TCommandFields fields = ReadCommandFields();
  TDltFrame frame;
  if (!ComposeCommand(fields, CurIdentifier, MeterParams(), Route(), frame)) return;
  WriteCommandFields(fields);
  if (ReplyTimeoutSec > 0) frame.TimeoutSec = ReplyTimeoutSec;
  std::string error;
  uint64_t serial = 0;
  const int code = Channel->Send(frame.Address, frame, frame.DataField, error, &serial);
  const TDateTime now = Now();
  QTreeWidgetItem* row =
      AddMessage(SentRow(FuncText(frame.CtrlCode), edtFrame->text().toStdString(), now, error), SentParse(frame));
  if (code == crOk) row->setData(0, Qt::UserRole, QVariant::fromValue<qulonglong>(serial));
  if (frame.NoReply) AddMessage(NoReplyRow(frame.CmdName, now, error));
}

void TMainForm::SendTypedFrame() {
  const std::vector<uint8_t> bytes = TypedFrameBytes(edtFrame->text().toStdString());
  const int count = static_cast<int>(bytes.size());
  auto buffer = std::make_unique<uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), buffer.get());
  TDltFrame command = TypedFrameCommand();
  if (ReplyTimeoutSec > 0) command.TimeoutSec = ReplyTimeoutSec;
  std::string error;
  uint64_t serial = 0;
  const int code = Channel->SendRaw(buffer, count, command, error, &serial);  // a refused buffer stays ours
  QTreeWidgetItem* row = AddMessage(SentRow(std::string(), TStringUtil::BytesToHexSpaced(bytes.data(), count), Now(), error),
                                    TypedFrameParse(bytes));
  if (code == crOk) row->setData(0, Qt::UserRole, QVariant::fromValue<qulonglong>(serial));
}

void TMainForm::btnInterruptClick() {
  if (Channel) Channel->SetStopRequest(true);
}

void TMainForm::ClearReplyPanes() {
  for (QLabel* pane : {sbData, sbUseTime, sbIsLastFrame, sbErrHint, sbSEQ}) pane->clear();
  sbData->setToolTip(QString());
}

void TMainForm::ShowReply(const TReplyInput& reply) {
  const TReplyView view = ViewReply(reply, Now());
  ClearReplyPanes();
  WriteReplyPanes(view);
  QTreeWidgetItem* row = AddMessage(view.Row, view.Parse);
  SetReplyTip(row, QString::fromStdString(view.Tip));
  sbData->setToolTip(QString::fromStdString(ValuePaneTip(view)));
}

void TMainForm::WriteReplyPanes(const TReplyView& view) {
  sbData->setText(QString::fromStdString(view.Data));
  sbUseTime->setText(QString::fromStdString(view.UseTime));
  sbErrHint->setText(QString::fromStdString(view.ErrHint));
  sbIsLastFrame->setText(QString::fromStdString(view.IsLastFrame));
  sbSEQ->setText(QString::fromStdString(view.SEQ));
}

QTreeWidgetItem* TMainForm::SentRowOf(uint64_t serial) const {
  // The exchange's number is kept in its row, so a deleted or trimmed row is simply not found.
  for (int i = dxTLMsg->topLevelItemCount() - 1; i >= 0; --i) {
    QTreeWidgetItem* row = dxTLMsg->topLevelItem(i);
    if (row->data(0, Qt::UserRole).toULongLong() == serial) return row;
  }
  return nullptr;
}

void TMainForm::ShowExchangeEnd(uint64_t serial, int code, const std::string& message) {
  QTreeWidgetItem* row = SentRowOf(serial);
  if (!row || code == crOk) return;
  const QString text = QString::fromStdString(message);
  row->setText(4, text);
  row->setToolTip(4, text);
}

void TMainForm::ShowStray(const TReplyInput& frame, const std::string& reason) {
  const TReplyView view = ViewStray(frame, reason, Now());
  AddMessage(view.Row, view.Parse);
}

void TMainForm::UpdateWaitPane() {
  uint64_t serial = 0;
  double elapsed = 0, timeout = 0;
  const bool waiting = Channel && Channel->WaitState(serial, elapsed, timeout);
  const QString text = waiting ? QString::fromStdString(WaitPaneText(elapsed, timeout)) : QString();
  if (sbWait->text() != text) sbWait->setText(text);
  UpdatePortPane();
}

void TMainForm::UpdatePortPane() {
  if (!Param.ComInfo.Opened) return;
  const TTransport* port = Channel ? Channel->Control() : nullptr;
  const QString text = QString::fromStdString(LinkPaneText(Param.ComInfo.Port, port && port->Lost()));
  if (sbComStat->text() != text) sbComStat->setText(text);
}

// A reply's reading tip goes on every cell of its row but the outcome and reading cells, which
// show their own text whole.
void TMainForm::SetReplyTip(QTreeWidgetItem* row, const QString& tip) {
  for (int column = 0; column < 4; ++column) row->setToolTip(column, tip);
}

QTreeWidgetItem* TMainForm::AddMessage(const TComMsg& msg, const std::string& parse) {
  std::lock_guard<std::recursive_mutex> lock(MsgLock);
  if (GridMustEmpty(dxTLMsg->topLevelItemCount())) dxTLMsg->clear();
  const QStringList cells = {QString::fromStdString(msg.Flag), QString::fromStdString(msg.Func),
                             QString::fromStdString(msg.Content), QString::fromStdString(DateTimeText(msg.Time)),
                             QString::fromStdString(msg.Succ), QString::fromStdString(parse)};
  auto* row = new QTreeWidgetItem(dxTLMsg, cells);
  row->setToolTip(4, cells[4]);
  row->setToolTip(5, cells[5]);
  dxTLMsg->setCurrentItem(row);
  dxTLMsg->scrollToItem(row);
  if (pgcMain->currentWidget() != dxTLMsg) pgcMain->setCurrentWidget(dxTLMsg);
  return row;
}

// ---------------------------------------------------------------------------------------------
// Grids

void TMainForm::dxTLMsgClick() {
  if (!FrameMode) return;
  const QTreeWidgetItem* row = dxTLMsg->currentItem();
  if (!row) return;
  TComMsg msg;
  msg.Flag = row->text(0).toStdString();
  msg.Content = row->text(2).toStdString();
  std::string frame;
  if (RowFrameForEditing(msg, frame)) edtFrame->setText(QString::fromStdString(frame));
}

QTreeWidget* TMainForm::ActiveGrid() const { return pgcMain->currentWidget() == dxTLLog ? dxTLLog : dxTLMsg; }

void TMainForm::miDelLogClick() {
  std::lock_guard<std::recursive_mutex> lock(MsgLock);
  delete ActiveGrid()->currentItem();  // the focused row only, however many are selected
}

void TMainForm::miClsLogClick() {
  std::lock_guard<std::recursive_mutex> lock(MsgLock);
  ActiveGrid()->clear();
}

QString TMainForm::AskSaveFileName() {
  QFileDialog dialog(this);
  dialog.setObjectName(QStringLiteral("SaveDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("log"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  // The folder of the last save, at first the home folder.
  dialog.setDirectory(LastSaveFolder.isEmpty() ? QDir::homePath() : LastSaveFolder);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  const QString path = dialog.selectedFiles().first();
  LastSaveFolder = QFileInfo(path).absolutePath();
  return path;
}

void TMainForm::N2Click() {
  const QString path = AskSaveFileName();
  if (path.isEmpty()) return;
  std::string error;
  bool saved;
  {
    std::lock_guard<std::recursive_mutex> lock(MsgLock);
    std::vector<TMessageCells> rows;
    rows.reserve(static_cast<size_t>(dxTLMsg->topLevelItemCount()));
    for (int i = 0; i < dxTLMsg->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* item = dxTLMsg->topLevelItem(i);
      TMessageCells cells;
      for (int c = 0; c < 5; ++c) cells[static_cast<size_t>(c)] = item->text(c).toStdString();
      rows.push_back(std::move(cells));
    }
    saved = SaveMessageFile(path.toStdString(), rows, error);
  }
  if (!saved) ShowPrompt(QString::fromStdString(error));
}

void TMainForm::AddLogRow(const TLogEntry& entry) {
  if (GridMustEmpty(dxTLLog->topLevelItemCount())) dxTLLog->clear();
  // The newest entry is kept in view while the user has not scrolled up from the bottom.
  const QScrollBar* bar = dxTLLog->verticalScrollBar();
  const bool following = bar->value() == bar->maximum();
  // The time of day in the narrow column, the whole date and time in its tool tip.
  const QString when = QString::fromStdString(entry.Time);
  auto* row = new QTreeWidgetItem(dxTLLog, {when.mid(11), QString::fromStdString(entry.Content())});
  row->setToolTip(0, when);
  if (following) dxTLLog->scrollToItem(row);
}
