// The session bus link's receiver of server signals and of the owner's departure. Private to
// DBusLink.cpp; lives on the thread that subscribed.
#pragma once

#include "server/Link.h"

#include <QDBusMessage>
#include <QObject>

namespace kp::server::detail {

class SignalReceiver : public QObject {
    Q_OBJECT
public:
    SignalReceiver(EventSink sink, std::function<void()> gone)
        : sink_(std::move(sink)), gone_(std::move(gone)) {}

    // Forgets both callbacks: nothing reaches the owner any more.
    void clear() {
        sink_ = {};
        gone_ = {};
    }
    // True while one of the callbacks runs (the receiver must not be deleted then).
    bool busy() const { return depth_ > 0; }

public slots:
    void onSignal(const QDBusMessage &message);
    void onOwnerLeft();

private:
    EventSink sink_;
    std::function<void()> gone_;
    int depth_ = 0;
};

} // namespace kp::server::detail
