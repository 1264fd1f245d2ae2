#include "ui/AddTAFrm.h"

TAddTAForm::TAddTAForm(QWidget* parent) : TTariffForm(TTariffKind::Zone, parent) {}
