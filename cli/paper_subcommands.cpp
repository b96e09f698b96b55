#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/central_link.h"
#include "cli/subcommands.h"
#include "cli/unit_record.h"
#include "report/printer_link.h"
#include "report/record.h"
#include "report/station_paperwork.h"
#ifdef CONFIGURATOR_WITH_PDF
#include "report/layouts.h"
#endif

namespace {

// The rows of the journal the options name, local or central; the exit code instead (said).
std::optional<int> JournalRows(const Session& session, const Request& request,
                               const journal::Filter& filter, std::vector<journal::UnitRow>& rows) {
    std::string central;
    if (auto code = CentralUrl(session, request, false, central)) return *code;
    std::optional<JournalSource> source;
    if (!central.empty()) {
        source = CentralSource(session, central);
        if (!source) return kExitDevice;
    } else {
        std::shared_ptr<journal::Journal> journal = ReadJournal(session, request);
        if (!journal) return kExitUsage;
        source = LocalSource(std::move(journal));
    }
    std::string error;
    rows = source->rows(filter, error);
    if (!error.empty()) return session.Fail(kExitDevice, error);
    return std::nullopt;
}

// The one row whose unit number or id is `wanted`; the exit code instead (said).
std::optional<int> TheUnit(const Session& session, const Request& request,
                           journal::UnitRow& found) {
    std::vector<journal::UnitRow> rows;
    if (auto code = JournalRows(session, request, {}, rows)) return *code;
    int matches = 0;
    for (const journal::UnitRow& row : rows) {
        if (row.id == request.unit_or_id) {
            found = row;
            return std::nullopt;
        }
        if (row.unit == request.unit_or_id) {
            found = row;
            ++matches;
        }
    }
    const std::string shown = report::PrintableText(request.unit_or_id);
    if (matches == 0) return session.Fail(kExitDevice, "the journal has no unit " + shown);
    if (matches > 1) {
        return session.Fail(kExitUsage, std::to_string(matches) + " units are numbered " + shown +
                                            " (from different stations): name it by its id");
    }
    return std::nullopt;
}

int Written(const Session& session, const std::string& what, const std::string& file,
            const std::string& bytes) {
    std::string error;
    if (!report::WriteWholeFile(file, bytes, error)) return session.Fail(kExitDevice, error);
    const std::string sha256 = journal::Sha256Hex(bytes);
    if (session.json) {
        session.PrintJson(
            Json{{"file", file}, {"of", what}, {"bytes", bytes.size()}, {"sha256", sha256}});
    } else {
        session.Print("wrote " + file + " (" + what + ", " + std::to_string(bytes.size()) +
                      " bytes, sha256 " + sha256 + ")");
    }
    return kExitOk;
}

}  // namespace

int RunCertificate(const Session& session, const Request& request) {
    if (request.unit_or_id.empty() && request.batch.empty()) {
        return session.Fail(kExitUsage, "name a unit, or a batch with --batch");
    }
    std::string bytes, error;
    if (!request.batch.empty()) {
#ifdef CONFIGURATOR_WITH_PDF
        std::vector<journal::UnitRow> rows;
        journal::Filter filter;
        filter.batch = request.batch;
        if (auto code = JournalRows(session, request, filter, rows)) return *code;
        const std::optional<report::BatchRecord> record =
            report::BatchRecordOf(request.batch, rows, error);
        if (!record) return session.Fail(kExitDevice, error);
        std::optional<std::string> pdf = report::BatchReportPdf(*record, error);
        if (!pdf) return session.Fail(kExitDevice, error);
        return Written(session, "batch " + record->batch, request.output_file, *pdf);
#else
        return session.Fail(kExitDevice, "this build of the program makes no PDF");
#endif
    }
    journal::UnitRow row;
    if (auto code = TheUnit(session, request, row)) return *code;
    if (!report::CertificateOf(row, bytes, error)) return session.Fail(kExitDevice, error);
    return Written(session, "unit " + report::PrintableText(row.unit), request.output_file, bytes);
}

int RunLabel(const Session& session, const Request& request) {
    if (!request.printer.empty()) {
        std::string host, port, error;
        if (!report::PrinterAddressOf(request.printer, host, port, error)) {
            return session.Fail(kExitUsage, error);
        }
    }
    journal::UnitRow row;
    if (auto code = TheUnit(session, request, row)) return *code;
    std::string zpl, error;
    if (!report::LabelOf(row, zpl, error)) return session.Fail(kExitDevice, error);
    if (request.printer.empty()) {
        session.io.out << zpl;
        return kExitOk;
    }
    if (!report::SendToPrinter(request.printer, zpl, std::chrono::seconds(5), error)) {
        return session.Fail(kExitDevice, error);
    }
    const std::string unit = report::PrintableText(row.unit);
    if (session.json) {
        session.PrintJson(
            Json{{"unit", unit}, {"printer", request.printer}, {"bytes", zpl.size()}});
    } else {
        session.Print("printed the label of " + unit + " on " + request.printer);
    }
    return kExitOk;
}
