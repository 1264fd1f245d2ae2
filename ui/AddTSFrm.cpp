#include "ui/AddTSFrm.h"

TAddTSForm::TAddTSForm(QWidget* parent) : TTariffForm(TTariffKind::Segment, parent) {}
