// The grid's model: the caller's columns in the caller's order under its headings, the rows of
// the query as they were when it was set, numbers as the system writes them.
#include "Fixtures.h"
#include "TestSuites.h"
#include "platform/localsql/Query.h"
#include "platform/localsql/QueryModel.h"

#include <QSignalSpy>
#include <QtTest>

using namespace kp::localsql;

class TestQueryModel : public QObject {
    Q_OBJECT
private slots:
    void showsTheChosenColumnsOfTheRows();
};

void TestQueryModel::showsTheChosenColumnsOfTheRows() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.dbf"));
    writeDbfTable(
        path, {dbfCharacter("DTSTR", 20), dbfNumeric("INKolvo", 5), dbfNumeric("R", 8, 2)},
        {DbfRow{"19.05.2009 12:00:00", 20, 1.5}, DbfRow{"19.05.2009 13:00:00", QVariant(), 2.0}});
    Query q(QStringLiteral("SELECT DTSTR, INKolvo, R FROM %1").arg(fixtures::quoted(path)));
    q.open();

    QueryModel model;
    model.setLocale(QLocale(QLocale::Russian, QLocale::Russia));
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    model.setColumns(
        {{"r", "Доля"}, {"DTSTR", "Время"}, {"INKOLVO", "Кол-во вход."}, {"NONE", "Нет"}});
    model.setQuery(q);
    QCOMPARE(resets.count(), 2);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.columnCount(), 4);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Доля"));
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Кол-во вход."));
    QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("1,5"));
    QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("19.05.2009 12:00:00"));
    QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("20"));
    QCOMPARE(model.data(model.index(0, 2), Qt::EditRole).typeId(), int(QMetaType::Int));
    QCOMPARE(model.data(model.index(1, 2)).toString(), QString()); // null
    QCOMPARE(model.data(model.index(1, 3)).toString(), QString()); // no such field
    QVERIFY(model.data(model.index(0, 2), Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
    QVERIFY(!(model.flags(model.index(0, 0)) & Qt::ItemIsEditable));

    // Closing or reusing the query leaves the model's rows until it is given another one.
    q.setSql(
        QStringLiteral("SELECT DTSTR FROM %1 WHERE INKolvo > 100").arg(fixtures::quoted(path)));
    q.open();
    QCOMPARE(model.rowCount(), 2);
    model.setQuery(q);
    QCOMPARE(model.rowCount(), 0);
    model.detach();
    QVERIFY(!model.isAttached());
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(resets.count(), 4);
}

KP_TEST_SUITE(TestQueryModel)
#include "TestQueryModel.moc"
