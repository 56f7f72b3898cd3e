// The Qt side of the message-box seam: real modal boxes on a desktop, standard error on the
// offscreen platform where nobody can press a button.
#pragma once

namespace fesko {

// True when the program runs on Qt's offscreen platform.
bool RunningOffscreen();

// Installs the boxes for the current platform. Call once the application object exists.
void InstallQtMessageBoxes();

}  // namespace fesko
