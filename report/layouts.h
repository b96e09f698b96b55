#pragma once

#include <optional>
#include <string>

#include "report/record.h"

// The pages themselves: where each part of a record goes. Each gives the PDF's bytes, or none
// with the reason.
namespace report {

// One A4 page: Russian headings with English beneath, the unit's number and the record's id
// on the page, the QR code of the id and the profile's hash.
std::optional<std::string> CertificatePdf(const UnitRecord& record, std::string& error);
// As many A4 pages as the units take, each with the batch's name and "page N of M", the
// totals on the last.
std::optional<std::string> BatchReportPdf(const BatchRecord& record, std::string& error);

}  // namespace report
