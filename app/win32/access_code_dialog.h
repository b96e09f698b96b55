#pragma once

#include <windows.h>

// The access-code dialog (template 146), modal, owned by `owner`. "Enter" (also the Enter key)
// checks the code typed and ends it with the new AccessGranted; the close box ends it with
// AccessGranted unchanged; Escape does nothing.
void RunAccessCodeDialog(HWND owner);
