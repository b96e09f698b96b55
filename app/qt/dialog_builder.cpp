#include "app/qt/dialog_builder.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTextOption>

namespace {

QString ObjectNameFor(int identity) {
    return QStringLiteral("id_%1").arg(identity);
}

// Rounds as Windows' MulDiv does: to the nearest, halves away from zero.
int ScaleRounded(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

// Read-only boxes show the dialog's face colour, as on Windows: that is how the user tells them
// apart from the boxes to type into.
void GiveFaceBackground(QWidget& box) {
    QPalette palette = box.palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    box.setPalette(palette);
}

QWidget* CreateLabel(const DialogControl& control, QWidget& parent) {
    auto* label = new QLabel(&parent);
    // A bare carriage return breaks the line there; the label draws only line feeds as breaks.
    label->setText(ToQString(control.text).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    const Qt::Alignment across = (control.flags & kLeftAligned) ? Qt::AlignLeft : Qt::AlignHCenter;
    label->setAlignment(across | Qt::AlignTop);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

// A label at least two lines high wraps its words. A one-line label that is a few pixels too
// narrow for its text (the stand-in font does not measure exactly like Calibri) grows
// instead, rather than lose its last letters.
void PlaceLabel(QLabel& label, const QRect& area) {
    const QFontMetrics metrics(label.font());
    if (area.height() >= 2 * metrics.height()) {
        label.setWordWrap(true);
        label.setGeometry(area);
        return;
    }
    const int needed = metrics.boundingRect(QRect(), Qt::AlignLeft, label.text()).width();
    QRect placed = area;
    if (needed > area.width()) {
        if (label.alignment() & Qt::AlignHCenter)
            placed.moveLeft(area.left() - (needed - area.width() + 1) / 2);
        placed.setWidth(needed);
    }
    label.setGeometry(placed);
}

QWidget* CreateGroupFrame(const DialogControl& control, QWidget& parent) {
    auto* frame = new QGroupBox(ToQString(control.text), &parent);
    // Frames are siblings of the controls they surround, so they must not take their clicks.
    frame->setAttribute(Qt::WA_TransparentForMouseEvents);
    frame->setFocusPolicy(Qt::NoFocus);
    return frame;
}

QWidget* CreateButton(const DialogControl& control, QWidget& parent) {
    auto* button = new QPushButton(ToQString(control.text), &parent);
    button->setAutoDefault(true);
    return button;
}

QWidget* CreateMultiLineBox(const DialogControl& control, QWidget& parent) {
    auto* box = new QTextEdit(&parent);
    box->setReadOnly(true);
    box->setAcceptRichText(false);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setFocusPolicy(Qt::StrongFocus);
    box->setTabChangesFocus(true);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setLineWrapMode(QTextEdit::WidgetWidth);
    box->document()->setDocumentMargin(2);
    // The default option outlives every later setPlainText, unlike a paragraph's own alignment.
    QTextOption option = box->document()->defaultTextOption();
    option.setAlignment((control.flags & kCentred) ? Qt::AlignHCenter : Qt::AlignLeft);
    box->document()->setDefaultTextOption(option);
    if (control.flags & kNoBorder) box->setFrameShape(QFrame::NoFrame);
    GiveFaceBackground(*box);
    return box;
}

QWidget* CreateLineBox(const DialogControl& control, QWidget& parent) {
    auto* box = new QLineEdit(&parent);
    box->setReadOnly(control.kind == ControlKind::kReadOnlyEdit);
    if (control.kind == ControlKind::kPasswordEdit) box->setEchoMode(QLineEdit::Password);
    if (control.flags & kCentred) box->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    if (control.flags & kNoBorder) box->setFrame(false);
    if (box->isReadOnly()) GiveFaceBackground(*box);
    return box;
}

QWidget* CreateList(QWidget& parent) {
    auto* list = new QComboBox(&parent);
    list->setEditable(false);
    list->setInsertPolicy(QComboBox::InsertAtBottom);
    list->setCurrentIndex(-1);
    return list;
}

QWidget* CreateControl(const DialogControl& control, QWidget& parent) {
    switch (control.kind) {
        case ControlKind::kLabel:
            return CreateLabel(control, parent);
        case ControlKind::kGroupFrame:
            return CreateGroupFrame(control, parent);
        case ControlKind::kButton:
        case ControlKind::kDefaultButton:
            return CreateButton(control, parent);
        case ControlKind::kEdit:
        case ControlKind::kPasswordEdit:
            return CreateLineBox(control, parent);
        case ControlKind::kReadOnlyEdit:
            return (control.flags & kMultiLine) ? CreateMultiLineBox(control, parent)
                                                : CreateLineBox(control, parent);
        case ControlKind::kList:
            return CreateList(parent);
    }
    return nullptr;
}

bool TakesFocus(const DialogControl& control) {
    return control.kind != ControlKind::kLabel && control.kind != ControlKind::kGroupFrame;
}

// A list's template height is that of its opened list; closed, it is one line high at the top
// of that area, and the opened list shows as many entries as fit in the rest.
void PlaceList(QComboBox& list, const QRect& area) {
    const int closed_height = std::min(list.sizeHint().height(), area.height());
    list.setGeometry(area.x(), area.y(), area.width(), closed_height);
    const int line_height = QFontMetrics(list.font()).height() + 2;
    list.setMaxVisibleItems(std::max(1, (area.height() - closed_height) / line_height));
}

}  // namespace

QString ToQString(std::u16string_view text) {
    return QStringView(text).toString();
}

std::u16string ToU16(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<std::size_t>(text.size()));
}

QString ButtonCaption(const QPushButton& button, const QString& text) {
    const QFontMetrics metrics(button.font());
    // Room left by the style's bevel and margins.
    const int room = button.width() - 12;
    if (metrics.horizontalAdvance(text) <= room || button.height() < 2 * metrics.height() + 8) {
        return text;
    }
    // The last blank whose first part fits; failing that, the first blank.
    qsizetype split = -1;
    for (qsizetype at = text.indexOf(QLatin1Char(' '), 1); at > 0;
         at = text.indexOf(QLatin1Char(' '), at + 1)) {
        if (split < 0 || metrics.horizontalAdvance(text.left(at)) <= room) split = at;
    }
    if (split < 0) return text;
    QString broken = text;
    broken[split] = QLatin1Char('\n');
    return broken;
}

QString ButtonText(const QPushButton& button) {
    return button.text().replace(QLatin1Char('\n'), QLatin1Char(' '));
}

QFont TemplateFont(const DialogTemplate& dialog_template) {
    const QString wanted = ToQString(dialog_template.font_family);
    const bool installed = QFontDatabase::families().contains(wanted, Qt::CaseInsensitive);
    QFont font(installed ? wanted : ToQString(dialog_template.fallback_family));
    font.setPointSize(dialog_template.point_size);
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters_width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters_width / 26 + 1) / 2, metrics.height()};
}

QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int width, int height) {
    const int left = ScaleRounded(x, units.horizontal, 4);
    const int top = ScaleRounded(y, units.vertical, 8);
    const int right = ScaleRounded(x + width, units.horizontal, 4);
    const int bottom = ScaleRounded(y + height, units.vertical, 8);
    return QRect(left, top, right - left, bottom - top);
}

void BuildDialog(QDialog& dialog, const DialogTemplate& dialog_template) {
    const QFont font = TemplateFont(dialog_template);
    dialog.setFont(font);
    dialog.setWindowTitle(ToQString(dialog_template.title));
    // A caption with the system menu and the close box, nothing else.
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const DialogBaseUnits units = BaseUnitsOf(font);
    dialog.setFixedSize(
        DialogUnitsToPixels(units, 0, 0, dialog_template.width, dialog_template.height).size());

    QWidget* previous_focusable = nullptr;
    bool default_taken = false;
    for (const DialogControl& control : dialog_template.controls) {
        QWidget* widget = CreateControl(control, dialog);
        if (control.identity != kNoIdentity) widget->setObjectName(ObjectNameFor(control.identity));
        if (!control.accessible_name.empty()) {
            widget->setAccessibleName(ToQString(control.accessible_name));
        }
        const QRect area =
            DialogUnitsToPixels(units, control.x, control.y, control.width, control.height);
        if (auto* list = qobject_cast<QComboBox*>(widget)) {
            PlaceList(*list, area);
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            PlaceLabel(*label, area);
        } else {
            widget->setGeometry(area);
        }
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            button->setText(ButtonCaption(*button, button->text()));
        }
        if (control.kind == ControlKind::kDefaultButton && !default_taken) {
            static_cast<QPushButton*>(widget)->setDefault(true);
            default_taken = true;
        }
        if (TakesFocus(control)) {
            if (previous_focusable != nullptr) QWidget::setTabOrder(previous_focusable, widget);
            previous_focusable = widget;
        }
    }
    // Frames lie beneath everything they surround.
    for (QGroupBox* frame : dialog.findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly)) {
        frame->lower();
    }
}

QWidget* FindControl(const QWidget& dialog, int identity) {
    return dialog.findChild<QWidget*>(ObjectNameFor(identity), Qt::FindDirectChildrenOnly);
}
