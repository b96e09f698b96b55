#include <algorithm>

#include "report/layouts.h"
#include "report/pdf_document.h"

namespace report {
namespace {

constexpr float kLeft = 42, kRight = PdfDocument::kWidth - 42;
constexpr float kTop = PdfDocument::kHeight - 56;
constexpr float kLineHeight = 12;
constexpr float kBottom = 62;
// What the summary of the first page and the totals of the last one take.
constexpr float kSummaryHeight = 150, kTotalsHeight = 96, kHeaderHeight = 58;

std::string Joined(const std::vector<std::string>& values) {
    std::string text;
    for (const std::string& value : values) text += (text.empty() ? "" : ", ") + value;
    return text.empty() ? "—" : text;
}

std::string Shown(const std::string& value) {
    return value.empty() ? "—" : value;
}

// How many unit lines go on each page: fewer on the first, under the summary, and room for the
// totals on the last.
std::vector<std::size_t> Pagination(std::size_t lines) {
    const auto fits = [](float height) {
        return static_cast<std::size_t>((kTop - kHeaderHeight - height - kBottom) / kLineHeight);
    };
    std::vector<std::size_t> pages;
    std::size_t left = lines;
    do {
        const std::size_t room = fits(pages.empty() ? kSummaryHeight : 0);
        const std::size_t taken = std::min(left, room);
        pages.push_back(taken);
        left -= taken;
        // The totals need room under the last lines.
        if (left == 0 && room - taken < static_cast<std::size_t>(kTotalsHeight / kLineHeight) + 1) {
            pages.push_back(0);
        }
    } while (left > 0);
    return pages;
}

class BatchPages {
  public:
    BatchPages(PdfDocument& pdf, const BatchRecord& record) : pdf_(pdf), record_(record) {}

    void Draw() {
        const std::vector<std::size_t> pages = Pagination(record_.lines.size());
        std::size_t next = 0;
        for (std::size_t page = 0; page < pages.size(); ++page) {
            pdf_.NewPage();
            Header(page + 1, pages.size());
            if (page == 0) Summary();
            if (pages[page] > 0) Lines(next, pages[page]);
            next += pages[page];
            if (page + 1 == pages.size()) Totals();
        }
    }

  private:
    void Header(std::size_t page, std::size_t pages) {
        y_ = kTop;
        pdf_.Text(kLeft, y_, 17, "Отчёт по партии");
        pdf_.Text(kLeft, y_ - 13, 9.5f, "Batch report");
        pdf_.TextRight(kRight, y_, 12, pdf_.Fitted("Партия / Batch " + record_.batch, 12, 300));
        const std::string numbers = "стр. " + std::to_string(page) + " из " +
                                    std::to_string(pages) + " / page " + std::to_string(page) +
                                    " of " + std::to_string(pages);
        pdf_.TextRight(kRight, y_ - 13, 8, numbers);
        pdf_.Line(kLeft, y_ - 20, kRight, y_ - 20);
        // The batch on every page's foot too, where a loose page is looked at first.
        pdf_.Line(kLeft, 44, kRight, 44);
        pdf_.Text(kLeft, 32, 7.5f, pdf_.Fitted("Партия / Batch " + record_.batch, 7.5f, 330));
        pdf_.TextRight(kRight, 32, 7.5f, numbers);
        y_ -= kHeaderHeight - 20;
    }

    void Field(const std::string& heading, const std::string& value, float size = 9) {
        pdf_.Text(kLeft, y_, 8.5f, heading);
        pdf_.Text(238, y_, size, pdf_.Fitted(Shown(value), size, kRight - 238));
        y_ -= 13;
    }

    void Summary() {
        for (std::size_t i = 0; i < record_.profiles.size() && i < 3; ++i) {
            const ProfileText& p = record_.profiles[i];
            Field("Профиль / Profile", p.sensor + ", " + p.range + ", " + p.output + ", " +
                                           p.fault + ", " + p.compensation);
            Field("SHA-256", record_.profile_sha256s[i], 7.4f);
        }
        if (record_.profiles.size() > 3) {
            Field("", "… " + std::to_string(record_.profiles.size() - 3) + " more profiles");
        }
        Field("Период (UTC) / Period (UTC)",
              record_.first_started_utc + " — " + record_.last_finished_utc);
        Field("Операторы / Operators", Joined(record_.operators));
        Field("Станции / Stations", Joined(record_.stations));
        Counts();
        y_ = std::min(y_, kTop - kHeaderHeight - kSummaryHeight + 10);
    }

    void Counts() {
        Field("Изделий / Units", std::to_string(record_.units));
        Field("Годных / Passed", std::to_string(record_.passed));
        Field("Брак / Failed", std::to_string(record_.failed));
        Field("Прервано / Interrupted", std::to_string(record_.interrupted));
        Field("Выход с первого раза / First-pass yield",
              PercentText(record_.passed_first_time, record_.units) +
                  " (без повторных попыток / no step tried again)");
    }

    void Lines(std::size_t first, std::size_t count) {
        const float columns[] = {kLeft, 110, 196, 284, 372, 428};
        const char* headings[] = {"Изделие / Unit",        "Место / Slot",
                                  "Начало, UTC / Started", "Конец, UTC / Finished",
                                  "Итог / Verdict",        "Причина / Reason"};
        pdf_.Grey(0.35f);
        for (int i = 0; i < 6; ++i) pdf_.Text(columns[i], y_, 6.5f, headings[i]);
        pdf_.Grey(0);
        y_ -= kLineHeight;
        for (std::size_t i = first; i < first + count; ++i) {
            const BatchLine& line = record_.lines[i];
            const std::string cells[] = {line.unit,         line.slot,    line.started_utc,
                                         line.finished_utc, line.verdict, line.reason};
            for (int c = 0; c < 6; ++c) {
                const float width = (c == 5 ? kRight : columns[c + 1]) - columns[c] - 5;
                pdf_.Text(columns[c], y_, 7.5f, pdf_.Fitted(Shown(cells[c]), 7.5f, width));
            }
            y_ -= kLineHeight;
        }
    }

    void Totals() {
        y_ -= 8;
        pdf_.Line(kLeft, y_ + 8, kRight, y_ + 8);
        pdf_.Text(kLeft, y_ - 4, 10.5f, "Итого / Totals");
        y_ -= 20;
        Counts();
    }

    PdfDocument& pdf_;
    const BatchRecord& record_;
    float y_ = kTop;
};

}  // namespace

std::optional<std::string> BatchReportPdf(const BatchRecord& record, std::string& error) {
    PdfDocument pdf("Отчёт по партии / Batch report " + record.batch, record.last_finished_iso);
    BatchPages(pdf, record).Draw();
    return pdf.Bytes(error);
}

}  // namespace report
