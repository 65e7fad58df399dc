// The calculation thread CountThread: runs one Calculation off the main thread. Every change the
// run makes to the window is emitted as a signal; connected to the window they are queued and so
// carried out on the main thread in the order the run made them. The termination request
// (requestInterruption) is the cancel signal; `finished` is the completion.
#pragma once

#include "Run.h"

#include <QElapsedTimer>
#include <QThread>
#include <atomic>

namespace kp::calc {

class CountThread : public QThread, private RunObserver {
    Q_OBJECT
public:
    CountThread(RunSettings settings, Calculation::ServerFactory server,
                Calculation::RoleSourceFactory roles, QObject *parent = nullptr);
    ~CountThread() override;

    // The termination request. Unlike requestInterruption alone it also holds when it comes
    // before the thread has started (starting a QThread clears the interruption request), so a
    // run cancelled that early touches nothing.
    void cancel();
    bool cancelRequested() const;

    // Read once the thread has finished.
    const Calculation &calculation() const { return calc_; }
    const QList<RunFailure> &failures() const { return calc_.failures(); }

signals:
    void statusMessageChanged(const QString &text);
    void progressRangeChanged(qint64 maximum);
    void progressPositionChanged(qint64 position);
    void intervalCounted(qint64 k, qint64 total);
    void displayDetached();
    void selectionReplaced(const QStringList &devices);

protected:
    void run() override;

private:
    void statusMessage(const QString &text) override;
    void progressRange(std::int64_t m) override;
    void progressPosition(std::int64_t p) override;
    void intervalProgress(std::int64_t k, std::int64_t t) override;
    void detachDisplay() override;
    void selectionTaken(const QStringList &d) override;

    // Intervals are counted far faster than a window repaints: of a run of consecutive
    // intervals the window is handed one every few milliseconds, and always the last one before
    // any other change, so it shows each state the run went through, in order, and ends exactly
    // where the run did.
    void handOverHeldInterval();
    bool haveInterval_ = false;
    bool intervalHeld_ = false;
    std::int64_t lastK_ = 0;
    std::int64_t lastTotal_ = 0;
    QElapsedTimer sinceHandOver_;

    std::atomic_bool cancelled_{false};
    Calculation calc_;
};

// The real collaborators: the run's own client of the monitoring server (created on the thread
// that calls the factory) and the roles of TS/Cars.ini.
std::unique_ptr<CounterServer> makeMonitoringServer();
std::unique_ptr<RoleSource> makeCarsIniRoles(const QString &carsIniPath);

} // namespace kp::calc
