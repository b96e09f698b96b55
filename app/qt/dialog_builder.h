#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <string_view>

#include "resources/dialog_templates.h"

class QDialog;
class QPushButton;
class QWidget;

// Dialog units of a font, as Windows measures them: the average width of the
// 52 Latin letters and the full line height.
struct DialogBaseUnits {
    int horizontal;
    int vertical;
};

QString ToQString(std::u16string_view text);
std::u16string ToU16(const QString& text);

// The template's font, or its metric-compatible stand-in when the first is not installed.
QFont TemplateFont(const DialogTemplate& dialog_template);
DialogBaseUnits BaseUnitsOf(const QFont& font);
// Rounds each edge separately, so that neighbouring controls stay flush as they would there.
QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int width, int height);

// Gives `dialog` the template's title, font and fixed size, and creates every control of the
// template on it, in template order (which is also the keyboard order).
void BuildDialog(QDialog& dialog, const DialogTemplate& dialog_template);

// A button two lines high shows a caption too wide for one line on two, broken at a blank;
// ButtonText gives the caption back as it was set.
QString ButtonCaption(const QPushButton& button, const QString& text);
QString ButtonText(const QPushButton& button);

// The control with `identity` on a dialog built from a template, or null.
QWidget* FindControl(const QWidget& dialog, int identity);
