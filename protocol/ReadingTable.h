#pragma once
// The rows of the reading table that come from the identifier tables of DL/T 645-2007 Appendix A
// (energy, maximum demand, variables, event records), written by ReadingTable.py.
#include <vector>

#include "protocol/Reading.h"

const std::vector<TReadingFormat>& AppendixRows();
