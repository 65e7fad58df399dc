#include "server/HrCheckBox.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QMetaObject>
#include <QMutex>
#include <QPointer>
#include <QThread>
#include <QWaitCondition>

#include <csignal>
#include <cstdio>
#include <memory>

namespace kp::server {

namespace {

const QString caption = QStringLiteral("HRCHECK: ");

HrAnswer answerOf(int button) {
    switch (button) {
    case QMessageBox::Yes:
        return HrAnswer::Yes;
    case QMessageBox::Cancel:
        return HrAnswer::Cancel;
    default:
        return HrAnswer::No;
    }
}

QMessageBox *makeBox(const QString &text) {
    auto *box = new QMessageBox(QMessageBox::Question, caption, text,
                                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    box->setObjectName(QStringLiteral("HrCheckBox"));
    box->setDefaultButton(QMessageBox::Yes);
    box->setEscapeButton(QMessageBox::Cancel);
    return box;
}

// The answer a waiting thread gets from the main thread.
struct PendingAnswer {
    QMutex lock;
    QWaitCondition done;
    bool answered = false;
    HrAnswer answer = HrAnswer::No;
    QPointer<QMessageBox> box;
};

} // namespace

HrAnswer askHrCheck(const QString &text) {
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app || QCoreApplication::closingDown()) {
        std::fprintf(stderr, "%s%s\n", qPrintable(caption), qPrintable(text));
        return HrAnswer::No;
    }
    if (QThread::currentThread() == app->thread()) {
        // Owned by no window and modal to the whole application.
        std::unique_ptr<QMessageBox> box(makeBox(text));
        box->setWindowModality(Qt::ApplicationModal);
        return answerOf(box->exec());
    }

    auto pending = std::make_shared<PendingAnswer>();
    QMetaObject::invokeMethod(app, [pending, text] {
        QMessageBox *box = makeBox(text);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        QObject::connect(box, &QMessageBox::finished, box, [pending, box](int) {
            QMutexLocker l(&pending->lock);
            pending->answered = true;
            QAbstractButton *b = box->clickedButton();
            pending->answer = b ? answerOf(box->standardButton(b)) : HrAnswer::No;
            pending->done.wakeAll();
        });
        {
            QMutexLocker l(&pending->lock);
            pending->box = box;
        }
        box->show();
    });

    QMutexLocker l(&pending->lock);
    while (!pending->answered) {
        pending->done.wait(&pending->lock, 50);
        if (pending->answered) break;
        if (QThread::currentThread()->isInterruptionRequested() ||
            QCoreApplication::closingDown()) {
            // The run is being cancelled (or the program closes): nobody waits for this answer.
            QPointer<QMessageBox> box = pending->box;
            pending->answered = true;
            l.unlock();
            QMetaObject::invokeMethod(app, [box] {
                if (box) box->close();
            });
            return HrAnswer::No;
        }
    }
    return pending->answer;
}

bool debuggerAttached() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return false;
    while (!status.atEnd()) {
        const QByteArray line = status.readLine();
        if (line.startsWith("TracerPid:")) return line.mid(10).trimmed().toInt() != 0;
    }
    return false;
}

void breakIntoDebugger() {
    if (debuggerAttached()) std::raise(SIGTRAP);
}

} // namespace kp::server
