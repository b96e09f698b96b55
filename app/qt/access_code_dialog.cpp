#include "app/qt/access_code_dialog.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QLineEdit>

#include "app/qt/dialog_builder.h"
#include "device/access_code.h"
#include "resources/control_ids.h"
#include "resources/dialog_templates.h"

namespace {
// The box is read into a buffer of 256 units, its terminator included.
constexpr qsizetype kAccessCodeCapacity = 255;
}  // namespace

AccessCodeDialog::AccessCodeDialog(QWidget* owner) : QDialog(owner) {
    BuildDialog(*this, AccessCodeTemplate);
    if (auto* enter = qobject_cast<QAbstractButton*>(FindControl(*this, kIdAccessCodeEnter))) {
        connect(enter, &QAbstractButton::clicked, this, &AccessCodeDialog::Enter);
    }
}

void AccessCodeDialog::reject() {}

void AccessCodeDialog::closeEvent(QCloseEvent* event) {
    done(AccessGranted.load());
    event->accept();
}

void AccessCodeDialog::Enter() {
    auto* box = qobject_cast<QLineEdit*>(FindControl(*this, kIdAccessCodeEntry));
    const QString typed = box == nullptr ? QString() : box->text().left(kAccessCodeCapacity);
    done(EnterAccessCode(ToU16(typed)));
}
