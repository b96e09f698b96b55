#include "app/command_dispatcher.h"

#include <array>

#include "app/operation_state.h"
#include "serial/port_link.h"

namespace {

struct TableEntry {
    int identity = 0;
    CommandHandler handler = nullptr;
};

// Touched only by the interface thread.
std::array<TableEntry, 16> handler_table{};

CommandHandler FindHandler(int identity) {
    for (const TableEntry& entry : handler_table) {
        if (entry.handler != nullptr && entry.identity == identity) return entry.handler;
    }
    return nullptr;
}

}  // namespace

void RegisterCommandHandler(int identity, CommandHandler handler) {
    for (TableEntry& entry : handler_table) {
        if (entry.handler != nullptr && entry.identity == identity) {
            entry.handler = handler;
            return;
        }
    }
    if (handler == nullptr) return;
    for (TableEntry& entry : handler_table) {
        if (entry.handler == nullptr) {
            entry = {identity, handler};
            return;
        }
    }
}

void ClearCommandHandlers() { handler_table.fill({}); }

void CommandDispatcher(Window& window, int identity) {
    // While an operation runs, commands are lost, not queued.
    if (ReadyFlag.load() != 1) return;
    HandleSlot slot;
    if (CommandHandler handler = FindHandler(identity)) handler(window, slot);
    ClosePort(slot);
}
