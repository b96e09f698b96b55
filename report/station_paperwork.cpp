#include "report/station_paperwork.h"

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "report/label_zpl.h"
#include "report/printer_link.h"
#include "report/record.h"
#ifdef CONFIGURATOR_WITH_PDF
#include "report/layouts.h"
#endif

namespace report {
namespace {

std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string& error) {
    const std::filesystem::path target = PathOf(path);
    std::filesystem::path partial = target;
    partial += ".partial";
    {
        errno = 0;
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            // What the C library last said is the reason: no folder, no permission, no space.
            const int reason = errno;
            std::error_code ignored;
            std::filesystem::remove(partial, ignored);
            error = "cannot write " + path + ": " +
                    (reason != 0 ? std::generic_category().message(reason)
                                 : std::string("the file could not be written"));
            return false;
        }
    }
    std::error_code renamed;
    std::filesystem::rename(partial, target, renamed);
    if (renamed) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        error = "cannot write " + path + ": " + renamed.message();
        return false;
    }
    return true;
}

bool CertificateOf(const journal::UnitRow& row, std::string& pdf, std::string& error) {
#ifdef CONFIGURATOR_WITH_PDF
    const std::optional<UnitRecord> record = UnitRecordOf(row, error);
    if (!record) return false;
    std::optional<std::string> bytes = CertificatePdf(*record, error);
    if (!bytes) return false;
    pdf = std::move(*bytes);
    return true;
#else
    (void)row;
    (void)pdf;
    error = "this build of the program makes no PDF";
    return false;
#endif
}

bool LabelOf(const journal::UnitRow& row, std::string& zpl, std::string& error) {
    const std::optional<UnitRecord> record = UnitRecordOf(row, error);
    if (!record) return false;
    if (!record->passed) {
        error = "unit " + record->unit + " failed: a label would give it a range it was not set to";
        return false;
    }
    zpl = LabelZpl(*record);
    return true;
}

std::string CertificateFileName(const std::string& unit) {
    std::string name;
    for (char c : unit) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_';
        name += plain ? c : '_';
    }
    return (name.empty() ? "unit" : name) + ".pdf";
}

struct StationPaperwork::Thread {
    Settings settings;
    std::function<void(const Failure&)> told;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<journal::UnitRow> waiting;
    bool finishing = false;
    std::thread worker;

    void Run() {
        for (;;) {
            journal::UnitRow row;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return finishing || !waiting.empty(); });
                if (waiting.empty()) return;
                row = std::move(waiting.front());
                waiting.pop_front();
            }
            Handle(row);
        }
    }

    void Handle(const journal::UnitRow& row) {
        std::string error;
        if (!settings.certificates.empty()) {
            std::string pdf;
            const std::u8string file =
                (PathOf(settings.certificates) / CertificateFileName(row.unit)).u8string();
            const std::string path(file.begin(), file.end());
            if (!CertificateOf(row, pdf, error) || !WriteWholeFile(path, pdf, error)) {
                told(Failure{row, "certificate", error});
            }
        }
        if (!settings.printer.empty() && row.verdict == "pass") {
            std::string zpl;
            if (!LabelOf(row, zpl, error) ||
                !SendToPrinter(settings.printer, zpl, settings.printer_timeout, error)) {
                told(Failure{row, "label", error});
            }
        }
    }
};

StationPaperwork::StationPaperwork(Settings settings, std::function<void(const Failure&)> told)
    : thread_(std::make_unique<Thread>()) {
    thread_->settings = std::move(settings);
    thread_->told = std::move(told);
    thread_->worker = std::thread([this] { thread_->Run(); });
}

StationPaperwork::~StationPaperwork() {
    Finish();
}

void StationPaperwork::Add(const journal::UnitRow& row) {
    if (row.verdict.empty()) return;
    {
        const std::lock_guard lock(thread_->mutex);
        if (thread_->finishing) return;
        thread_->waiting.push_back(row);
    }
    thread_->changed.notify_one();
}

void StationPaperwork::Finish() {
    {
        const std::lock_guard lock(thread_->mutex);
        thread_->finishing = true;
    }
    thread_->changed.notify_one();
    if (thread_->worker.joinable()) thread_->worker.join();
}

}  // namespace report
