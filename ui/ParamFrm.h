#pragma once
// The parameter dialog "基本信息": the serial port settings and the meter parameters every command
// uses. It is the only place where the shared serial port is opened and closed, and the only one
// that saves the settings.
#include <QDialog>
#include <atomic>
#include <string>

#include "protocol/Types.h"
#include "services/CommandExchange.h"
#include "ui/BaseFrm.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QTabWidget;
class TChannel;
class TDltParam;
class TFilterEdit;
class TTransport;
struct TOpenResult;

// The dialog's rules on plain texts (UTF-8), so they are checked without a window.
namespace ParamRules {
// Leaving a field: the password and the operator code are padded with "0" at the end, the
// collector address and the preamble byte with "0" at the front; blanks around are dropped first.
std::string PswOnExit(const std::string& text);        // first 8 of trimmed + "00000000"
std::string OperatorOnExit(const std::string& text);   // first 4 GBK bytes of trimmed + "0000"
std::string CollectorOnExit(const std::string& text);  // last 12 of "000000000000" + trimmed
std::string LCOnExit(const std::string& text);         // last 2 of "00" + trimmed
// Saving: the same padding on the field's text as it stands.
std::string PswToSave(const std::string& text);
std::string OperatorToSave(const std::string& text);   // as OperatorOnExit
std::string CollectorToSave(const std::string& text);
std::string LCToSave(const std::string& text);
int LCCountToSave(const std::string& text);  // last character of "0" + text, as 0..9
// 0 (text) for "TEXT" in any letter case and "文本"; 1 (binary) for anything else.
int InputModeValue(const std::string& text);
// What the warning box says when the port was not opened: the adapter's own message for settings
// the line cannot take; "串口无效或已被打开！" for a port that is missing or held, with the
// adapter's second line (who holds it, ...) under it where there is one.
std::string OpenRefusalText(const TOpenResult& result);
}  // namespace ParamRules

class TParamForm : public TBaseForm<QDialog> {
  Q_OBJECT

 public:
  // `commControl` is the one shared serial port; `channel` (may be null) receives it as its
  // Control at the first show.
  TParamForm(TTransport& commControl, TDltParam& param, TChannel* channel, QWidget* parent = nullptr);
  ~TParamForm() override;  // FormDestroy: the port is closed

  // Page "信道参数"
  QTabWidget* pgcParam = nullptr;
  QWidget* tsChannel = nullptr;
  QWidget* tsMeter = nullptr;
  QFrame* panAL = nullptr;
  QComboBox* cbPort = nullptr;
  QComboBox* cbBaudRate = nullptr;
  QComboBox* cbDataBits = nullptr;
  QComboBox* cbParity = nullptr;
  QComboBox* cbStopBits = nullptr;
  QComboBox* cbInputMode = nullptr;
  QCheckBox* cbxRs485 = nullptr;  // RS-485 direction control by the port's driver
  QPushButton* rbbOpenCom = nullptr;
  QPushButton* rbbCloseCom = nullptr;
  QLabel* csALCOM = nullptr;  // port glyph: image 0 closed, image 1 open
  QLabel* sbpPort = nullptr;
  QLabel* sbpPortInfo = nullptr;
  // Page "电表参数"
  TFilterEdit* edtPSW = nullptr;
  TFilterEdit* edtOperator = nullptr;
  TFilterEdit* edtCollector = nullptr;
  TFilterEdit* edtLC = nullptr;
  TFilterEdit* edtLCCount = nullptr;
  QCheckBox* cbxColletor = nullptr;
  QCheckBox* cbxLC = nullptr;
  // Buttons under the pages
  QPushButton* rbbOK = nullptr;
  QPushButton* rbbCancel = nullptr;
  QPushButton* rbbApply = nullptr;

  TTransport* CommControl = nullptr;  // set on every show; not owned
  TComInfo ComInfo;                    // the dialog's working copy of the port settings

  int PortImageIndex() const { return ImageIndex; }

  // Operations
  void ReadPortFields();
  bool OpenPort(TTransport& control, const TComInfo& info);
  bool ClosePort(TTransport& control);
  void ShowPortState();
  void SaveParams();
  void EnableApply();
  void UpdateEnabling();

  // The command window's exchange on the shared port, the window working between the passes of
  // the wait (see services/CommandExchange.h). SetInterrupt(true) ends a wait in progress.
  TTextReply SendAndWait(const std::string& text, int delaySeconds);
  void SetInterrupt(bool value);
  std::atomic<bool> Interrupted{false};

  // Handlers
  void rbbOpenComClick();
  void rbbCloseComClick();
  void rbbOKClick();
  void rbbApplyClick();
  void rbbCancelClick();
  void cbPortChange();
  void cbxColletorClick();
  void cbxLCClick();
  void edtPSWExit();
  void edtOperatorExit();
  void edtCollectorExit();
  void edtLCExit();

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow

 private:
  void BuildChannelPage();
  void BuildMeterPage();
  void FormShow();

  TTransport& SharedPort;
  TDltParam& Param;
  TChannel* Channel = nullptr;
  int ImageIndex = 0;
};
