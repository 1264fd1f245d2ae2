#pragma once
// The one design of the two tariff table editors (TAddTSForm, TAddTAForm): 14 rows, each with a
// label, a value picker and a list of numbers that can only be picked, then OK and cancel. The
// window only moves values between the rows and the widgets; the table texts are loaded and
// built by protocol/TariffTable.
//
// How the main window uses an editor (one per use):
//   TAddTSForm editor(this);
//   editor.TableText = edtData->text();
//   if (editor.exec() == QDialog::Accepted) edtData->setText(editor.TableText);
#include <QDialog>
#include <QString>
#include <array>

#include "protocol/TariffTable.h"
#include "ui/BaseFrm.h"

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QPushButton;

class TTariffForm : public TBaseForm<QDialog> {
  Q_OBJECT

 public:
  TTariffForm(TTariffKind kind, QWidget* parent);

  // Handed in by the opener before showing; the result after OK.
  QString TableText;

  std::array<QLabel*, TariffRowCount> lbValue{};
  std::array<QDateTimeEdit*, TariffRowCount> dtpValue{};  // "HH:mm", or month and day
  std::array<QLabel*, TariffRowCount> lbNumber{};
  std::array<QComboBox*, TariffRowCount> cmbNumber{};     // pick only; no selection at first
  QPushButton* rbbOK = nullptr;
  QPushButton* rbbCancel = nullptr;

  void LoadRows(const QString& text);
  QString BuildTableText() const;
  void rbbOKClick();

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow

 private:
  void FormCreate();
  void AddRow(int index);
  TTariffRows ReadRows() const;
  void WriteRow(int index, const TTariffRow& row);

  const TTariffKind Kind;
};
