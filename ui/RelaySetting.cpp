#include "ui/RelaySetting.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>

#include "protocol/PublicFunc.h"
#include "ui/Controls.h"
#include "ui/Prompt.h"
#include "ui/Texts.h"

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

constexpr int AddressLength = 12;
enum TColumn { colNumber = 0, colAddress, colDescription };

// "R  " and the row's position counted from 1.
QString RowNumber(int position) { return QStringLiteral("R  ") + QString::number(position); }

}  // namespace

TRouteTableForm::TRouteTableForm(QWidget* parent) : TRouteTableForm(OwnTable, parent) {}

TRouteTableForm::TRouteTableForm(TRouteTable& table, QWidget* parent)
    : TBaseForm<QDialog>(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                     Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Table(&table) {
  FormCreate();
}

void TRouteTableForm::FormCreate() {
  setObjectName(QStringLiteral("RouteTableForm"));
  setWindowTitle(U(Txt::RelayCaption));
  setWindowIcon(AppIcon());
  setModal(true);

  auto* lbAddress = new QLabel(U(Txt::LblRelayAddress), this);
  RouteAddress = new TFilterEdit(this);
  RouteAddress->setObjectName(QStringLiteral("RouteAddress"));
  RouteAddress->SetKeyFilter(FilterDigitKey);
  RouteAddress->SetMaxLength(AddressLength);
  RouteAddress->setMaxLength(AddressLength);
  RouteAddress->installEventFilter(this);

  RouteListView = new QTreeWidget(this);
  RouteListView->setObjectName(QStringLiteral("RouteListView"));
  RouteListView->setHeaderLabels({U(Txt::ColRelayNumber), U(Txt::ColRelayAddress), U(Txt::ColRelayDesc)});
  RouteListView->setRootIsDecorated(false);
  RouteListView->setSelectionMode(QAbstractItemView::SingleSelection);
  RouteListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  RouteListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  RouteListView->header()->resizeSection(colNumber, 70);
  RouteListView->header()->resizeSection(colAddress, 110);
  RouteListView->setMinimumSize(360, 180);
  connect(RouteListView, &QTreeWidget::itemClicked, this, &TRouteTableForm::RouteListViewClick);

  cbxStartRT = new QCheckBox(U(Txt::StartRoute), this);
  lbMaxDepth = new QLabel(U(Txt::LblMaxDepth), this);

  btnAddNode = new QPushButton(U(Txt::BtnAddNode), this);
  btnDelNode = new QPushButton(U(Txt::BtnDelNode), this);
  btnOK = new QPushButton(U(Txt::Ok), this);
  btnCancel = new QPushButton(U(Txt::Cancel), this);
  // Enter adds in the address field and does nothing elsewhere: no button is a default one.
  for (QPushButton* b : {btnAddNode, btnDelNode, btnOK, btnCancel}) {
    b->setAutoDefault(false);
    b->setMinimumWidth(75);
  }
  connect(btnAddNode, &QPushButton::clicked, this, &TRouteTableForm::btnAddNodeClick);
  connect(btnDelNode, &QPushButton::clicked, this, &TRouteTableForm::btnDelNodeClick);
  connect(btnOK, &QPushButton::clicked, this, &TRouteTableForm::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* top = new QHBoxLayout;
  top->addWidget(lbAddress);
  top->addWidget(RouteAddress, 1);
  top->addWidget(btnAddNode);
  top->addWidget(btnDelNode);
  auto* options = new QHBoxLayout;
  options->addWidget(cbxStartRT);
  options->addStretch(1);
  options->addWidget(lbMaxDepth);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addLayout(top);
  layout->addWidget(RouteListView, 1);
  layout->addLayout(options);
  layout->addLayout(buttons);
  adjustSize();
  CentreOnScreen();
}

void TRouteTableForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) FormShow();
  TBaseForm<QDialog>::showEvent(event);
}

void TRouteTableForm::FormShow() {
  RouteListView->clear();
  for (const std::string& address : Table->Addresses) AppendRow(QString::fromStdString(address));
  cbxStartRT->setChecked(Table->Enabled);
  lbMaxDepth->setText(U(Txt::LblMaxDepth) + QString::number(Table->MaxDepth));
}

void TRouteTableForm::AppendRow(const QString& address) {
  auto* row = new QTreeWidgetItem(RouteListView);
  row->setText(colNumber, RowNumber(RouteListView->topLevelItemCount()));
  row->setText(colAddress, address);
}

void TRouteTableForm::Renumber() {
  for (int i = 0; i < RouteListView->topLevelItemCount(); ++i)
    RouteListView->topLevelItem(i)->setText(colNumber, RowNumber(i + 1));
}

void TRouteTableForm::btnAddNodeClick() {
  const QString typed = RouteAddress->text();
  if (typed.isEmpty()) {
    ShowPrompt(U(Txt::RelayEmpty));
    return;
  }
  // The depth first: a full list refuses before the address is padded or compared.
  if (RouteListView->topLevelItemCount() >= Table->MaxDepth) {
    ShowPrompt(U(Txt::RelayTooDeep));
    return;
  }
  const QString address = QString::fromStdString(PadAddress(typed.toStdString()));
  if (!RouteListView->findItems(address, Qt::MatchExactly, colAddress).isEmpty()) {
    ShowPrompt(U(Txt::RelayDuplicate));
    return;
  }
  AppendRow(address);
  QTreeWidgetItem* row = RouteListView->topLevelItem(RouteListView->topLevelItemCount() - 1);
  RouteListView->setCurrentItem(row);
  RouteListView->scrollToItem(row);
  cbxStartRT->setChecked(true);
  // The next address typed replaces this one instead of being appended to it.
  RouteAddress->setFocus(Qt::OtherFocusReason);
  RouteAddress->selectAll();
}

void TRouteTableForm::btnDelNodeClick() {
  if (RouteListView->topLevelItemCount() == 0) {
    ShowPrompt(U(Txt::RelayNone));
    return;
  }
  const QList<QTreeWidgetItem*> selected = RouteListView->selectedItems();
  if (selected.isEmpty()) {
    ShowPrompt(U(Txt::RelayNoSelection));
    return;
  }
  delete selected.first();
  Renumber();  // the check box stays as it is
}

void TRouteTableForm::RouteListViewClick() {
  const QList<QTreeWidgetItem*> selected = RouteListView->selectedItems();
  if (!selected.isEmpty()) RouteAddress->setText(selected.first()->text(colAddress));
}

void TRouteTableForm::btnOKClick() {
  Table->Addresses.clear();
  for (int i = 0; i < RouteListView->topLevelItemCount(); ++i)
    Table->Addresses.push_back(RouteListView->topLevelItem(i)->text(colAddress).toStdString());
  Table->SetEnabled(cbxStartRT->isChecked());  // a checked box with no relay leaves it off
  accept();
}

bool TRouteTableForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == RouteAddress && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      btnAddNodeClick();
      return true;  // the Enter itself goes no further
    }
  }
  return TBaseForm<QDialog>::eventFilter(watched, event);
}
