#pragma once

#include <QDialog>

#include "app/window.h"

class QCloseEvent;

// The program's one window, built from template 103. Every command of its controls goes to
// CommandDispatcher together with the WindowBridge, which is what handlers and operation
// threads talk to; the Window calls here are the interface thread's side of that bridge.
class MainWindow final : public QDialog, public Window {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* owner = nullptr);
    ~MainWindow() override;

    // The control with this identity, or null.
    QWidget* Control(int identity) const;

    // Interface thread only.
    void SetItemText(int identity, std::u16string_view text) override;
    std::u16string GetItemText(int identity, std::size_t capacity) override;
    int GetListSelection(int identity) override;
    void ShowMessage(std::u16string_view text) override;
    void RunAccessCodeDialog() override;

    // Escape gives the cancel command, identity 2, which unlocks the device; the window stays.
    void reject() override;

  protected:
    // Closing also gives the cancel command first; it is the only way the window ends.
    void closeEvent(QCloseEvent* event) override;

  private:
    void Command(int identity);
    void FillLists();
    void ConnectCommands();
};
