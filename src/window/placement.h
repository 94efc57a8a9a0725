#pragma once

class QWidget;

namespace zavoket {

// Centres the window on its screen, frame and title bar included.
void centre(QWidget& window);

// Once shown: a window manager frames the window once it is mapped and tells the frame's size a
// moment later, so the window is centred again as soon as that is known. Without a window
// manager no frame comes, and after two seconds the window stays where it is.
void centreOnceFramed(QWidget& window);

}  // namespace zavoket
