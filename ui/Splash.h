#pragma once
// The splash window shown while start-up creates the windows.
#include <QWidget>

#include "ui/BaseFrm.h"

class QLabel;

class TSplashForm : public TBaseForm<QWidget> {
  Q_OBJECT

 public:
  explicit TSplashForm(QWidget* parent = nullptr);
  QLabel* lbText = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
};
