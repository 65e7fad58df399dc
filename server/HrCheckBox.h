// The "HRCHECK: " box of the failure reporter. Widgets exist only on the main thread, so a
// client on another thread has the main thread show the box, not modal to the main window,
// and waits for the answer.
#pragma once

#include <QString>

namespace kp::server {

enum class HrAnswer { Yes, No, Cancel };

// Shows the box with the question icon and Yes, No and Cancel and returns the answer. Without
// a widget application (a console tool) the text goes to standard error and the answer is No;
// a calling thread whose interruption is requested while it waits gets No and the box closes.
HrAnswer askHrCheck(const QString &text);

// Stops in an attached debugger; does nothing when none is attached.
void breakIntoDebugger();
bool debuggerAttached();

} // namespace kp::server
