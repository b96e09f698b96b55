#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "resources/dialog_templates.h"

// In-memory dialog templates (DLGTEMPLATEEX) built from the template table, for
// DialogBoxIndirectParamW, so that the table stays the one description of both windows.

// The predefined window classes a dialog item names by ordinal.
enum DialogItemClass : std::uint16_t {
    kButtonClass = 0x0080,
    kEditClass = 0x0081,
    kStaticClass = 0x0082,
    kComboBoxClass = 0x0085,
};

DialogItemClass ItemClassOf(const DialogControl& control);
// The item's window style: kind, alignment, border and keyboard stop as the table says.
std::uint32_t ItemStyleOf(const DialogControl& control);
// The dialog's own style: a centred modal frame with caption, system menu and its font.
std::uint32_t DialogStyleOf();

// The whole template in 16-bit units, as the dialog manager reads it. The vector's storage
// comes from operator new and is therefore aligned well beyond the DWORD the format needs.
// `face_name` is the font actually used, which may be the table's stand-in family.
std::vector<std::uint16_t> BuildDialogTemplate(const DialogTemplate& dialog_template,
                                               std::u16string_view face_name);

// Builds the template in the face this machine has and runs it modally under `owner` (none
// for the main window); returns what the dialog ended with.
INT_PTR RunDialogFromTemplate(const DialogTemplate& dialog_template, HINSTANCE instance, HWND owner,
                              DLGPROC procedure);
