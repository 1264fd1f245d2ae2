// The data identifier picker: its panels, what a click, a double-click, a key or a button does, the
// messages it shows, what it hands back and what it keeps between shows.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "UiTestUtil.h"
#include "ui/IdentifierDlt.h"
#include "ui/Texts.h"

namespace {

QListWidgetItem* ItemOf(QListWidget* list, const QString& code) {
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->text().startsWith(code)) return list->item(i);
  ADD_FAILURE() << "no row " << code.toStdString() << " in " << list->objectName().toStdString();
  return list->item(0);
}

QListWidgetItem* SeparatorOf(QListWidget* list) { return ItemOf(list, QStringLiteral("----")); }

QPoint CentreOf(QListWidget* list, QListWidgetItem* item) {
  list->scrollToItem(item);
  return list->visualItemRect(item).center();
}

void ClickRow(QListWidget* list, QListWidgetItem* item) {
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, CentreOf(list, item));
}

void DoubleClickRow(QListWidget* list, QListWidgetItem* item) {
  const QPoint at = CentreOf(list, item);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

TIdentifierDlt Given(const char* di, uint8_t access) {
  TIdentifierDlt id;
  id.DI = di;
  id.Access = access;
  return id;
}

QString Q(const char* text) { return QString::fromUtf8(text); }

struct TPickerTest : testing::Test {
  TIdentifierDltForm Picker;
  void SetUp() override {
    Picker.show();
    ASSERT_TRUE(WaitFor([&] { return Picker.isVisible(); }));
  }
};

}  // namespace

TEST_F(TPickerTest, PanelsHoldTheCatalogueAndFitTheScreen) {
  EXPECT_EQ(Picker.windowTitle(), Q(Txt::PickerCaption));
  EXPECT_EQ(Picker.lbName->text(), Q(Txt::PickerHint));
  EXPECT_TRUE(Picker.edtCode->isReadOnly());
  EXPECT_EQ(Picker.bbtSelect->text(), Q(Txt::BtnPickSelect));
  EXPECT_EQ(Picker.bbtExit->text(), Q(Txt::BtnPickClose));
  for (int id = 0; id < CatalogListCount; ++id) {
    const TCatalogList& source = CatalogList(static_cast<TCatalogListId>(id));
    QListWidget* list = Picker.Lists[id];
    SCOPED_TRACE(source.Name);
    EXPECT_EQ(list->objectName().toStdString(), source.Name);
    EXPECT_EQ(qobject_cast<QGroupBox*>(list->parentWidget())->title().toStdString(), source.Title);
    ASSERT_EQ(list->count(), int(source.Rows.size()));
    int widest = 0;
    for (int i = 0; i < list->count(); ++i) {
      EXPECT_EQ(list->item(i)->text().toStdString(), source.Rows[i]);
      widest = qMax(widest, list->visualItemRect(list->item(i)).left() +
                                list->fontMetrics().horizontalAdvance(list->item(i)->text()));
    }
    EXPECT_LE(widest, list->viewport()->width()) << "a row is cut off";
  }
  EXPECT_TRUE(Picker.lbxParam->verticalScrollBar()->isVisible());  // 105 rows scroll in their panel
  EXPECT_LE(Picker.frameGeometry().width(), 1366);
  EXPECT_LE(Picker.frameGeometry().height() + 40, 768);  // room for a title bar and a panel
}

// Each case: the identifier in use and the access the command wants, the row chosen and how, and
// either the message shown (the picker stays open, the row still selected) or what comes back.
TEST_F(TPickerTest, SelectingGivesTheIdentifierOrAMessage) {
  enum THow { Click, DoubleClick, Keyboard, Nothing };
  struct TCase {
    const char* GivenDI;
    uint8_t Access;
    TCatalogListId List;
    const char* Code;  // "----": the list's first separator row
    THow How;
    const char* Message;  // nullptr: closes with OK
    int DataLen;
    bool NeedsParam;
    const char* ParamData;
  } cases[] = {
      {"", 0, clParam, "04000101", Click, nullptr, 4, false, ""},
      {"", 1, clParam, "04000101", Click, nullptr, 4, false, ""},
      {"", 0, clParam, "04000C01", Click, MsgCannotRead, 0, false, ""},
      {"", 1, clVar, "02010100", Click, MsgCannotWrite, 0, false, ""},
      {"", 0, clPower, "06010002", Click, nullptr, 1, true, "01"},
      {"", 0, clPower, "06010001", DoubleClick, nullptr, 6, true, ""},
      {"", 0, clPower, "06010000", Keyboard, nullptr, 1, true, ""},
      {"", 0, clEnergy, "0001FF00", Click, nullptr, 0, false, ""},
      {"", 0, clEnergy, "----", Click, MsgInvalidIdentifier, 0, false, ""},
      {"", 0, clMD, "----", DoubleClick, MsgInvalidIdentifier, 0, false, ""},
      {"04000101", 1, clParam, "04000101", Click, MsgAlreadySelected, 0, false, ""},
      {"", 0, clEnergy, nullptr, Nothing, MsgCannotRead, 0, false, ""},
      {"", 1, clEnergy, nullptr, Nothing, MsgCannotWrite, 0, false, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Code ? c.Code : "(no row)") + " access " + std::to_string(c.Access));
    TIdentifierDltForm picker;  // a fresh one, so "no row yet" holds
    picker.GivenIdentifier = Given(c.GivenDI, c.Access);
    picker.show();
    ASSERT_TRUE(WaitFor([&] { return picker.isVisible(); }));
    QListWidget* list = picker.Lists[c.List];
    QListWidgetItem* item = c.Code ? ItemOf(list, Q(c.Code)) : nullptr;
    const QString message = PromptDuring(picker, [&] {
      switch (c.How) {
        case Click: ClickRow(list, item); break;
        case DoubleClick: DoubleClickRow(list, item); break;
        case Keyboard:
          ClickRow(list, list->item(list->row(item) - 1));
          QTest::keyClick(list, Qt::Key_Down);
          break;
        case Nothing: break;
      }
      if (c.How != DoubleClick) picker.bbtSelect->click();
    });
    if (c.Message) {
      EXPECT_EQ(message, Q(c.Message));
      EXPECT_TRUE(picker.isVisible());
      if (item) {
        EXPECT_TRUE(item->isSelected());
      }
      continue;
    }
    EXPECT_TRUE(message.isEmpty()) << message.toStdString();
    EXPECT_FALSE(picker.isVisible());
    EXPECT_EQ(picker.result(), QDialog::Accepted);
    const TIdentifierDlt& picked = picker.PickedIdentifier;
    EXPECT_EQ(picked.DI, c.Code);
    EXPECT_EQ(picked.Access, c.Access);
    EXPECT_EQ(picked.DataLen, c.DataLen);
    EXPECT_EQ(picked.NeedsParam, c.NeedsParam);
    EXPECT_EQ(picked.ParamData, c.ParamData);
    EXPECT_TRUE(picked.Found);
    EXPECT_EQ(picker.edtCode->text(), Q(c.Code));
  }
}

TEST_F(TPickerTest, OneSelectionAcrossTheListsAndTheCodeAndNameShown) {
  ClickRow(Picker.lbxEnergy, ItemOf(Picker.lbxEnergy, QStringLiteral("00010000")));
  const QString name = Picker.lbName->text();
  EXPECT_EQ(Picker.edtCode->text(), QStringLiteral("00010000"));
  EXPECT_TRUE(name.startsWith(QLatin1Char('-')));
  EXPECT_TRUE(Picker.lbxEnergy->item(0)->text().startsWith(QStringLiteral("00010000") + name + QLatin1Char(' ')));

  ClickRow(Picker.lbxPower, SeparatorOf(Picker.lbxPower));  // a separator: code emptied, name kept
  EXPECT_EQ(Picker.edtCode->text(), QString());
  EXPECT_EQ(Picker.lbName->text(), name);
  EXPECT_TRUE(IsSeparatorRow(Picker.CurrentRow));

  ClickRow(Picker.lbxVar, Picker.lbxVar->item(0));
  QTest::keyClick(Picker.lbxVar, Qt::Key_Down);
  EXPECT_EQ(Picker.edtCode->text(), QStringLiteral("02010200"));
  int selectedLists = 0;
  for (QListWidget* list : Picker.Lists) selectedLists += list->selectedItems().isEmpty() ? 0 : 1;
  EXPECT_EQ(selectedLists, 1);
  EXPECT_EQ(Picker.CurrentRow, Picker.lbxVar->item(1)->text().toStdString());
}

TEST_F(TPickerTest, LastRowStaysSelectedAndInViewBetweenShows) {
  QListWidgetItem* last = ItemOf(Picker.lbxParam, QStringLiteral("04800003"));
  DoubleClickRow(Picker.lbxParam, last);
  ASSERT_EQ(Picker.result(), QDialog::Accepted);
  Picker.lbxParam->scrollToTop();

  Picker.GivenIdentifier = Picker.PickedIdentifier;  // now the identifier in use
  Picker.show();
  ASSERT_TRUE(WaitFor([&] { return Picker.isVisible(); }));
  EXPECT_TRUE(last->isSelected());
  EXPECT_TRUE(Picker.lbxParam->viewport()->rect().contains(Picker.lbxParam->visualItemRect(last)));
  EXPECT_EQ(PromptDuring(Picker, [&] { Picker.bbtSelect->click(); }), Q(MsgAlreadySelected));

  Picker.PickedIdentifier = TIdentifierDlt{};
  QTest::keyClick(Picker.lbxParam, Qt::Key_Escape);  // closes without a result
  EXPECT_FALSE(Picker.isVisible());
  EXPECT_EQ(Picker.result(), QDialog::Rejected);
  EXPECT_EQ(Picker.PickedIdentifier.DI, "");
}

// The look-up asks for the access of GivenIdentifier and leaves the record alone when it fails.
TEST_F(TPickerTest, LookupOfTypedIdentifiers) {
  for (const auto& [code, access, found] : {std::tuple{"04000C01", 1, true}, {"04000C01", 0, false},
                                            {"12345678", 0, false}, {"04800003", 0, true}}) {
    SCOPED_TRACE(code);
    TIdentifierDlt record = Given(code, uint8_t(access));
    record.Description = "kept";
    Picker.GivenIdentifier = record;
    EXPECT_EQ(Picker.LookupIdentifier(code, record), found);
    EXPECT_EQ(record.DataLen, found ? (access ? 4 : 32) : 0);
    EXPECT_EQ(record.Description == "kept", !found);
  }
}

// A double-click on the empty area below the rows presses "选择并返回(&S)" while the list has a
// selected row; Ctrl and a click on the only selected row leaves no row current.
TEST_F(TPickerTest, EmptyAreaDoubleClickAndCtrlDeselect) {
  QListWidget* list = Picker.lbxVar;  // nine rows, room below them
  QListWidgetItem* row = ItemOf(list, QStringLiteral("02010100"));
  ClickRow(list, row);
  Picker.GivenIdentifier = Given("", 0);
  const QPoint below(10, list->viewport()->height() - 4);
  ASSERT_EQ(list->itemAt(below), nullptr);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, below);
  EXPECT_EQ(Picker.result(), QDialog::Accepted);
  EXPECT_EQ(Picker.PickedIdentifier.DI, "02010100");

  Picker.show();
  ASSERT_TRUE(WaitFor([&] { return Picker.isVisible(); }));
  ASSERT_TRUE(row->isSelected());
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, CentreOf(list, row));
  ASSERT_FALSE(row->isSelected());
  EXPECT_EQ(Picker.CurrentRow, "");
  // Selecting now tests an empty row, as before any selection.
  EXPECT_EQ(PromptDuring(Picker, [&] { Picker.bbtSelect->click(); }), Q("您选择的数据标识无法进行读操作！"));
}
