// The relay dialog: adding and deleting relays with its messages, the check box, what OK and cancel
// leave in the table it was handed, and the keys of the address field.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>

#include "UiTestUtil.h"
#include "ui/Controls.h"
#include "ui/RelaySetting.h"
#include "ui/Texts.h"

namespace {

QString Q(const char* text) { return QString::fromUtf8(text); }

// The rows as "number=address" joined by blanks.
std::string Rows(const QTreeWidget* list) {
  std::string rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    rows += (i ? " " : "") + list->topLevelItem(i)->text(0).toStdString() + "=" +
            list->topLevelItem(i)->text(1).toStdString();
  return rows;
}

void ClickRow(QTreeWidget* list, int row) {
  const QRect rect = list->visualItemRect(list->topLevelItem(row));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

struct TRelayTest : testing::Test {
  TRouteTable Table{7};
  std::unique_ptr<TRouteTableForm> Dialog;
  void Open() {
    Dialog = std::make_unique<TRouteTableForm>(Table);
    Dialog->show();
    ASSERT_TRUE(WaitFor([&] { return Dialog->isVisible(); }));
  }
  QString Add(const char* address) {
    Dialog->RouteAddress->setText(QString::fromLatin1(address));
    return PromptDuring(*Dialog, [&] { Dialog->btnAddNode->click(); });
  }
};

}  // namespace

// One session in the dialog, step by step: what the user does, the message it shows (or none)
// and the rows afterwards.
TEST_F(TRelayTest, AddingAndDeletingWithTheirMessages) {
  Open();
  enum TDo { AddIt, ClickRowThenAdd, DeleteRow, DeleteSelected };
  struct TStep {
    TDo Do;
    const char* Arg;  // the address typed, or the row (0-based) clicked or deleted
    const char* Message;
    const char* RowsAfter;
  } steps[] = {
      {DeleteSelected, "", Txt::RelayNone, ""},
      {AddIt, "", Txt::RelayEmpty, ""},
      {AddIt, "1234", "", "R  1=000000001234"},
      {AddIt, "000000001234", Txt::RelayDuplicate, "R  1=000000001234"},
      {AddIt, "1234567890123", "", "R  1=000000001234 R  2=123456789012"},  // 12 at most
      {AddIt, "5", "", "R  1=000000001234 R  2=123456789012 R  3=000000000005"},
      {ClickRowThenAdd, "1", Txt::RelayDuplicate, "R  1=000000001234 R  2=123456789012 R  3=000000000005"},
      {DeleteRow, "1", "", "R  1=000000001234 R  2=000000000005"},
      {DeleteSelected, "", Txt::RelayNoSelection, "R  1=000000001234 R  2=000000000005"},
  };
  for (const TStep& s : steps) {
    SCOPED_TRACE(std::string("step ") + s.Arg);
    QString message;
    switch (s.Do) {
      case AddIt: message = Add(s.Arg); break;
      case ClickRowThenAdd:
        ClickRow(Dialog->RouteListView, std::atoi(s.Arg));
        EXPECT_EQ(Dialog->RouteAddress->text(), Dialog->RouteListView->topLevelItem(std::atoi(s.Arg))->text(1));
        message = PromptDuring(*Dialog, [&] { Dialog->btnAddNode->click(); });
        break;
      case DeleteRow: ClickRow(Dialog->RouteListView, std::atoi(s.Arg)); [[fallthrough]];
      case DeleteSelected:
        message = PromptDuring(*Dialog, [&] { Dialog->btnDelNode->click(); });
        Dialog->RouteListView->clearSelection();
        break;
    }
    EXPECT_EQ(message, Q(s.Message));
    EXPECT_EQ(Rows(Dialog->RouteListView), s.RowsAfter);
  }
}

TEST_F(TRelayTest, DepthIsCheckedBeforePaddingAndDuplicates) {
  Open();
  for (int i = 1; i <= 7; ++i) EXPECT_EQ(Add(std::to_string(i).c_str()), QString());
  EXPECT_EQ(Dialog->RouteListView->topLevelItemCount(), 7);
  EXPECT_EQ(Add("1"), Q(Txt::RelayTooDeep));  // a duplicate, but the depth speaks first
  EXPECT_EQ(Add(""), Q(Txt::RelayEmpty));
  EXPECT_EQ(Dialog->lbMaxDepth->text(), Q(Txt::LblMaxDepth) + QStringLiteral("7"));
}

// What the handed-in table holds after the dialog: OK writes the rows and the check box, a
// checked box without rows leaves the table off, cancel and Esc leave it as it was.
TEST_F(TRelayTest, OnlyOkWritesTheTable) {
  struct TCase {
    std::vector<std::string> Before;
    bool EnabledBefore;
    const char* Added;  // "" adds nothing
    bool DeleteAll;
    enum { Ok, Cancel, Esc } End;
    bool BoxAfterAdd, EnabledAfter;
    size_t CountAfter;
  } cases[] = {
      {{}, false, "1", false, TCase::Ok, true, true, 1},             // the first add checks the box
      {{"000000000001"}, true, "", true, TCase::Ok, true, false, 0},  // box checked, no rows: off
      {{"000000000001"}, true, "2", false, TCase::Esc, true, true, 1},
      {{}, false, "3", false, TCase::Cancel, true, false, 0},
  };
  for (const TCase& c : cases) {
    Table.Addresses = c.Before;
    Table.SetEnabled(c.EnabledBefore);
    Open();
    EXPECT_EQ(Dialog->cbxStartRT->isChecked(), c.EnabledBefore);
    EXPECT_EQ(Dialog->RouteListView->topLevelItemCount(), int(c.Before.size()));
    if (*c.Added) {
      EXPECT_EQ(Add(c.Added), QString());
      EXPECT_EQ(Dialog->cbxStartRT->isChecked(), c.BoxAfterAdd);
    }
    while (c.DeleteAll && Dialog->RouteListView->topLevelItemCount() > 0) {
      ClickRow(Dialog->RouteListView, 0);
      Dialog->btnDelNode->click();
    }
    switch (c.End) {
      case TCase::Ok: Dialog->btnOK->click(); break;
      case TCase::Cancel: Dialog->btnCancel->click(); break;
      case TCase::Esc: QTest::keyClick(Dialog->RouteListView, Qt::Key_Escape); break;
    }
    EXPECT_FALSE(Dialog->isVisible());
    EXPECT_EQ(Dialog->result(), c.End == TCase::Ok ? QDialog::Accepted : QDialog::Rejected);
    EXPECT_EQ(Table.Enabled, c.EnabledAfter);
    EXPECT_EQ(Table.Addresses.size(), c.CountAfter);
    if (c.End != TCase::Ok) {
      EXPECT_EQ(Table.Addresses, c.Before);
    }
  }
}

TEST_F(TRelayTest, AddressFieldTakesTwelveDigitsAndEnterAdds) {
  Open();
  Dialog->RouteAddress->setFocus();
  QTest::keyClicks(Dialog->RouteAddress, QStringLiteral("12a-34 5678901234"));
  EXPECT_EQ(Dialog->RouteAddress->text(), QStringLiteral("123456789012"));
  Dialog->RouteAddress->clear();
  QApplication::clipboard()->setText(QStringLiteral("98765432109876543"));
  QTest::keyClick(Dialog->RouteAddress, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Dialog->RouteAddress->text(), QStringLiteral("987654321098"));

  QTest::keyClick(Dialog->RouteAddress, Qt::Key_Return);
  EXPECT_EQ(Rows(Dialog->RouteListView), "R  1=987654321098");
  EXPECT_TRUE(Dialog->isVisible());  // Enter added; it did not close the dialog
  QTest::keyClick(Dialog->RouteAddress, Qt::Key_Escape);
  EXPECT_FALSE(Dialog->isVisible());
  EXPECT_TRUE(Table.Addresses.empty());
}

// After an add the address field's text is selected: the next address typed replaces it.
TEST_F(TRelayTest, NextAddressReplacesTheOneAdded) {
  Open();
  Dialog->activateWindow();
  QTest::keyClicks(Dialog->RouteAddress, QStringLiteral("1234"));
  QTest::keyClick(Dialog->RouteAddress, Qt::Key_Return);
  QTest::keyClicks(Dialog->RouteAddress, QStringLiteral("2222"));
  QTest::keyClick(Dialog->RouteAddress, Qt::Key_Return);
  ASSERT_EQ(Dialog->RouteListView->topLevelItemCount(), 2);
  EXPECT_EQ(Dialog->RouteListView->topLevelItem(1)->text(1), QStringLiteral("000000002222"));
}
