#include "report/label_zpl.h"

#include <cstdio>

namespace report {
namespace {

// A field's text behind ^FH\: the characters ZPL reads as commands or as the escape itself go
// as hex, so that a row's text can only ever be printed.
std::string Field(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '^' || c == '~' || c == '\\' || static_cast<unsigned char>(c) < 0x20) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "\\%02X", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string TextAt(int x, int y, int height, const std::string& text) {
    return "^FO" + std::to_string(x) + "," + std::to_string(y) + "^A0N," + std::to_string(height) +
           "," + std::to_string(height) + "^FH\\^FD" + Field(text) + "^FS\n";
}

}  // namespace

std::string LabelZpl(const UnitRecord& record) {
    std::string zpl = "^XA\n^CI28\n^PW400\n^LL200\n";
    zpl += TextAt(16, 14, 34, record.unit);
    zpl += TextAt(16, 58, 24, "Датчик " + record.profile.sensor);
    zpl += TextAt(16, 88, 24, record.profile.range);
    zpl += TextAt(16, 118, 24, "Выход " + record.profile.output);
    zpl += TextAt(16, 150, 20, "Дата " + record.finished_date);
    // Model 2, three dots a module, error correction M: about 14 mm across for its 69 characters.
    zpl += "^FO250,10^BQN,2,3^FH\\^FDMA," + Field(record.qr_text) + "^FS\n";
    zpl += "^XZ\n";
    return zpl;
}

}  // namespace report
