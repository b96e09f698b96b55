#include "report/qr_code.h"

#include <qrcodegen.h>

namespace report {

QrModules QrCodeOf(const std::string& text) {
    std::vector<std::uint8_t> code(qrcodegen_BUFFER_LEN_MAX), scratch(qrcodegen_BUFFER_LEN_MAX);
    if (!qrcodegen_encodeText(text.c_str(), scratch.data(), code.data(), qrcodegen_Ecc_MEDIUM,
                              qrcodegen_VERSION_MIN, qrcodegen_VERSION_MAX, qrcodegen_Mask_AUTO,
                              true)) {
        return {};
    }
    QrModules modules;
    modules.size = qrcodegen_getSize(code.data());
    modules.dark.reserve(static_cast<std::size_t>(modules.size) * modules.size);
    for (int y = 0; y < modules.size; ++y) {
        for (int x = 0; x < modules.size; ++x) {
            modules.dark.push_back(qrcodegen_getModule(code.data(), x, y));
        }
    }
    return modules;
}

}  // namespace report
