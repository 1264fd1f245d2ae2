#include "ui/Splash.h"

#include <QHBoxLayout>
#include <QLabel>

#include "ui/Texts.h"

TSplashForm::TSplashForm(QWidget* parent)
    : TBaseForm<QWidget>(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                     Qt::WindowStaysOnTopHint) {
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
