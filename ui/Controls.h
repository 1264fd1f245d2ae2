#pragma once
// Widgets and pictures shared by the windows: the edit field with a key filter and upper-case
// display, and the pictures of the tool (drawn at run time, so no image files are needed).
#include <QIcon>
#include <QLineEdit>
#include <QPixmap>

// A key filter of the conversion helpers: returns the key, or '\0' to drop it.
using TKeyFilter = char (*)(char);

// An edit field whose typed characters pass a key filter and which can show its text in upper case.
// Keys that produce no character (arrows, Delete, Home...) and the Enter, Escape and Tab keys are
// not filtered. A paste is filtered character by character.
class TFilterEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TFilterEdit(QWidget* parent = nullptr);
  void SetKeyFilter(TKeyFilter filter) { Filter = filter; }
  void SetUpperCase(bool value);
  void SetMaxLength(int value) { MaxLength = value; }  // 0: no limit
  int MaxLengthLimit() const { return MaxLength; }
  // Pastes the clipboard's text, keeping only the characters the key filter lets through.
  void FilteredPaste();

 signals:
  void exited();         // focus left the field
  void doubleClicked();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;

 private:
  QString FilterText(const QString& text) const;
  void KeepUpperCase();
  int Room() const;  // characters that may still be typed over the selection

  int MaxLength = 0;
  TKeyFilter Filter = nullptr;
  bool UpperCase = false;
};

enum class TPicture { AppIcon, Warning, Information, Params, About, Help, Exit, PortClosed, PortOpen };
// The picture at `size` x `size` device-independent pixels.
QPixmap DrawPicture(TPicture picture, int size);
QIcon AppIcon();
