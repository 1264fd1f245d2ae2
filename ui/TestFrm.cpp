#include "ui/TestFrm.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QTreeWidget>
#include <fstream>
#include <mutex>

#include "comm/Channel.h"
#include "comm/Transport.h"
#include "suite/BackgroundRun.h"
#include "suite/Profile.h"
#include "suite/Runner.h"
#include "ui/Texts.h"

namespace {
QString U(const char* text) { return QString::fromUtf8(text); }
QString Q(const std::string& text) { return QString::fromStdString(text); }

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption) {
  auto* button = new QPushButton(U(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  return button;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  return edit;
}
}  // namespace

// Where the run's thread posts its events: nothing is posted once the window is gone.
struct TTestForm::TInbox {
  std::mutex Lock;
  TTestForm* Form = nullptr;

  template <class TWork>
  void Post(TWork work) {
    std::lock_guard<std::mutex> guard(Lock);
    if (!Form) return;
    QMetaObject::invokeMethod(Form, [form = Form, work = std::move(work)] { work(*form); }, Qt::QueuedConnection);
  }
};

TTestForm::TTestForm(TChannel* channel, QWidget* parent)
    : TBaseForm<QDialog>(parent), Channel(channel), Inbox(std::make_shared<TInbox>()) {
  setObjectName(QStringLiteral("TestForm"));
  setWindowTitle(U(Txt::TestCaption));
  setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint);
  Inbox->Form = this;
  if (Channel) Run = std::make_unique<TBackgroundRun>(*Channel);
  auto* box = new QGroupBox(U(Txt::TestSetup), this);
  BuildSetup(box);
  BuildTable();
  auto* buttons = new QWidget(this);
  BuildButtons(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(box);
  layout->addWidget(buttons);
  layout->addWidget(tvCases, 1);
  ConnectHandlers();
  ShowRunning(false);
  resize(980, 640);
}

TTestForm::~TTestForm() {
  {
    std::lock_guard<std::mutex> guard(Inbox->Lock);
    Inbox->Form = nullptr;
  }
  Run.reset();  // stops the run and joins its thread
}

void TTestForm::BuildSetup(QWidget* box) {
  edtProfile = MakeEdit(box, "edtProfile");
  edtProfile->setText(Q(BundledSuiteDir() + "/profiles/virtual-meter.lua"));
  edtSuite = MakeEdit(box, "edtSuite");
  edtSuite->setText(Q(BundledSuiteDir()));
  edtCase = MakeEdit(box, "edtCase");
  edtCase->setPlaceholderText(U(Txt::TestCaseHint));
  btnProfile = MakeButton(box, "btnProfile", Txt::TestBrowseFile);
  btnSuiteFile = MakeButton(box, "btnSuiteFile", Txt::TestBrowseFile);
  btnSuiteDir = MakeButton(box, "btnSuiteDir", Txt::TestBrowseDir);
  auto* grid = new QGridLayout(box);
  grid->addWidget(new QLabel(U(Txt::TestLblProfile), box), 0, 0);
  grid->addWidget(edtProfile, 0, 1);
  grid->addWidget(btnProfile, 0, 2);
  grid->addWidget(new QLabel(U(Txt::TestLblSuite), box), 1, 0);
  grid->addWidget(edtSuite, 1, 1);
  grid->addWidget(btnSuiteFile, 1, 2);
  grid->addWidget(btnSuiteDir, 1, 3);
  grid->addWidget(new QLabel(U(Txt::TestLblCase), box), 2, 0);
  grid->addWidget(edtCase, 2, 1);
  grid->setColumnStretch(1, 1);
}

void TTestForm::BuildButtons(QWidget* box) {
  btnRun = MakeButton(box, "btnRun", Txt::TestRun);
  btnStop = MakeButton(box, "btnStop", Txt::TestStop);
  btnSaveHtml = MakeButton(box, "btnSaveHtml", Txt::TestSaveHtml);
  btnSaveJunit = MakeButton(box, "btnSaveJunit", Txt::TestSaveJunit);
  btnClose = MakeButton(box, "btnClose", Txt::TestClose);
  pbRun = new QProgressBar(box);
  pbRun->setObjectName(QStringLiteral("pbRun"));
  pbRun->setFormat(QStringLiteral("%v/%m"));
  pbRun->setRange(0, 1);
  pbRun->setValue(0);
  pbRun->setTextVisible(false);  // until a run has counted its cases
  lbStatus = new QLabel(box);
  lbStatus->setObjectName(QStringLiteral("lbStatus"));
  auto* top = new QHBoxLayout;
  for (QPushButton* b : {btnRun, btnStop, btnSaveHtml, btnSaveJunit}) top->addWidget(b);
  top->addStretch(1);
  top->addWidget(btnClose);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(top);
  layout->addWidget(pbRun);
  layout->addWidget(lbStatus);
}

void TTestForm::BuildTable() {
  tvCases = new QTreeWidget(this);
  tvCases->setObjectName(QStringLiteral("tvCases"));
  tvCases->setHeaderLabels({U(Txt::TestColId), U(Txt::TestColTitle), U(Txt::TestColClause), U(Txt::TestColVerdict),
                            U(Txt::TestColTime)});
  tvCases->setRootIsDecorated(false);
  tvCases->setUniformRowHeights(true);
  tvCases->setSelectionBehavior(QAbstractItemView::SelectRows);
  const int widths[] = {200, 420, 70, 70, 90};
  for (int i = 0; i < 5; ++i) tvCases->setColumnWidth(i, widths[i]);
}

void TTestForm::ConnectHandlers() {
  connect(btnRun, &QPushButton::clicked, this, &TTestForm::btnRunClick);
  connect(btnStop, &QPushButton::clicked, this, &TTestForm::btnStopClick);
  connect(btnClose, &QPushButton::clicked, this, &TTestForm::reject);
  connect(btnProfile, &QPushButton::clicked, this, &TTestForm::PickProfile);
  connect(btnSuiteFile, &QPushButton::clicked, this, [this] { PickSuite(false); });
  connect(btnSuiteDir, &QPushButton::clicked, this, [this] { PickSuite(true); });
  connect(btnSaveHtml, &QPushButton::clicked, this, [this] { AskSave(true); });
  connect(btnSaveJunit, &QPushButton::clicked, this, [this] { AskSave(false); });
  connect(tvCases, &QTreeWidget::itemDoubleClicked, this, &TTestForm::tvCasesDblClick);
}

bool TTestForm::Running() const { return Run && Run->Running(); }

void TTestForm::ShowRunning(bool running) {
  btnRun->setEnabled(!running);
  btnStop->setEnabled(running);
  for (QWidget* w : std::initializer_list<QWidget*>{edtProfile, edtSuite, edtCase, btnProfile, btnSuiteFile, btnSuiteDir})
    w->setEnabled(!running);
  btnSaveHtml->setEnabled(!running && !Cases.empty());
  btnSaveJunit->setEnabled(!running && !Cases.empty());
}

void TTestForm::btnRunClick() {
  TTransport* port = Channel ? Channel->Control() : nullptr;
  if (!Run || !port || !port->PortOpen()) {
    lbStatus->setText(U(Txt::PortNotOpen));
    return;
  }
  TMeterProfile profile;
  std::vector<std::string> files;
  std::string error;
  if (!LoadProfile(edtProfile->text().toStdString(), profile, error) ||
      !SuiteFiles(edtSuite->text().toStdString(), files, error)) {
    lbStatus->setText(Q(error));
    return;
  }
  Cases.clear();
  tvCases->clear();
  Info = TRunInfo{"DL/T 645-2007", port->PortName(), profile.Address, edtProfile->text().toStdString(),
                  edtSuite->text().toStdString(), QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss").toStdString(), 0};
  TRunEvents events;
  auto inbox = Inbox;
  events.Counted = [inbox](int total) { inbox->Post([total](TTestForm& f) { f.RunCounted(total); }); };
  events.CaseStarting = [inbox](int i, const TCaseRecord& rec) { inbox->Post([i, rec](TTestForm& f) { f.CaseStarting(i, rec); }); };
  events.CaseEnded = [inbox](int i, const TCaseRecord& rec) { inbox->Post([i, rec](TTestForm& f) { f.CaseEnded(i, rec); }); };
  events.Finished = [inbox](const std::vector<TCaseRecord>& cases, double ms) {
    inbox->Post([cases, ms](TTestForm& f) { f.RunFinished(cases, ms); });
  };
  if (!Run->Start(files, profile, edtCase->text().trimmed().toStdString(), std::move(events))) return;
  pbRun->setRange(0, 1);
  pbRun->setValue(0);
  ShowRunning(true);
}

void TTestForm::btnStopClick() {
  if (!Running()) return;
  lbStatus->setText(U(Txt::TestStopping));
  btnStop->setEnabled(false);
  Run->Stop();
}

void TTestForm::RunCounted(int total) {
  Total = total;
  pbRun->setRange(0, std::max(total, 1));
  pbRun->setTextVisible(true);
}

void TTestForm::CaseStarting(int index, const TCaseRecord& rec) {
  if (!btnStop->isEnabled()) return;  // stopping: the status says so
  lbStatus->setText(U(Txt::TestRunning).arg(Q(rec.Id)).arg(index + 1).arg(std::max(Total, index + 1)));
}

void TTestForm::CaseEnded(int index, const TCaseRecord& rec) {
  Cases.push_back(rec);
  QStringList texts;
  for (const std::string& text : CaseRowTexts(rec)) texts << Q(text);
  auto* row = new QTreeWidgetItem(tvCases, texts);
  for (int i = 0; i < texts.size(); ++i) row->setBackground(i, QColor(VerdictBackground(rec.Verdict)));
  row->setToolTip(1, Q(rec.Why));
  tvCases->scrollToItem(row);
  if (pbRun->maximum() < index + 1) pbRun->setMaximum(index + 1);
  pbRun->setValue(index + 1);
}

void TTestForm::RunFinished(const std::vector<TCaseRecord>& cases, double ms) {
  Run->Join();
  Cases = cases;
  Info.DurationMs = ms;
  lbStatus->setText(Q(SummaryLine(CountVerdicts(cases))));
  ShowRunning(false);
}

void TTestForm::tvCasesDblClick() {
  const int index = tvCases->indexOfTopLevelItem(tvCases->currentItem());
  if (index < 0 || index >= static_cast<int>(Cases.size())) return;
  if (!DetailForm) {
    DetailForm = new QDialog(this);
    DetailForm->setObjectName(QStringLiteral("DetailForm"));
    DetailForm->setWindowTitle(U(Txt::TestDetail));
    tbDetail = new QTextBrowser(DetailForm);
    tbDetail->setObjectName(QStringLiteral("tbDetail"));
    auto* layout = new QVBoxLayout(DetailForm);
    layout->addWidget(tbDetail);
    DetailForm->resize(900, 560);
  }
  tbDetail->setHtml(Q(CaseDetailHtml(Cases[static_cast<size_t>(index)])));
  DetailForm->show();
  DetailForm->raise();
}

void TTestForm::PickProfile() {
  const QString path = QFileDialog::getOpenFileName(this, U(Txt::TestPickProfile), edtProfile->text(), U(Txt::TestLuaFilter));
  if (!path.isEmpty()) edtProfile->setText(path);
}

void TTestForm::PickSuite(bool folder) {
  const QString path = folder ? QFileDialog::getExistingDirectory(this, U(Txt::TestPickSuite), edtSuite->text())
                              : QFileDialog::getOpenFileName(this, U(Txt::TestPickSuite), edtSuite->text(), U(Txt::TestLuaFilter));
  if (!path.isEmpty()) edtSuite->setText(path);
}

void TTestForm::AskSave(bool html) {
  const QString name = html ? QStringLiteral("report.html") : QStringLiteral("report.xml");
  const QString path = QFileDialog::getSaveFileName(this, U(Txt::TestSaveCaption), name,
                                                    U(html ? Txt::TestHtmlFilter : Txt::TestXmlFilter));
  if (path.isEmpty()) return;
  html ? SaveHtml(path) : SaveJunit(path);
}

bool TTestForm::WriteFile(const QString& path, const std::string& text) {
  std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
  out << text;
  if (out.flush()) return true;
  lbStatus->setText(U(Txt::TestSaveFailed) + path);
  return false;
}

bool TTestForm::SaveHtml(const QString& path) { return WriteFile(path, HtmlReport(Cases, Info)); }
bool TTestForm::SaveJunit(const QString& path) { return WriteFile(path, JUnitXml(Cases, Info.Name)); }

void TTestForm::reject() {
  if (Running()) {
    Run->Stop();
    Run->Join();
  }
  QDialog::reject();
}
