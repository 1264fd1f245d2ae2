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

  // Shows the window and paints its text before returning, so that it reads while start-up goes
  // on without an event loop. Under a window manager the window is mapped only after a round
  // trip, and a paint before that is lost: wait (at most two seconds) until it is on screen.
  void ShowAndPaint();

 protected:
  void showEvent(QShowEvent* event) override;
};
