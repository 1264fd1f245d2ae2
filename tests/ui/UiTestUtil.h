#pragma once
// Helpers for driving windows in tests: modal dialogs are answered from a timer, so no test blocks.
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

// While it exists, calls `answer` once with the first modal window that becomes active (from the
// event loop of that window's exec()). Fired() tells whether it happened.
class TModalAnswer {
 public:
  explicit TModalAnswer(std::function<void(QWidget*)> answer, QWidget* ignore = nullptr)
      : Answer(std::move(answer)), Ignore(ignore) {
    Timer.setInterval(5);
    QObject::connect(&Timer, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal && modal != Ignore && modal->isVisible()) {
        Timer.stop();
        Done = true;
        Answer(modal);
      }
    });
    Timer.start();
  }
  ~TModalAnswer() { Timer.stop(); }
  bool Fired() const { return Done; }

 private:
  std::function<void(QWidget*)> Answer;
  QWidget* Ignore;
  QTimer Timer;
  bool Done = false;
};

// Processes events until `condition` holds or `ms` passed; returns the condition.
inline bool WaitFor(const std::function<bool()>& condition, int ms = 3000) {
  QElapsedTimer clock;
  clock.start();
  while (!condition() && clock.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return condition();
}

// The text of the warning box that `action` brings up over `window` (answered with Enter), or
// empty when none came up.
inline QString PromptDuring(QWidget& window, const std::function<void()>& action) {
  QString text;
  TModalAnswer answer(
      [&](QWidget* modal) {
        if (auto* label = modal->findChild<QLabel*>(QStringLiteral("lbPrompt"))) text = label->text();
        QTest::keyClick(modal, Qt::Key_Return);
      },
      &window);
  action();
  return text;
}
