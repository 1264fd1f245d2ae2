#pragma once
// Helpers for driving windows in tests: modal dialogs are answered from a timer, so no test blocks.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

// Calls `answer` once with the first modal window that becomes active, from the event loop of
// that window's exec(). `fired` (if given) tells afterwards whether it happened.
inline void WhenModal(std::function<void(QWidget*)> answer, std::shared_ptr<bool> fired = nullptr) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  auto done = fired ? fired : std::make_shared<bool>(false);
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  QObject::connect(timer, &QTimer::timeout, [timer, answer, done, clock]() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->isVisible()) {
      timer->stop();
      timer->deleteLater();
      *done = true;
      answer(modal);
    } else if (clock->elapsed() > 10000) {  // nothing showed up: give up quietly
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start();
}

// Processes events until `condition` holds or `ms` passed; returns the condition.
inline bool WaitFor(const std::function<bool()>& condition, int ms = 3000) {
  QElapsedTimer clock;
  clock.start();
  while (!condition() && clock.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return condition();
}
