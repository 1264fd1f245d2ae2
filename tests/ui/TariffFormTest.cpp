// The time-segment and time-zone table editors: their rows, the handed-in text shown in them, and
// the text OK hands back (cancel hands back nothing).
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "UiTestUtil.h"
#include "ui/AddTAFrm.h"
#include "ui/AddTSFrm.h"
#include "ui/Texts.h"

namespace {

QString Q(const char* text) { return QString::fromUtf8(text); }

QString Repeat(const QString& entry, int times) { return entry.repeated(times); }

// Shows the editor with `text`, lets `edit` change its rows, presses OK or cancel and returns the
// editor's TableText afterwards.
QString RunEditor(TTariffForm& editor, const QString& text, bool ok,
                  const std::function<void(TTariffForm&)>& edit = {}) {
  editor.TableText = text;
  editor.show();
  EXPECT_TRUE(WaitFor([&] { return editor.isVisible(); }));
  if (edit) edit(editor);
  (ok ? editor.rbbOK : editor.rbbCancel)->click();
  EXPECT_FALSE(editor.isVisible());
  EXPECT_EQ(editor.result(), ok ? QDialog::Accepted : QDialog::Rejected);
  return editor.TableText;
}

}  // namespace

TEST(TariffForms, RowsListsAndValueDisplay) {
  TAddTSForm segments;
  TAddTAForm zones;
  struct TCase {
    TTariffForm* Editor;
    const char* Caption;
    const char* RowTail;
    const char* NumberLabel;
    int Entries;
    QString FirstEntry, LastEntry;
    QString Loaded;  // one entry, as its value is then displayed in row 1
    QString Shown;
  } cases[] = {
      {&segments, Txt::SegmentCaption, Txt::SegmentRowLabelTail, Txt::LblTariffNumber, 63, "T01", "T63",
       "073063", "07:30"},
      {&zones, Txt::ZoneCaption, Txt::ZoneRowLabelTail, Txt::LblDayTableNumber, 14,
       Q(Txt::Ordinal) + "1" + Q(Txt::DayTableEntryTail), Q(Txt::Ordinal) + "14" + Q(Txt::DayTableEntryTail),
       "022914", "02" + Q(Txt::MonthSuffix) + "29" + Q(Txt::DaySuffix)},
  };
  for (const TCase& c : cases) {
    TTariffForm& editor = *c.Editor;
    SCOPED_TRACE(c.Caption);
    EXPECT_EQ(editor.windowTitle(), Q(c.Caption));
    for (int i = 0; i < TariffRowCount; ++i) {
      EXPECT_EQ(editor.lbValue[i]->text(), Q(Txt::Ordinal) + QString::number(i + 1) + Q(c.RowTail));
      EXPECT_EQ(editor.lbNumber[i]->text(), Q(c.NumberLabel));
      EXPECT_EQ(editor.cmbNumber[i]->currentIndex(), -1);
      EXPECT_FALSE(editor.cmbNumber[i]->isEditable());
      EXPECT_EQ(editor.cmbNumber[i]->count(), c.Entries);
    }
    EXPECT_EQ(editor.cmbNumber[0]->itemText(0), c.FirstEntry);
    EXPECT_EQ(editor.cmbNumber[0]->itemText(c.Entries - 1), c.LastEntry);
    EXPECT_EQ(editor.cmbNumber[0]->maxVisibleItems(), 20);
    editor.TableText = c.Loaded;
    editor.show();
    ASSERT_TRUE(WaitFor([&] { return editor.isVisible(); }));
    EXPECT_EQ(editor.dtpValue[0]->text(), c.Shown);
    EXPECT_EQ(editor.cmbNumber[0]->currentText(), c.LastEntry);
    EXPECT_EQ(editor.cmbNumber[1]->currentIndex(), -1);
    editor.close();
  }
}

// The text handed back after OK, from the text handed in and what the user changed.
TEST(TariffForms, OkHandsBackFourteenEntriesAndCancelNothing) {
  const QString zoneTable = QStringLiteral("010101022902030103040104050105060106070107"
                                           "080108090109100110110111120112121513122314");
  struct TCase {
    const char* What;
    bool Zone;
    QString In;
    bool Ok;
    std::function<void(TTariffForm&)> Edit;
    QString Out;
  } cases[] = {
      {"empty, nothing picked", false, "", true, {}, ""},
      {"row 1 set to 08:00 T01", false, "", true,
       [](TTariffForm& f) {
         f.dtpValue[0]->setTime(QTime(8, 0));
         f.cmbNumber[0]->setCurrentIndex(0);
       },
       Repeat("080001", 14)},
      {"a gap in row 4", false, "000001060002120003", true,
       [](TTariffForm& f) {
         f.dtpValue[4]->setTime(QTime(18, 30));
         f.cmbNumber[4]->setCurrentIndex(3);
       },
       "000001060002120003120003" + Repeat("183004", 10)},
      {"number 00 repeats the row before", false, "0800011200001800020", true, {},
       "080001080001180002" + Repeat("180002", 11)},
      {"cancel keeps the text", false, "08000112", false,
       [](TTariffForm& f) { f.cmbNumber[0]->setCurrentIndex(5); }, "08000112"},
      {"a full zone table with 29 February", true, zoneTable, true, {}, zoneTable},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    std::unique_ptr<TTariffForm> editor;
    if (c.Zone) editor = std::make_unique<TAddTAForm>();
    else editor = std::make_unique<TAddTSForm>();
    EXPECT_EQ(RunEditor(*editor, c.In, c.Ok, c.Edit), c.Out);
  }
}
