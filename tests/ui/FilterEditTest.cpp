// Every way text enters a filtered field goes through its filter and limit: keys, an input
// method's commit, paste by keys and by the menu, a drop and setText. Full-width text into a
// digit field (the address: 12 digits) and a hex field (the identifier: 8 digits, upper case).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <functional>

#include "UiTestUtil.h"
#include "protocol/PublicFunc.h"
#include "ui/Controls.h"

namespace {

// Thirteen full-width digits: one more than the address holds.
const char* const kWideDigits = "１２３４５６７８９０１２３";
// Full-width hex, Chinese and letters the identifier refuses, and more than 8 digits in all.
const char* const kWideHex = "０４ｆｆ电表zz０１０２０３";

void Type(TFilterEdit& edit, const QString& text) {
  for (QChar c : text) QTest::sendKeyEvent(QTest::Press, &edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

void Commit(TFilterEdit& edit, const QString& text) {
  QInputMethodEvent pinyin(QStringLiteral("dian"), {});  // composing first, then the commit
  QApplication::sendEvent(&edit, &pinyin);
  QInputMethodEvent commit;
  commit.setCommitString(text);
  QApplication::sendEvent(&edit, &commit);
}

void PasteByKeys(TFilterEdit& edit, const QString& text) {
  QApplication::clipboard()->setText(text);
  QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
}

void PasteByMenu(TFilterEdit& edit, const QString& text) {
  QApplication::clipboard()->setText(text);
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), edit.mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(&edit, &event);
  QMenu* menu = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* m = qobject_cast<QMenu*>(w); m && m->isVisible()) menu = m;
  ASSERT_NE(menu, nullptr);
  QAction* paste = nullptr;
  for (QAction* action : menu->actions())
    if (action->text().endsWith(QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText))) paste = action;
  ASSERT_NE(paste, nullptr);
  paste->trigger();
  menu->close();
}

void Drop(TFilterEdit& edit, const QString& text) {
  QMimeData data;
  data.setText(text);
  QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  // Delivered as the drag manager delivers it at the end of a drag (the application's notify
  // passes a drop only to the drag's current target, and offscreen there is no drag).
  static_cast<QObject&>(edit).event(&drop);
}

void SetFromCode(TFilterEdit& edit, const QString& text) { edit.setText(text); }

}  // namespace

TEST(FilterEdit, EveryInputPathFiltersAndLimits) {
  const struct {
    const char* Path;
    std::function<void(TFilterEdit&, const QString&)> Enter;
  } paths[] = {{"keys", Type},           {"input method", Commit}, {"paste by keys", PasteByKeys},
               {"paste by menu", PasteByMenu}, {"drop", Drop},   {"setText", SetFromCode}};
  for (const auto& path : paths) {
    SCOPED_TRACE(path.Path);
    TFilterEdit address;
    address.SetKeyFilter(FilterDigitKey);
    address.SetMaxLength(12);
    TFilterEdit identifier;
    identifier.SetKeyFilter(FilterHexKey);
    identifier.SetMaxLength(8);
    identifier.SetUpperCase(true);
    address.show();
    identifier.show();
    path.Enter(address, QString::fromUtf8(kWideDigits));
    path.Enter(identifier, QString::fromUtf8(kWideHex));
    EXPECT_EQ(address.text(), QStringLiteral("123456789012"));
    EXPECT_EQ(identifier.text(), QStringLiteral("04FF0102"));
  }
}

// Inserted into a field that is full, nothing more is taken; over a selection, the selection is
// replaced within the limit.
TEST(FilterEdit, InsertionRespectsTheRoomLeft) {
  TFilterEdit address;
  address.SetKeyFilter(FilterDigitKey);
  address.SetMaxLength(4);
  address.setText(QStringLiteral("1234"));
  PasteByKeys(address, QStringLiteral("５"));
  EXPECT_EQ(address.text(), QStringLiteral("1234"));
  address.setSelection(1, 2);
  PasteByKeys(address, QStringLiteral("９８７"));
  EXPECT_EQ(address.text(), QStringLiteral("1984"));
}

// The frame field puts unspaced hex in the spaced form the layout check expects.
TEST(FilterEdit, UnspacedHexPastedIntoTheFrameField) {
  TFilterEdit frame;
  frame.SetKeyFilter(FilterHexSpaceKey);
  frame.SetUpperCase(true);
  frame.SetMaxLength(1024);
  frame.SetSpacedHex(true);
  PasteByKeys(frame, QStringLiteral("6801000000000068110433333433"));
  EXPECT_EQ(frame.text(), QStringLiteral("68 01 00 00 00 00 00 68 11 04 33 33 34 33"));
}
