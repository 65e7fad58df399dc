// Fuzz target of the dBASE file reader: any bytes are either refused with the database error or
// read cell by cell without a crash. The same bytes also go through the statement scanner.
#include "platform/core/Exceptions.h"
#include "platform/localsql/Dbf.h"
#include "platform/localsql/SqlText.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace kp::localsql;
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    try {
        const DbfTable t = DbfTable::fromBytes(bytes, QStringLiteral("/fuzz.dbf"));
        for (qint64 r = 0; r < t.recordCount() && r < 4096; ++r) {
            (void)t.isDeleted(r);
            for (int f = 0; f < t.fieldCount(); ++f) {
                try {
                    (void)t.value(r, f);
                } catch (const kp::EDatabaseError &) {
                }
            }
        }
        // What was read goes back through the record encoder (or is refused by it).
        for (qint64 r = 0; r < t.recordCount() && r < 16; ++r) {
            DbfRow row;
            for (int f = 0; f < t.fieldCount(); ++f) {
                try {
                    row << t.value(r, f);
                } catch (const kp::EDatabaseError &) {
                    row << QVariant();
                }
            }
            try {
                (void)encodeRecord(t.path(), t.fields(), row);
            } catch (const kp::EDatabaseError &) {
            }
        }
    } catch (const kp::EDatabaseError &) {
    }
    (void)analyzeSql(std::string_view(bytes.constData(), size_t(bytes.size())));
    return 0;
}
