// The pointer shows the busy cursor while a statement waits on the server from the UI thread.
#pragma once

namespace fesko {

// Installs the query layer's busy handler; idempotent.
void InstallBusyCursor();

}  // namespace fesko
