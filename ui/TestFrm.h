#pragma once
// The conformance test window "一致性测试": pick a meter profile and a suite (defaults: the
// bundled ones), run it on the open port through the channel's queue, watch the progress bar and
// the case table fill in as cases end, stop at any moment, open a case to see its frames and
// expectations, save the HTML and JUnit reports. The run itself (its thread, the link over the
// channel, stop) is suite/BackgroundRun; its events are posted to this window's thread.
#include <QDialog>
#include <memory>
#include <vector>

#include "suite/Case.h"
#include "suite/Report.h"
#include "ui/BaseFrm.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTextBrowser;
class QTreeWidget;
class TBackgroundRun;
class TChannel;

class TTestForm : public TBaseForm<QDialog> {
  Q_OBJECT

 public:
  // `channel` may be null (no port): then a run is refused with the channel's message.
  explicit TTestForm(TChannel* channel, QWidget* parent = nullptr);
  ~TTestForm() override;  // stops a run in progress and waits for its thread

  QLineEdit* edtProfile = nullptr;
  QPushButton* btnProfile = nullptr;
  QLineEdit* edtSuite = nullptr;
  QPushButton* btnSuiteFile = nullptr;
  QPushButton* btnSuiteDir = nullptr;
  QLineEdit* edtCase = nullptr;
  QPushButton* btnRun = nullptr;
  QPushButton* btnStop = nullptr;
  QPushButton* btnSaveHtml = nullptr;
  QPushButton* btnSaveJunit = nullptr;
  QPushButton* btnClose = nullptr;
  QProgressBar* pbRun = nullptr;
  QLabel* lbStatus = nullptr;
  QTreeWidget* tvCases = nullptr;
  QDialog* DetailForm = nullptr;  // the last case opened
  QTextBrowser* tbDetail = nullptr;

  void btnRunClick();
  void btnStopClick();
  void tvCasesDblClick();
  // The reports of the last run, written to `path`; false (and the status says so) when it
  // cannot be written.
  bool SaveHtml(const QString& path);
  bool SaveJunit(const QString& path);
  bool Running() const;
  const std::vector<TCaseRecord>& Records() const { return Cases; }

 protected:
  void reject() override;  // closing stops a run in progress

 private:
  void BuildSetup(QWidget* box);
  void BuildButtons(QWidget* box);
  void BuildTable();
  void ConnectHandlers();
  void PickProfile();
  void PickSuite(bool folder);
  void AskSave(bool html);
  bool WriteFile(const QString& path, const std::string& text);
  void ShowRunning(bool running);
  // The run's events, on this window's thread.
  void RunCounted(int total);
  void CaseStarting(int index, const TCaseRecord& rec);
  void CaseEnded(int index, const TCaseRecord& rec);
  void RunFinished(const std::vector<TCaseRecord>& cases, double ms);

  TChannel* Channel = nullptr;
  std::unique_ptr<TBackgroundRun> Run;
  std::vector<TCaseRecord> Cases;
  TRunInfo Info;
  int Total = 0;
  struct TInbox;
  std::shared_ptr<TInbox> Inbox;
};
