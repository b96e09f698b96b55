#include "app/qt/main_window.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>

#include "app/command_dispatcher.h"
#include "app/qt/dialog_builder.h"
#include "app/qt/window_bridge.h"
#include "app/qt/access_code_dialog.h"
#include "resources/control_ids.h"
#include "resources/dialog_templates.h"
#include "resources/texts.h"
#include "serial/port_discovery.h"

MainWindow::MainWindow(QWidget* owner) : QDialog(owner) {
    BuildDialog(*this, MainWindowTemplate);
    FillLists();
    ConnectCommands();
    WindowBridge::Instance().Attach(*this, *this);
    PortDiscovery();
    if (QWidget* configure = Control(kIdConfigure)) configure->setFocus();
}

MainWindow::~MainWindow() {
    WindowBridge::Instance().Detach(*this);
}

QWidget* MainWindow::Control(int identity) const {
    return FindControl(*this, identity);
}

void MainWindow::FillLists() {
    for (const ListContents& contents : MainWindowLists) {
        auto* list = qobject_cast<QComboBox*>(Control(contents.identity));
        if (list == nullptr) continue;
        for (std::u16string_view entry : contents.entries) list->addItem(ToQString(entry));
        // The first entry appended becomes the current one; the window starts with none.
        list->setCurrentIndex(-1);
    }
}

// The kind of notification is not looked at: a click, a text change and a selection change
// are all just the control's command.
void MainWindow::ConnectCommands() {
    for (const DialogControl& control : MainWindowTemplate.controls) {
        if (control.identity == kNoIdentity) continue;
        const int identity = control.identity;
        QWidget* widget = Control(identity);
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            connect(button, &QAbstractButton::clicked, this,
                    [this, identity] { Command(identity); });
        } else if (auto* list = qobject_cast<QComboBox*>(widget)) {
            connect(list, &QComboBox::currentIndexChanged, this,
                    [this, identity] { Command(identity); });
        } else if (auto* box = qobject_cast<QLineEdit*>(widget);
                   box != nullptr && control.kind == ControlKind::kEdit) {
            connect(box, &QLineEdit::textChanged, this, [this, identity] { Command(identity); });
        }
    }
}

void MainWindow::Command(int identity) {
    CommandDispatcher(WindowBridge::Instance(), identity);
}

void MainWindow::SetItemText(int identity, std::u16string_view text) {
    QWidget* control = Control(identity);
    const QString shown = ToQString(text);
    if (auto* box = qobject_cast<QLineEdit*>(control)) {
        box->setText(shown);
    } else if (auto* box = qobject_cast<QTextEdit*>(control)) {
        // Lines of a multi-line box end in "\r\n"; the box itself breaks on "\n" alone.
        box->setPlainText(QString(shown).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    } else if (auto* button = qobject_cast<QPushButton*>(control)) {
        button->setText(ButtonCaption(*button, shown));
    }
}

std::u16string MainWindow::GetItemText(int identity, std::size_t capacity) {
    QWidget* control = Control(identity);
    QString text;
    if (auto* box = qobject_cast<QLineEdit*>(control)) {
        text = box->text();
    } else if (auto* box = qobject_cast<QTextEdit*>(control)) {
        text = box->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    } else if (auto* button = qobject_cast<QPushButton*>(control)) {
        text = ButtonText(*button);
    } else if (auto* list = qobject_cast<QComboBox*>(control)) {
        text = list->currentText();
    }
    std::u16string result = ToU16(text);
    if (result.size() > capacity) result.resize(capacity);
    return result;
}

int MainWindow::GetListSelection(int identity) {
    auto* list = qobject_cast<QComboBox*>(Control(identity));
    return list == nullptr ? -1 : list->currentIndex();
}

void MainWindow::ShowMessage(std::u16string_view text) {
    QMessageBox box(QMessageBox::NoIcon, ToQString(texts::kMessageCaption), ToQString(text),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void MainWindow::RunAccessCodeDialog() {
    AccessCodeDialog dialog(this);
    dialog.exec();
}

void MainWindow::reject() {
    Command(kIdUnlock);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    Command(kIdUnlock);
    done(0);
    event->accept();
}
