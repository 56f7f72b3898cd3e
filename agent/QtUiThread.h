// The Qt side of the run-on-UI-thread mechanism: a queued request wakes the UI thread through
// Qt's event queue, which every event loop drains, the message loop and the loop of a modal
// box or dialog alike.
#pragma once

namespace fesko {

// Makes the application's thread the UI thread. Call on that thread once the application
// object exists; calling it again changes nothing.
void InstallQtUiThread();

}  // namespace fesko
