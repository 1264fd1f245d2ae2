#include "ui/Splash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QThread>
#include <QWindow>

#include "ui/Texts.h"

// A splash window to the window manager: no title bar and so no buttons on it; the label draws
// the plain frame.
TSplashForm::TSplashForm(QWidget* parent)
    : TBaseForm<QWidget>(parent, Qt::SplashScreen | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("SplashForm"));
  lbText = new QLabel(QString::fromUtf8(Txt::SplashText), this);
  lbText->setAlignment(Qt::AlignCenter);
  lbText->setFrameStyle(QFrame::Panel | QFrame::Raised);
  lbText->setLineWidth(2);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(lbText);
  setFixedSize(280, 36);
  CentreOnScreen();
}

void TSplashForm::showEvent(QShowEvent* event) {
  setWindowTitle(AppTitle());
  CentreOnScreen();
  TBaseForm<QWidget>::showEvent(event);
}

void TSplashForm::ShowAndPaint() {
  show();
  QElapsedTimer clock;
  clock.start();
  while (!(windowHandle() && windowHandle()->isExposed()) && clock.elapsed() < 2000) {
    QApplication::processEvents();
    QThread::msleep(2);
  }
  repaint();
  QApplication::processEvents();  // hands the painted pixels to the display server
}
