#include "Thread.h"

namespace kp::calc {

CountThread::CountThread(RunSettings settings, Calculation::ServerFactory server,
                         Calculation::RoleSourceFactory roles, QObject *parent)
    : QThread(parent), calc_(
                           std::move(settings), *this, [this] { return cancelRequested(); },
                           std::move(server), std::move(roles)) {}

void CountThread::cancel() {
    cancelled_ = true;
    requestInterruption();
}

bool CountThread::cancelRequested() const { return cancelled_ || isInterruptionRequested(); }

CountThread::~CountThread() {
    cancel();
    wait();
}

void CountThread::run() {
    calc_.RunCalculation();
    handOverHeldInterval();
}

namespace {
constexpr qint64 kHandOverNs = 10'000'000; // about a frame of the window
}

void CountThread::intervalProgress(std::int64_t k, std::int64_t total) {
    const bool consecutive = haveInterval_ && k == lastK_ + 1 && total == lastTotal_;
    if (!consecutive) handOverHeldInterval(); // the last interval of the input before
    haveInterval_ = true;
    lastK_ = k;
    lastTotal_ = total;
    if (consecutive && sinceHandOver_.isValid() && sinceHandOver_.nsecsElapsed() < kHandOverNs) {
        intervalHeld_ = true;
        return;
    }
    intervalHeld_ = false;
    sinceHandOver_.start();
    emit intervalCounted(k, total);
}

void CountThread::handOverHeldInterval() {
    if (intervalHeld_) {
        intervalHeld_ = false;
        sinceHandOver_.start();
        emit intervalCounted(lastK_, lastTotal_);
    }
    haveInterval_ = false;
}

void CountThread::statusMessage(const QString &text) {
    handOverHeldInterval();
    emit statusMessageChanged(text);
}

void CountThread::progressRange(std::int64_t m) {
    handOverHeldInterval();
    emit progressRangeChanged(m);
}

void CountThread::progressPosition(std::int64_t p) {
    handOverHeldInterval();
    emit progressPositionChanged(p);
}

void CountThread::detachDisplay() {
    handOverHeldInterval();
    emit displayDetached();
}

void CountThread::selectionTaken(const QStringList &d) {
    handOverHeldInterval();
    emit selectionReplaced(d);
}

} // namespace kp::calc
