#pragma once
// The data identifier picker (caption Txt::PickerCaption): the six lists of the identifier catalogue, from which
// the user picks the identifier of the command being composed. It is also the main window's
// look-up table for a typed identifier. One picker is made at start-up and kept to the end, so
// the last row selected is still selected when it is opened again.
//
// How the main window uses it (through the global IdentifierDltForm):
//   picking:  IdentifierDltForm->GivenIdentifier = current;   // DI in use, Access 0 read / 1 write
//             if (IdentifierDltForm->exec() == QDialog::Accepted) current = IdentifierDltForm->PickedIdentifier;
//   typing:   IdentifierDltForm->GivenIdentifier = record;    // DI typed, Access wanted
//             record.Found = IdentifierDltForm->LookupIdentifier(code, record);
//
// What a row yields comes from protocol/Catalog; the window only holds the selection.
#include <QDialog>
#include <array>
#include <string>

#include "protocol/Catalog.h"
#include "protocol/DLT.h"
#include "ui/BaseFrm.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class TIdentifierDltForm : public TBaseForm<QDialog> {
  Q_OBJECT

 public:
  explicit TIdentifierDltForm(QWidget* parent = nullptr);
  ~TIdentifierDltForm() override;

  // The lists, in catalogue order (lbxEnergy ... lbxPower), also reachable by TCatalogListId.
  QListWidget* lbxEnergy = nullptr;
  QListWidget* lbxMD = nullptr;
  QListWidget* lbxVar = nullptr;
  QListWidget* lbxParam = nullptr;
  QListWidget* lbxEvent = nullptr;
  QListWidget* lbxPower = nullptr;
  std::array<QListWidget*, CatalogListCount> Lists{};
  QLineEdit* edtCode = nullptr;  // read-only; nothing reads it back
  QLabel* lbName = nullptr;
  QPushButton* bbtSelect = nullptr;
  QPushButton* bbtExit = nullptr;

  std::string CurrentRow;            // the row last selected in any list; empty until then
  TIdentifierDlt GivenIdentifier;    // set by the caller before each use
  TIdentifierDlt PickedIdentifier;   // the result after the picker closed with OK

  // True and `record` filled when `code` is in the catalogue with the access GivenIdentifier
  // asks for; false and `record` unchanged otherwise. Shows no message.
  bool LookupIdentifier(const std::string& code, TIdentifierDlt& record) const;

  // Handlers
  void lbxEnergyClick() { ListClick(clEnergy); }
  void lbxMDClick() { ListClick(clMD); }
  void lbxVarClick() { ListClick(clVar); }
  void lbxParamClick() { ListClick(clParam); }
  void lbxEventClick() { ListClick(clEvent); }
  void lbxPowerClick() { ListClick(clPower); }
  void lbxEnergyDblClick(QListWidget* list);  // bound to all six lists
  void bbtSelectClick();
  void bbtExitClick();
  void ShowRow(QListWidget* list);

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* BuildPanel(TCatalogListId id);
  void ListClick(TCatalogListId id);
  void SelectionChanged(TCatalogListId id);

  bool Clearing = false;  // the other lists' selections are being cleared
};

// The one picker of the program, made at start-up; nullptr before and after.
extern TIdentifierDltForm* IdentifierDltForm;
