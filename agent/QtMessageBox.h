// The Qt side of the message-box seam: real modal boxes on a desktop, standard error on the
// offscreen platform where nobody can press a button.
#pragma once

namespace fesko {

// Qt's platform without a screen, which the program chooses where there is no desktop.
inline constexpr char kOffscreenPlatform[] = "offscreen";

// True when the program runs on Qt's offscreen platform.
bool RunningOffscreen();

// Installs the boxes for the current platform. Call once the application object exists.
void InstallQtMessageBoxes();

}  // namespace fesko
