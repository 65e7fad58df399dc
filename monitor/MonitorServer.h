// The one shared server object of kelvon-monitor on the session bus: the current group,
// vehicle and trip and the computation are the same for every caller. Entries are dispatched
// from the entry table; those the desktop program never calls answer "not implemented".
#pragma once

#include "monitor/FleetData.h"

#include "server/Kelvon_tlb.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QFutureWatcher>
#include <QHash>

#include <atomic>
#include <memory>

namespace kp::monitor {

// Options of the server, the testing aids among them.
struct ServerOptions {
    QString dataDir;
    QHash<int, kp::HResult> failEntries; // Entry -> the HRESULT every call of it fails with
    bool neverFinish = false;            // ComputingBusy stays non-zero
    qint64 exitAfter = -1;               // calls answered before the server exits unannounced
    bool truncatedExport = false;        // exports lose their second half
    bool realCounters = false;           // counters exported with decimals
    int slowComputingMs = 0;             // a computation takes at least this long
};

class MonitorServer : public QDBusVirtualObject {
    Q_OBJECT
public:
    MonitorServer(ServerOptions options, QDBusConnection bus);
    ~MonitorServer() override;

    // Loads the fleet: the database of the data folder, or the demo fleet when it has none.
    // Raises kp::Exception when the database cannot be read.
    void loadFleet();
    bool isDemo() const { return demo_; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;
    QString introspect(const QString &path) const override;

    void emitEvent(int dispId);
    // OnCloseServer, delivered before the caller quits.
    void announceClose();

signals:
    void busLost();

private slots:
    void onBusDisconnected();

private:
    struct Reply {
        kp::HResult hr = 0;
        QVariant value;
        QString text; // description of a failure
    };
    Reply dispatch(kelvon::Entry entry, const QVariantList &args);
    Reply reload(const QString &dataDir);
    Reply startComputing(const QVariantList &args);
    Reply exportList(const QVariantList &args);
    const Group *currentGroup() const;
    const Vehicle *currentCar() const;
    void computationDone(quint64 generation);
    void flushToBus();

    ServerOptions options_;
    QDBusConnection bus_;
    Fleet fleet_;
    bool demo_ = true;
    int groupIndex_ = 0; // 0: none
    int carIndex_ = 0;
    int tripIndex_ = 0;
    qint64 calls_ = 0;

    // The computation: one at a time, a new start abandons the running one.
    quint64 generation_ = 0;
    bool busy_ = false;
    std::shared_ptr<std::atomic<int>> percents_;
    std::shared_ptr<std::atomic<bool>> cancel_;
    QFutureWatcher<QList<Record>> *watcher_ = nullptr;
    QList<Record> trip_;
    int tripsNum_ = 0;
    bool computed_ = false;
};

} // namespace kp::monitor
