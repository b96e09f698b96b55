#pragma once

#include <string_view>

#include "resources/dialog_templates.h"

// The face a dialog is built with: the template's own when it is installed, otherwise its
// metric-compatible stand-in when that is (Wine and bare machines lack Calibri), otherwise the
// template's own again and the font mapper picks the nearest.
std::u16string_view ChooseFaceName(const DialogTemplate& dialog_template,
                                   bool (*installed)(std::u16string_view face));

// ChooseFaceName against the fonts of this machine.
std::u16string_view DialogFaceName(const DialogTemplate& dialog_template);
