// How the client reaches the monitoring server: find the running server or start one, call an
// entry, subscribe to events, learn that the server went away. The session bus is the one
// implementation here (DBusLink.h); the client itself knows nothing of the transport.
#pragma once

#include "server/Kelvon_tlb.h"

#include <QList>
#include <QUuid>
#include <QVariant>

#include <functional>
#include <memory>

namespace kp::server {

// The outcome of one entry: its HRESULT and, for a read that succeeded, the value.
struct CallResult {
    kp::HResult hr = 0;
    QVariant value;
};

// One call of a pipelined batch.
struct Call {
    kelvon::Entry entry;
    QVariantList args; // a write's value, or a method's arguments in order
};

using EventSink = std::function<void(int dispId, const QVariantList &params)>;

// A server object, before its interface has been asked for.
class IUnknown {
public:
    virtual ~IUnknown() = default;
    // S_OK and the interface, or E_NOINTERFACE and nothing.
    virtual kp::HResult QueryInterface(const QUuid &iid, std::shared_ptr<IUnknown> &out) = 0;
};

// The held interface IKelvonAutomation of one server object. Used by one thread at a time.
class IKelvonAutomation : public IUnknown {
public:
    virtual CallResult invoke(kelvon::Entry entry, const QVariantList &args) = 0;
    // Sends every call before taking the first answer; answers come back in call order.
    // Only for calls whose order on the server is all that matters (reads, and a write
    // that precedes them).
    virtual QList<CallResult> invokePipelined(const QList<Call> &calls) = 0;
    // The connection point. Events reach the sink on the thread that subscribed, through its
    // event loop; `gone` runs there when the object's owner leaves the bus.
    virtual void advise(EventSink sink, std::function<void()> gone) = 0;
    virtual void unadvise() = 0;
    // True once the object's owner has left the bus (quit or crashed); every call then fails
    // with RPC_E_DISCONNECTED without reaching anyone.
    virtual bool gone() const = 0;
    // Where the object lives (the unique bus name of its owner).
    virtual QString address() const = 0;
};

class Link {
public:
    virtual ~Link() = default;
    // Running-or-new: the running object of the class, otherwise a new one. Raises
    // kp::EOleSysError "<system text>, ClassID: {...}" with the failing code.
    virtual std::shared_ptr<IUnknown> GetServer(const QUuid &classId) = 0;
};

// The session bus link (the default of every client).
std::shared_ptr<Link> sessionBusLink();

// The error raised when no server object can be reached: "%s, ClassID: %s".
kp::EOleSysError serverSysError(kp::HResult code, const QUuid &classId);

} // namespace kp::server
