#pragma once
// The warning box through which the dialogs show their messages. One box is created at start-up
// and reused; ShowPrompt shows it modally.
#include <QDialog>
#include <QString>

#include "ui/BaseFrm.h"

class QLabel;
class QPushButton;

class TPromptForm : public TBaseForm<QDialog> {
  Q_OBJECT

 public:
  explicit TPromptForm(QWidget* parent = nullptr);
  ~TPromptForm() override;

  // Caption "警告信息", the warning picture shown and the information picture hidden.
  void SetWarning();
  void SetText(const QString& text);

  QLabel* imgWarning = nullptr;
  QLabel* imgInformation = nullptr;
  QLabel* lbPrompt = nullptr;
  QPushButton* btnOK = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
};

// The one warning box of the program, or nullptr before start-up created it.
extern TPromptForm* PromptForm;

// Shows `text` in the warning box and waits until the user presses OK. Without the box of the
// program (tests, early start-up) a box is made for this one message.
void ShowPrompt(const QString& text);
