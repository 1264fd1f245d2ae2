#pragma once
// The time-zone table editor (caption Txt::ZoneCaption): 14 start dates (month and day), each with the day table
// (1 to 14) that applies from then on. See ui/TariffFrm.h for how it is used.
#include "ui/TariffFrm.h"

class TAddTAForm : public TTariffForm {
  Q_OBJECT

 public:
  explicit TAddTAForm(QWidget* parent = nullptr);
};
