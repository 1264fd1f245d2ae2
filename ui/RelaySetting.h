#pragma once
// The relay dialog (caption Txt::RelayCaption): the user edits the chain of relay addresses through which a
// command reaches the meter, and switches the chain on or off. The dialog edits the table it is
// handed and never owns it; only OK writes to it, so cancel leaves it as it was.
//
// How the main window uses it (one dialog per use):
//   TRouteTableForm dialog(*RouteTable, this);
//   if (dialog.exec() == QDialog::Accepted) { /* RouteTable now holds the edited chain */ }
#include <QDialog>

#include "protocol/DLT.h"
#include "ui/BaseFrm.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class TFilterEdit;

class TRouteTableForm : public TBaseForm<QDialog> {
  Q_OBJECT

 public:
  // Without a table handed in, the dialog edits one of its own, of maximum depth 3.
  explicit TRouteTableForm(QWidget* parent = nullptr);
  explicit TRouteTableForm(TRouteTable& table, QWidget* parent = nullptr);

  TFilterEdit* RouteAddress = nullptr;  // 12 digits at most
  QTreeWidget* RouteListView = nullptr;  // number, address, description
  QCheckBox* cbxStartRT = nullptr;
  QLabel* lbMaxDepth = nullptr;
  QPushButton* btnAddNode = nullptr;
  QPushButton* btnDelNode = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

  TRouteTable* Table = nullptr;  // the table edited; not owned

  // Handlers
  void btnAddNodeClick();
  void btnDelNodeClick();
  void btnOKClick();
  void RouteListViewClick();

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void AppendRow(const QString& address);
  void Renumber();

  TRouteTable OwnTable{3};
};
