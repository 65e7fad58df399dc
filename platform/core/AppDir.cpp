#include "AppDir.h"

#include <QDir>
#include <QFileInfo>

namespace kp {

namespace {
QString computeAppDir() {
    // /proc/self/exe works before the application object exists.
    QFileInfo exe(QStringLiteral("/proc/self/exe"));
    QString target = exe.symLinkTarget();
    if (target.isEmpty()) return QDir::currentPath();
    return QFileInfo(target).absolutePath();
}

QString &storage() {
    static QString dir = computeAppDir();
    return dir;
}
} // namespace

QString appDir() { return storage(); }

void setAppDirForTests(const QString &dir) {
    QString d = QDir::cleanPath(dir);
    storage() = d;
}

} // namespace kp
