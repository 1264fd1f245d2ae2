#pragma once
// The base of every window of the tool: the window font, the button-face background, placement in
// the middle of the screen and the application title. Also the process-wide date and time formats
// that every window uses when it turns a date or time into text without a format of its own.
#include <QDateTime>
#include <QFont>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QWidget>

// The application title: main window caption, splash caption, about box name line.
QString AppTitleText();

// "宋体" at 12 px where it is installed, otherwise an installed font with Chinese glyphs
// (WenQuanYi Micro Hei first), so that no text is drawn as empty boxes.
QFont BaseFont();

// Top-left corner of a box centred on a screen, each coordinate rounded towards zero.
QPoint CentredPos(const QSize& screen, const QSize& box);

// The window defaults: font and background.
void ApplyBaseDefaults(QWidget* form);
// Moves a top-level window to the middle of its screen (by the frame size when it is known).
void CentreOnScreen(QWidget* form);

// Process-wide date and time formats, set once during start-up.
struct TDateTimeFormats {
  QString ShortDate = QStringLiteral("yyyy-MM-dd");
  QString LongDate = QStringLiteral("yyyy-MM-dd");
  QString ShortTime = QStringLiteral("hh:mm:ss");
  QString LongTime = QStringLiteral("hh:mm:ss");
  QChar DateSeparator = QLatin1Char('-');
};
void SetDateTimeFormats(const TDateTimeFormats& formats);
const TDateTimeFormats& DateTimeFormats();
// A date and time in the process-wide formats, e.g. "2026-12-08 13:05:26".
QString DateTimeToText(const QDateTime& value);

// TWidget is QDialog, QMainWindow or QWidget. The base declares no signals or slots, so windows
// derived from it may carry Q_OBJECT themselves.
template <class TWidget>
class TBaseForm : public TWidget {
 public:
  explicit TBaseForm(QWidget* parent = nullptr, Qt::WindowFlags flags = {}) : TWidget(parent, flags) {
    ApplyBaseDefaults(this);
  }
  static QString AppTitle() { return AppTitleText(); }
  void CentreOnScreen() { ::CentreOnScreen(this); }
};
