// TKelvonAutomation, the client of the monitoring server: one operation per interface entry
// (get_<Name>() reads, set_<Name>(value) writes, methods by their name), events, and the
// failure reporter CheckServerResult that asks the user about every failed read.
#pragma once

#include "server/Kelvon_tlb.h"
#include "server/Link.h"

#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <utility>

// A handler that receives only the sending component.
using TNotifyEvent = std::function<void(QObject *Sender)>;

// One record shared by every client: the class, interface and event interface identifiers, and
// how many clients exist.
struct TServerData {
    QUuid ClassID;
    QUuid IntfIID;
    QUuid EventIID;
    int InstanceCount = 0;
};

// The reads of one vehicle of the fleet enumeration, named after the entries, in the order the
// enumeration reads them.
struct TCarReads {
    kp::kelvon::Long CarDevice = 0;
    QString CarModel;
    QString CarNumber;
    QString CarRoute;
    QString CarDrivers;
    QString CarAlias;
    QString CarTelNum;
    QString CarCheckPointsFile;
    QString GroupName;
    QString GroupAddress;
    QString GroupContacts;
    QString GroupFileName;
};

class TKelvonAutomation : public QObject {
    Q_OBJECT
public:
    // Contacts nothing: the first operation connects.
    explicit TKelvonAutomation(QObject *owner = nullptr);
    // With another link (tests).
    TKelvonAutomation(QObject *owner, std::shared_ptr<kp::server::Link> link);
    ~TKelvonAutomation() override;

    // The value types of the entries.
    using Long = kp::kelvon::Long;
    using Text = kp::kelvon::Text;
    using Double = kp::kelvon::Double;
    using Variant = kp::kelvon::Variant;

    // Reads return the value: a failed read is reported by CheckServerResult, and after "No"
    // it yields an empty text, 0 for a long, 0.0 for a double and an empty variant. Writes and
    // methods return the entry's HRESULT and report nothing.
#define KP_READ(name, type) kp::kelvon::type get_##name();
#define KP_WRITE(name, type) kp::HResult set_##name(const kp::kelvon::type &Value);
#define KP_METHOD(name, args, names)                                                               \
    template <class... A> kp::HResult name(A &&...a) {                                             \
        return callMethod<void args>(kp::kelvon::Entry::name, std::forward<A>(a)...);              \
    }
#include "server/Kelvon_tlb.inc"
#undef KP_READ
#undef KP_WRITE
#undef KP_METHOD

    // Pipelined reads for the fleet enumeration. ReadCar writes CarIndex and sends the twelve
    // reads of that vehicle together, taking the answers in order; failures are reported in
    // the order of the reads, exactly as the same reads one by one would report them.
    TCarReads ReadCar(int carIndex);
    // Writes GroupIndex and reads GroupCarsNum together.
    kp::kelvon::Long ReadGroupCarsNum(int groupIndex);
    // Any batch: a read's value, or a write's or method's HRESULT as an int, in call order.
    QVariantList Pipeline(const QList<kp::server::Call> &calls);

    // The held interface, after Connect when none is held. Raises kp::EOleSysError when none
    // could be obtained.
    std::shared_ptr<kp::server::IKelvonAutomation> GetDefaultInterface();
    void Connect();
    void Disconnect();
    void ConnectTo(std::shared_ptr<kp::server::IKelvonAutomation> intf);
    // The held interface as IUnknown; empty when not connected.
    std::shared_ptr<kp::server::IUnknown> GetDunk() const;

    // Called for each event the server fires: 201..205 call their handler when one is set;
    // anything else does nothing. The parameters are not looked at.
    void InvokeEvent(int DispID, const QVariantList &Params);

    // Starts a new sequence: forgets the server (also one that went away); the next operation
    // connects afresh, starting a server when none runs.
    void reconnect();
    bool isConnected() const { return static_cast<bool>(intf_); }
    // True after the server's name lost its owner while this client held its interface.
    bool serverWentAway() const { return serverGone_; }

    static const TServerData &serverData();

    TNotifyEvent OnChangeCarsLists;
    TNotifyEvent OnReceiveOnlineData;
    TNotifyEvent OnCloseServer;
    TNotifyEvent OnChangeParameters;
    TNotifyEvent OnEndComputing;

protected:
    void InitServerData();
    void BeforeDestruction();

private:
    template <class F> struct MethodArgs;
    template <class... P> struct MethodArgs<void(P...)> {
        static QVariantList pack(const P &...p) { return {QVariant::fromValue(p)...}; }
    };
    template <class F, class... A> kp::HResult callMethod(kp::kelvon::Entry e, A &&...a) {
        return invokeMethod(e, MethodArgs<F>::pack(std::forward<A>(a)...));
    }

    kp::HResult invokeMethod(kp::kelvon::Entry e, const QVariantList &args);
    QVariant invokeRead(kp::kelvon::Entry e);
    QVariant checkedValue(kp::kelvon::Entry e, const kp::server::CallResult &r);
    void noteFailure(kp::HResult hr);
    void serverLeft();

    std::shared_ptr<kp::server::Link> link_;
    std::shared_ptr<kp::server::IKelvonAutomation> intf_;
    bool serverGone_ = false;
};

// Reports a failed read: success codes return at once; otherwise the "HRCHECK: " box with the
// report, Yes raising kp::EOleException (report, code, file), No returning the code, Cancel
// stopping in an attached debugger and otherwise acting as No. Returns the code.
kp::HResult CheckServerResult(kp::HResult hr, const QString &callText, const QString &file,
                              int line);

namespace kp::server {
// The report of CheckServerResult: "'%s': %s @ %s/%d" when the code has a system text,
// otherwise "(%s) Error: %lX (%ld) @ %s/%d".
QString serverResultReport(kp::HResult hr, const QString &callText, const QString &file, int line);
} // namespace kp::server
