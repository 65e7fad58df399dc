#include "server/Kelvon_ocx.h"

#include "server/HResult.h"
#include "server/HrCheckBox.h"

#include <QMetaObject>
#include <QMutex>

using kp::HResult;
using kp::kelvon::Entry;
using namespace kp::hr;

namespace {

const QString clientFile = QStringLiteral("Kelvon_ocx.cpp");
const QString tableFile = QStringLiteral("Kelvon_tlb.inc");

QMutex serverDataLock;
TServerData &sharedServerData() {
    static TServerData data;
    return data;
}

// The value a read yields when it failed and the user chose to go on.
QVariant emptyValue(char valueType) {
    switch (valueType) {
    case 'i':
        return QVariant::fromValue<qint32>(0);
    case 's':
        return QVariant::fromValue<QString>(QString());
    case 'd':
        return QVariant::fromValue<double>(0.0);
    default:
        return QVariant();
    }
}

} // namespace

namespace kp::server {

QString serverResultReport(HResult hr, const QString &callText, const QString &file, int line) {
    const QString sys = systemText(hr);
    if (!sys.isEmpty()) {
        return QStringLiteral("'%1': %2 @ %3/%4").arg(callText, sys, file, QString::number(line));
    }
    return QStringLiteral("(%1) Error: %2 (%3) @ %4/%5")
        .arg(callText, hex(hr), QString::number(hr), file, QString::number(line));
}

} // namespace kp::server

HResult CheckServerResult(HResult hr, const QString &callText, const QString &file, int line) {
    if (hr >= 0) return hr;
    const QString report = kp::server::serverResultReport(hr, callText, file, line);
    const QString text =
        report +
        QStringLiteral("\nPress [Y]es to terminate,[N]o to continue and [C]ancel to Debug");
    switch (kp::server::askHrCheck(text)) {
    case kp::server::HrAnswer::Yes:
        throw kp::EOleException(report, hr, file, QString(), 0);
    case kp::server::HrAnswer::Cancel:
        kp::server::breakIntoDebugger();
        break;
    case kp::server::HrAnswer::No:
        break;
    }
    return hr;
}

TKelvonAutomation::TKelvonAutomation(QObject *owner)
    : TKelvonAutomation(owner, kp::server::sessionBusLink()) {}

TKelvonAutomation::TKelvonAutomation(QObject *owner, std::shared_ptr<kp::server::Link> link)
    : QObject(owner), link_(std::move(link)) {
    InitServerData();
}

TKelvonAutomation::~TKelvonAutomation() {
    BeforeDestruction();
    intf_.reset();
    QMutexLocker lock(&serverDataLock);
    --sharedServerData().InstanceCount;
}

void TKelvonAutomation::InitServerData() {
    QMutexLocker lock(&serverDataLock);
    TServerData &d = sharedServerData();
    d.ClassID = kp::kelvon::CLSID_KelvonAutomation;
    d.IntfIID = kp::kelvon::IID_IKelvonAutomation;
    d.EventIID = kp::kelvon::DIID_IKelvonAutomationEvents;
    ++d.InstanceCount;
}

const TServerData &TKelvonAutomation::serverData() { return sharedServerData(); }

void TKelvonAutomation::BeforeDestruction() { Disconnect(); }

void TKelvonAutomation::Connect() {
    if (intf_) return;
    // Running-or-new; an error here leaves the client unconnected, to try again next time.
    std::shared_ptr<kp::server::IUnknown> src = link_->GetServer(serverData().ClassID);
    std::shared_ptr<kp::server::IUnknown> unk;
    const HResult hr = src->QueryInterface(serverData().IntfIID, unk);
    CheckServerResult(hr, QStringLiteral("src->QueryInterface(GetIID(), (LPVOID*)(&intf))"),
                      clientFile, __LINE__);
    auto intf = std::dynamic_pointer_cast<kp::server::IKelvonAutomation>(unk);
    if (failed(hr) || !intf) return;
    ConnectTo(std::move(intf));
}

void TKelvonAutomation::ConnectTo(std::shared_ptr<kp::server::IKelvonAutomation> intf) {
    Disconnect();
    intf_ = std::move(intf);
    serverGone_ = false;
    if (!intf_) return;
    intf_->advise([this](int dispId, const QVariantList &params) { InvokeEvent(dispId, params); },
                  [this] { serverLeft(); });
    if (intf_->gone()) serverLeft();
}

void TKelvonAutomation::Disconnect() {
    if (!intf_) return;
    intf_->unadvise();
    intf_.reset();
}

std::shared_ptr<kp::server::IUnknown> TKelvonAutomation::GetDunk() const { return intf_; }

std::shared_ptr<kp::server::IKelvonAutomation> TKelvonAutomation::GetDefaultInterface() {
    if (!intf_) Connect();
    if (!intf_) {
        // The object refused the interface and the user chose to go on: nothing to call.
        throw kp::server::serverSysError(E_NOINTERFACE, serverData().ClassID);
    }
    return intf_;
}

void TKelvonAutomation::reconnect() {
    Disconnect();
    serverGone_ = false;
}

void TKelvonAutomation::serverLeft() {
    // Called from the interface's own receiver: let go of the interface only once that call has
    // returned. Until the owner starts a new sequence every operation fails as disconnected.
    serverGone_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (serverGone_) Disconnect();
        },
        Qt::QueuedConnection);
}

void TKelvonAutomation::noteFailure(HResult hr) {
    if (hr == RPC_E_DISCONNECTED && intf_ && intf_->gone() && !serverGone_) serverLeft();
}

void TKelvonAutomation::InvokeEvent(int DispID, const QVariantList &Params) {
    Q_UNUSED(Params);
    const TNotifyEvent *handler = nullptr;
    switch (DispID) {
    case kp::kelvon::DISPID_OnChangeCarsLists:
        handler = &OnChangeCarsLists;
        break;
    case kp::kelvon::DISPID_OnReceiveOnlineData:
        handler = &OnReceiveOnlineData;
        break;
    case kp::kelvon::DISPID_OnCloseServer:
        handler = &OnCloseServer;
        break;
    case kp::kelvon::DISPID_OnChangeParameters:
        handler = &OnChangeParameters;
        break;
    case kp::kelvon::DISPID_OnEndComputing:
        handler = &OnEndComputing;
        break;
    default:
        return;
    }
    if (*handler) (*handler)(this);
}

HResult TKelvonAutomation::invokeMethod(Entry e, const QVariantList &args) {
    if (serverGone_) return RPC_E_DISCONNECTED;
    const auto intf = GetDefaultInterface();
    const kp::server::CallResult r = intf->invoke(e, args);
    noteFailure(r.hr);
    return r.hr;
}

QVariant TKelvonAutomation::checkedValue(Entry e, const kp::server::CallResult &r) {
    const kp::kelvon::EntryInfo &info = kp::kelvon::entryInfo(e);
    if (succeeded(r.hr)) return r.value;
    CheckServerResult(r.hr, kp::kelvon::readCallText(e), tableFile, info.line);
    return emptyValue(info.valueType);
}

QVariant TKelvonAutomation::invokeRead(Entry e) {
    kp::server::CallResult r;
    if (serverGone_) {
        r.hr = RPC_E_DISCONNECTED;
    } else {
        r = GetDefaultInterface()->invoke(e, {});
        noteFailure(r.hr);
    }
    return checkedValue(e, r);
}

QVariantList TKelvonAutomation::Pipeline(const QList<kp::server::Call> &calls) {
    QList<kp::server::CallResult> results;
    if (serverGone_) {
        for (qsizetype i = 0; i < calls.size(); ++i)
            results.append(kp::server::CallResult{RPC_E_DISCONNECTED, {}});
    } else {
        results = GetDefaultInterface()->invokePipelined(calls);
        for (const auto &r : results)
            noteFailure(r.hr);
    }
    // Failed reads are reported in read order; "Yes" on one leaves the rest unreported.
    QVariantList out;
    out.reserve(calls.size());
    for (qsizetype i = 0; i < calls.size(); ++i) {
        const Entry e = calls[i].entry;
        if (kp::kelvon::entryInfo(e).kind == kp::kelvon::Kind::Read)
            out.append(checkedValue(e, results[i]));
        else
            out.append(QVariant::fromValue<int>(results[i].hr));
    }
    return out;
}

TCarReads TKelvonAutomation::ReadCar(int carIndex) {
    static const Entry reads[] = {
        Entry::get_CarDevice,    Entry::get_CarModel,           Entry::get_CarNumber,
        Entry::get_CarRoute,     Entry::get_CarDrivers,         Entry::get_CarAlias,
        Entry::get_CarTelNum,    Entry::get_CarCheckPointsFile, Entry::get_GroupName,
        Entry::get_GroupAddress, Entry::get_GroupContacts,      Entry::get_GroupFileName};
    QList<kp::server::Call> calls;
    calls.reserve(13);
    calls.append({Entry::set_CarIndex, {QVariant::fromValue<qint32>(carIndex)}});
    for (Entry e : reads)
        calls.append({e, {}});
    const QVariantList v = Pipeline(calls);
    TCarReads c;
    c.CarDevice = v[1].toInt();
    c.CarModel = v[2].toString();
    c.CarNumber = v[3].toString();
    c.CarRoute = v[4].toString();
    c.CarDrivers = v[5].toString();
    c.CarAlias = v[6].toString();
    c.CarTelNum = v[7].toString();
    c.CarCheckPointsFile = v[8].toString();
    c.GroupName = v[9].toString();
    c.GroupAddress = v[10].toString();
    c.GroupContacts = v[11].toString();
    c.GroupFileName = v[12].toString();
    return c;
}

kp::kelvon::Long TKelvonAutomation::ReadGroupCarsNum(int groupIndex) {
    const QVariantList v =
        Pipeline({{Entry::set_GroupIndex, {QVariant::fromValue<qint32>(groupIndex)}},
                  {Entry::get_GroupCarsNum, {}}});
    return v[1].toInt();
}

// The operations of the interface entries.
#define KP_READ(name, type)                                                                        \
    kp::kelvon::type TKelvonAutomation::get_##name() {                                             \
        return qvariant_cast<kp::kelvon::type>(invokeRead(Entry::get_##name));                     \
    }
#define KP_WRITE(name, type)                                                                       \
    HResult TKelvonAutomation::set_##name(const kp::kelvon::type &Value) {                         \
        return invokeMethod(Entry::set_##name, {QVariant::fromValue(Value)});                      \
    }
#define KP_METHOD(name, args, names)
#include "server/Kelvon_tlb.inc"
#undef KP_READ
#undef KP_WRITE
#undef KP_METHOD
