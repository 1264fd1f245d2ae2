#pragma once
// The about box: application title, version, release date, maker, and when the tool was started
// and for how long it has run.
#include <QDateTime>
#include <QDialog>
#include <cstdint>
#include <string>

#include "ui/BaseFrm.h"

class QLabel;
class QPushButton;

// "1天1小时1分钟1秒": days, hours and minutes only when not zero, the seconds always.
std::string RunningTimeText(uint32_t seconds);

class TfrmAbout : public TBaseForm<QDialog> {
  Q_OBJECT

 public:
  explicit TfrmAbout(QWidget* parent = nullptr);

  QDateTime StartTime;   // when the main window was first shown
  uint32_t RunSeconds = 0;  // whole seconds from StartTime to the opening of the box

  QLabel* imgPicture = nullptr;
  QLabel* lbAppName = nullptr;
  QLabel* lbVersion = nullptr;
  QLabel* lbRelease = nullptr;
  QLabel* lbMaker = nullptr;
  QLabel* lbStartTime = nullptr;
  QLabel* lbRunTime = nullptr;
  QPushButton* btnOK = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow
};
