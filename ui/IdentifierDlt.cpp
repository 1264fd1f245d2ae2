#include "ui/IdentifierDlt.h"

#include <QBoxLayout>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>

#include "ui/Controls.h"
#include "ui/Prompt.h"
#include "ui/Texts.h"

TIdentifierDltForm* IdentifierDltForm = nullptr;

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }
QString U(const std::string& text) { return QString::fromStdString(text); }

constexpr int ListHeight = 245;  // two rows of panels fit a 1366x768 screen with room to spare
constexpr int PanelColumns = 3;

// Wide enough for the longest row of the list and its scroll bar.
int ListWidth(const QListWidget* list) {
  const QFontMetrics metrics(list->font());
  int widest = 0;
  for (int i = 0; i < list->count(); ++i) widest = qMax(widest, metrics.horizontalAdvance(list->item(i)->text()));
  return widest + list->verticalScrollBar()->sizeHint().width() + 2 * list->frameWidth() + 12;
}

}  // namespace

TIdentifierDltForm::TIdentifierDltForm(QWidget* parent)
    : TBaseForm<QDialog>(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                     Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("IdentifierDltForm"));
  setWindowTitle(U(Txt::PickerCaption));
  setWindowIcon(AppIcon());
  setModal(true);

  auto* lbCode = new QLabel(U(Txt::LblCode), this);
  edtCode = new QLineEdit(this);
  edtCode->setObjectName(QStringLiteral("edtCode"));
  edtCode->setReadOnly(true);
  edtCode->setFixedWidth(QFontMetrics(edtCode->font()).horizontalAdvance(QStringLiteral("00000000")) + 16);
  lbName = new QLabel(U(Txt::PickerHint), this);
  lbName->setObjectName(QStringLiteral("lbName"));
  auto* top = new QHBoxLayout;
  top->addWidget(lbCode);
  top->addWidget(edtCode);
  top->addSpacing(12);
  top->addWidget(lbName, 1);

  auto* panels = new QGridLayout;
  for (int i = 0; i < CatalogListCount; ++i)
    panels->addWidget(BuildPanel(static_cast<TCatalogListId>(i)), i / PanelColumns, i % PanelColumns);
  lbxEnergy = Lists[clEnergy];
  lbxMD = Lists[clMD];
  lbxVar = Lists[clVar];
  lbxParam = Lists[clParam];
  lbxEvent = Lists[clEvent];
  lbxPower = Lists[clPower];

  bbtSelect = new QPushButton(U(Txt::BtnPickSelect), this);
  bbtExit = new QPushButton(U(Txt::BtnPickClose), this);
  bbtSelect->setDefault(true);
  connect(bbtSelect, &QPushButton::clicked, this, &TIdentifierDltForm::bbtSelectClick);
  connect(bbtExit, &QPushButton::clicked, this, &TIdentifierDltForm::bbtExitClick);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {bbtSelect, bbtExit}) {
    b->setMinimumWidth(100);
    buttons->addWidget(b);
  }

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addLayout(top);
  layout->addLayout(panels);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  adjustSize();
  CentreOnScreen();
}

TIdentifierDltForm::~TIdentifierDltForm() {
  if (IdentifierDltForm == this) IdentifierDltForm = nullptr;
}

QWidget* TIdentifierDltForm::BuildPanel(TCatalogListId id) {
  const TCatalogList& source = CatalogList(id);
  auto* panel = new QGroupBox(U(source.Title), this);
  auto* list = new QListWidget(panel);
  list->setObjectName(U(source.Name));
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  for (const std::string& row : source.Rows) list->addItem(U(row));
  list->setMinimumWidth(ListWidth(list));
  list->setFixedHeight(ListHeight);
  Lists[id] = list;

  connect(list, &QListWidget::itemSelectionChanged, this, [this, id] { SelectionChanged(id); });
  // A double-click anywhere in the list, on a row or on the empty area below the rows.
  list->viewport()->installEventFilter(this);
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addWidget(list);
  return panel;
}

bool TIdentifierDltForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    for (QListWidget* list : Lists)
      if (watched == list->viewport()) {
        lbxEnergyDblClick(list);  // the first click has made the row current
        break;
      }
  }
  return TBaseForm<QDialog>::eventFilter(watched, event);
}

void TIdentifierDltForm::SelectionChanged(TCatalogListId id) {
  // Clearing the other lists is not a selection.
  if (Clearing) return;
  if (Lists[id]->selectedItems().isEmpty()) {
    // The user took the selection away (Ctrl and a click): no row is current any more.
    CurrentRow.clear();
    edtCode->clear();
    return;
  }
  switch (id) {
    case clEnergy: lbxEnergyClick(); break;
    case clMD: lbxMDClick(); break;
    case clVar: lbxVarClick(); break;
    case clParam: lbxParamClick(); break;
    case clEvent: lbxEventClick(); break;
    case clPower: lbxPowerClick(); break;
  }
}

void TIdentifierDltForm::ListClick(TCatalogListId id) {
  Clearing = true;
  for (QListWidget* other : Lists)
    if (other != Lists[id]) other->clearSelection();
  Clearing = false;
  ShowRow(Lists[id]);
}

void TIdentifierDltForm::ShowRow(QListWidget* list) {
  const QList<QListWidgetItem*> selected = list->selectedItems();
  if (selected.isEmpty()) return;
  CurrentRow = selected.first()->text().toStdString();
  const TShownRow shown = ::ShowRow(CurrentRow);
  if (shown.Separator) {
    edtCode->clear();  // the name keeps its text
    return;
  }
  edtCode->setText(U(shown.Code));
  lbName->setText(U(shown.Label));
}

void TIdentifierDltForm::lbxEnergyDblClick(QListWidget* list) {
  // The click before the double-click has made the row current already.
  if (!list->selectedItems().isEmpty()) bbtSelect->click();
}

void TIdentifierDltForm::bbtSelectClick() {
  const TSelectResult result = SelectRow(CurrentRow, GivenIdentifier);
  if (!result.Ok) {
    ShowPrompt(U(result.Message));  // the picker stays open, its selection unchanged
    return;
  }
  PickedIdentifier = result.Picked;
  accept();
}

void TIdentifierDltForm::bbtExitClick() { reject(); }

bool TIdentifierDltForm::LookupIdentifier(const std::string& code, TIdentifierDlt& record) const {
  TIdentifierDlt working = GivenIdentifier;  // carries the access the caller wants
  if (!::LookupIdentifier(code, working)) return false;
  record = working;
  return true;
}

void TIdentifierDltForm::showEvent(QShowEvent* event) {
  TBaseForm<QDialog>::showEvent(event);
  // The row selected last time is selected still; bring it into view and give it the focus.
  for (QListWidget* list : Lists) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty()) continue;
    list->scrollToItem(selected.first());
    list->setFocus();
  }
}
