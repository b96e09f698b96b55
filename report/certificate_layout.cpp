#include <algorithm>
#include <map>

#include "report/layouts.h"
#include "report/pdf_document.h"

namespace report {
namespace {

constexpr float kLeft = 42, kRight = PdfDocument::kWidth - 42;
constexpr float kValueAt = 215;

// The compared fields by the names a technician knows them by.
const std::map<std::string, std::pair<std::string, std::string>>& FieldNames() {
    static const std::map<std::string, std::pair<std::string, std::string>> names = {
        {"sensor", {"Датчик", "Sensor"}},
        {"upper", {"Верхний предел, °C", "Upper limit, °C"}},
        {"lower", {"Нижний предел, °C", "Lower limit, °C"}},
        {"output", {"Выход, мА", "Output, mA"}},
        {"fault", {"Уровень при отказе", "Fault level"}},
    };
    return names;
}

std::string Shown(const std::string& value) {
    return value.empty() ? "—" : value;
}

// The parts of the page, top down; `y` is where the next one starts.
class CertificatePage {
  public:
    CertificatePage(PdfDocument& pdf, const UnitRecord& record) : pdf_(pdf), record_(record) {}

    void Draw() {
        Title();
        Section("Сведения", "Details");
        Row("Станция", "Station", record_.station);
        Row("Место (порт)", "Slot (port)", record_.slot);
        Row("Оператор", "Operator", record_.operator_name);
        Row("Партия", "Batch", record_.batch);
        Row("Начало", "Started", record_.started_utc);
        Row("Окончание", "Finished", record_.finished_utc);
        Row("Версия ПО", "Firmware", record_.firmware);
        Section("Профиль", "Profile");
        Row("Датчик", "Sensor", record_.profile.sensor);
        Row("Диапазон", "Range", record_.profile.range);
        Row("Выход", "Output", record_.profile.output);
        Row("Уровень при отказе", "Fault level", record_.profile.fault);
        Row("Компенсация ХС", "Cold-junction compensation", record_.profile.compensation);
        Row("SHA-256 профиля", "Profile SHA-256", record_.profile_sha256, 7.4f);
        Comparison();
        ColdJunction();
        Verdict();
        Approval();
        Footer();
    }

  private:
    void Title() {
        pdf_.Text(kLeft, y_, 20, "Протокол настройки");
        pdf_.Text(kLeft, y_ - 14, 10, "Commissioning record");
        pdf_.TextRight(kRight, y_, 13, "№ " + record_.unit);
        pdf_.TextRight(kRight, y_ - 14, 7.5f, "id " + record_.id);
        // The id and the hash, for a scanned label or page to find the row.
        pdf_.Qr(kRight - 92, y_ - 120, 92, record_.qr_text);
        y_ -= 34;
    }

    void Section(const std::string& russian, const std::string& english) {
        y_ -= 8;
        pdf_.Text(kLeft, y_, 11.5f, russian + " / " + english);
        pdf_.Line(kLeft, y_ - 4, kRight - (y_ > 690 ? 100 : 0), y_ - 4);
        y_ -= 17;
    }

    void Row(const std::string& russian, const std::string& english, const std::string& value,
             float value_size = 10) {
        pdf_.Text(kLeft, y_, 9, russian);
        pdf_.Grey(0.35f);
        pdf_.Text(kLeft, y_ - 8, 6.5f, english);
        pdf_.Grey(0);
        const float width = kRight - kValueAt - (y_ > 690 ? 100 : 0);
        pdf_.Text(kValueAt, y_, value_size, pdf_.Fitted(Shown(value), value_size, width));
        y_ -= 19;
    }

    void Comparison() {
        Section("Как найдено и как оставлено", "As found and as left");
        const float found_at = 232, left_at = 335, changed_at = 438;
        pdf_.Grey(0.35f);
        pdf_.Text(kLeft, y_, 8, "Поле / Field");
        pdf_.Text(found_at, y_, 8, "Как найдено / As found");
        pdf_.Text(left_at, y_, 8, "Как оставлено / As left");
        pdf_.Text(changed_at, y_, 8, "Изменено / Changed");
        pdf_.Grey(0);
        y_ -= 15;
        for (const ComparedField& field : record_.fields) {
            const auto& names = FieldNames().at(field.key);
            pdf_.Text(kLeft, y_, 9, names.first + " / " + names.second);
            pdf_.Text(found_at, y_, 10, pdf_.Fitted(Shown(field.found), 10, 95));
            pdf_.Text(left_at, y_, 10, pdf_.Fitted(Shown(field.left), 10, 95));
            if (field.changed) pdf_.Text(changed_at, y_, 9, "• изменено / changed");
            y_ -= 14;
        }
        y_ -= 3;
        pdf_.Text(kLeft, y_, 8.5f,
                  "Правило: как оставлено совпадает с профилем во всех полях, которые сообщает "
                  "прошивка.");
        pdf_.Text(kLeft, y_ - 10, 8.5f,
                  "Rule: as left equals the profile in every field the firmware reports.");
        y_ -= 22;
        std::string not_compared;
        for (const std::string& key : record_.not_compared) {
            const auto& names = FieldNames().at(key);
            not_compared += (not_compared.empty() ? "" : "; ") + names.first + " / " + names.second;
        }
        pdf_.Text(kLeft, y_, 8.5f,
                  "Не сравнивались (прошивка x.y.0 их не сообщает) / Not compared (firmware x.y.0 "
                  "does not report them):");
        pdf_.Text(kLeft + 12, y_ - 10, 8.5f,
                  pdf_.Fitted(not_compared.empty() ? std::string("нет / none") : not_compared, 8.5f,
                              kRight - kLeft - 12));
        y_ -= 18;
    }

    void ColdJunction() {
        Section("Холодный спай", "Cold junction");
        if (!record_.adjusted_to.empty()) {
            Row("Юстировка на", "Adjusted to", record_.adjusted_to);
            Row("Показание после", "Reading after", record_.cold_junction);
            Row("Правило", "Rule",
                "показание в пределах ±1 °C от заданного / within ±1 °C of the target");
        } else {
            Row("Показание", "Reading", record_.cold_junction);
        }
        Row("Попыток (наибольшее на шаге)", "Tries (most on one step)",
            std::to_string(record_.tries));
        pdf_.Text(kLeft, y_, 9, "Ошибки");
        pdf_.Grey(0.35f);
        pdf_.Text(kLeft, y_ - 8, 6.5f, "Errors");
        pdf_.Grey(0);
        float line_y = y_;
        for (const std::string& line : pdf_.Wrapped(
                 record_.error.empty() ? "нет / none" : record_.error, 9, kRight - kValueAt, 3)) {
            pdf_.Text(kValueAt, line_y, 9, line);
            line_y -= 11;
        }
        y_ = std::min(y_ - 19, line_y - 8);
    }

    void Verdict() {
        Section("Заключение", "Verdict");
        pdf_.Text(kLeft, y_ - 22, 34, record_.passed ? "ГОДЕН" : "БРАК");
        pdf_.Text(kLeft + 170, y_ - 22, 16, record_.passed ? "PASS" : "FAIL");
        y_ -= 44;
    }

    void Approval() {
        y_ -= 6;
        pdf_.Text(kLeft, y_, 9, "Утвердил / Approved by:");
        const float fields[][2] = {{150, 325}, {335, 450}, {460, kRight}};
        const char* captions[] = {"Ф. И. О. / name", "подпись / signature", "дата / date"};
        for (int i = 0; i < 3; ++i) {
            pdf_.Line(fields[i][0], y_ - 2, fields[i][1], y_ - 2);
            pdf_.Grey(0.35f);
            pdf_.Text(fields[i][0], y_ - 11, 6.5f, captions[i]);
            pdf_.Grey(0);
        }
        y_ -= 30;
        pdf_.Text(kLeft, y_, 8.5f, "Результаты относятся только к изделию № " + record_.unit + ".");
        pdf_.Text(kLeft, y_ - 10, 8.5f,
                  "The results relate only to the unit named, No. " + record_.unit + ".");
    }

    void Footer() {
        pdf_.Line(kLeft, 44, kRight, 44);
        pdf_.Text(kLeft, 32, 7.5f,
                  pdf_.Fitted("№ " + record_.unit + "   id " + record_.id, 7.5f, 330));
        pdf_.TextRight(kRight, 32, 7.5f, "стр. 1 из 1 / page 1 of 1");
    }

    PdfDocument& pdf_;
    const UnitRecord& record_;
    float y_ = PdfDocument::kHeight - 60;
};

}  // namespace

std::optional<std::string> CertificatePdf(const UnitRecord& record, std::string& error) {
    PdfDocument pdf("Протокол настройки / Commissioning record " + record.unit,
                    record.finished_iso);
    pdf.NewPage();
    CertificatePage(pdf, record).Draw();
    return pdf.Bytes(error);
}

}  // namespace report
