#include "ui/CommandFrm.h"

#include <QBoxLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <algorithm>

#include "protocol/DateTime.h"
#include "protocol/PublicFunc.h"
#include "services/CommandExchange.h"
#include "ui/Controls.h"
#include "ui/ParamFrm.h"
#include "ui/Texts.h"

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

QPushButton* MakeButton(QWidget* parent, const char* caption) {
  auto* button = new QPushButton(U(caption), parent);
  button->setAutoDefault(false);  // Enter in the command field is handled by the field
  return button;
}

}  // namespace

TCommandForm::TCommandForm(TParamForm& paramForm, QWidget* parent)
    : TBaseForm<QDialog>(parent), ParamForm(paramForm) {
  setObjectName(QStringLiteral("CommandForm"));
  setWindowTitle(U(Txt::CommandCaption));
  setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint);
  setWindowState(Qt::WindowMaximized);
  setAttribute(Qt::WA_DeleteOnClose, false);  // the opener frees it
  BuildCommandPanel();
  BuildLogPage();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(gbCommand);
  layout->addWidget(pgcLog, 1);
  resize(800, 560);
}

void TCommandForm::BuildCommandPanel() {
  gbCommand = new QGroupBox(U(Txt::CmdPanel), this);
  redtCmd = new TFilterEdit(gbCommand);
  redtCmd->setObjectName(QStringLiteral("redtCmd"));
  redtCmd->SetUpperCase(true);
  redtDelay = new QSpinBox(gbCommand);
  redtDelay->setObjectName(QStringLiteral("redtDelay"));
  redtDelay->setRange(1, 60);
  redtDelay->setValue(30);
  redtStatus = new QLineEdit(gbCommand);
  redtStatus->setObjectName(QStringLiteral("redtStatus"));
  redtStatus->setReadOnly(true);
  btnSend = MakeButton(gbCommand, Txt::CmdSend);
  btnInterrupt = MakeButton(gbCommand, Txt::Interrupt);
  btnCls = MakeButton(gbCommand, Txt::CmdClearList);
  connect(btnSend, &QPushButton::clicked, this, &TCommandForm::btnSendClick);
  connect(btnInterrupt, &QPushButton::clicked, this, &TCommandForm::btnInterruptClick);
  connect(btnCls, &QPushButton::clicked, this, &TCommandForm::btnClsClick);
  // redtCmdKeyPress: Enter sends while sending is possible.
  connect(redtCmd, &QLineEdit::returnPressed, this, [this] {
    if (btnSend->isEnabled()) btnSendClick();
  });

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(U(Txt::CmdLblCmd), gbCommand));
  top->addWidget(redtCmd, 1);
  top->addSpacing(12);
  top->addWidget(new QLabel(U(Txt::CmdLblDelay), gbCommand));
  top->addWidget(redtDelay);
  top->addWidget(new QLabel(U(Txt::Seconds), gbCommand));
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(new QLabel(U(Txt::CmdLblStatus), gbCommand));
  bottom->addWidget(redtStatus, 1);
  bottom->addWidget(btnSend);
  bottom->addWidget(btnInterrupt);
  bottom->addWidget(btnCls);
  auto* panel = new QVBoxLayout(gbCommand);
  panel->addLayout(top);
  panel->addLayout(bottom);
}

void TCommandForm::BuildLogPage() {
  pgcLog = new QTabWidget(this);
  dxTLLog = new QTreeWidget(pgcLog);
  dxTLLog->setObjectName(QStringLiteral("dxTLLog"));
  dxTLLog->setHeaderLabels({U(Txt::ColMsgFlag), U(Txt::CmdColTime), U(Txt::ColLogContent), U(Txt::CmdColParse)});
  dxTLLog->setRootIsDecorated(false);
  dxTLLog->setUniformRowHeights(true);
  dxTLLog->setSelectionMode(QAbstractItemView::ExtendedSelection);
  dxTLLog->setSelectionBehavior(QAbstractItemView::SelectRows);
  QHeaderView* header = dxTLLog->header();
  header->setSectionsMovable(true);
  header->setStretchLastSection(false);
  // The time column is at least wide enough for its text in the window's font.
  const int timeWidth = std::max(97, dxTLLog->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 16);
  const int widths[] = {60, timeWidth, 355, 72};
  for (int i = 0; i < 4; ++i) dxTLLog->setColumnWidth(i, widths[i]);
  header->setSectionResizeMode(0, QHeaderView::Fixed);
  header->setSectionResizeMode(3, QHeaderView::Fixed);
  // dxTLLogCustomDraw: alternate rows shaded, selected and focused rows on the tool-tip colour in
  // maroon, as in the main window's grids.
  dxTLLog->setItemDelegate(new TRowShade(dxTLLog));
  SetGridSelectionColours(dxTLLog);
  connect(dxTLLog, &QTreeWidget::itemDoubleClicked, this, [this] { dxTLLogDblClick(); });
  pgcLog->addTab(dxTLLog, U(Txt::PageLog));
}

void TCommandForm::btnSendClick() {
  btnSend->setEnabled(false);
  redtStatus->setText(U(Txt::CmdSending));
  Exchanging = true;
  const int delay = redtDelay->value();
  const std::string line = CommandExchange::CommandLine(redtCmd->text().toStdString());
  AddLogEntry(Txt::CmdFlagSent, line);
  const TTextReply reply = ParamForm.SendAndWait(line, delay);
  AddLogEntry(Txt::CmdFlagReceived, reply.Content());
  Exchanging = false;
  btnSend->setEnabled(true);
  redtStatus->setText(U(Txt::CmdReceived));
  if (CloseWhenDone) QDialog::reject();
}

void TCommandForm::btnInterruptClick() { ParamForm.SetInterrupt(true); }

void TCommandForm::btnClsClick() { dxTLLog->clear(); }

void TCommandForm::dxTLLogDblClick() {
  if (QTreeWidgetItem* row = dxTLLog->currentItem()) redtCmd->setText(row->text(2));
}

void TCommandForm::AddLogEntry(const char* flag, const std::string& content) {
  TChannelComLog entry;
  entry.Flag = flag;
  entry.Time = Now();
  entry.Content = content;
  AddLogRows(entry);
}

void TCommandForm::AddLogRows(const TChannelComLog& entry) {
  const QString flag = QString::fromStdString(entry.Flag);
  const QString time = QString::fromStdString(DateTimeText(entry.Time));
  const QString parse = QString::fromStdString(entry.Parse);
  for (const std::string& line : CommandExchange::LogLines(entry.Content)) {
    auto* row = new QTreeWidgetItem(dxTLLog, {flag, time, QString::fromStdString(line), parse});
    dxTLLog->setCurrentItem(row);  // focused and selected
    dxTLLog->scrollToItem(row);
  }
}

void TCommandForm::reject() {
  if (!Exchanging) {
    QDialog::reject();
    return;
  }
  CloseWhenDone = true;
  ParamForm.SetInterrupt(true);
}
