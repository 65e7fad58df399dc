// The `dbf` virtual-table module and the per-thread connection around it.
//
// Usage (what Query does): Engine::forThisThread().run("SELECT ... FROM '/path/t.dbf'", &rows).
// A statement names each table by its full path in single quotes, which SQLite takes as an
// identifier in table position. Preparing fails with "no such table: PATH" the first time; the
// engine then reads the file and declares it as the virtual table temp."PATH" and prepares again.
// CREATE TABLE never reaches SQLite's own schema: the authorizer denies it, and the statement is
// run on a scratch connection only to learn its columns, which become a new dBASE file.
//
// One struct per table (DbfVtab) and per cursor (DbfCursor), each with SQLite's base first.
// Every callback catches what it calls, so no C++ exception crosses SQLite's frames.
#include "SqlEngine.h"

#include "platform/core/Exceptions.h"
#include "platform/localsql/Dbf.h"
#include "platform/localsql/SqlText.h"

#include <QHash>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <sqlite3.h>
#include <unordered_map>

namespace kp::localsql {

namespace {

QString fold(const QString &name) {
    QString out = name;
    for (QChar &c : out)
        if (c >= u'A' && c <= u'Z') c = QChar(c.unicode() + 32);
    return out;
}

std::string quoteIdentifier(const QString &name) {
    std::string s = name.toStdString();
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// A sorted index of one numeric column: keys ascending, the record of each key beside it.
// NULL cells are left out (no comparison is ever true for them).
struct RangeIndex {
    std::vector<double> keys;
    std::vector<qint32> records;
};

struct TableState {
    QString name; // the path, as SQLite knows the table
    QByteArray nativeName;
    DbfTable table;
    std::vector<DbfColumnKind> kinds;
    bool stale = false; // read the file again before the next use
    std::vector<std::shared_ptr<const RangeIndex>> indexes;
    std::unique_ptr<DbfAppender> appender;
    QByteArray pending; // records of the running statement, written when it commits
    qint64 pendingCount = 0;

    void reset(const DbfTable &t) {
        table = t;
        kinds.clear();
        for (const DbfField &f : t.fields())
            kinds.push_back(columnKind(f));
        indexes.assign(kinds.size(), nullptr);
        appender.reset();
        pending.clear();
        pendingCount = 0;
        stale = false;
    }
};

bool isNumeric(DbfColumnKind k) { return k == DbfColumnKind::Integer || k == DbfColumnKind::Real; }

struct DbfVtab {
    sqlite3_vtab base;
    Engine::Impl *engine;
    std::shared_ptr<TableState> state;
};

struct DbfCursor {
    sqlite3_vtab_cursor base;
    DbfVtab *vtab;
    DbfTable table;       // the snapshot this scan reads
    bool useList = false; // records from the index, else every record
    std::vector<qint32> list;
    size_t pos = 0;
    qint64 record = 0;
    qint64 count = 0;
    std::string text; // UTF-8 of the last non-ASCII text cell
};

void setError(sqlite3_vtab *vt, const QString &msg) {
    sqlite3_free(vt->zErrMsg);
    vt->zErrMsg = sqlite3_mprintf("%s", msg.toUtf8().constData());
}

// Plan bits in idxNum: the column + 1 in the low 16 bits, then which bounds are passed.
constexpr int kPlanEq = 1 << 16;
constexpr int kPlanLower = 1 << 17;
constexpr int kPlanUpper = 1 << 18;

} // namespace

struct Engine::Impl {
    sqlite3 *db = nullptr;
    sqlite3 *scratch = nullptr;
    bool indexEnabled = true;

    // Authorizer state for the statement being prepared.
    bool authActive = false;
    QStringList authTables;
    bool createSeen = false;
    QString createTarget;
    int deniedAction = 0;

    std::shared_ptr<TableState> attaching; // the table xCreate is to take
    QHash<QString, std::shared_ptr<TableState>> tables;
    QHash<QString, QString> byFolded; // ASCII-folded name -> name

    struct Cached {
        sqlite3_stmt *stmt = nullptr;
        QStringList tables;
        quint64 used = 0;
    };
    std::unordered_map<std::string, Cached> cache;
    quint64 tick = 0;

    ~Impl();
    void open();
    void exec(sqlite3 *on, const std::string &sql, const QString &subject);
    void attach(const QString &name);
    void detach(const QString &name);
    void evictStatementsOf(const QString &name);
    void resolveCaseCollision(const QString &name);
    bool refresh(const QString &name, bool missingIsError = true);
    void createTable(const std::string &sql, const QString &path, bool ifNotExists);
    Cached *prepare(const SqlShape &shape, const std::string &sql, const QString &subject,
                    bool *handled);
    void execute(Cached &c, const SqlShape &shape, ResultSet *rows, bool requireResultSet,
                 const QString &subject);
};

namespace {

// ---- the module ---------------------------------------------------------------------------

// xCreate and xConnect: takes the table the engine is attaching and declares its columns.
int dbfConnect(sqlite3 *db, void *aux, int argc, const char *const *argv, sqlite3_vtab **out,
               char **err) {
    auto *engine = static_cast<Engine::Impl *>(aux);
    try {
        if (!engine->attaching || argc < 3 ||
            engine->attaching->name != QString::fromUtf8(argv[2])) {
            *err = sqlite3_mprintf("dbf tables are attached by naming their path");
            return SQLITE_ERROR;
        }
        const auto &state = engine->attaching;
        std::string decl = "CREATE TABLE x(";
        const QList<DbfField> &fields = state->table.fields();
        for (int i = 0; i < fields.size(); ++i) {
            if (i) decl += ", ";
            decl += quoteIdentifier(fields[i].name) + " " + sqlTypeName(state->kinds[size_t(i)]);
        }
        decl += ")";
        int rc = sqlite3_declare_vtab(db, decl.c_str());
        if (rc != SQLITE_OK) {
            *err = sqlite3_mprintf("%s", sqlite3_errmsg(db));
            return rc;
        }
        sqlite3_vtab_config(db, SQLITE_VTAB_DIRECTONLY);
        auto *vt = new DbfVtab{};
        vt->engine = engine;
        vt->state = state;
        *out = &vt->base;
        return SQLITE_OK;
    } catch (const std::exception &e) {
        *err = sqlite3_mprintf("%s", e.what());
        return SQLITE_ERROR;
    }
}

// xDisconnect and xDestroy: dropping the virtual table never touches the file.
int dbfDisconnect(sqlite3_vtab *vt) {
    delete reinterpret_cast<DbfVtab *>(vt);
    return SQLITE_OK;
}

// xBestIndex: a usable =, >, >=, <, <= on a numeric column is served from the sorted index.
// The bounds are passed inclusive and SQLite checks every returned row again (omit stays 0), so
// the index only has to return a superset. A scan of every record is priced at its full size.
int dbfBestIndex(sqlite3_vtab *vtab, sqlite3_index_info *info) {
    auto *vt = reinterpret_cast<DbfVtab *>(vtab);
    const double rows = double(std::max<qint64>(vt->state->table.recordCount(), 1));
    struct Use {
        int eq = -1, lower = -1, upper = -1;
    };
    std::vector<Use> uses(vt->state->kinds.size());
    if (vt->engine->indexEnabled) {
        for (int i = 0; i < info->nConstraint; ++i) {
            const auto &c = info->aConstraint[i];
            if (!c.usable || c.iColumn < 0 || size_t(c.iColumn) >= uses.size()) continue;
            if (!isNumeric(vt->state->kinds[size_t(c.iColumn)])) continue;
            Use &u = uses[size_t(c.iColumn)];
            switch (c.op) {
            case SQLITE_INDEX_CONSTRAINT_EQ:
                if (u.eq < 0) u.eq = i;
                break;
            case SQLITE_INDEX_CONSTRAINT_GT:
            case SQLITE_INDEX_CONSTRAINT_GE:
                if (u.lower < 0) u.lower = i;
                break;
            case SQLITE_INDEX_CONSTRAINT_LT:
            case SQLITE_INDEX_CONSTRAINT_LE:
                if (u.upper < 0) u.upper = i;
                break;
            default:
                break;
            }
        }
    }
    int best = -1, bestScore = 0;
    for (size_t col = 0; col < uses.size(); ++col) {
        const Use &u = uses[col];
        const int score = u.eq >= 0                        ? 3
                          : (u.lower >= 0 && u.upper >= 0) ? 2
                          : (u.lower >= 0 || u.upper >= 0) ? 1
                                                           : 0;
        if (score > bestScore) best = int(col), bestScore = score;
    }
    if (best < 0) {
        info->idxNum = 0;
        info->estimatedCost = rows * 4.0;
        info->estimatedRows = sqlite3_int64(rows);
        return SQLITE_OK;
    }
    const Use &u = uses[size_t(best)];
    int plan = best + 1;
    int arg = 0;
    auto take = [&](int constraint, int bit) {
        info->aConstraintUsage[constraint].argvIndex = ++arg;
        info->aConstraintUsage[constraint].omit = 0;
        plan |= bit;
    };
    double found;
    if (u.eq >= 0) {
        take(u.eq, kPlanEq);
        found = 1;
    } else {
        if (u.lower >= 0) take(u.lower, kPlanLower);
        if (u.upper >= 0) take(u.upper, kPlanUpper);
        found = bestScore == 2 ? rows / 64 + 1 : rows / 4 + 1;
    }
    info->idxNum = plan;
    info->estimatedCost = std::log2(rows + 1) + found;
    info->estimatedRows = sqlite3_int64(found);
    return SQLITE_OK;
}

int dbfOpen(sqlite3_vtab *vtab, sqlite3_vtab_cursor **out) {
    auto *c = new (std::nothrow) DbfCursor{};
    if (!c) return SQLITE_NOMEM;
    c->vtab = reinterpret_cast<DbfVtab *>(vtab);
    *out = &c->base;
    return SQLITE_OK;
}

int dbfClose(sqlite3_vtab_cursor *cur) {
    delete reinterpret_cast<DbfCursor *>(cur);
    return SQLITE_OK;
}

void skipDeleted(DbfCursor *c) {
    while (c->record < c->count && c->table.isDeleted(c->record))
        ++c->record;
}

std::shared_ptr<const RangeIndex> indexOf(TableState &s, int col) {
    if (s.indexes[size_t(col)]) return s.indexes[size_t(col)];
    const DbfTable &t = s.table;
    std::vector<std::pair<double, qint32>> entries;
    entries.reserve(size_t(t.recordCount()));
    for (qint64 r = 0; r < t.recordCount(); ++r) {
        if (t.isDeleted(r)) continue;
        const DbfTable::Cell cell = t.cell(r, col);
        switch (cell.kind) {
        case DbfTable::Cell::Integer:
            entries.emplace_back(double(cell.integer), qint32(r));
            break;
        case DbfTable::Cell::Real:
            entries.emplace_back(cell.real, qint32(r));
            break;
        case DbfTable::Cell::Bad:
            throw kp::EDatabaseError(t.badCellMessage(r, col));
        default:
            break;
        }
    }
    std::sort(entries.begin(), entries.end());
    auto index = std::make_shared<RangeIndex>();
    index->keys.reserve(entries.size());
    index->records.reserve(entries.size());
    for (const auto &[k, r] : entries) {
        index->keys.push_back(k);
        index->records.push_back(r);
    }
    s.indexes[size_t(col)] = index;
    return index;
}

// The numeric value a constraint's right side has after SQLite's numeric affinity; false when
// it has none (text that is no number, a blob), which leaves that side unbounded.
bool boundValue(sqlite3_value *v, double *out, bool *never) {
    sqlite3_value *copy = sqlite3_value_dup(v);
    if (!copy) return false;
    bool ok = false;
    switch (sqlite3_value_numeric_type(copy)) {
    case SQLITE_NULL:
        *never = true;
        break;
    case SQLITE_INTEGER:
        *out = double(sqlite3_value_int64(copy)), ok = true;
        break;
    case SQLITE_FLOAT:
        *out = sqlite3_value_double(copy);
        ok = !std::isnan(*out);
        break;
    default:
        break;
    }
    sqlite3_value_free(copy);
    return ok;
}

int dbfFilter(sqlite3_vtab_cursor *cur, int idxNum, const char *, int argc, sqlite3_value **argv) {
    auto *c = reinterpret_cast<DbfCursor *>(cur);
    TableState &s = *c->vtab->state;
    try {
        c->table = s.table;
        c->count = c->table.recordCount();
        c->useList = false;
        c->list.clear();
        c->pos = 0;
        c->record = 0;
        if (idxNum == 0) {
            skipDeleted(c);
            return SQLITE_OK;
        }
        const int col = (idxNum & 0xFFFF) - 1;
        double lower = -HUGE_VAL, upper = HUGE_VAL;
        bool never = false;
        int arg = 0;
        double v;
        if ((idxNum & kPlanEq) && arg < argc) {
            if (boundValue(argv[arg], &v, &never)) lower = upper = v;
            ++arg;
        }
        if ((idxNum & kPlanLower) && arg < argc) {
            if (boundValue(argv[arg], &v, &never)) lower = v;
            ++arg;
        }
        if ((idxNum & kPlanUpper) && arg < argc) {
            if (boundValue(argv[arg], &v, &never)) upper = v;
            ++arg;
        }
        c->useList = true;
        if (never || lower > upper) return SQLITE_OK;
        const std::shared_ptr<const RangeIndex> index = indexOf(s, col);
        auto from = std::lower_bound(index->keys.begin(), index->keys.end(), lower);
        auto to = std::upper_bound(from, index->keys.end(), upper);
        const auto first = size_t(from - index->keys.begin());
        const auto last = size_t(to - index->keys.begin());
        c->list.assign(index->records.begin() + qsizetype(first),
                       index->records.begin() + qsizetype(last));
        // Rows come in file order, as a scan would give them.
        std::sort(c->list.begin(), c->list.end());
        return SQLITE_OK;
    } catch (const kp::Exception &e) {
        setError(cur->pVtab, e.message());
    } catch (const std::exception &e) {
        setError(cur->pVtab, QString::fromUtf8(e.what()));
    }
    return SQLITE_ERROR;
}

int dbfNext(sqlite3_vtab_cursor *cur) {
    auto *c = reinterpret_cast<DbfCursor *>(cur);
    if (c->useList) {
        ++c->pos;
    } else {
        ++c->record;
        skipDeleted(c);
    }
    return SQLITE_OK;
}

int dbfEof(sqlite3_vtab_cursor *cur) {
    auto *c = reinterpret_cast<DbfCursor *>(cur);
    return c->useList ? c->pos >= c->list.size() : c->record >= c->count;
}

qint64 currentRecord(const DbfCursor *c) { return c->useList ? c->list[c->pos] : c->record; }

int dbfColumn(sqlite3_vtab_cursor *cur, sqlite3_context *ctx, int col) {
    auto *c = reinterpret_cast<DbfCursor *>(cur);
    const qint64 r = currentRecord(c);
    const DbfTable::Cell cell = c->table.cell(r, col);
    switch (cell.kind) {
    case DbfTable::Cell::Null:
        sqlite3_result_null(ctx);
        break;
    case DbfTable::Cell::Integer:
        sqlite3_result_int64(ctx, cell.integer);
        break;
    case DbfTable::Cell::Real:
        sqlite3_result_double(ctx, cell.real);
        break;
    case DbfTable::Cell::Text: {
        const bool ascii = std::all_of(cell.raw.begin(), cell.raw.end(), [](char ch) {
            return static_cast<unsigned char>(ch) < 0x80;
        });
        if (ascii) {
            sqlite3_result_text(ctx, cell.raw.data(), int(cell.raw.size()), SQLITE_TRANSIENT);
        } else {
            c->text.clear();
            c->table.appendUtf8(cell.raw, c->text);
            sqlite3_result_text(ctx, c->text.data(), int(c->text.size()), SQLITE_TRANSIENT);
        }
        break;
    }
    case DbfTable::Cell::Date: {
        char iso[10];
        memcpy(iso, cell.raw.data(), 4);
        iso[4] = '-';
        memcpy(iso + 5, cell.raw.data() + 4, 2);
        iso[7] = '-';
        memcpy(iso + 8, cell.raw.data() + 6, 2);
        sqlite3_result_text(ctx, iso, 10, SQLITE_TRANSIENT);
        break;
    }
    case DbfTable::Cell::Bad:
        try {
            sqlite3_result_error(ctx, c->table.badCellMessage(r, col).toUtf8().constData(), -1);
        } catch (...) {
            sqlite3_result_error_nomem(ctx);
        }
        break;
    }
    return SQLITE_OK;
}

int dbfRowid(sqlite3_vtab_cursor *cur, sqlite3_int64 *rowid) {
    *rowid = currentRecord(reinterpret_cast<DbfCursor *>(cur)) + 1;
    return SQLITE_OK;
}

QVariant toVariant(sqlite3_value *v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_value_int64(v)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_value_double(v));
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(v)),
                                          sqlite3_value_bytes(v)));
    case SQLITE_BLOB:
        return QVariant(
            QByteArray(static_cast<const char *>(sqlite3_value_blob(v)), sqlite3_value_bytes(v)));
    default:
        return QVariant();
    }
}

// xUpdate: INSERT only. The record is encoded now (a value that does not fit fails the
// statement before anything is written) and written when the statement commits (xSync).
int dbfUpdate(sqlite3_vtab *vtab, int argc, sqlite3_value **argv, sqlite3_int64 *rowid) {
    auto *vt = reinterpret_cast<DbfVtab *>(vtab);
    TableState &s = *vt->state;
    if (argc == 1 || sqlite3_value_type(argv[0]) != SQLITE_NULL) {
        setError(vtab, tableMessage(s.name, QStringLiteral("rows can only be added")));
        return SQLITE_READONLY;
    }
    const qsizetype at = s.pending.size();
    try {
        // Straight into the pending bytes; plain ASCII text for a character field (every value
        // of the result table) needs no conversion.
        const QList<DbfField> &fields = s.table.fields();
        s.pending.resize(at + s.table.recordLength());
        char *p = s.pending.data() + at;
        *p++ = ' ';
        for (int i = 0; i < fields.size(); ++i) {
            const DbfField &f = fields[i];
            sqlite3_value *v = i + 2 < argc ? argv[i + 2] : nullptr;
            if (v && f.type == 'C' && sqlite3_value_type(v) == SQLITE_TEXT) {
                const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(v));
                const int n = sqlite3_value_bytes(v);
                const bool ascii = std::all_of(text, text + n, [](char ch) {
                    return static_cast<unsigned char>(ch) < 0x80 && ch != 0;
                });
                if (ascii && n <= f.length) {
                    memcpy(p, text, size_t(n));
                    memset(p + n, ' ', size_t(f.length - n));
                    p += f.length;
                    continue;
                }
            }
            encodeFieldValue(s.name, f, v ? toVariant(v) : QVariant(), p);
            p += f.length;
        }
        ++s.pendingCount;
        *rowid = s.table.recordCount() + s.pendingCount;
        return SQLITE_OK;
    } catch (const kp::Exception &e) {
        setError(vtab, e.message());
    } catch (const std::exception &e) {
        setError(vtab, QString::fromUtf8(e.what()));
    }
    s.pending.truncate(at);
    return SQLITE_ERROR;
}

int dbfBegin(sqlite3_vtab *vtab) {
    TableState &s = *reinterpret_cast<DbfVtab *>(vtab)->state;
    s.pending.clear();
    s.pendingCount = 0;
    return SQLITE_OK;
}

// xSync: writes the statement's records, then the header's count (DbfAppender's order).
int dbfSync(sqlite3_vtab *vtab) {
    TableState &s = *reinterpret_cast<DbfVtab *>(vtab)->state;
    if (s.pendingCount == 0) return SQLITE_OK;
    try {
        if (!s.appender) s.appender = std::make_unique<DbfAppender>(s.name);
        if (s.appender->fields() != s.table.fields()) {
            s.stale = true;
            s.appender.reset();
            throw kp::EDatabaseError(tableMessage(s.name, QStringLiteral("the file changed")));
        }
        const bool inStep = s.appender->recordCount() == s.table.recordCount();
        s.appender->appendEncoded(s.pending, s.pendingCount);
        const FileIdentity id = s.appender->identity();
        if (inStep && id.size >= 0) {
            s.table.appendEncodedRecords(s.pending, s.pendingCount, id);
            std::fill(s.indexes.begin(), s.indexes.end(), nullptr);
        } else {
            s.stale = true;
        }
        s.pending.clear();
        s.pendingCount = 0;
        return SQLITE_OK;
    } catch (const kp::Exception &e) {
        setError(vtab, e.message());
    } catch (const std::exception &e) {
        setError(vtab, QString::fromUtf8(e.what()));
    }
    // Whatever reached the file past the old count is ignored by every reader; start afresh.
    s.appender.reset();
    s.stale = true;
    s.pending.clear();
    s.pendingCount = 0;
    return SQLITE_IOERR;
}

int dbfCommit(sqlite3_vtab *vtab) { return dbfBegin(vtab); }
int dbfRollback(sqlite3_vtab *vtab) { return dbfBegin(vtab); }

sqlite3_module dbfModule = {
    /* iVersion */ 1,
    /* xCreate */ dbfConnect,
    /* xConnect */ dbfConnect,
    /* xBestIndex */ dbfBestIndex,
    /* xDisconnect */ dbfDisconnect,
    /* xDestroy */ dbfDisconnect,
    /* xOpen */ dbfOpen,
    /* xClose */ dbfClose,
    /* xFilter */ dbfFilter,
    /* xNext */ dbfNext,
    /* xEof */ dbfEof,
    /* xColumn */ dbfColumn,
    /* xRowid */ dbfRowid,
    /* xUpdate */ dbfUpdate,
    /* xBegin */ dbfBegin,
    /* xSync */ dbfSync,
    /* xCommit */ dbfCommit,
    /* xRollback */ dbfRollback,
    /* xFindFunction */ nullptr,
    /* xRename */ nullptr,
    /* xSavepoint */ nullptr,
    /* xRelease */ nullptr,
    /* xRollbackTo */ nullptr,
    /* xShadowName */ nullptr,
};

int authorize(void *aux, int action, const char *a1, const char *, const char *dbName,
              const char *) {
    auto *e = static_cast<Engine::Impl *>(aux);
    if (!e->authActive) return SQLITE_OK;
    switch (action) {
    case SQLITE_READ:
    case SQLITE_INSERT:
        // COUNT(*) reads no column and names no schema: every attached table counts.
        if (a1 && (!dbName || std::strcmp(dbName, "temp") == 0)) {
            const QString name = QString::fromUtf8(a1);
            if (e->tables.contains(name) && !e->authTables.contains(name))
                e->authTables.append(name);
        }
        return SQLITE_OK;
    case SQLITE_SELECT:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_TEMP_TABLE:
        if (!e->createSeen) {
            e->createSeen = true;
            e->createTarget = QString::fromUtf8(a1 ? a1 : "");
        }
        return SQLITE_DENY;
    default:
        if (!e->deniedAction) e->deniedAction = action;
        return SQLITE_DENY;
    }
}

QString subjectMessage(const QString &subject, const QString &msg) {
    if (msg.startsWith(QStringLiteral("Table '")) || subject.isEmpty()) return msg;
    return tableMessage(subject, msg);
}

// The dBASE field a column of CREATE TABLE becomes.
DbfField fieldFor(const QString &path, const QString &name, const QString &declared) {
    const QString type = declared.trimmed().toUpper();
    QString base = type.section(u'(', 0, 0).simplified();
    QList<int> sizes;
    bool sizesOk = true;
    if (type.contains(u'(')) {
        const QString inner = type.section(u'(', 1).section(u')', 0, 0);
        for (const QString &part : inner.split(u',')) {
            bool ok = false;
            sizes.append(part.trimmed().toInt(&ok));
            sizesOk = sizesOk && ok;
        }
    }
    auto bad = [&](const QString &why) -> DbfField {
        throw kp::EDatabaseError(
            tableMessage(path, QStringLiteral("column %1: %2").arg(name, why)));
    };
    if (!sizesOk) return bad(QStringLiteral("bad size in type %1").arg(declared));
    if (base == u"VARCHAR" || base == u"CHAR" || base == u"CHARACTER" ||
        base == u"CHARACTER VARYING" || base == u"NVARCHAR" || base == u"NCHAR") {
        if (sizes.size() != 1) return bad(QStringLiteral("give the length of %1").arg(declared));
        return dbfCharacter(name, sizes[0]);
    }
    if (base == u"NUMERIC" || base == u"DECIMAL" || base == u"NUMBER") {
        if (sizes.isEmpty() || sizes.size() > 2)
            return bad(QStringLiteral("give the size of %1").arg(declared));
        return dbfNumeric(name, sizes[0], sizes.value(1, 0));
    }
    if (base == u"FLOAT" || base == u"REAL" || base == u"DOUBLE" || base == u"DOUBLE PRECISION") {
        if (sizes.size() == 2) return dbfFloat(name, sizes[0], sizes[1]);
        if (sizes.isEmpty()) return dbfFloat(name, 20, 6);
        return bad(QStringLiteral("give the size of %1").arg(declared));
    }
    if (base == u"INTEGER" || base == u"INT") return dbfNumeric(name, 11, 0);
    if (base == u"SMALLINT") return dbfNumeric(name, 6, 0);
    if (base == u"DATE") return dbfDate(name);
    if (base == u"BOOLEAN" || base == u"BOOL" || base == u"LOGICAL") return dbfLogical(name);
    return bad(QStringLiteral("unsupported type %1").arg(declared.isEmpty() ? "(none)" : declared));
}

QVariant columnValue(sqlite3_stmt *stmt, int i) {
    switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER: {
        const qint64 v = sqlite3_column_int64(stmt, i);
        if (v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max())
            return QVariant(int(v));
        return QVariant(qlonglong(v));
    }
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, i));
    case SQLITE_TEXT:
        return QVariant(
            QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)),
                              sqlite3_column_bytes(stmt, i)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char *>(sqlite3_column_blob(stmt, i)),
                                   sqlite3_column_bytes(stmt, i)));
    default:
        return QVariant();
    }
}

thread_local std::unique_ptr<Engine> tlsEngine;

} // namespace

// ---- the connection -----------------------------------------------------------------------

Engine::Impl::~Impl() {
    for (auto &[key, c] : cache)
        sqlite3_finalize(c.stmt);
    cache.clear();
    if (db) sqlite3_close_v2(db);
    if (scratch) sqlite3_close_v2(scratch);
}

void Engine::Impl::open() {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(":memory:", &db, flags, nullptr) != SQLITE_OK)
        throw kp::EDatabaseError(QStringLiteral("cannot open the SQL engine: %1")
                                     .arg(QString::fromUtf8(sqlite3_errmsg(db))));
    exec(db, "PRAGMA temp_store = MEMORY", {});
    if (sqlite3_create_module_v2(db, "dbf", &dbfModule, this, nullptr) != SQLITE_OK)
        throw kp::EDatabaseError(QStringLiteral("cannot register the dBASE module"));
    sqlite3_set_authorizer(db, authorize, this);
}

void Engine::Impl::exec(sqlite3 *on, const std::string &sql, const QString &subject) {
    char *err = nullptr;
    const bool wasActive = authActive;
    authActive = false;
    const int rc = sqlite3_exec(on, sql.c_str(), nullptr, nullptr, &err);
    authActive = wasActive;
    if (rc != SQLITE_OK) {
        const QString msg = QString::fromUtf8(err ? err : sqlite3_errmsg(on));
        sqlite3_free(err);
        throw kp::EDatabaseError(subjectMessage(subject, msg));
    }
}

void Engine::Impl::evictStatementsOf(const QString &name) {
    for (auto it = cache.begin(); it != cache.end();) {
        if (it->second.tables.contains(name)) {
            sqlite3_finalize(it->second.stmt);
            it = cache.erase(it);
        } else {
            ++it;
        }
    }
}

void Engine::Impl::detach(const QString &name) {
    evictStatementsOf(name);
    if (!tables.contains(name)) return;
    try {
        exec(db, "DROP TABLE temp." + quoteIdentifier(name), name);
    } catch (...) {
        // The table stays declared but is forgotten here; a later attach of the same name
        // would fail, so keep the state until the drop succeeds.
        return;
    }
    tables.remove(name);
    byFolded.remove(fold(name));
}

// SQLite folds ASCII case in table names, so two paths that differ only in case would meet in
// one table: the one attached before goes first.
void Engine::Impl::resolveCaseCollision(const QString &name) {
    auto it = byFolded.constFind(fold(name));
    if (it != byFolded.constEnd() && *it != name) detach(*it);
}

void Engine::Impl::attach(const QString &name) {
    resolveCaseCollision(name);
    if (tables.contains(name)) return;
    auto state = std::make_shared<TableState>();
    state->name = name;
    state->nativeName = nativePath(name);
    state->reset(DbfTable::read(name));
    attaching = state;
    try {
        exec(db, "CREATE VIRTUAL TABLE temp." + quoteIdentifier(name) + " USING dbf", name);
    } catch (...) {
        attaching.reset();
        throw;
    }
    attaching.reset();
    tables.insert(name, state);
    byFolded.insert(fold(name), name);
}

// Before a statement uses a table: read the file again when it changed on disk. Returns false
// when the table had to be dropped (its columns changed), so the statement is prepared anew.
bool Engine::Impl::refresh(const QString &name, bool missingIsError) {
    auto it = tables.find(name);
    if (it == tables.end()) return false;
    std::shared_ptr<TableState> state = *it;
    const FileIdentity id = identityOfNative(state->nativeName);
    if (id.size == -2)
        throw kp::EDatabaseError(tableMessage(
            name, QStringLiteral("cannot read the file: %1").arg(errnoText(int(id.inode)))));
    if (id.size < 0) {
        detach(name);
        if (!missingIsError) return false;
        throw kp::EDatabaseError(tableMessage(name, QStringLiteral("no such table")));
    }
    if (!state->stale && id == state->table.identity()) return true;
    if (!state->stale && state->table.identity().isOwnWriteOf(id)) {
        state->table.setIdentity(id);
        return true;
    }
    DbfTable fresh;
    try {
        fresh = DbfTable::read(name);
    } catch (...) {
        detach(name);
        throw;
    }
    if (fresh.fields() == state->table.fields()) {
        state->reset(fresh);
        return true;
    }
    detach(name);
    return false;
}

void Engine::Impl::createTable(const std::string &sql, const QString &path, bool ifNotExists) {
    if (path.isEmpty())
        throw kp::EDatabaseError(QStringLiteral("CREATE TABLE needs the path of the table"));
    const FileIdentity existing = identityOf(path);
    if (existing.size == -2)
        throw kp::EDatabaseError(tableMessage(
            path, QStringLiteral("cannot read the file: %1").arg(errnoText(int(existing.inode)))));
    if (existing.size >= 0) {
        if (ifNotExists) return;
        throw kp::EDatabaseError(tableMessage(path, QStringLiteral("table already exists")));
    }
    if (!scratch) {
        const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(":memory:", &scratch, flags, nullptr) != SQLITE_OK) {
            sqlite3_close_v2(scratch);
            scratch = nullptr;
            throw kp::EDatabaseError(
                tableMessage(path, QStringLiteral("cannot open the SQL engine")));
        }
    }
    exec(scratch, sql, path);
    QList<DbfField> fields;
    sqlite3_stmt *info = nullptr;
    struct Cleanup {
        Impl *self;
        sqlite3_stmt *&info;
        const QString &path;
        ~Cleanup() {
            sqlite3_finalize(info);
            char *err = nullptr;
            const std::string drop = "DROP TABLE " + quoteIdentifier(path);
            sqlite3_exec(self->scratch, drop.c_str(), nullptr, nullptr, &err);
            sqlite3_free(err);
        }
    } cleanup{this, info, path};
    const std::string utf8 = path.toStdString();
    if (sqlite3_prepare_v2(scratch, "SELECT name, type FROM pragma_table_info(?1)", -1, &info,
                           nullptr) != SQLITE_OK)
        throw kp::EDatabaseError(tableMessage(path, QString::fromUtf8(sqlite3_errmsg(scratch))));
    sqlite3_bind_text(info, 1, utf8.data(), int(utf8.size()), SQLITE_STATIC);
    while (sqlite3_step(info) == SQLITE_ROW) {
        const QString name =
            QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(info, 0)));
        const QString type =
            QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(info, 1)));
        fields.append(fieldFor(path, name, type));
    }
    writeDbfTable(path, fields, {}, DbfWriteMode::CreateNew);
    // A table of this name attached before (its file since deleted) is read afresh next time.
    auto it = byFolded.constFind(fold(path));
    if (it != byFolded.constEnd()) detach(*it);
}

Engine::Impl::Cached *Engine::Impl::prepare(const SqlShape &shape, const std::string &sql,
                                            const QString &subject, bool *handled) {
    *handled = false;
    for (int attempt = 0; attempt < 64; ++attempt) {
        authActive = true;
        authTables.clear();
        createSeen = false;
        createTarget.clear();
        deniedAction = 0;
        sqlite3_stmt *stmt = nullptr;
        const int rc = sqlite3_prepare_v3(db, shape.key.data(), int(shape.key.size()),
                                          SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        authActive = false;
        if (createSeen) {
            sqlite3_finalize(stmt);
            createTable(sql, createTarget, shape.ifNotExists);
            *handled = true;
            return nullptr;
        }
        if (rc != SQLITE_OK) {
            const QString msg = QString::fromUtf8(sqlite3_errmsg(db));
            sqlite3_finalize(stmt);
            static const QString noTable = QStringLiteral("no such table: ");
            if (msg.startsWith(noTable) && !tables.contains(msg.mid(noTable.size()))) {
                attach(msg.mid(noTable.size()));
                continue;
            }
            if (deniedAction)
                throw kp::EDatabaseError(subjectMessage(
                    subject, QStringLiteral("statement not supported (only SELECT, INSERT and "
                                            "CREATE TABLE are)")));
            throw kp::EDatabaseError(subjectMessage(subject, msg));
        }
        if (!stmt) throw kp::EDatabaseError(QStringLiteral("empty statement"));
        if (cache.size() >= size_t(kStatementCacheSize)) {
            auto oldest = cache.begin();
            for (auto it = cache.begin(); it != cache.end(); ++it)
                if (it->second.used < oldest->second.used) oldest = it;
            sqlite3_finalize(oldest->second.stmt);
            cache.erase(oldest);
        }
        Cached &c = cache[shape.key];
        c.stmt = stmt;
        c.tables = authTables;
        for (const QString &t : shape.tables)
            if (tables.contains(t) && !c.tables.contains(t)) c.tables.append(t);
        c.used = ++tick;
        return &c;
    }
    throw kp::EDatabaseError(subjectMessage(subject, QStringLiteral("too many tables")));
}

void Engine::Impl::execute(Cached &c, const SqlShape &shape, ResultSet *rows, bool requireResultSet,
                           const QString &subject) {
    sqlite3_stmt *stmt = c.stmt;
    const int columns = sqlite3_column_count(stmt);
    if (requireResultSet && columns == 0)
        throw kp::EDatabaseError(subjectMessage(subject, QStringLiteral("the statement gives no "
                                                                        "result set")));
    struct Reset {
        sqlite3_stmt *stmt;
        ~Reset() {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
        }
    } reset{stmt};
    for (size_t i = 0; i < shape.params.size(); ++i)
        sqlite3_bind_text(stmt, int(i + 1), shape.params[i].data(), int(shape.params[i].size()),
                          SQLITE_STATIC);
    if (rows) {
        rows->names.clear();
        rows->rows.clear();
        for (int i = 0; i < columns; ++i)
            rows->names.append(QString::fromUtf8(sqlite3_column_name(stmt, i)));
    }
    while (true) {
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE) break;
        if (rc == SQLITE_ROW) {
            if (rows) {
                QVariantList row;
                row.reserve(columns);
                for (int i = 0; i < columns; ++i)
                    row.append(columnValue(stmt, i));
                rows->rows.append(std::move(row));
            }
            continue;
        }
        const QString msg = QString::fromUtf8(sqlite3_errmsg(db));
        throw kp::EDatabaseError(subjectMessage(subject, msg));
    }
}

// ---- Engine -------------------------------------------------------------------------------

Engine::Engine() : d_(std::make_unique<Impl>()) { d_->open(); }
Engine::~Engine() = default;

Engine &Engine::forThisThread() {
    if (!tlsEngine) tlsEngine.reset(new Engine);
    return *tlsEngine;
}

void Engine::closeForThisThread() { tlsEngine.reset(); }

void Engine::run(const QString &sql, ResultSet *rows, bool requireResultSet) {
    const std::string utf8 = sql.toStdString();
    const SqlShape shape = analyzeSql(utf8);
    const QString subject = shape.tables.value(0);
    if (shape.severalStatements)
        throw kp::EDatabaseError(
            subjectMessage(subject, QStringLiteral("one statement at a time")));
    for (const QString &t : shape.tables)
        d_->resolveCaseCollision(t);
    // Tables the text names are checked before preparing, so a stale declaration never decides
    // what the statement means.
    for (const QString &t : shape.tables)
        if (d_->tables.contains(t)) d_->refresh(t, false);
    for (int attempt = 0; attempt < 8; ++attempt) {
        Impl::Cached *c = nullptr;
        auto it = d_->cache.find(shape.key);
        if (it != d_->cache.end()) {
            c = &it->second;
        } else {
            bool handled = false;
            c = d_->prepare(shape, utf8, subject, &handled);
            if (handled) return;
        }
        c->used = ++d_->tick;
        const QStringList used = c->tables;
        bool fresh = true;
        for (const QString &t : used)
            if ((attempt > 0 || !shape.tables.contains(t)) && !d_->refresh(t)) fresh = false;
        if (!fresh) continue;
        it = d_->cache.find(shape.key);
        if (it == d_->cache.end()) continue;
        d_->execute(it->second, shape, rows, requireResultSet, subject);
        return;
    }
    throw kp::EDatabaseError(subjectMessage(subject, QStringLiteral("the table keeps changing")));
}

void Engine::setRangeIndexEnabled(bool enabled) {
    if (d_->indexEnabled == enabled) return;
    d_->indexEnabled = enabled;
    for (auto &[key, c] : d_->cache)
        sqlite3_finalize(c.stmt);
    d_->cache.clear();
}

bool Engine::rangeIndexEnabled() const { return d_->indexEnabled; }
int Engine::cachedStatementCount() const { return int(d_->cache.size()); }
QStringList Engine::attachedTables() const { return d_->tables.keys(); }

} // namespace kp::localsql
