// Declarations of the monitoring server's automation interface: the 220 entries of
// IKelvonAutomation with their kinds and types, the event identifiers, the class and interface
// identifiers, and the names under which the server is reached on the session bus.
#pragma once

#include "platform/core/Exceptions.h"

#include <QString>
#include <QStringView>
#include <QUuid>
#include <QVariant>

#include <optional>

namespace kp::kelvon {

// Value types of the entries.
using Long = qint32;
using Text = QString;
using Double = double;
using Variant = QVariant;

enum class Kind { Read, Write, Method };

// Entry identifiers, in vtable order: Entry::get_GroupsNum, Entry::set_GroupIndex,
// Entry::StartComputing, ...
enum class Entry : int {
#define KP_READ(name, type) get_##name,
#define KP_WRITE(name, type) set_##name,
#define KP_METHOD(name, args, names) name,
#include "server/Kelvon_tlb.inc"
#undef KP_READ
#undef KP_WRITE
#undef KP_METHOD
};

inline constexpr int EntryCount = 220;
// IUnknown (3) and IDispatch (4) come first in the vtable.
inline constexpr int FirstEntrySlot = 7;

// The D-Bus type character of a value type.
template <class T> constexpr char typeCode();
template <> constexpr char typeCode<Long>() { return 'i'; }
template <> constexpr char typeCode<Text>() { return 's'; }
template <> constexpr char typeCode<Double>() { return 'd'; }
template <> constexpr char typeCode<Variant>() { return 'v'; }

// Argument signature of a method from its argument list written as a function type.
template <class F> struct Signature;
template <class... A> struct Signature<void(A...)> {
    static constexpr char value[] = {typeCode<A>()..., '\0'};
};

struct EntryInfo {
    const char *name; // "get_GroupsNum", the D-Bus member name
    Kind kind;
    const char *inSig;    // D-Bus signature of the arguments ("" for a read)
    const char *outSig;   // D-Bus signature of the reply ("" for a write or a method)
    const char *argNames; // comma-separated argument names
    char valueType;       // typeCode of a read's value or a write's argument, 0 for a method
    int line;             // line of the entry in Kelvon_tlb.inc
    int slot;             // vtable slot
    int dispId;           // dispatch identifier of the property or method
};

const EntryInfo &entryInfo(Entry e);
inline const char *entryName(Entry e) { return entryInfo(e).name; }
std::optional<Entry> entryByName(QStringView name);

// The call text a failed read reports, as the read is written in the client:
// "GetDefaultInterface()->get_GroupsNum((long*)&Value)".
QString readCallText(Entry e);

// Identifiers of our own, in the registry form "{xxxxxxxx-...}".
extern const QUuid CLSID_KelvonAutomation;
extern const QUuid IID_IKelvonAutomation;
extern const QUuid DIID_IKelvonAutomationEvents;
extern const QUuid LIBID_Kelvon;

// Dispatch identifiers of the events of IKelvonAutomationEvents.
enum EventDispId : int {
    DISPID_OnChangeCarsLists = 201,
    DISPID_OnReceiveOnlineData = 202,
    DISPID_OnCloseServer = 203,
    DISPID_OnChangeParameters = 204,
    DISPID_OnEndComputing = 205,
};
// The event's signal name ("OnChangeCarsLists") or nullptr for an unknown identifier.
const char *eventName(int dispId);
// 0 for a name that is not an event.
int eventDispId(QStringView name);

// The session bus side of the interface.
inline constexpr char ServiceName[] = "org.kelvon.Monitoring";
inline constexpr char ObjectPath[] = "/org/kelvon/KelvonAutomation";
inline constexpr char InterfaceName[] = "org.kelvon.IKelvonAutomation";
inline constexpr char EventsInterfaceName[] = "org.kelvon.IKelvonAutomationEvents";
// A failure reply: its message begins with the HRESULT as eight hexadecimal digits.
inline constexpr char HResultErrorName[] = "org.kelvon.Error.HResult";
// The server's own administrative interface (imports tell a running server to reload).
inline constexpr char AdminInterfaceName[] = "org.kelvon.MonitoringAdmin";

// Introspection data of both interfaces, generated from the entry table.
QString introspectionXml();

} // namespace kp::kelvon
