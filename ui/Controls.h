#pragma once
// Widgets and pictures shared by the windows: the edit field with a key filter and upper-case
// display, and the pictures of the tool (drawn at run time, so no image files are needed).
#include <QIcon>
#include <QAbstractItemView>
#include <QLabel>
#include <QStyledItemDelegate>
#include <QLineEdit>
#include <QPixmap>

// A key filter of the conversion helpers: returns the key, or '\0' to drop it.
using TKeyFilter = char (*)(char);

// An edit field whose text passes a key filter and a length limit and can be shown in upper case.
// Every way text enters it goes through the same rule (NormaliseFieldText): typed keys, an input
// method's commit, paste by keys or menu, the middle button's paste of the selection, a drop, and
// setText from code. Full-width digits and letters become ASCII, refused characters are dropped,
// the text is cut at the limit. Keys that produce no character (arrows, Delete, Home...) and the
// Enter, Escape and Tab keys are not filtered.
class TFilterEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TFilterEdit(QWidget* parent = nullptr);
  void SetKeyFilter(TKeyFilter filter);
  void SetUpperCase(bool value);
  void SetMaxLength(int value) { MaxLength = value; }  // 0: no limit
  int MaxLengthLimit() const { return MaxLength; }
  // Hexadecimal digits inserted in one piece without blanks are put in the spaced form.
  void SetSpacedHex(bool value) { SpacedHex = value; }
  // Inserts `text` over the selection, through the filter and the room left by the limit.
  void InsertText(const QString& text);
  // Pastes the clipboard's text through InsertText.
  void FilteredPaste();
  // A value read from a file, shown as stored even when it is longer than the limit (the save
  // cuts it); the filter still applies. The limit holds again once the text is edited.
  void SetStoredText(const QString& text);

 signals:
  void exited();         // focus left the field
  void doubleClicked();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QString Normalised(const QString& text, int limit) const;
  void NormaliseText();  // the catch-all after every change, setText included
  int Room() const;      // characters that may still be inserted over the selection

  int MaxLength = 0;
  TKeyFilter Filter = nullptr;
  bool UpperCase = false;
  bool SpacedHex = false;
  QString StoredText;
};

// A status pane that shows as much of its text as fits and marks a cut with an ellipsis; text()
// is the whole text.
class TElidedLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The shading of the tool's grids: cells of rows at odd positions (counted from 0) grey unless the
// row is selected or focused; a focused row is drawn with the selection colours even when it is
// not selected.
class TRowShade : public QStyledItemDelegate {
 public:
  explicit TRowShade(QAbstractItemView* view) : QStyledItemDelegate(view), View(view) {}

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

 private:
  QAbstractItemView* View;
};
// Selected rows: the tool-tip background with maroon text, also while the grid has no focus.
void SetGridSelectionColours(QAbstractItemView* grid);

enum class TPicture { AppIcon, Warning, Information, Params, About, Help, Exit, PortClosed, PortOpen };
// The picture at `size` x `size` device-independent pixels.
QPixmap DrawPicture(TPicture picture, int size);
QIcon AppIcon();
