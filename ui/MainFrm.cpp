#include "ui/MainFrm.h"

#include <QAction>
#include <QBoxLayout>
#include <QComboBox>
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
#include <QTreeWidget>

#include "comm/Channel.h"
#include "protocol/PublicFunc.h"
#include "services/SingletonUnit.h"
#include "ui/About.h"
#include "ui/CommandFrm.h"
#include "ui/Controls.h"
#include "ui/ParamFrm.h"
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
  grid->setAlternatingRowColors(true);
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
  FormCreate();
}

TMainForm::~TMainForm() {
  // FormDestroy: queued frames are dropped and a wait in progress ends; no row is being added
  // meanwhile.
  std::lock_guard<std::recursive_mutex> lock(MsgLock);
  if (Channel) Channel->SetStopRequest(true);
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
  // Sending comes with the send cycle; until then Send stays disabled.
  bbtSend->setEnabled(false);
  connect(bbtExit, &QPushButton::clicked, this, &QWidget::close);

  for (TFilterEdit* edit : {edtID, edtLen, edtDS, edtData, edtFrame})
    connect(edit, &QLineEdit::returnPressed, this, &TMainForm::EnterSends);

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
  grid->addWidget(label(Txt::LblData), 1, 4);
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
                      U(Txt::ColMsgSucc)},
                     {40, 43, 346, 120, 20});
  dxTLMsg->setObjectName(QStringLiteral("dxTLMsg"));
  // The columns keep their order; only the content column is resized by the user. The outcome
  // column, the last, takes the width left over so that its messages can be read.
  QHeaderView* msgHeader = dxTLMsg->header();
  msgHeader->setSectionsMovable(false);
  msgHeader->setStretchLastSection(true);
  for (int i = 0; i < 5; ++i) msgHeader->setSectionResizeMode(i, i == 2 ? QHeaderView::Interactive : QHeaderView::Fixed);
  dxTLLog = MakeGrid(pgcMain, {U(Txt::ColLogTime), U(Txt::ColLogContent)}, {90, 507});
  dxTLLog->setObjectName(QStringLiteral("dxTLLog"));
  dxTLLog->header()->setSectionsMovable(true);
  dxTLLog->header()->setSectionResizeMode(QHeaderView::Interactive);
  pgcMain->addTab(dxTLMsg, U(Txt::PageMsg));
  pgcMain->addTab(dxTLLog, U(Txt::PageLog));

  // One pop-up menu for both grids; its operations come with the message grid's handling.
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
  sbData = MakePane(bar, 268);
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
    bar->addWidget(pane);
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

void TMainForm::TimerTimer() {
  // The preview of the frame to send runs here with the send cycle.
}

void TMainForm::EnterSends() {
  if (bbtSend->isEnabled()) bbtSend->click();
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
