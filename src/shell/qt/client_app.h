#pragma once

#include <QApplication>
#include <string>

namespace okt {

// The desktop client: binds the Bluetooth library, starts the application
// worker and the protocol client's threads, shows the main window and runs
// until it is closed. Returns the process's exit code.
int runClient(QApplication& app, const std::string& bleLibraryArgument);

// Writes the signal's line and ends the process with code 1.
void installSignalHandlers();

}  // namespace okt
