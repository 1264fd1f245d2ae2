#include "ui/TariffFrm.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

#include "ui/Controls.h"
#include "ui/Texts.h"

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

// The zone editor's dates lie in this leap year, so that 29 February can always be shown and
// picked; only month and day are displayed and used.
constexpr int ZoneYear = 2000;

QString NumberEntry(TTariffKind kind, int number) {
  if (kind == TTariffKind::Segment) return QStringLiteral("T%1").arg(number, 2, 10, QLatin1Char('0'));
  return U(Txt::Ordinal) + QString::number(number) + U(Txt::DayTableEntryTail);
}

QString RowLabel(TTariffKind kind, int row) {
  const char* tail = kind == TTariffKind::Segment ? Txt::SegmentRowLabelTail : Txt::ZoneRowLabelTail;
  return U(Txt::Ordinal) + QString::number(row) + U(tail);
}

}  // namespace

TTariffForm::TTariffForm(TTariffKind kind, QWidget* parent)
    : TBaseForm<QDialog>(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                     Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Kind(kind) {
  FormCreate();
}

void TTariffForm::FormCreate() {
  setObjectName(Kind == TTariffKind::Segment ? QStringLiteral("AddTSForm") : QStringLiteral("AddTAForm"));
  setWindowTitle(U(Kind == TTariffKind::Segment ? Txt::SegmentCaption : Txt::ZoneCaption));
  setWindowIcon(AppIcon());
  setModal(true);

  auto* rows = new QGridLayout;
  rows->setHorizontalSpacing(8);
  rows->setVerticalSpacing(4);
  for (int i = 0; i < TariffRowCount; ++i) {
    AddRow(i);
    rows->addWidget(lbValue[i], i, 0);
    rows->addWidget(dtpValue[i], i, 1);
    rows->addWidget(lbNumber[i], i, 2);
    rows->addWidget(cmbNumber[i], i, 3);
  }

  rbbOK = new QPushButton(U(Txt::Ok), this);
  rbbCancel = new QPushButton(U(Txt::Cancel), this);
  rbbOK->setDefault(true);
  connect(rbbOK, &QPushButton::clicked, this, &TTariffForm::rbbOKClick);
  connect(rbbCancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {rbbOK, rbbCancel}) {
    b->setMinimumWidth(75);
    buttons->addWidget(b);
  }

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 8);
  layout->addLayout(rows);
  layout->addSpacing(6);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  adjustSize();
  CentreOnScreen();
}

// One row: its label, its value at the current time (today), its number label and an empty list.
void TTariffForm::AddRow(int index) {
  const bool segment = Kind == TTariffKind::Segment;
  lbValue[index] = new QLabel(RowLabel(Kind, index + 1), this);
  auto* value = new QDateTimeEdit(this);
  if (segment) {
    value->setDisplayFormat(QStringLiteral("HH:mm"));
    value->setTime(QTime::currentTime());
  } else {
    value->setDisplayFormat(QStringLiteral("MM'") + U(Txt::MonthSuffix) + QStringLiteral("'dd'") +
                            U(Txt::DaySuffix) + QStringLiteral("'"));
    value->setDateRange(QDate(ZoneYear, 1, 1), QDate(ZoneYear, 12, 31));
    const QDate today = QDate::currentDate();
    value->setDate(QDate(ZoneYear, today.month(), today.day()));
  }
  dtpValue[index] = value;
  lbNumber[index] = new QLabel(U(segment ? Txt::LblTariffNumber : Txt::LblDayTableNumber), this);
  auto* list = new QComboBox(this);
  list->setEditable(false);
  list->setMaxVisibleItems(20);
  // A drop-down list of 20 rows, not a pop-up over the whole screen as some styles draw it.
  list->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
  for (int k = 1; k <= TariffNumberCount(Kind); ++k) list->addItem(NumberEntry(Kind, k));
  list->setCurrentIndex(-1);
  cmbNumber[index] = list;
}

void TTariffForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) LoadRows(TableText);  // FormShow
  TBaseForm<QDialog>::showEvent(event);
}

TTariffRows TTariffForm::ReadRows() const {
  TTariffRows rows;
  for (int i = 0; i < TariffRowCount; ++i) {
    const QDateTimeEdit* value = dtpValue[i];
    const bool segment = Kind == TTariffKind::Segment;
    rows[i].High = segment ? value->time().hour() : value->date().month();
    rows[i].Low = segment ? value->time().minute() : value->date().day();
    rows[i].Number = cmbNumber[i]->currentIndex() + 1;  // 0 when nothing is picked
  }
  return rows;
}

void TTariffForm::WriteRow(int index, const TTariffRow& row) {
  if (Kind == TTariffKind::Segment) {
    const QTime old = dtpValue[index]->time();
    dtpValue[index]->setTime(QTime(row.High, row.Low, old.second(), old.msec()));
  } else {
    dtpValue[index]->setDate(QDate(ZoneYear, row.High, row.Low));
  }
  cmbNumber[index]->setCurrentIndex(row.Number - 1);  // -1: no selection
}

void TTariffForm::LoadRows(const QString& text) {
  TTariffRows rows = ReadRows();
  const int loaded = ::LoadRows(Kind, text.toStdString(), rows);
  for (int i = 0; i < loaded; ++i) WriteRow(i, rows[i]);
}

QString TTariffForm::BuildTableText() const {
  return QString::fromStdString(::BuildTableText(Kind, ReadRows()));
}

void TTariffForm::rbbOKClick() {
  TableText = BuildTableText();
  accept();
}
