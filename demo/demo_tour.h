#pragma once

#include <QString>
#include <cstdio>

class MainWindow;

// The scripted tour of the main window: Connect, Read configuration, Configure, Read
// configuration again, Read cold-junction temperature and Adjust, each done the way a user
// does it (clicks, list picks, typing, the access code in its dialog) and each awaited until
// the window takes commands again. Every step prints its name and the status line to `out` and
// saves a picture of the window in `folder` (01-connect.png ...). The tour stops at the first
// step whose status line is not that step's success text and then returns false. It needs the
// window shown and a running event loop, and must be called on the interface thread.
bool RunTour(MainWindow& window, const QString& folder, std::FILE* out);
