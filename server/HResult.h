// HRESULT codes of the automation layer, their texts in the user's language, and how D-Bus
// failures turn into codes. Linux has no system message table, so we keep our own for the
// codes our layers produce; interface-specific codes (FACILITY_ITF) have no text, as on the
// server's home platform.
#pragma once

#include "platform/core/Exceptions.h"

#include <QLocale>
#include <QString>

namespace kp::hr {

using kp::HResult;

constexpr HResult code(quint32 pattern) { return static_cast<HResult>(pattern); }
constexpr bool failed(HResult h) { return h < 0; }
constexpr bool succeeded(HResult h) { return h >= 0; }

inline constexpr HResult S_OK = 0;
inline constexpr HResult S_FALSE = 1;
inline constexpr HResult E_NOTIMPL = code(0x80004001);
inline constexpr HResult E_NOINTERFACE = code(0x80004002);
inline constexpr HResult E_POINTER = code(0x80004003);
inline constexpr HResult E_ABORT = code(0x80004004);
inline constexpr HResult E_FAIL = code(0x80004005);
inline constexpr HResult E_UNEXPECTED = code(0x8000FFFF);
inline constexpr HResult E_ACCESSDENIED = code(0x80070005);
inline constexpr HResult E_OUTOFMEMORY = code(0x8007000E);
inline constexpr HResult E_INVALIDARG = code(0x80070057);
inline constexpr HResult DISP_E_MEMBERNOTFOUND = code(0x80020003);
inline constexpr HResult DISP_E_TYPEMISMATCH = code(0x80020005);
inline constexpr HResult DISP_E_BADINDEX = code(0x8002000B);
inline constexpr HResult RPC_E_DISCONNECTED = code(0x80010108);
inline constexpr HResult RPC_E_TIMEOUT = code(0x8001011F);
inline constexpr HResult RPC_S_SERVER_UNAVAILABLE = code(0x800706BA);
inline constexpr HResult REGDB_E_CLASSNOTREG = code(0x80040154);
inline constexpr HResult CO_E_SERVER_EXEC_FAILURE = code(0x80080005);
inline constexpr HResult STG_E_WRITEFAULT = code(0x8003001D);

// The monitoring server's own codes (FACILITY_ITF): no system text.
inline constexpr HResult KELVON_E_NOGROUP = code(0x80040201);     // no current group
inline constexpr HResult KELVON_E_NOCAR = code(0x80040202);       // no current vehicle
inline constexpr HResult KELVON_E_BUSY = code(0x80040203);        // a computation is running
inline constexpr HResult KELVON_E_NODATA = code(0x80040204);      // nothing computed to export
inline constexpr HResult KELVON_E_UNKNOWNLIST = code(0x80040205); // list or kind not known

// The system text of a code in the language of `locale` (Russian or English), empty when the
// table has none.
QString systemText(HResult h, const QLocale &locale = QLocale::system());

// "80004005": eight upper-case hexadecimal digits.
QString hex(HResult h);

// A failure reply's message: "80004005: " followed by the description.
QString errorMessage(HResult h, const QString &description);

// The code of a D-Bus error reply: our own error carries it at the start of its message; bus
// failures map to the RPC_ codes (no owner, no reply, disconnected) and to the dispatch codes
// (unknown method, bad arguments); anything else is E_FAIL.
HResult fromDBusError(const QString &errorName, const QString &message);

} // namespace kp::hr
