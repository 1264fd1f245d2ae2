#include "ui/BaseFrm.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

#include "ui/Texts.h"

QString AppTitleText() { return QString::fromUtf8(Txt::AppTitle); }

namespace {

QStringList FontCandidates() {
  const QStringList installed = QFontDatabase::families();
  QStringList result;
  const QStringList preferred = {QString::fromUtf8(Txt::FontSongTi), QStringLiteral("SimSun"),
                                 QStringLiteral("WenQuanYi Micro Hei"),
                                 QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Serif CJK SC")};
  for (const QString& family : preferred)
    if (installed.contains(family, Qt::CaseInsensitive)) result << family;
  // Any other font that writes Simplified Chinese, as the last resort.
  if (result.isEmpty())
    for (const QString& family : QFontDatabase::families(QFontDatabase::SimplifiedChinese)) {
      result << family;
      break;
    }
  return result;
}

TDateTimeFormats& Formats() {
  static TDateTimeFormats formats;
  return formats;
}

}  // namespace

QFont BaseFont() {
  static const QStringList families = FontCandidates();
  QFont font;
  if (!families.isEmpty()) font.setFamilies(families);
  font.setPixelSize(12);
  return font;
}

QPoint CentredPos(const QSize& screen, const QSize& box) {
  // Integer division truncates towards zero, also for a box larger than the screen.
  return {(screen.width() - box.width()) / 2, (screen.height() - box.height()) / 2};
}

void ApplyBaseDefaults(QWidget* form) {
  form->setFont(BaseFont());
  QPalette palette = form->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  form->setPalette(palette);
  form->setAutoFillBackground(true);
}

void CentreOnScreen(QWidget* form) {
  QScreen* screen = form->screen() ? form->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->geometry();
  const QPoint pos = CentredPos(area.size(), form->frameGeometry().size());
  form->move(area.topLeft() + pos);
}

void SetDateTimeFormats(const TDateTimeFormats& formats) { Formats() = formats; }

const TDateTimeFormats& DateTimeFormats() { return Formats(); }

QString DateTimeToText(const QDateTime& value) {
  const TDateTimeFormats& f = Formats();
  return value.toString(f.ShortDate + QLatin1Char(' ') + f.LongTime);
}
