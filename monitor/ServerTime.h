// The server's time texts: "dd.mm.yyyy hh:mm:ss", where any one non-digit character may stand
// between the time fields (the client's time separator is the system's).
#pragma once

#include <QString>
#include <optional>

namespace kp::monitor {

// The day number of the text, or nothing when it is not a valid moment in that form.
std::optional<double> parseServerTime(const QString &text);

} // namespace kp::monitor
