#include "monitor/MonitorServer.h"

#include "monitor/DemoFleet.h"
#include "monitor/Export.h"
#include "monitor/ServerTime.h"
#include "monitor/Store.h"

#include "server/HResult.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <cstdlib>
#include <unistd.h>

namespace kp::monitor {

using kelvon::Entry;
using namespace kp::hr;

namespace {

// A period longer than this is refused: nobody counts passengers over decades.
constexpr double kMaxPeriodDays = 1000;

QVariant wire(char type, const QVariant &v) {
    if (type == 'v') return QVariant::fromValue(QDBusVariant(v));
    return v;
}

QString canonical(const QString &dir) {
    const QFileInfo fi(dir);
    const QString c = fi.canonicalFilePath();
    return c.isEmpty() ? QDir::cleanPath(fi.absoluteFilePath()) : c;
}

} // namespace

MonitorServer::MonitorServer(ServerOptions options, QDBusConnection bus)
    : options_(std::move(options)), bus_(std::move(bus)),
      percents_(std::make_shared<std::atomic<int>>(0)),
      cancel_(std::make_shared<std::atomic<bool>>(false)) {
    // A server whose bus is gone serves nobody: quit rather than live on, re-parented.
    bus_.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                 QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), this,
                 SLOT(onBusDisconnected()));
    auto *check = new QTimer(this);
    connect(check, &QTimer::timeout, this, [this] {
        if (!bus_.isConnected()) onBusDisconnected();
    });
    check->start(500);
}

MonitorServer::~MonitorServer() {
    cancel_->store(true);
    if (watcher_) watcher_->waitForFinished();
}

void MonitorServer::onBusDisconnected() { emit busLost(); }

void MonitorServer::loadFleet() {
    if (Store::exists(options_.dataDir)) {
        Store store(options_.dataDir, false);
        fleet_ = store.loadFleet();
        demo_ = false;
    } else {
        fleet_ = demo::fleet();
        demo_ = true;
    }
}

QString MonitorServer::introspect(const QString &path) const {
    if (path != QLatin1String(kelvon::ObjectPath)) return {};
    return kelvon::introspectionXml() +
           QStringLiteral("  <interface name=\"%1\">\n"
                          "    <method name=\"Reload\">\n"
                          "      <arg name=\"DataDir\" type=\"s\" direction=\"in\"/>\n"
                          "      <arg name=\"Changed\" type=\"b\" direction=\"out\"/>\n"
                          "    </method>\n"
                          "  </interface>\n")
               .arg(QLatin1String(kelvon::AdminInterfaceName));
}

void MonitorServer::emitEvent(int dispId) {
    const char *name = kelvon::eventName(dispId);
    if (!name) return;
    bus_.send(QDBusMessage::createSignal(QLatin1String(kelvon::ObjectPath),
                                         QLatin1String(kelvon::EventsInterfaceName),
                                         QLatin1String(name)));
}

void MonitorServer::announceClose() {
    emitEvent(kelvon::DISPID_OnCloseServer);
    flushToBus();
}

void MonitorServer::flushToBus() {
    // The bus handles our messages in order: once it has answered this, everything sent before
    // it is out.
    QDBusMessage ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    bus_.call(ping, QDBus::Block, 2000);
}

bool MonitorServer::handleMessage(const QDBusMessage &message, const QDBusConnection &connection) {
    if (message.type() != QDBusMessage::MethodCallMessage) return false;
    const QString iface = message.interface();
    auto send = [&](const Reply &r, char outType) {
        if (message.isReplyRequired() == false && succeeded(r.hr)) return;
        if (failed(r.hr)) {
            connection.send(message.createErrorReply(QLatin1String(kelvon::HResultErrorName),
                                                     errorMessage(r.hr, r.text)));
        } else if (outType) {
            connection.send(message.createReply(wire(outType, r.value)));
        } else {
            connection.send(message.createReply());
        }
    };

    if (iface == QLatin1String(kelvon::AdminInterfaceName)) {
        if (message.member() != QLatin1String("Reload") ||
            message.signature() != QLatin1String("s")) {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod,
                                                     QStringLiteral("no such method")));
            return true;
        }
        const Reply r = reload(message.arguments().value(0).toString());
        send(r, 'b');
        return true;
    }
    if (!iface.isEmpty() && iface != QLatin1String(kelvon::InterfaceName)) return false;

    const std::optional<Entry> entry = kelvon::entryByName(message.member());
    if (!entry) {
        connection.send(message.createErrorReply(
            QDBusError::UnknownMethod,
            QStringLiteral("%1 has no entry %2")
                .arg(QLatin1String(kelvon::InterfaceName), message.member())));
        return true;
    }
    const kelvon::EntryInfo &info = kelvon::entryInfo(*entry);
    if (message.signature() != QLatin1String(info.inSig)) {
        connection.send(message.createErrorReply(
            QDBusError::InvalidArgs,
            QStringLiteral("%1 takes (%2), not (%3)")
                .arg(QLatin1String(info.name), QLatin1String(info.inSig), message.signature())));
        return true;
    }
    // Testing aid: the server goes away unannounced instead of answering this call.
    if (options_.exitAfter >= 0 && calls_ >= options_.exitAfter) {
        flushToBus(); // the answers already given do arrive
        ::_exit(3);
    }
    ++calls_;

    Reply r;
    if (auto f = options_.failEntries.constFind(int(*entry));
        f != options_.failEntries.constEnd()) {
        r = {*f, {}, QStringLiteral("failure requested for %1").arg(QLatin1String(info.name))};
    } else {
        r = dispatch(*entry, message.arguments());
    }
    send(r, info.kind == kelvon::Kind::Read ? info.outSig[0] : 0);
    return true;
}

const Group *MonitorServer::currentGroup() const {
    if (groupIndex_ < 1 || groupIndex_ > fleet_.size()) return nullptr;
    return &fleet_[groupIndex_ - 1];
}

const Vehicle *MonitorServer::currentCar() const {
    const Group *g = currentGroup();
    if (!g || carIndex_ < 1 || carIndex_ > g->vehicles.size()) return nullptr;
    return &g->vehicles[carIndex_ - 1];
}

MonitorServer::Reply MonitorServer::dispatch(Entry e, const QVariantList &args) {
    const Reply noGroup{KELVON_E_NOGROUP, {}, QStringLiteral("no current group")};
    const Reply noCar{KELVON_E_NOCAR, {}, QStringLiteral("no current vehicle")};
    auto text = [](const QString &s) { return Reply{S_OK, QVariant::fromValue(s), {}}; };
    auto number = [](qint32 v) { return Reply{S_OK, QVariant::fromValue(v), {}}; };
    const Group *g = currentGroup();
    const Vehicle *v = currentCar();

    switch (e) {
    case Entry::get_GroupsNum:
        return number(qint32(fleet_.size()));
    case Entry::set_GroupIndex: {
        const int i = args.value(0).toInt();
        if (i < 1 || i > fleet_.size())
            return {
                DISP_E_BADINDEX, {}, QStringLiteral("group %1 of %2").arg(i).arg(fleet_.size())};
        groupIndex_ = i;
        carIndex_ = 0;
        return {};
    }
    case Entry::get_GroupCarsNum:
        return g ? number(qint32(g->vehicles.size())) : noGroup;
    case Entry::set_CarIndex: {
        if (!g) return noGroup;
        const int i = args.value(0).toInt();
        if (i < 1 || i > g->vehicles.size())
            return {DISP_E_BADINDEX,
                    {},
                    QStringLiteral("vehicle %1 of %2").arg(i).arg(g->vehicles.size())};
        carIndex_ = i;
        return {};
    }
    case Entry::get_GroupName:
        return g ? text(g->name) : noGroup;
    case Entry::get_GroupAddress:
        return g ? text(g->address) : noGroup;
    case Entry::get_GroupContacts:
        return g ? text(g->contacts) : noGroup;
    case Entry::get_GroupFileName:
        return g ? text(g->fileName) : noGroup;
    case Entry::get_CarDevice:
        return v ? number(v->device) : noCar;
    case Entry::get_CarModel:
        return v ? text(v->model) : noCar;
    case Entry::get_CarNumber:
        return v ? text(v->number) : noCar;
    case Entry::get_CarAlias:
        return v ? text(v->alias) : noCar;
    case Entry::get_CarTelNum:
        return v ? text(v->telNum) : noCar;
    case Entry::get_CarCheckPointsFile:
        return v ? text(v->checkPointsFile) : noCar;
    case Entry::get_CarRoute:
        return v ? text(v->route) : noCar;
    case Entry::get_CarDrivers:
        return v ? text(v->drivers) : noCar;
    case Entry::SetGroupIndexByFileName: {
        const QString name = args.value(0).toString();
        for (qsizetype i = 0; i < fleet_.size(); ++i) {
            if (fleet_[i].fileName == name) {
                groupIndex_ = int(i + 1);
                carIndex_ = 0;
                return {};
            }
        }
        return {E_INVALIDARG, {}, QStringLiteral("no group with the file name %1").arg(name)};
    }
    case Entry::StartComputing:
        return startComputing(args);
    case Entry::get_ComputingBusy:
        return number(busy_ ? 1 : 0);
    case Entry::get_ComputingPercents:
        return number(percents_->load());
    case Entry::get_TripsNum:
        return number(busy_ ? 0 : tripsNum_);
    case Entry::set_TripIndex: {
        if (busy_) return {KELVON_E_BUSY, {}, QStringLiteral("computing")};
        const int i = args.value(0).toInt();
        if (i < 1 || i > tripsNum_)
            return {DISP_E_BADINDEX, {}, QStringLiteral("trip %1 of %2").arg(i).arg(tripsNum_)};
        tripIndex_ = i;
        return {};
    }
    case Entry::ExportListToFile:
        return exportList(args);
    default:
        return {E_NOTIMPL,
                {},
                QStringLiteral("%1 is not implemented").arg(QLatin1String(kelvon::entryName(e)))};
    }
}

MonitorServer::Reply MonitorServer::reload(const QString &dataDir) {
    if (canonical(dataDir) != canonical(options_.dataDir)) return {S_OK, false, {}};
    const Fleet before = fleet_;
    const bool wasDemo = demo_;
    try {
        loadFleet();
    } catch (const kp::Exception &e) {
        return {E_FAIL, {}, e.message()};
    }
    const bool changed = fleet_ != before || demo_ != wasDemo;
    if (changed) {
        // Indexes into the old lists mean nothing in the new ones.
        groupIndex_ = 0;
        carIndex_ = 0;
        emitEvent(kelvon::DISPID_OnChangeCarsLists);
    }
    return {S_OK, changed, {}};
}

MonitorServer::Reply MonitorServer::startComputing(const QVariantList &args) {
    const QString groupFile = args.value(0).toString();
    const qint32 device = args.value(1).toInt();
    const QString startText = args.value(2).toString();
    const QString endText = args.value(3).toString();
    const QString channel = args.value(4).toString();

    const Group *group = nullptr;
    for (const Group &g : fleet_) {
        if (g.fileName == groupFile) group = &g;
    }
    if (!group)
        return {E_INVALIDARG, {}, QStringLiteral("no group with the file name %1").arg(groupFile)};
    const Vehicle *vehicle = nullptr;
    for (const Vehicle &v : group->vehicles) {
        if (v.device == device) vehicle = &v;
    }
    if (!vehicle)
        return {E_INVALIDARG,
                {},
                QStringLiteral("device %1 is not in group %2").arg(device).arg(groupFile)};
    const std::optional<double> from = parseServerTime(startText);
    const std::optional<double> to = parseServerTime(endText);
    if (!from || !to)
        return {
            E_INVALIDARG,
            {},
            QStringLiteral("times must read dd.mm.yyyy hh:mm:ss: %1, %2").arg(startText, endText)};
    if (*to - *from > kMaxPeriodDays)
        return {E_INVALIDARG,
                {},
                QStringLiteral("the period is longer than %1 days").arg(kMaxPeriodDays)};
    if (!isChannel(channel))
        return {
            E_INVALIDARG, {}, QStringLiteral("the channel %1 is neither GSM nor USB").arg(channel)};

    // Abandon a computation still running; its result is never used.
    cancel_->store(true);
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    percents_ = std::make_shared<std::atomic<int>>(0);
    const quint64 generation = ++generation_;
    busy_ = true;
    computed_ = false;
    tripsNum_ = 0;
    tripIndex_ = 0;
    trip_.clear();

    const bool demo = demo_;
    const QString dataDir = options_.dataDir;
    const int slowMs = options_.slowComputingMs;
    const bool neverFinish = options_.neverFinish;
    auto percents = percents_;
    auto cancel = cancel_;
    auto work = [=]() -> QList<Record> {
        QList<Record> out;
        // Loading is the first half of the work, going through the records the second.
        auto loaded = [&](int share) {
            percents->store(share / 2);
            return !cancel->load();
        };
        try {
            if (demo) {
                out = demo::records(device, channel, *from, *to, loaded);
            } else {
                Store store(dataDir, false);
                out = store.records(device, channel, *from, *to);
            }
        } catch (const kp::Exception &) {
            out.clear();
        }
        for (int p = 50; p <= (neverFinish ? 99 : 100) && !cancel->load(); ++p) {
            percents->store(p);
            if (slowMs > 0) QThread::usleep(static_cast<unsigned long>(slowMs) * 1000 / 51);
        }
        return out;
    };

    if (watcher_) {
        watcher_->disconnect(this);
        connect(watcher_, &QFutureWatcherBase::finished, watcher_, &QObject::deleteLater);
    }
    watcher_ = new QFutureWatcher<QList<Record>>(this);
    connect(watcher_, &QFutureWatcherBase::finished, this,
            [this, generation] { computationDone(generation); });
    watcher_->setFuture(QtConcurrent::run(work));
    return {};
}

void MonitorServer::computationDone(quint64 generation) {
    if (generation != generation_ || !watcher_) return;
    QList<Record> result = watcher_->result();
    watcher_->deleteLater();
    watcher_ = nullptr;
    if (options_.neverFinish) return; // testing aid: ComputingBusy stays non-zero
    trip_ = std::move(result);
    tripsNum_ = trip_.isEmpty() ? 0 : 1;
    computed_ = true;
    percents_->store(100);
    busy_ = false;
    emitEvent(kelvon::DISPID_OnEndComputing);
}

MonitorServer::Reply MonitorServer::exportList(const QVariantList &args) {
    const QString path = args.value(0).toString();
    const QString list = args.value(1).toString();
    const QString kind = args.value(2).toString();
    const int firstTrip = args.value(3).toInt();
    const int tripsCount = args.value(4).toInt();

    if (path.isEmpty() || QFileInfo(path).isRelative())
        return {E_INVALIDARG, {}, QStringLiteral("the path must be absolute: %1").arg(path)};
    if (list.compare(QLatin1String("data_counters"), Qt::CaseInsensitive) != 0)
        return {KELVON_E_UNKNOWNLIST, {}, QStringLiteral("no list named %1").arg(list)};
    int firstInput = 0;
    if (kind.compare(QLatin1String("num12"), Qt::CaseInsensitive) == 0) firstInput = 1;
    if (kind.compare(QLatin1String("num34"), Qt::CaseInsensitive) == 0) firstInput = 3;
    if (!firstInput) return {KELVON_E_UNKNOWNLIST, {}, QStringLiteral("no list kind %1").arg(kind)};
    if (busy_) return {KELVON_E_BUSY, {}, QStringLiteral("still computing")};
    if (!computed_ || tripsNum_ < 1)
        return {KELVON_E_NODATA, {}, QStringLiteral("no trip computed")};
    if (firstTrip < 1 || tripsCount < 1 || firstTrip + tripsCount - 1 > tripsNum_)
        return {E_INVALIDARG,
                {},
                QStringLiteral("trips %1 to %2 of %3")
                    .arg(firstTrip)
                    .arg(firstTrip + tripsCount - 1)
                    .arg(tripsNum_)};

    QString error;
    const ExportStyle style{options_.realCounters, options_.truncatedExport};
    const kp::HResult h = writeCounterTable(path, trip_, firstInput, style, &error);
    return {h, {}, error};
}

} // namespace kp::monitor
