#include "ui/Controls.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>

TFilterEdit::TFilterEdit(QWidget* parent) : QLineEdit(parent) {
  connect(this, &QLineEdit::textChanged, this, &TFilterEdit::KeepUpperCase);
}

void TFilterEdit::SetUpperCase(bool value) {
  UpperCase = value;
  KeepUpperCase();
}

void TFilterEdit::KeepUpperCase() {
  if (!UpperCase) return;
  const QString upper = text().toUpper();
  if (upper == text()) return;
  const int cursor = cursorPosition();
  setText(upper);
  setCursorPosition(cursor);
}

QString TFilterEdit::FilterText(const QString& text) const {
  if (!Filter) return text;
  QString result;
  for (QChar ch : text) {
    if (ch.unicode() >= 0x80 || ch.unicode() < 0x20) continue;
    if (Filter(static_cast<char>(ch.unicode())) != '\0') result += ch;
  }
  return result;
}

int TFilterEdit::Room() const {
  if (MaxLength <= 0) return 1 << 30;
  return qMax(0, MaxLength - int(text().size()) + int(selectedText().size()));
}

void TFilterEdit::FilteredPaste() {
  if (isReadOnly()) return;
  QString text = FilterText(QApplication::clipboard()->text());
  text.remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
  if (UpperCase) text = text.toUpper();
  insert(text.left(Room()));
}

void TFilterEdit::inputMethodEvent(QInputMethodEvent* event) {
  const QString commit = event->commitString();
  if (!commit.isEmpty() && commit.size() > Room()) {
    QInputMethodEvent cut(event->preeditString(), event->attributes());
    cut.setCommitString(commit.left(Room()), event->replacementStart(), event->replacementLength());
    QLineEdit::inputMethodEvent(&cut);
    return;
  }
  QLineEdit::inputMethodEvent(event);
}

namespace {

// Keys that insert or remove a character go through the filter; navigation and dialog keys do not.
bool IsCharacterKey(const QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return: case Qt::Key_Enter: case Qt::Key_Escape: case Qt::Key_Tab:
    case Qt::Key_Backtab: case Qt::Key_Delete:
      return false;
    default:
      break;
  }
  if (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return false;
  return !event->text().isEmpty();
}

}  // namespace

void TFilterEdit::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Paste) && (Filter || MaxLength > 0)) {
    FilteredPaste();
    event->accept();
    return;
  }
  if (Filter && IsCharacterKey(event)) {
    const QString text = event->text();
    const char16_t code = text.size() == 1 ? text[0].unicode() : 0;
    const char key = code != 0 && code < 0x80 ? Filter(static_cast<char>(code)) : '\0';
    if (key == '\0') {
      event->accept();
      return;
    }
  }
  // A key that inserts text needs room for it; Backspace makes room.
  if (IsCharacterKey(event) && event->key() != Qt::Key_Backspace && event->text()[0].unicode() >= 0x20 &&
      int(event->text().size()) > Room()) {
    event->accept();
    return;
  }
  if (UpperCase && IsCharacterKey(event) && event->text() != event->text().toUpper()) {
    QKeyEvent upper(event->type(), event->key(), event->modifiers(), event->text().toUpper(),
                    event->isAutoRepeat(), event->count());
    QLineEdit::keyPressEvent(&upper);
    event->setAccepted(upper.isAccepted());
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void TFilterEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  // Leaving the field for another control of the window; not the window losing its activation
  // (a message box opening over it) or a pop-up menu.
  if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
    emit exited();
}

void TFilterEdit::mouseDoubleClickEvent(QMouseEvent* event) {
  QLineEdit::mouseDoubleClickEvent(event);
  emit doubleClicked();
}

void TFilterEdit::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createStandardContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  if (Filter || MaxLength > 0) {
    if (QAction* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste"))) {
      disconnect(paste, &QAction::triggered, nullptr, nullptr);
      connect(paste, &QAction::triggered, this, &TFilterEdit::FilteredPaste);
    }
  }
  menu->popup(event->globalPos());
}

// ---------------------------------------------------------------------------------------------
// Pictures

namespace {

void DrawMeter(QPainter& p, double s) {
  // A meter case with a display window and a dial: the tool's icon.
  p.setPen(QPen(QColor(40, 60, 90), s * 0.04));
  p.setBrush(QColor(230, 235, 240));
  p.drawRoundedRect(QRectF(s * 0.12, s * 0.06, s * 0.76, s * 0.88), s * 0.08, s * 0.08);
  p.setBrush(QColor(30, 40, 50));
  p.drawRect(QRectF(s * 0.22, s * 0.16, s * 0.56, s * 0.2));
  p.setPen(QPen(QColor(90, 230, 120), s * 0.05));
  for (int i = 0; i < 4; ++i) {
    const double x = s * (0.27 + i * 0.125);
    p.drawLine(QPointF(x, s * 0.21), QPointF(x, s * 0.31));
  }
  p.setPen(QPen(QColor(40, 60, 90), s * 0.04));
  p.setBrush(QColor(255, 200, 40));
  p.drawEllipse(QRectF(s * 0.34, s * 0.48, s * 0.32, s * 0.32));
  p.drawLine(QPointF(s * 0.5, s * 0.64), QPointF(s * 0.6, s * 0.54));
}

void DrawWarning(QPainter& p, double s) {
  QPainterPath triangle;
  triangle.moveTo(s * 0.5, s * 0.06);
  triangle.lineTo(s * 0.95, s * 0.9);
  triangle.lineTo(s * 0.05, s * 0.9);
  triangle.closeSubpath();
  p.setPen(QPen(QColor(120, 80, 0), s * 0.04, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(QColor(255, 205, 40));
  p.drawPath(triangle);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(40, 30, 0));
  p.drawRoundedRect(QRectF(s * 0.45, s * 0.3, s * 0.1, s * 0.36), s * 0.04, s * 0.04);
  p.drawEllipse(QRectF(s * 0.44, s * 0.72, s * 0.12, s * 0.12));
}

void DrawInformation(QPainter& p, double s) {
  p.setPen(QPen(QColor(20, 60, 140), s * 0.04));
  p.setBrush(QColor(60, 130, 220));
  p.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(s * 0.44, s * 0.2, s * 0.12, s * 0.12));
  p.drawRoundedRect(QRectF(s * 0.45, s * 0.4, s * 0.1, s * 0.4), s * 0.03, s * 0.03);
}

void DrawParams(QPainter& p, double s) {
  // A gear.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(80, 100, 130));
  p.translate(s / 2, s / 2);
  for (int i = 0; i < 8; ++i) {
    p.drawRect(QRectF(-s * 0.07, -s * 0.46, s * 0.14, s * 0.2));
    p.rotate(45);
  }
  p.drawEllipse(QPointF(0, 0), s * 0.32, s * 0.32);
  p.setBrush(QColor(235, 240, 245));
  p.drawEllipse(QPointF(0, 0), s * 0.13, s * 0.13);
  p.resetTransform();
}

void DrawLetterBadge(QPainter& p, double s, const QColor& colour, const QString& letter) {
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawEllipse(QRectF(s * 0.08, s * 0.08, s * 0.84, s * 0.84));
  QFont font;
  font.setPixelSize(qMax(6, int(s * 0.6)));
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, letter);
}

void DrawExit(QPainter& p, double s) {
  // A door with an arrow leaving it.
  p.setPen(QPen(QColor(90, 60, 40), s * 0.05));
  p.setBrush(QColor(190, 140, 90));
  p.drawRect(QRectF(s * 0.12, s * 0.1, s * 0.42, s * 0.8));
  p.setPen(QPen(QColor(200, 40, 40), s * 0.09, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(QPointF(s * 0.4, s * 0.5), QPointF(s * 0.88, s * 0.5));
  p.drawLine(QPointF(s * 0.72, s * 0.34), QPointF(s * 0.88, s * 0.5));
  p.drawLine(QPointF(s * 0.72, s * 0.66), QPointF(s * 0.88, s * 0.5));
}

void DrawPort(QPainter& p, double s, bool open) {
  // A serial connector; green and with its pins lit when open, grey when closed.
  QPainterPath shell;
  shell.moveTo(s * 0.06, s * 0.25);
  shell.lineTo(s * 0.94, s * 0.25);
  shell.lineTo(s * 0.8, s * 0.78);
  shell.lineTo(s * 0.2, s * 0.78);
  shell.closeSubpath();
  p.setPen(QPen(open ? QColor(20, 110, 40) : QColor(90, 90, 90), qMax(1.0, s * 0.07)));
  p.setBrush(open ? QColor(70, 190, 90) : QColor(190, 190, 190));
  p.drawPath(shell);
  p.setPen(Qt::NoPen);
  p.setBrush(open ? QColor(255, 255, 180) : QColor(110, 110, 110));
  for (int i = 0; i < 3; ++i) p.drawRect(QRectF(s * (0.25 + i * 0.2), s * 0.4, s * 0.1, s * 0.12));
  for (int i = 0; i < 2; ++i) p.drawRect(QRectF(s * (0.35 + i * 0.2), s * 0.58, s * 0.1, s * 0.1));
}

}  // namespace

QPixmap DrawPicture(TPicture picture, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size;
  switch (picture) {
    case TPicture::AppIcon: DrawMeter(p, s); break;
    case TPicture::Warning: DrawWarning(p, s); break;
    case TPicture::Information: DrawInformation(p, s); break;
    case TPicture::Params: DrawParams(p, s); break;
    case TPicture::About: DrawLetterBadge(p, s, QColor(40, 120, 200), QStringLiteral("i")); break;
    case TPicture::Help: DrawLetterBadge(p, s, QColor(40, 150, 90), QStringLiteral("?")); break;
    case TPicture::Exit: DrawExit(p, s); break;
    case TPicture::PortClosed: DrawPort(p, s, false); break;
    case TPicture::PortOpen: DrawPort(p, s, true); break;
  }
  return pixmap;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(DrawPicture(TPicture::AppIcon, size));
  return icon;
}
