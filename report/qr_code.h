#pragma once

#include <string>
#include <vector>

namespace report {

// A QR code's dark modules, row by row from the top, `size` × `size`; empty when the text does
// not fit in one.
struct QrModules {
    int size = 0;
    std::vector<bool> dark;
};

// Error correction at level M, the smallest version that holds the text.
QrModules QrCodeOf(const std::string& text);

}  // namespace report
