// The session bus link: the server is the owner of org.kelvon.Monitoring, and a client talks to
// that owner's unique name, never to the well-known name, so that calls made after the owner
// left can never reach (or start) another server with another current group and vehicle.
#include "server/DBusLink_p.h"
#include "server/HResult.h"
#include "server/Link.h"

#include "platform/core/AppDir.h"

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace kp::server {

using namespace kp::hr;
using kelvon::Entry;

EOleSysError serverSysError(HResult code, const QUuid &classId) {
    QString text = systemText(code);
    if (text.isEmpty()) text = hex(code);
    return EOleSysError(
        QStringLiteral("%1, ClassID: %2").arg(text, classId.toString(QUuid::WithBraces).toUpper()),
        code);
}

namespace detail {

void SignalReceiver::onSignal(const QDBusMessage &message) {
    ++depth_;
    // A copy: the handler may unsubscribe, which clears the callbacks.
    if (EventSink sink = sink_) sink(kelvon::eventDispId(message.member()), message.arguments());
    --depth_;
}

void SignalReceiver::onOwnerLeft() {
    ++depth_;
    if (std::function<void()> gone = gone_) gone();
    --depth_;
}

} // namespace detail

namespace {

const QString busService = QStringLiteral("org.freedesktop.DBus");
const QString busPath = QStringLiteral("/org/freedesktop/DBus");

QDBusMessage busCall(const QDBusConnection &bus, const QString &member, const QVariantList &args) {
    QDBusMessage m = QDBusMessage::createMethodCall(busService, busPath, busService, member);
    m.setArguments(args);
    return bus.call(m, QDBus::Block);
}

QString nameOwner(const QDBusConnection &bus, const QString &name) {
    const QDBusMessage r = busCall(bus, QStringLiteral("GetNameOwner"), {name});
    if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty()) return {};
    return r.arguments().first().toString();
}

bool hasOwner(const QDBusConnection &bus, const QString &name) {
    const QDBusMessage r = busCall(bus, QStringLiteral("NameHasOwner"), {name});
    return r.type() == QDBusMessage::ReplyMessage && !r.arguments().isEmpty() &&
           r.arguments().first().toBool();
}

bool activatable(const QDBusConnection &bus, const QString &name) {
    const QDBusMessage r = busCall(bus, QStringLiteral("ListActivatableNames"), {});
    if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty()) return false;
    return r.arguments().first().toStringList().contains(name);
}

// A process that is gone, or a zombie nobody has reaped yet.
bool processGone(qint64 pid) {
    if (::kill(static_cast<pid_t>(pid), 0) != 0) return errno == ESRCH;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray s = stat.readAll();
    const int close = s.lastIndexOf(')');
    return close > 0 && s.size() > close + 2 && s.at(close + 2) == 'Z';
}

QVariant toWire(char type, const QVariant &v) {
    switch (type) {
    case 'i':
        return QVariant::fromValue<qint32>(v.toInt());
    case 's':
        return QVariant::fromValue<QString>(v.toString());
    case 'd':
        return QVariant::fromValue<double>(v.toDouble());
    default:
        return QVariant::fromValue(QDBusVariant(v));
    }
}

QVariant fromWire(char type, const QVariant &v) {
    switch (type) {
    case 'i':
        return QVariant::fromValue<qint32>(v.toInt());
    case 's':
        return QVariant::fromValue<QString>(v.toString());
    case 'd':
        return QVariant::fromValue<double>(v.toDouble());
    default:
        if (v.canConvert<QDBusVariant>()) return qvariant_cast<QDBusVariant>(v).variant();
        return v;
    }
}

const char *const eventSignals[] = {"OnChangeCarsLists", "OnReceiveOnlineData", "OnCloseServer",
                                    "OnChangeParameters", "OnEndComputing"};

class DBusServerObject final : public IKelvonAutomation,
                               public std::enable_shared_from_this<DBusServerObject> {
public:
    DBusServerObject(QDBusConnection bus, QString owner)
        : bus_(std::move(bus)), owner_(std::move(owner)) {}
    ~DBusServerObject() override { unadvise(); }

    HResult QueryInterface(const QUuid &iid, std::shared_ptr<IUnknown> &out) override {
        out.reset();
        if (iid != kelvon::IID_IKelvonAutomation) return E_NOINTERFACE;
        if (!interfaceChecked_) {
            QDBusMessage m = QDBusMessage::createMethodCall(
                owner_, QLatin1String(kelvon::ObjectPath),
                QStringLiteral("org.freedesktop.DBus.Introspectable"),
                QStringLiteral("Introspect"));
            const QDBusMessage r = bus_.call(m, QDBus::Block);
            if (r.type() != QDBusMessage::ReplyMessage) {
                const HResult h = fromDBusError(r.errorName(), r.errorMessage());
                return h == DISP_E_MEMBERNOTFOUND ? E_NOINTERFACE : h;
            }
            const QString xml = r.arguments().value(0).toString();
            if (!xml.contains(QStringLiteral("<interface name=\"%1\"")
                                  .arg(QLatin1String(kelvon::InterfaceName))))
                return E_NOINTERFACE;
            interfaceChecked_ = true;
        }
        out = shared_from_this();
        return S_OK;
    }

    CallResult invoke(Entry entry, const QVariantList &args) override {
        if (gone_) return {RPC_E_DISCONNECTED, {}};
        QDBusMessage m;
        if (HResult h = message(entry, args, m); failed(h)) return {h, {}};
        return result(entry, bus_.call(m, QDBus::Block));
    }

    QList<CallResult> invokePipelined(const QList<Call> &calls) override {
        QList<CallResult> out;
        out.reserve(calls.size());
        if (gone_) {
            for (qsizetype i = 0; i < calls.size(); ++i)
                out.append(CallResult{RPC_E_DISCONNECTED, {}});
            return out;
        }
        // Every call goes out before the first answer is taken; the bus keeps their order and
        // the server answers them one after another.
        QList<std::optional<QDBusPendingCall>> pending;
        QList<HResult> early;
        pending.reserve(calls.size());
        for (const Call &c : calls) {
            QDBusMessage m;
            const HResult h = message(c.entry, c.args, m);
            early.append(h);
            pending.append(failed(h) ? std::nullopt
                                     : std::optional<QDBusPendingCall>(bus_.asyncCall(m)));
        }
        for (qsizetype i = 0; i < calls.size(); ++i) {
            if (!pending[i]) {
                out.append(CallResult{early[i], {}});
                continue;
            }
            pending[i]->waitForFinished();
            out.append(result(calls[i].entry, pending[i]->reply()));
        }
        return out;
    }

    void advise(EventSink sink, std::function<void()> gone) override {
        unadvise();
        receiver_ = std::make_unique<detail::SignalReceiver>(std::move(sink), [this, gone] {
            gone_ = true;
            if (gone) gone();
        });
        for (const char *name : eventSignals) {
            bus_.connect(owner_, QLatin1String(kelvon::ObjectPath),
                         QLatin1String(kelvon::EventsInterfaceName), QLatin1String(name),
                         receiver_.get(), SLOT(onSignal(QDBusMessage)));
        }
        auto *watcher = new QDBusServiceWatcher(
            owner_, bus_, QDBusServiceWatcher::WatchForUnregistration, receiver_.get());
        QObject::connect(watcher, &QDBusServiceWatcher::serviceUnregistered, receiver_.get(),
                         &detail::SignalReceiver::onOwnerLeft);
        // The owner may have left before the watcher was in place.
        if (!hasOwner(bus_, owner_)) gone_ = true;
    }

    void unadvise() override {
        if (!receiver_) return;
        if (bus_.isConnected()) {
            for (const char *name : eventSignals) {
                bus_.disconnect(owner_, QLatin1String(kelvon::ObjectPath),
                                QLatin1String(kelvon::EventsInterfaceName), QLatin1String(name),
                                receiver_.get(), SLOT(onSignal(QDBusMessage)));
            }
        }
        receiver_->clear();
        // An event handler may unsubscribe from inside the receiver's own slot.
        if (receiver_->busy())
            receiver_.release()->deleteLater();
        else
            receiver_.reset();
    }

    bool gone() const override { return gone_; }
    QString address() const override { return owner_; }

private:
    HResult message(Entry entry, const QVariantList &args, QDBusMessage &m) const {
        const kelvon::EntryInfo &info = kelvon::entryInfo(entry);
        const QByteArray sig(info.inSig);
        if (args.size() != sig.size()) return E_INVALIDARG;
        m = QDBusMessage::createMethodCall(owner_, QLatin1String(kelvon::ObjectPath),
                                           QLatin1String(kelvon::InterfaceName),
                                           QLatin1String(info.name));
        QVariantList wire;
        wire.reserve(args.size());
        for (qsizetype i = 0; i < args.size(); ++i)
            wire.append(toWire(sig.at(i), args[i]));
        m.setArguments(wire);
        return S_OK;
    }

    CallResult result(Entry entry, const QDBusMessage &reply) {
        if (reply.type() == QDBusMessage::ReplyMessage) {
            const kelvon::EntryInfo &info = kelvon::entryInfo(entry);
            if (info.kind != kelvon::Kind::Read) return {S_OK, {}};
            if (reply.arguments().isEmpty()) return {DISP_E_TYPEMISMATCH, {}};
            return {S_OK, fromWire(info.outSig[0], reply.arguments().first())};
        }
        const QString name = reply.errorName();
        HResult h = fromDBusError(name, reply.errorMessage());
        // We talk to a unique name: "no owner" means the server we held has left the bus.
        if (h == RPC_S_SERVER_UNAVAILABLE || h == RPC_E_DISCONNECTED ||
            (h == RPC_E_TIMEOUT && !hasOwner(bus_, owner_))) {
            gone_ = true;
            h = RPC_E_DISCONNECTED;
        }
        return {h, {}};
    }

    QDBusConnection bus_;
    QString owner_;
    bool interfaceChecked_ = false;
    std::atomic<bool> gone_{false};
    std::unique_ptr<detail::SignalReceiver> receiver_;
};

class SessionBusLink final : public Link {
public:
    std::shared_ptr<IUnknown> GetServer(const QUuid &classId) override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) throw serverSysError(RPC_S_SERVER_UNAVAILABLE, classId);
        const QString name = QLatin1String(kelvon::ServiceName);

        // 1. The running server.
        QString owner = nameOwner(bus, name);
        if (!owner.isEmpty()) return std::make_shared<DBusServerObject>(bus, owner);

        // 2. A server the bus knows how to start.
        if (activatable(bus, name)) {
            const QDBusMessage r =
                busCall(bus, QStringLiteral("StartServiceByName"), {name, quint32(0)});
            owner = nameOwner(bus, name);
            if (!owner.isEmpty()) return std::make_shared<DBusServerObject>(bus, owner);
            Q_UNUSED(r);
            throw serverSysError(CO_E_SERVER_EXEC_FAILURE, classId);
        }

        // 3. kelvon-monitor beside our own executable, waited for at most 10 s.
        const QString exe = kp::appDir() + QStringLiteral("/kelvon-monitor");
        const QFileInfo fi(exe);
        if (!fi.isFile() || !fi.isExecutable()) throw serverSysError(REGDB_E_CLASSNOTREG, classId);
        qint64 pid = 0;
        if (!QProcess::startDetached(exe, {}, QString(), &pid))
            throw serverSysError(CO_E_SERVER_EXEC_FAILURE, classId);
        QDeadlineTimer deadline(10000);
        while (true) {
            owner = nameOwner(bus, name);
            if (!owner.isEmpty()) return std::make_shared<DBusServerObject>(bus, owner);
            if (deadline.hasExpired() || processGone(pid)) break;
            QThread::msleep(10);
        }
        // A server that is alive but never took the name is of no use to anyone.
        if (!processGone(pid)) ::kill(static_cast<pid_t>(pid), SIGTERM);
        throw serverSysError(CO_E_SERVER_EXEC_FAILURE, classId);
    }
};

} // namespace

std::shared_ptr<Link> sessionBusLink() {
    static std::shared_ptr<Link> link = std::make_shared<SessionBusLink>();
    return link;
}

} // namespace kp::server
