#include "ui/ParamFrm.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <algorithm>
#include <vector>

#include "comm/Channel.h"
#include "comm/PortList.h"
#include "comm/Transport.h"
#include "protocol/PublicFunc.h"
#include "services/SingletonUnit.h"
#include "services/TextCodec.h"
#include "ui/Controls.h"
#include "ui/Prompt.h"
#include "ui/Texts.h"

// ---------------------------------------------------------------------------------------------
// Rules on plain texts. Lengths count characters, except the operator code's, which counts the
// bytes the code takes in GBK (the form in which it is stored and sent).

namespace {

QString Trimmed(const QString& text) {
  int begin = 0, end = text.size();
  while (begin < end && text[begin].unicode() <= ' ') ++begin;
  while (end > begin && text[end - 1].unicode() <= ' ') --end;
  return text.mid(begin, end - begin);
}

std::string FirstChars(const QString& text, int count) { return text.left(count).toStdString(); }
std::string LastChars(const QString& text, int count) { return text.right(count).toStdString(); }

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The longest start of `text` that takes at most `bytes` bytes in GBK, padded with '0' to them.
std::string FirstGbkBytes(const QString& text, std::size_t bytes) {
  std::string result;
  std::size_t used = 0;
  for (int i = 0; i < text.size(); ++i) {
    int length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    const std::string piece = text.mid(i, length).toStdString();
    const std::size_t width = GbkLength(piece);
    if (used + width > bytes) break;
    result += piece;
    used += width;
    i += length - 1;
  }
  result.append(bytes - used, '0');
  return result;
}

}  // namespace

namespace ParamRules {

std::string PswOnExit(const std::string& text) { return FirstChars(Trimmed(Q(text)) + "00000000", 8); }
std::string OperatorOnExit(const std::string& text) {
  return FirstGbkBytes(Trimmed(Q(text)) + "0000", 4);
}
std::string CollectorOnExit(const std::string& text) {
  return LastChars("000000000000" + Trimmed(Q(text)), 12);
}
std::string LCOnExit(const std::string& text) { return LastChars("00" + Trimmed(Q(text)), 2); }

std::string PswToSave(const std::string& text) { return FirstChars(Q(text) + "00000000", 8); }
std::string OperatorToSave(const std::string& text) { return OperatorOnExit(text); }
std::string CollectorToSave(const std::string& text) { return LastChars("000000000000" + Q(text), 12); }
std::string LCToSave(const std::string& text) { return LastChars("00" + Q(text), 2); }

int LCCountToSave(const std::string& text) {
  const QChar last = ("0" + Q(text)).back();
  return last >= QLatin1Char('0') && last <= QLatin1Char('9') ? last.unicode() - '0' : 0;
}

int InputModeValue(const std::string& text) {
  if (Q(text).toUpper() == QLatin1String("TEXT") || text == Txt::InputModeTextCn) return 0;
  return 1;  // "BINARY", "二进制" and every other text
}

std::string OpenRefusalText(const TOpenResult& result) {
  if (result.Refusal == TOpenRefusal::Settings) return result.Message;
  std::string text = Txt::PortInvalid;
  if (!result.Detail.empty()) text += "\n" + result.Detail;
  return text;
}

}  // namespace ParamRules

// ---------------------------------------------------------------------------------------------
// The dialog

namespace {

QComboBox* MakeList(QWidget* parent, const QStringList& items, const QString& selected) {
  auto* list = new QComboBox(parent);
  list->setEditable(true);  // takes typed text as well as a pick
  list->setInsertPolicy(QComboBox::NoInsert);
  list->addItems(items);
  list->setCurrentIndex(items.indexOf(selected));
  return list;
}

QLabel* MakePane(QWidget* parent, int minWidth, QLabel* pane = nullptr) {
  if (!pane) pane = new QLabel(parent);
  pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  pane->setMinimumWidth(minWidth);
  pane->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return pane;
}

// A pane that shows a text too long for it with "…" in the middle, so both the start and the end
// of a device path stay readable, and the whole text as its tool tip.
class TElidedPane : public QLabel {
 public:
  explicit TElidedPane(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // the pane never widens the dialog
  }
  void SetFullText(const QString& text) {
    Full = text;
    setToolTip(text);
    Elide();
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    Elide();
  }

 private:
  void Elide() {
    const int room = contentsRect().width() - 2 * margin() - 2 * indent();
    setText(fontMetrics().elidedText(Full, Qt::ElideMiddle, std::max(room, 0)));
  }
  QString Full;
};

TFilterEdit* MakeEdit(QWidget* parent, int maxLength, TKeyFilter filter, bool upper = false) {
  auto* edit = new TFilterEdit(parent);
  edit->SetMaxLength(maxLength);
  edit->SetKeyFilter(filter);
  edit->SetUpperCase(upper);
  return edit;
}

std::vector<std::string> Items(const QComboBox* list) {
  std::vector<std::string> items;
  for (int i = 0; i < list->count(); ++i) items.push_back(list->itemText(i).toStdString());
  return items;
}

// A stored text that is among the list's items selects it; any other leaves the list as it was.
void SelectStored(QComboBox* list, const std::string& text) {
  const int index = SelectComboItem(Items(list), text);
  if (index >= 0) {
    list->setCurrentIndex(index);
    list->setEditText(list->itemText(index));
  }
}

std::string Text(const QComboBox* list) { return list->currentText().toStdString(); }
std::string Text(const TFilterEdit* edit) { return edit->text().toStdString(); }

}  // namespace

TParamForm::TParamForm(TTransport& commControl, TDltParam& param, TChannel* channel, QWidget* parent)
    : TBaseForm<QDialog>(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                     Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      SharedPort(commControl),
      Param(param),
      Channel(channel) {
  setObjectName(QStringLiteral("ParamForm"));
  setWindowTitle(QString::fromUtf8(Txt::ParamCaption));
  setWindowIcon(AppIcon());
  setModal(true);

  pgcParam = new QTabWidget(this);
  tsChannel = new QWidget;
  tsMeter = new QWidget;
  pgcParam->addTab(tsChannel, QString::fromUtf8(Txt::PageChannel));
  pgcParam->addTab(tsMeter, QString::fromUtf8(Txt::PageMeter));
  BuildChannelPage();
  BuildMeterPage();

  rbbOK = new QPushButton(QString::fromUtf8(Txt::Ok), this);
  rbbCancel = new QPushButton(QString::fromUtf8(Txt::Cancel), this);
  rbbApply = new QPushButton(QString::fromUtf8(Txt::Apply), this);
  rbbOK->setDefault(true);
  rbbApply->setEnabled(false);
  connect(rbbOK, &QPushButton::clicked, this, &TParamForm::rbbOKClick);
  connect(rbbCancel, &QPushButton::clicked, this, &TParamForm::rbbCancelClick);
  connect(rbbApply, &QPushButton::clicked, this, &TParamForm::rbbApplyClick);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {rbbOK, rbbCancel, rbbApply}) {
    b->setMinimumWidth(75);
    buttons->addWidget(b);
  }

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(pgcParam);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // Every change of a list or an edit field enables "应用".
  for (QComboBox* list : {cbPort, cbBaudRate, cbDataBits, cbParity, cbStopBits, cbInputMode})
    connect(list, &QComboBox::currentTextChanged, this, &TParamForm::cbPortChange);
  for (TFilterEdit* edit : {edtPSW, edtOperator, edtCollector, edtLC, edtLCCount})
    connect(edit, &QLineEdit::textChanged, this, &TParamForm::cbPortChange);
  connect(cbxColletor, &QCheckBox::toggled, this, &TParamForm::cbxColletorClick);
  connect(cbxLC, &QCheckBox::toggled, this, &TParamForm::cbxLCClick);
  connect(cbxRs485, &QCheckBox::toggled, this, &TParamForm::cbPortChange);
  connect(edtPSW, &TFilterEdit::exited, this, &TParamForm::edtPSWExit);
  connect(edtOperator, &TFilterEdit::exited, this, &TParamForm::edtOperatorExit);
  connect(edtCollector, &TFilterEdit::exited, this, &TParamForm::edtCollectorExit);
  connect(edtLC, &TFilterEdit::exited, this, &TParamForm::edtLCExit);

  // The state before the first open or close: both buttons enabled, glyph 0, panes empty.
  csALCOM->setPixmap(DrawPicture(TPicture::PortClosed, 16));
  adjustSize();
  CentreOnScreen();
}

TParamForm::~TParamForm() {
  // FormDestroy: the port is closed when the application ends.
  if (CommControl) ClosePort(*CommControl);
}

void TParamForm::BuildChannelPage() {
  panAL = new QFrame(tsChannel);
  panAL->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
  cbPort = MakeList(panAL, {}, {});
  cbPort->setEditText(QStringLiteral("COM1"));
  cbPort->setMinimumWidth(240);
  cbPort->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  cbBaudRate = MakeList(panAL, {"300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "33600"},
                        QStringLiteral("9600"));
  cbDataBits = MakeList(panAL, {"5", "6", "7", "8"}, QStringLiteral("8"));
  cbParity = MakeList(panAL, {"None", "Even", "Odd"}, QStringLiteral("None"));
  cbStopBits = MakeList(panAL, {"1", "1.5", "2"}, QStringLiteral("1"));
  cbInputMode = MakeList(panAL, {"Text", "Binary"}, QStringLiteral("Binary"));

  auto* grid = new QGridLayout(panAL);
  grid->setContentsMargins(16, 12, 16, 12);
  grid->setVerticalSpacing(8);
  const std::pair<const char*, QComboBox*> rows[] = {
      {Txt::LblPort, cbPort},         {Txt::LblBaudRate, cbBaudRate}, {Txt::LblDataBits, cbDataBits},
      {Txt::LblParity, cbParity},     {Txt::LblStopBits, cbStopBits}, {Txt::LblInputMode, cbInputMode}};
  int row = 0;
  for (const auto& [label, list] : rows) {
    auto* l = new QLabel(QString::fromUtf8(label), panAL);
    l->setBuddy(list);
    grid->addWidget(l, row, 0, Qt::AlignRight);
    grid->addWidget(list, row, 1);
    ++row;
  }
  cbxRs485 = new QCheckBox(QString::fromUtf8(Txt::UseRs485), panAL);
  grid->addWidget(cbxRs485, row, 1);

  rbbOpenCom = new QPushButton(QString::fromUtf8(Txt::OpenCom), tsChannel);
  rbbCloseCom = new QPushButton(QString::fromUtf8(Txt::CloseCom), tsChannel);
  connect(rbbOpenCom, &QPushButton::clicked, this, &TParamForm::rbbOpenComClick);
  connect(rbbCloseCom, &QPushButton::clicked, this, &TParamForm::rbbCloseComClick);
  auto* portButtons = new QHBoxLayout;
  portButtons->addStretch(1);
  portButtons->addWidget(rbbOpenCom);
  portButtons->addWidget(rbbCloseCom);
  portButtons->addStretch(1);

  csALCOM = new QLabel(tsChannel);
  csALCOM->setFixedSize(20, 20);
  csALCOM->setAlignment(Qt::AlignCenter);
  csALCOM->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  sbpPort = MakePane(tsChannel, 120, new TElidedPane(tsChannel));
  sbpPortInfo = MakePane(tsChannel, 100);
  auto* status = new QHBoxLayout;
  status->setSpacing(2);
  status->addWidget(csALCOM);
  status->addWidget(sbpPort, 3);
  status->addWidget(sbpPortInfo, 2);

  auto* page = new QVBoxLayout(tsChannel);
  page->addWidget(panAL);
  page->addLayout(portButtons);
  page->addLayout(status);
}

void TParamForm::BuildMeterPage() {
  edtPSW = MakeEdit(tsMeter, 8, FilterDigitKey);
  edtOperator = MakeEdit(tsMeter, 4, nullptr);
  edtCollector = MakeEdit(tsMeter, 12, FilterDigitKey);
  edtLC = MakeEdit(tsMeter, 2, FilterHexKey, true);
  edtLCCount = MakeEdit(tsMeter, 1, FilterDigitKey);
  cbxColletor = new QCheckBox(QString::fromUtf8(Txt::UseCollector), tsMeter);
  cbxLC = new QCheckBox(QString::fromUtf8(Txt::UseLC), tsMeter);
  edtLC->setMaximumWidth(40);
  edtLCCount->setMaximumWidth(40);

  auto* grid = new QGridLayout(tsMeter);
  grid->setContentsMargins(16, 16, 16, 16);
  grid->setVerticalSpacing(10);
  auto label = [this](const char* text, QWidget* buddy) {
    auto* l = new QLabel(QString::fromUtf8(text), tsMeter);
    l->setBuddy(buddy);
    return l;
  };
  grid->addWidget(label(Txt::LblPsw, edtPSW), 0, 0, Qt::AlignRight);
  grid->addWidget(edtPSW, 0, 1);
  grid->addWidget(new QLabel(QString::fromUtf8(Txt::NotePsw), tsMeter), 0, 2, 1, 2);
  grid->addWidget(label(Txt::LblOperator, edtOperator), 1, 0, Qt::AlignRight);
  grid->addWidget(edtOperator, 1, 1);
  grid->addWidget(new QLabel(QString::fromUtf8(Txt::NoteOperator), tsMeter), 1, 2, 1, 2);
  grid->addWidget(label(Txt::LblCollector, edtCollector), 2, 0, Qt::AlignRight);
  grid->addWidget(edtCollector, 2, 1);
  grid->addWidget(cbxColletor, 2, 2, 1, 2);
  auto* preamble = new QHBoxLayout;
  preamble->addWidget(edtLC);
  preamble->addWidget(label(Txt::LblLCCount, edtLCCount));
  preamble->addWidget(edtLCCount);
  preamble->addStretch(1);
  grid->addWidget(label(Txt::LblLC, edtLC), 3, 0, Qt::AlignRight);
  grid->addLayout(preamble, 3, 1);
  grid->addWidget(cbxLC, 3, 2, 1, 2);
  grid->setRowStretch(4, 1);
  grid->setColumnStretch(3, 1);
}

// ---------------------------------------------------------------------------------------------

void TParamForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) FormShow();
  TBaseForm<QDialog>::showEvent(event);
}

void TParamForm::FormShow() {
  const TPreamble preamble = Param.StoredPreamble();
  // Values from the file are shown as stored, also when longer than a field (the save cuts them).
  edtPSW->SetStoredText(QString::fromStdString(Param.Psw));
  edtOperator->SetStoredText(QString::fromStdString(Param.Operator));
  cbxColletor->setChecked(Param.UseCollector);
  edtCollector->SetStoredText(QString::fromStdString(Param.Collector));
  cbxLC->setChecked(preamble.UseLC);
  edtLC->SetStoredText(QString::fromStdString(preamble.LC));
  edtLCCount->SetStoredText(QString::number(preamble.LCCount));

  // Refill the port list, keeping the text shown.
  const QString shown = cbPort->currentText();
  std::vector<std::string> ports;
  ListComPorts(ports);
  cbPort->clear();
  for (const std::string& port : ports) cbPort->addItem(QString::fromStdString(port));
  cbPort->setCurrentIndex(cbPort->findText(shown));
  cbPort->setEditText(shown);

  ComInfo = Param.ComInfo;
  SelectStored(cbPort, ComInfo.Port);
  SelectStored(cbBaudRate, ComInfo.BaudRate);
  SelectStored(cbDataBits, ComInfo.DataBits);
  SelectStored(cbStopBits, ComInfo.StopBits);
  SelectStored(cbParity, ComInfo.Parity);
  SelectStored(cbInputMode, ComInfo.InputMode);
  cbxRs485->setChecked(ComInfo.Rs485);

  CommControl = &SharedPort;
  if (Channel && Channel->Control() == nullptr) Channel->SetControl(CommControl);

  rbbApply->setEnabled(false);
  UpdateEnabling();
}

void TParamForm::ReadPortFields() {
  ComInfo.Port = Text(cbPort);
  ComInfo.BaudRate = Text(cbBaudRate);
  ComInfo.DataBits = Text(cbDataBits);
  ComInfo.Parity = Text(cbParity);
  ComInfo.StopBits = Text(cbStopBits);
  ComInfo.InputMode = Text(cbInputMode);
  ComInfo.Rs485 = cbxRs485->isChecked();
}

bool TParamForm::OpenPort(TTransport& control, const TComInfo& info) {
  // The port is opened exclusively: a port that does not exist, or that this or any other program
  // holds, is refused; so is a free port whose line cannot take the settings (it stays closed).
  if (control.PortOpen()) {
    ShowPrompt(QString::fromUtf8(Txt::PortInvalid));
    return false;
  }
  const TOpenResult result =
      control.Open(info.Port, CommSettingsText(info), ParamRules::InputModeValue(info.InputMode));
  if (!result.Opened()) ShowPrompt(QString::fromStdString(ParamRules::OpenRefusalText(result)));
  return result.Opened();
}

bool TParamForm::ClosePort(TTransport& control) {
  if (!control.PortOpen()) return true;
  std::string error;
  if (control.Close(error) != 0) {
    ShowPrompt(QString::fromUtf8(Txt::ClosePortFailed));
    return false;
  }
  return true;
}

void TParamForm::ShowPortState() {
  const bool open = ComInfo.Opened;
  rbbOpenCom->setEnabled(!open);
  rbbCloseCom->setEnabled(open);
  ImageIndex = open ? 1 : 0;
  csALCOM->setPixmap(DrawPicture(open ? TPicture::PortOpen : TPicture::PortClosed, 16));
  panAL->setEnabled(!open);  // the settings in use cannot drift from those shown
  static_cast<TElidedPane*>(sbpPort)->SetFullText(QString::fromStdString(ComInfo.Port));
  sbpPortInfo->setText(QString::fromStdString(CommSettingsText(ComInfo)));
}

void TParamForm::SaveParams() {
  Param.Psw = ParamRules::PswToSave(Text(edtPSW));
  Param.Operator = ParamRules::OperatorToSave(Text(edtOperator));
  Param.UseCollector = cbxColletor->isChecked();
  Param.Collector = ParamRules::CollectorToSave(Text(edtCollector));
  TPreamble preamble;
  preamble.UseLC = cbxLC->isChecked();
  preamble.LC = ParamRules::LCToSave(Text(edtLC));
  preamble.LCCount = ParamRules::LCCountToSave(Text(edtLCCount));
  Param.SetPreamble(preamble);
  ReadPortFields();
  Param.ComInfo = ComInfo;
  // A settings file that cannot be written is reported; the values stay in use in memory.
  std::string error;
  if (!Param.Save(error)) ShowPrompt(QString::fromStdString(error));
}

void TParamForm::EnableApply() { rbbApply->setEnabled(true); }

void TParamForm::UpdateEnabling() {
  edtCollector->setEnabled(cbxColletor->isChecked());
  edtLC->setEnabled(cbxLC->isChecked());
  edtLCCount->setEnabled(cbxLC->isChecked());
}

void TParamForm::rbbOpenComClick() {
  ReadPortFields();
  if (CommControl && OpenPort(*CommControl, ComInfo)) ComInfo.Opened = true;
  ShowPortState();
  SaveParams();
  accept();  // closes whether or not the port opened
}

void TParamForm::rbbCloseComClick() {
  if (CommControl && ClosePort(*CommControl)) ComInfo.Opened = false;
  ShowPortState();
  SaveParams();
}

void TParamForm::rbbOKClick() {
  SaveParams();
  accept();
}

void TParamForm::rbbApplyClick() {
  SaveParams();
  rbbApply->setEnabled(false);
}

void TParamForm::rbbCancelClick() { reject(); }

void TParamForm::cbPortChange() { EnableApply(); }

void TParamForm::cbxColletorClick() {
  EnableApply();
  UpdateEnabling();
}

void TParamForm::cbxLCClick() {
  EnableApply();
  UpdateEnabling();
}

void TParamForm::edtPSWExit() {
  edtPSW->setText(QString::fromStdString(ParamRules::PswOnExit(Text(edtPSW))));
}
void TParamForm::edtOperatorExit() {
  edtOperator->setText(QString::fromStdString(ParamRules::OperatorOnExit(Text(edtOperator))));
}
void TParamForm::edtCollectorExit() {
  edtCollector->setText(QString::fromStdString(ParamRules::CollectorOnExit(Text(edtCollector))));
}
void TParamForm::edtLCExit() {
  edtLC->setText(QString::fromStdString(ParamRules::LCOnExit(Text(edtLC))));
}

TTextReply TParamForm::SendAndWait(const std::string& text, int delaySeconds) {
  TTextLine line;
  line.Port = CommControl ? CommControl : &SharedPort;
  line.Channel = Channel;
  line.Interrupted = &Interrupted;
  line.ProcessMessages = [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };
  return CommandExchange::SendAndWait(line, text, delaySeconds);
}

void TParamForm::SetInterrupt(bool value) {
  Interrupted = value;
  if (value) (CommControl ? CommControl : &SharedPort)->Interrupt();
}
