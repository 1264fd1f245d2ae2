#include "ui/Controls.h"

#include "protocol/FieldText.h"
#include "protocol/SendCycle.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>

TFilterEdit::TFilterEdit(QWidget* parent) : QLineEdit(parent) {
  connect(this, &QLineEdit::textChanged, this, &TFilterEdit::NormaliseText);
}

void TFilterEdit::SetKeyFilter(TKeyFilter filter) {
  Filter = filter;
  NormaliseText();
}

void TFilterEdit::SetUpperCase(bool value) {
  UpperCase = value;
  NormaliseText();
}

void TFilterEdit::SetStoredText(const QString& text) {
  StoredText = Normalised(text, 0);
  setText(StoredText);
}

QString TFilterEdit::Normalised(const QString& text, int limit) const {
  return QString::fromStdString(NormaliseFieldText(text.toStdString(), Filter, UpperCase, limit));
}

void TFilterEdit::NormaliseText() {
  const QString current = text();
  const bool stored = !StoredText.isEmpty() && current == StoredText;
  const QString fixed = Normalised(current, stored ? 0 : MaxLength);
  if (fixed == current) return;
  const int cursor = qMin(int(Normalised(current.left(cursorPosition()), 0).size()), int(fixed.size()));
  setText(fixed);
  setCursorPosition(cursor);
}

int TFilterEdit::Room() const {
  if (MaxLength <= 0) return 1 << 30;
  return qMax(0, MaxLength - int(text().size()) + int(selectedText().size()));
}

void TFilterEdit::InsertText(const QString& text) {
  if (isReadOnly()) return;
  QString kept = Normalised(text, 0);
  if (SpacedHex && !kept.contains(QLatin1Char(' ')) && kept.size() > 2)
    kept = QString::fromStdString(SpacedHexText(kept.toStdString()));
  insert(kept.left(Room()));
}

void TFilterEdit::FilteredPaste() { InsertText(QApplication::clipboard()->text()); }

void TFilterEdit::inputMethodEvent(QInputMethodEvent* event) {
  const QString commit = event->commitString();
  if (commit.isEmpty()) {
    QLineEdit::inputMethodEvent(event);  // composing: the pre-edit text is not the field's yet
    return;
  }
  // The committed text replaces the selection (or the given range) through the filter and limit.
  QInputMethodEvent compose(event->preeditString(), event->attributes());
  compose.setCommitString(QString(), event->replacementStart(), event->replacementLength());
  QLineEdit::inputMethodEvent(&compose);
  InsertText(commit);
  event->accept();
}

void TFilterEdit::dropEvent(QDropEvent* event) {
  if (event->source() == this || !event->mimeData()->hasText() || isReadOnly()) {
    QLineEdit::dropEvent(event);  // text moved within the field has passed the filter already
    return;
  }
  deselect();
  setCursorPosition(cursorPositionAt(event->position().toPoint()));
  InsertText(event->mimeData()->text());
  event->acceptProposedAction();
  setFocus(Qt::MouseFocusReason);
}

void TFilterEdit::mouseReleaseEvent(QMouseEvent* event) {
  QClipboard* clipboard = QApplication::clipboard();
  if (event->button() == Qt::MiddleButton && clipboard->supportsSelection() && !isReadOnly()) {
    deselect();
    setCursorPosition(cursorPositionAt(event->position().toPoint()));
    InsertText(clipboard->text(QClipboard::Selection));
    event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}

namespace {

// Keys that insert a character; navigation, editing and dialog keys are left to the field.
bool InsertsText(const QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return: case Qt::Key_Enter: case Qt::Key_Escape: case Qt::Key_Tab:
    case Qt::Key_Backtab: case Qt::Key_Delete: case Qt::Key_Backspace:
      return false;
    default:
      break;
  }
  if (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return false;
  return !event->text().isEmpty() && event->text()[0].unicode() >= 0x20;
}

}  // namespace

void TFilterEdit::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Paste)) {
    FilteredPaste();
    event->accept();
    return;
  }
  if (InsertsText(event)) {
    InsertText(event->text());
    event->accept();
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
  // The menu's paste goes through the filter too. Its action is known by its name where Qt gives
  // it one, else by the paste keys its text shows.
  const QString pasteKeys = QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText);
  for (QAction* action : menu->actions()) {
    if (action->objectName() != QLatin1String("edit-paste") && !action->text().endsWith(QLatin1Char('\t') + pasteKeys))
      continue;
    disconnect(action, &QAction::triggered, nullptr, nullptr);
    connect(action, &QAction::triggered, this, &TFilterEdit::FilteredPaste);
  }
  menu->popup(event->globalPos());
}

void TElidedLabel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);  // the sunken frame
  QPainter painter(this);
  const QRect room = contentsRect().adjusted(margin() + 2, 0, -margin() - 2, 0);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(room, int(alignment()), fontMetrics().elidedText(text(), Qt::ElideRight, room.width()));
}

void TRowShade::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  if (index.row() == View->currentIndex().row() && !index.parent().isValid()) option->state |= QStyle::State_Selected;
  if (!(option->state & QStyle::State_Selected) && RowShaded(index.row())) option->backgroundBrush = QColor(231, 231, 231);
}

void SetGridSelectionColours(QAbstractItemView* grid) {
  QPalette palette = grid->palette();
  const QColor back = QApplication::palette().color(QPalette::ToolTipBase);
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::Highlight, back);
    palette.setColor(group, QPalette::HighlightedText, QColor(128, 0, 0));
  }
  grid->setPalette(palette);
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
