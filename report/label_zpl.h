#pragma once

#include <string>

#include "report/record.h"

namespace report {

// The label for a unit's housing in ZPL, the language of Zebra-compatible label printers, for
// a 50 × 25 mm label at 203 dpi: the unit's number, sensor, range, output and date, and a QR
// code of the record's id and the profile's hash that the printer draws itself (^BQ). Text in
// UTF-8 (^CI28), every field hex-escaped where ZPL would take it for a command.
std::string LabelZpl(const UnitRecord& record);

}  // namespace report
