// SIGTERM, SIGINT and SIGHUP end the program the way "Salir" does. The handler only raises a
// flag and writes to a pipe: long passes look at the flag between two web calls, and the event
// loop closes the main window once it reads the pipe.
#pragma once

class QWidget;

namespace fesko {

// Installs the handlers in place of any other, the database client library's included; call
// it again after the library is loaded and has attached.
void InstallStopSignals();
// True once a stop signal has come.
bool StopRequested();
// From now on a stop signal closes `window` on the event loop (at once if one already came).
void CloseOnStopSignals(QWidget* window);

}  // namespace fesko
