#pragma once
// The time-segment table editor (caption Txt::SegmentCaption): 14 start times (hour and minute), each with the tariff
// number "T01" ... "T63" that applies from then on. See ui/TariffFrm.h for how it is used.
#include "ui/TariffFrm.h"

class TAddTSForm : public TTariffForm {
  Q_OBJECT

 public:
  explicit TAddTSForm(QWidget* parent = nullptr);
};
