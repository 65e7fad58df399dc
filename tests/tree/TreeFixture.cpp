#include "tests/tree/TreeFixture.h"

#include "app/CarsTreeView.h"
#include "app/FleetTree.h"
#include "app/Mainform.h"

#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardItemModel>
#include <QTest>
#include <QThread>

namespace kp::test {

namespace {

const QString kServiceName = QStringLiteral("org.kelvon.Monitoring");

QString monitorExe() {
    return qEnvironmentVariable("KP_BIN_DIR") + QStringLiteral("/kelvon-monitor");
}

bool nameOwned() {
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(kServiceName).value();
}

bool waitForName(bool owned, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (nameOwned() == owned) return true;
        QThread::msleep(10);
    }
    return false;
}

bool g_scriptFailed = false;

} // namespace

FleetServer::~FleetServer() { stop(); }

bool FleetServer::importFleet(const QString &dataDir, const QString &csvPath) {
    QProcess p;
    p.start(monitorExe(),
            {QStringLiteral("--data"), dataDir, QStringLiteral("import-fleet"), csvPath});
    if (!p.waitForFinished(30000)) return false;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool FleetServer::start(const QStringList &extraArgs) {
    stop();
    if (!imported_) {
        const QString csv =
            qEnvironmentVariable("KP_SOURCE_DIR") + QStringLiteral("/tests/tree/fleet.csv");
        if (!data_.isValid() || !importFleet(data_.path(), csv)) return false;
        imported_ = true;
    }
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc_.start(monitorExe(), QStringList{QStringLiteral("--data"), data_.path()} + extraArgs);
    if (!proc_.waitForStarted(5000)) return false;
    return waitForName(true);
}

void FleetServer::stop() {
    if (running()) {
        proc_.kill();
        proc_.waitForFinished(5000);
    }
    waitForName(false, 5000);
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void writeFixtureConfig(const QString &appDir) {
    const QString ts = appDir + QStringLiteral("/TS/");
    writeFile(ts + "GroupLVL1.ini",
              "[Groups]\r\ncount=4\r\n1=Север\r\n2=Юг\r\n3=Север\r\n4=По умолчанию\r\n");
    writeFile(ts + "GroupLVL2.ini", "[Group1]\r\ncount=1\r\n1=Пустая\r\n"
                                    "[Group2]\r\ncount=2\r\n1=Утро\r\n2=Вечер\r\n");
    writeFile(ts + "Cars.ini", "[101]\r\nGroup1=2\r\nGroup2=1\r\nD1=2\r\nD2=3\r\nD3=7\r\n"
                               "[102]\r\nGroup1=2\r\nGroup2=3\r\n"
                               "[103]\r\nGroup1=5\r\n"
                               "[201]\r\nGroup1=3\r\n"
                               "[202]\r\nGroup1=4\r\n"
                               "[123456]\r\nGroup1=2\r\nGroup2=2\r\n"
                               "[204]\r\nGroup1=2\r\nGroup2=0\r\nD1=4\r\nD2=4\r\nD3=4\r\nD4=4\r\n");
}

QModelIndex node(const TCarsTreeView *tree, const QString &path) {
    const QAbstractItemModel *m = tree->model();
    QModelIndex at;
    for (const QString &step : path.split(QLatin1Char('/'))) {
        QModelIndex found;
        if (step.startsWith(QLatin1Char('@'))) {
            found = m->index(step.mid(1).toInt(), 0, at);
        } else {
            for (int r = 0; r < m->rowCount(at) && !found.isValid(); ++r) {
                const QModelIndex c = m->index(r, 0, at);
                if (step.startsWith(QLatin1Char('#'))) {
                    const TCarsParams *rec = kp::app::carRecord(c);
                    if (rec && rec->Device == step.mid(1).toInt()) found = c;
                } else if (c.data().toString() == step) {
                    found = c;
                }
            }
        }
        if (!found.isValid()) return {};
        at = found;
    }
    return at;
}

QString whereIs(const TCarsTreeView *tree, int device) {
    const QAbstractItemModel *m = tree->model();
    std::function<QModelIndex(const QModelIndex &)> find = [&](const QModelIndex &parent) {
        for (int r = 0; r < m->rowCount(parent); ++r) {
            const QModelIndex c = m->index(r, 0, parent);
            const TCarsParams *rec = kp::app::carRecord(c);
            if (rec && rec->Device == device) return c;
            if (QModelIndex deeper = find(c); deeper.isValid()) return deeper;
        }
        return QModelIndex();
    };
    QModelIndex at = find(QModelIndex());
    if (!at.isValid()) return {};
    QStringList steps;
    for (QModelIndex p = at.parent(); p.isValid(); p = p.parent())
        steps.prepend(p.data().toString() + QLatin1Char('@') + QString::number(p.row()));
    return steps.join(QLatin1Char('/'));
}

QStringList childTexts(const TCarsTreeView *tree, const QModelIndex &parent) {
    QStringList out;
    const QAbstractItemModel *m = tree->model();
    for (int r = 0; r < m->rowCount(parent); ++r)
        out << m->index(r, 0, parent).data().toString();
    return out;
}

QList<int> devices(const TForm1 &w) {
    QList<int> out;
    for (const TCarsParams *c : w.selectedVehicles().vehicles)
        out << c->Device;
    return out;
}

void clickNode(TCarsTreeView *tree, const QModelIndex &index, Qt::KeyboardModifiers modifiers) {
    if (!index.isValid()) qFatal("clickNode: no such node");
    tree->scrollTo(index);
    const QRect r = tree->visualRect(index);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, modifiers, r.center());
}

void chooseByKeys(QComboBox *box, int position) {
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Home);
    for (int i = 0; i < position; ++i)
        QTest::keyClick(box, Qt::Key_Down);
}

void typeText(QWidget *w, const QString &text) {
    for (QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

void whenModal(const char *className, std::function<void(QWidget *)> fn, int timeoutMs) {
    auto *timer = new QTimer;
    timer->setInterval(10);
    const QByteArray cls(className);
    auto deadline = std::make_shared<QDeadlineTimer>(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, [timer, cls, fn, deadline] {
        QWidget *w = QApplication::activeModalWidget();
        if (w && w->isVisible() && w->inherits(cls.constData())) {
            timer->stop();
            timer->deleteLater();
            fn(w);
            return;
        }
        if (deadline->hasExpired()) {
            timer->stop();
            timer->deleteLater();
            g_scriptFailed = true;
            while (QWidget *m = QApplication::activeModalWidget())
                m->close();
        }
    });
    timer->start();
}

bool scriptFailed() { return g_scriptFailed; }
void resetScript() { g_scriptFailed = false; }

} // namespace kp::test
