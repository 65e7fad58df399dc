// The INI parser and writer on arbitrary bytes. The input is a small script followed by the
// file: byte 0 gives the number of writes, then each write is three length-prefixed UTF-8
// texts (section, key, value). Besides not crashing, every write must keep the document equal
// to one parsed afresh from the new bytes, read back as written, and change no other lookup.
#include "config/IniDocument.h"
#include "config/IniFile.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

using kp::config::IniDocument;

namespace {

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) __builtin_trap();                                                        \
    } while (0)

struct Write {
    QString section, key, value;
};

QString take(const uint8_t *&p, const uint8_t *end) {
    if (p == end) return {};
    size_t len = *p++ % 16;
    if (len > size_t(end - p)) len = size_t(end - p);
    QString s = QString::fromUtf8(reinterpret_cast<const char *>(p), qsizetype(len));
    p += len;
    return s;
}

QString trimBlanks(const QString &s) {
    qsizetype b = 0, e = s.size();
    while (b < e && (s[b] == u' ' || s[b] == u'\t'))
        ++b;
    while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t'))
        --e;
    return s.mid(b, e - b);
}

// What a written value reads back as: blanks trimmed, one pair of matching quotes removed.
QString readBack(const QString &value) {
    QString v = trimBlanks(value);
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v;
}

bool sameName(const QString &a, const QString &b) {
    return trimBlanks(a).toCaseFolded() == trimBlanks(b).toCaseFolded();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const uint8_t *p = data + 1;
    const uint8_t *end = data + size;
    std::vector<Write> writes(data[0] % 5);
    for (Write &w : writes) {
        w.section = take(p, end);
        w.key = take(p, end);
        w.value = take(p, end);
    }
    IniDocument doc(QByteArray(reinterpret_cast<const char *>(p), qsizetype(end - p)));
    // Names the script does not write, looked up after every write.
    const QString probes[][2] = {{"Groups", "count"}, {"Groups", "1"}, {"", ""}, {"517", "D1"}};

    for (const Write &w : writes) {
        std::vector<std::optional<QString>> before;
        for (const Write &o : writes)
            before.push_back(doc.value(o.section, o.key));
        for (const auto &probe : probes)
            before.push_back(doc.value(probe[0], probe[1]));
        if (std::optional<QString> v = doc.value(w.section, w.key))
            (void)kp::config::parseIniInteger(*v);

        if (!doc.canWrite(w.section, w.key, w.value)) continue;
        std::optional<IniDocument::Edit> edit = doc.prepareWrite(w.section, w.key, w.value);
        if (!edit) {
            // Left alone only when the value is there already.
            CHECK(doc.value(w.section, w.key).has_value());
            continue;
        }
        // IniFile refuses a write after which the file would read in another encoding.
        if (IniDocument::encodingOf(edit->bytes) != doc.encoding()) continue;
        IniDocument fresh(edit->bytes);
        doc.apply(std::move(*edit));
        CHECK(doc == fresh);
        CHECK(doc.value(w.section, w.key) == readBack(w.value));

        size_t i = 0;
        for (const Write &o : writes) {
            if (!(sameName(o.section, w.section) && sameName(o.key, w.key)))
                CHECK(doc.value(o.section, o.key) == before[i]);
            ++i;
        }
        for (const auto &probe : probes) {
            if (!(sameName(probe[0], w.section) && sameName(probe[1], w.key)))
                CHECK(doc.value(probe[0], probe[1]) == before[i]);
            ++i;
        }
    }
    return 0;
}
