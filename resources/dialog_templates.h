#pragma once

#include <span>
#include <string_view>

// The two dialog templates of the program, as data: what the windows are built from.
// Positions and sizes are in dialog units (a quarter of the font's average character width
// across, an eighth of its height down).

enum class ControlKind {
    kLabel,
    kGroupFrame,
    kButton,
    kDefaultButton,  // drawn as a default button; the first of them takes the Enter key
    kEdit,
    kReadOnlyEdit,
    kPasswordEdit,
    kList,  // drop-down list without typing; its height is that of the opened list
};

enum ControlFlag : unsigned {
    kNoFlags = 0,
    kMultiLine = 1u << 0,
    kCentred = 1u << 1,
    kNoBorder = 1u << 2,
    kLeftAligned = 1u << 3,  // labels are centred unless they carry this flag
};

inline constexpr int kNoIdentity = -1;

struct DialogControl {
    int identity;  // kNoIdentity for labels and frames
    ControlKind kind;
    std::u16string_view text;
    int x, y, width, height;
    unsigned flags;
    // What assistive technology reads for a box or a list that shows no caption of its own.
    std::u16string_view accessible_name;
};

struct DialogTemplate {
    int identity;
    int width, height;
    std::u16string_view title;
    std::u16string_view font_family;
    // Stands in for font_family where that is not installed (a metric-compatible face).
    std::u16string_view fallback_family;
    int point_size;
    // In template order, which is also the keyboard order of the controls that take the focus.
    std::span<const DialogControl> controls;
};

inline constexpr int kMainWindowTemplateId = 103;
inline constexpr int kAccessCodeTemplateId = 146;

extern const DialogTemplate MainWindowTemplate;
extern const DialogTemplate AccessCodeTemplate;

// The entries of one list of the main window, appended in this order when the window is created.
struct ListContents {
    int identity;
    std::span<const std::u16string_view> entries;
};

extern const std::span<const ListContents> MainWindowLists;
