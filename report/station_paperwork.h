#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "journal/journal.h"

namespace report {

// Writes `bytes` to `path` whole or not at all: into a file beside it first, then renamed over
// it, so that a full disk leaves no half certificate. False with the reason.
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string& error);

// A unit's certificate as a PDF, or its label in ZPL; none, with the reason, for a unit that
// gets none (no verdict; for a label, not passed).
bool CertificateOf(const journal::UnitRow& row, std::string& pdf, std::string& error);
bool LabelOf(const journal::UnitRow& row, std::string& zpl, std::string& error);

// What the station puts on paper for every unit once its verdict is committed: its certificate
// into a folder as <unit>.pdf, and for a passed unit a label on a printer. It works on a thread
// of its own, so that a slow or absent printer holds up no slot; what fails is told, and never
// changes a verdict.
class StationPaperwork {
  public:
    struct Settings {
        std::string certificates;  // the folder; empty: none
        std::string printer;       // HOST[:PORT]; empty: none
        std::chrono::milliseconds printer_timeout{5000};
    };
    struct Failure {
        journal::UnitRow row;
        std::string what;    // "certificate" or "label"
        std::string detail;  // the reason
    };

    // `told` is called from the paperwork's thread, one failure at a time.
    StationPaperwork(Settings settings, std::function<void(const Failure&)> told);
    ~StationPaperwork();
    StationPaperwork(const StationPaperwork&) = delete;
    StationPaperwork& operator=(const StationPaperwork&) = delete;

    // A unit whose row has its verdict; one without is left alone.
    void Add(const journal::UnitRow& row);
    // Waits for every unit added so far; none is taken after.
    void Finish();

  private:
    struct Thread;
    std::unique_ptr<Thread> thread_;
};

// The folder's file for a unit: its number, with anything but letters, digits, "-" and "_"
// made "_", and ".pdf".
std::string CertificateFileName(const std::string& unit);

}  // namespace report
