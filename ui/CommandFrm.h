#pragma once
// The interactive command window "交互命令": a text terminal on the shared serial port. The typed
// line is sent through the parameter dialog's SendAndWait, and both it and the answer are listed
// in the log grid, one row per line. Opened modally from the main window, one instance per use.
#include <QDialog>

#include "protocol/Types.h"
#include "ui/BaseFrm.h"

class QGroupBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTreeWidget;
class TFilterEdit;
class TParamForm;

class TCommandForm : public TBaseForm<QDialog> {
  Q_OBJECT

 public:
  explicit TCommandForm(TParamForm& paramForm, QWidget* parent = nullptr);

  QGroupBox* gbCommand = nullptr;
  TFilterEdit* redtCmd = nullptr;
  QSpinBox* redtDelay = nullptr;
  QLineEdit* redtStatus = nullptr;
  QPushButton* btnSend = nullptr;
  QPushButton* btnInterrupt = nullptr;
  QPushButton* btnCls = nullptr;
  QTabWidget* pgcLog = nullptr;
  QTreeWidget* dxTLLog = nullptr;

  // Handlers
  void btnSendClick();
  void btnInterruptClick();
  void btnClsClick();
  void dxTLLogDblClick();
  // Adds the rows of one entry, one per line of its content; the last becomes the current row.
  void AddLogRows(const TChannelComLog& entry);

 protected:
  void reject() override;  // closing during an exchange interrupts it and closes when it ends

 private:
  void BuildCommandPanel();
  void BuildLogPage();
  void AddLogEntry(const char* flag, const std::string& content);

  TParamForm& ParamForm;
  bool Exchanging = false;
  bool CloseWhenDone = false;
};
