#pragma once

#include <QDialog>

class QCloseEvent;

// The access-code dialog, template 146. "Enter" (also the Enter key) checks the code typed and
// ends the dialog with the new AccessGranted; the close box ends it with AccessGranted as it
// was; Escape does nothing.
class AccessCodeDialog final : public QDialog {
    Q_OBJECT

  public:
    explicit AccessCodeDialog(QWidget* owner);

    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void Enter();
};
