#include "app/win32/dialog_template_builder.h"

#include "app/win32/dialog_font.h"

namespace {

// A button at least this high holds two lines of its font (a line is 8 units) with the
// bevel around them; it wraps a caption too wide for one line instead of clipping it.
constexpr int kTwoLineButtonHeight = 20;

class TemplateWriter {
  public:
    void Word(std::uint16_t value) { words_.push_back(value); }
    void DoubleWord(std::uint32_t value) {
        Word(static_cast<std::uint16_t>(value & 0xFFFFu));
        Word(static_cast<std::uint16_t>(value >> 16));
    }
    void Short(int value) { Word(static_cast<std::uint16_t>(static_cast<std::int16_t>(value))); }
    void Text(std::u16string_view text) {
        for (char16_t unit : text) Word(static_cast<std::uint16_t>(unit));
        Word(0);
    }
    // Items start on a 32-bit boundary of the template.
    void AlignToDoubleWord() {
        if (words_.size() % 2 != 0) Word(0);
    }
    std::vector<std::uint16_t> Take() { return std::move(words_); }

  private:
    std::vector<std::uint16_t> words_;
};

void WriteItem(TemplateWriter& writer, const DialogControl& control) {
    writer.AlignToDoubleWord();
    writer.DoubleWord(0);  // help identity
    writer.DoubleWord(0);  // extended style
    writer.DoubleWord(ItemStyleOf(control));
    writer.Short(control.x);
    writer.Short(control.y);
    writer.Short(control.width);
    writer.Short(control.height);
    // Labels and frames carry the customary "no identity" of a resource script, -1.
    writer.DoubleWord(static_cast<std::uint32_t>(control.identity));
    writer.Word(0xFFFF);
    writer.Word(ItemClassOf(control));
    writer.Text(control.text);
    writer.Word(0);  // no creation data
}

}  // namespace

DialogItemClass ItemClassOf(const DialogControl& control) {
    switch (control.kind) {
        case ControlKind::kLabel:
            return kStaticClass;
        case ControlKind::kGroupFrame:
        case ControlKind::kButton:
        case ControlKind::kDefaultButton:
            return kButtonClass;
        case ControlKind::kEdit:
        case ControlKind::kReadOnlyEdit:
        case ControlKind::kPasswordEdit:
            return kEditClass;
        case ControlKind::kList:
            return kComboBoxClass;
    }
    return kStaticClass;
}

std::uint32_t ItemStyleOf(const DialogControl& control) {
    DWORD style = WS_CHILD | WS_VISIBLE;
    switch (control.kind) {
        case ControlKind::kLabel:
            style |= WS_GROUP | ((control.flags & kLeftAligned) ? SS_LEFT : SS_CENTER);
            break;
        case ControlKind::kGroupFrame:
            style |= BS_GROUPBOX;
            break;
        case ControlKind::kButton:
        case ControlKind::kDefaultButton:
            style |= WS_TABSTOP | (control.kind == ControlKind::kDefaultButton ? BS_DEFPUSHBUTTON
                                                                               : BS_PUSHBUTTON);
            if (control.height >= kTwoLineButtonHeight) style |= BS_MULTILINE;
            break;
        case ControlKind::kEdit:
        case ControlKind::kReadOnlyEdit:
        case ControlKind::kPasswordEdit:
            style |= WS_TABSTOP;
            if (!(control.flags & kNoBorder)) style |= WS_BORDER;
            // A multi-line box wraps at its width; a one-line box scrolls under the caret.
            style |= (control.flags & kMultiLine) ? ES_MULTILINE : ES_AUTOHSCROLL;
            style |= (control.flags & kCentred) ? ES_CENTER : ES_LEFT;
            if (control.kind == ControlKind::kReadOnlyEdit) style |= ES_READONLY;
            if (control.kind == ControlKind::kPasswordEdit) style |= ES_PASSWORD;
            break;
        case ControlKind::kList:
            style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
            break;
    }
    return style;
}

std::uint32_t DialogStyleOf() {
    return DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
}

std::vector<std::uint16_t> BuildDialogTemplate(const DialogTemplate& dialog_template,
                                               std::u16string_view face_name) {
    TemplateWriter writer;
    writer.Word(1);        // version of the extended template
    writer.Word(0xFFFF);   // marks it as extended
    writer.DoubleWord(0);  // help identity
    writer.DoubleWord(0);  // extended style
    writer.DoubleWord(DialogStyleOf());
    writer.Word(static_cast<std::uint16_t>(dialog_template.controls.size()));
    writer.Short(0);
    writer.Short(0);
    writer.Short(dialog_template.width);
    writer.Short(dialog_template.height);
    writer.Word(0);  // no menu
    writer.Word(0);  // the dialog manager's own window class
    writer.Text(dialog_template.title);
    writer.Word(static_cast<std::uint16_t>(dialog_template.point_size));
    writer.Word(FW_NORMAL);
    writer.Word(DEFAULT_CHARSET << 8);  // not italic (low byte), the character set (high byte)
    writer.Text(face_name);
    for (const DialogControl& control : dialog_template.controls) WriteItem(writer, control);
    return writer.Take();
}

INT_PTR RunDialogFromTemplate(const DialogTemplate& dialog_template, HINSTANCE instance, HWND owner,
                              DLGPROC procedure) {
    const std::vector<std::uint16_t> words =
        BuildDialogTemplate(dialog_template, DialogFaceName(dialog_template));
    return DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), owner,
                                   procedure, 0);
}
