// The SQL engine behind Query: one in-memory SQLite connection per thread with our `dbf` module,
// where every dBASE file a statement names by its path is a virtual table of that name, attached
// on demand, read again when the file changed on disk and dropped when the file is gone.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

namespace kp::localsql {

// The rows of one result set, read whole. Values are null (an invalid QVariant), int when an
// integer fits 32 bits and qlonglong otherwise, double, QString or QByteArray.
struct ResultSet {
    QStringList names;
    QList<QVariantList> rows;
};

class Engine {
public:
    // This thread's engine, created at its first use and closed when the thread ends.
    static Engine &forThisThread();
    // Closes this thread's engine (its tables and prepared statements); the next use opens a
    // new one.
    static void closeForThisThread();

    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // Runs one statement. With `rows` the result set is read into it; with requireResultSet a
    // statement without result columns is refused before it runs. Throws kp::EDatabaseError.
    void run(const QString &sql, ResultSet *rows, bool requireResultSet);

    // Range constraints on numeric columns are served from a sorted index unless disabled
    // (the benchmark compares both).
    void setRangeIndexEnabled(bool enabled);
    bool rangeIndexEnabled() const;

    // Statements kept prepared, at most this many.
    static constexpr int kStatementCacheSize = 64;
    int cachedStatementCount() const;
    // Tables currently attached, by path.
    QStringList attachedTables() const;

    struct Impl;

private:
    Engine();
    std::unique_ptr<Impl> d_;
};

} // namespace kp::localsql
