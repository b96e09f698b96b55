// make bench-paper: the time one certificate takes, and the report of a 1,000-unit batch, each
// from journal rows in memory to the PDF's bytes; the worst of RUNS runs beside its target.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "report/layouts.h"
#include "report/record.h"

namespace {

journal::UnitRow Row(int n) {
    journal::UnitRow row;
    row.id = "00000000-0000-4000-8000-" + std::to_string(100000000000 + n);
    row.unit = "BENCH1-" + std::to_string(10000 + n);
    row.batch = "B-1000";
    row.station = "bench1";
    row.slot = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.1:1.0-port0";
    row.operator_name = "anna";
    row.profile =
        R"({"sensor":"K","upper":300,"lower":-50,"output":"4-20","fault":"high","compensation":"on"})";
    row.profile_sha256 = "4aff407860234c4cd8d87b05040055ac767215417c4e9cd5840b1f9cac599b01";
    row.started_at = "2026-12-08T10:42:05.123Z";
    row.finished_at = "2026-12-08T10:42:11.456Z";
    row.firmware = "1.0.3";
    row.as_found = R"({"sensor":"PT100","upper":100,"lower":0,"output":"4-20","fault":"low"})";
    row.as_left = R"({"sensor":"K","upper":300,"lower":-50,"output":"4-20","fault":"high"})";
    row.cold_junction = 23.4;
    row.verdict = n % 20 == 0 ? "fail" : "pass";
    row.error = n % 20 == 0 ? "verify failed: upper reads 250, wrote 300" : "";
    row.tries = 1;
    return row;
}

template <typename Work>
double WorstSeconds(int runs, Work work) {
    double worst = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!work()) return -1;
        worst = std::max(
            worst, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return worst;
}

}  // namespace

int main() {
    const char* runs_text = std::getenv("RUNS");
    const int runs = runs_text ? std::max(1, std::atoi(runs_text)) : 10;
    std::vector<journal::UnitRow> rows;
    for (int n = 0; n < 1000; ++n) rows.push_back(Row(n));
    std::string error;
    const double certificate = WorstSeconds(runs, [&] {
        const auto record = report::UnitRecordOf(rows.front(), error);
        return record && report::CertificatePdf(*record, error).has_value();
    });
    const double batch = WorstSeconds(runs, [&] {
        const auto record = report::BatchRecordOf("B-1000", rows, error);
        return record && report::BatchReportPdf(*record, error).has_value();
    });
    if (certificate < 0 || batch < 0) {
        std::fprintf(stderr, "paper-bench: %s\n", error.c_str());
        return 1;
    }
    std::printf("certificate             %7.1f ms   target   50 ms\n", certificate * 1000);
    std::printf("batch of 1,000 units    %7.1f ms   target 5000 ms\n", batch * 1000);
    return certificate <= 0.05 && batch <= 5 ? 0 : 1;
}
