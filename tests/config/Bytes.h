// Files as bytes: the configuration files are compared and prepared byte for byte, in the
// Windows Cyrillic code page they are stored in.
#pragma once

#include <QFile>
#include <QStringEncoder>
#include <QtTest>

inline QByteArray cp1251(const QString &s) {
    QStringEncoder e("windows-1251");
    return e.encode(s);
}

inline QByteArray readBytes(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
    return f.readAll();
}

inline void writeBytes(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}
