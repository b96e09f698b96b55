#pragma once

class Window;
struct HandleSlot;

// A command handler gets the window and the command's handle slot, which the dispatcher closes
// when the handler returns.
using CommandHandler = void (*)(Window& window, HandleSlot& slot);

// Every command of the main window comes here: dropped while an operation runs, otherwise
// handed to the handler registered for the control's identity (none: nothing happens).
void CommandDispatcher(Window& window, int identity);

// Puts `handler` (or nothing, when null) in the table for `identity`.
void RegisterCommandHandler(int identity, CommandHandler handler);
// Fills the table with every handler of the program.
void InstallCommandHandlers();
// Empties the table.
void ClearCommandHandlers();
