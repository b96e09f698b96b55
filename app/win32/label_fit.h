#pragma once

#include <windows.h>

#include "resources/dialog_templates.h"

// A one-line label whose text is wider than its template rectangle would wrap its last word
// out of sight, because the stand-in font does not measure exactly like the template's: such
// a label grows to its text instead, to the right when left-aligned, to both sides when
// centred. Labels two lines high or more wrap as they are. `dialog` must have been built from
// `dialog_template`, whose order is also the order of the dialog's children.
void FitOneLineLabels(HWND dialog, const DialogTemplate& dialog_template);

// The rectangle a label with `flags` takes to show a text `needed` pixels wide, given
// the rectangle it was placed in (which it never shrinks).
RECT GrownLabelRect(const RECT& placed, int needed, unsigned flags);
