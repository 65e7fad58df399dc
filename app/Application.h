// The entry point's work: fonts, the main window, the start-up sequence, the message loop, and
// the display of an error that escapes them.
#pragma once

#include <functional>

class QApplication;
class TForm1;

namespace kp::app {

// Registers Tahoma (shipped with the Wine fonts, unknown to fontconfig) and makes it, or a
// Cyrillic-capable sans font in its place, the application's font at 8 points (11 pixels).
void installApplicationFont(QApplication &app);

// Creates the main window, shows it, runs the start-up sequence and the message loop. An error
// raised on the way is shown by the standard exception display and ends the application.
// `startup` replaces the start-up sequence in tests. Always returns 0.
int runApplication(QApplication &app, const std::function<void(TForm1 &)> &startup = {});

} // namespace kp::app
