#include "config/IniDocument.h"

#include <QHash>
#include <QStringDecoder>

#include <algorithm>

namespace kp::config {

namespace {

// Windows-1251 as two tables, taken once from the system's converter: a converter made for
// every name and value would cost more than the parsing itself.
struct CodePage {
    char16_t toUnicode[256];
    QHash<char16_t, char> fromUnicode;

    CodePage() {
        for (int b = 0; b < 256; ++b) {
            const char byte = char(b);
            QStringDecoder decoder("windows-1251");
            const QString s = decoder.decode(QByteArrayView(&byte, 1));
            // A byte the code page leaves undefined reads as U+FFFD and nothing encodes to it.
            if (s.size() != 1 || decoder.hasError() || s[0] == QChar::ReplacementCharacter) {
                toUnicode[b] = QChar::ReplacementCharacter;
                continue;
            }
            toUnicode[b] = s[0].unicode();
            fromUnicode.insert(s[0].unicode(), byte);
        }
    }
};

const CodePage &codePage() {
    static const CodePage table;
    return table;
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

QString trimBlanks(const QString &s) {
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b].unicode()))
        ++b;
    while (e > b && isBlank(s[e - 1].unicode()))
        --e;
    return s.mid(b, e - b);
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const QByteArray &bytes, qsizetype from, bool *hasMultiByte) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    *hasMultiByte = false;
    for (qsizetype i = from; i < n;) {
        unsigned c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        // The lead byte gives the length, the bits it carries and the smallest honest value.
        struct Lead {
            unsigned mask, pattern, bits, min;
            int len;
        };
        static constexpr Lead leads[] = {{0xE0, 0xC0, 0x1F, 0x80, 2},
                                         {0xF0, 0xE0, 0x0F, 0x800, 3},
                                         {0xF8, 0xF0, 0x07, 0x10000, 4}};
        const Lead *lead = std::find_if(std::begin(leads), std::end(leads),
                                        [c](const Lead &l) { return (c & l.mask) == l.pattern; });
        if (lead == std::end(leads)) return false;
        const int len = lead->len;
        const unsigned min = lead->min;
        c &= lead->bits;
        if (i + len > n) return false;
        for (int k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        *hasMultiByte = true;
        i += len;
    }
    return true;
}

} // namespace

IniDocument::IniDocument() = default;

IniDocument::IniDocument(QByteArray bytes)
    : bytes_(std::move(bytes)), encoding_(encodingOf(bytes_)) {
    if (encoding_ == Encoding::Utf16Le) unit_ = 2, textBegin_ = 2;
    if (encoding_ == Encoding::Utf8Bom) textBegin_ = 3;
    lines_ = parseRange(textBegin_, bytes_.size());
}

IniDocument::Encoding IniDocument::encodingOf(const QByteArray &bytes) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) return Encoding::Utf16Le;
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return Encoding::Utf8Bom;
    bool multiByte = false;
    // Pure ASCII stays in the code page, so Cyrillic written into it later is Windows-1251.
    if (isValidUtf8(bytes, 0, &multiByte) && multiByte) return Encoding::Utf8;
    return Encoding::Windows1251;
}

char16_t IniDocument::unitAt(qsizetype pos) const {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes_.constData());
    if (unit_ == 1) return p[pos];
    return char16_t(p[pos] | (p[pos + 1] << 8));
}

QString IniDocument::decode(qsizetype from, qsizetype to) const {
    const char *p = bytes_.constData() + from;
    const qsizetype n = to - from;
    switch (encoding_) {
    case Encoding::Utf16Le: {
        QString s(n / 2, Qt::Uninitialized);
        for (qsizetype i = 0; i < s.size(); ++i)
            s[i] = QChar(unitAt(from + 2 * i));
        return s;
    }
    case Encoding::Utf8:
    case Encoding::Utf8Bom:
        return QString::fromUtf8(p, n);
    case Encoding::Windows1251:
        break;
    }
    if (std::all_of(p, p + n, [](char c) { return uchar(c) < 0x80; }))
        return QString::fromLatin1(p, n);
    const CodePage &cp = codePage();
    QString s(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        s[i] = QChar(cp.toUnicode[uchar(p[i])]);
    return s;
}

QByteArray IniDocument::encode(const QString &text) const {
    switch (encoding_) {
    case Encoding::Utf16Le: {
        QByteArray out;
        out.reserve(text.size() * 2);
        for (QChar c : text) {
            out.append(char(c.unicode() & 0xFF));
            out.append(char(c.unicode() >> 8));
        }
        return out;
    }
    case Encoding::Utf8:
    case Encoding::Utf8Bom:
        return text.toUtf8();
    case Encoding::Windows1251:
        break;
    }
    // Only text canWrite() accepted gets here; anything else would have no byte.
    const CodePage &cp = codePage();
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text)
        out.append(cp.fromUnicode.value(c.unicode(), '?'));
    return out;
}

std::vector<IniDocument::Line> IniDocument::parseRange(qsizetype from, qsizetype to) const {
    std::vector<Line> lines;
    qsizetype pos = from;
    while (pos < to) {
        Line line;
        line.begin = pos;
        qsizetype end = pos;
        while (end + unit_ <= to && unitAt(end) != u'\r' && unitAt(end) != u'\n')
            end += unit_;
        if (end + unit_ <= to) {
            line.hasBreak = true;
            line.next = end + unit_;
            if (unitAt(end) == u'\r' && line.next + unit_ <= to && unitAt(line.next) == u'\n')
                line.next += unit_;
        } else {
            // Last line without a break; a half code unit of UTF-16 at the very end stays in it.
            line.next = to;
        }

        qsizetype b = pos, e = end;
        while (b < e && isBlank(unitAt(b)))
            b += unit_;
        while (e > b && isBlank(unitAt(e - unit_)))
            e -= unit_;
        if (b == e) {
            line.kind = Kind::Blank;
        } else if (unitAt(b) == u'[') {
            line.kind = Kind::Section;
            qsizetype nb = b + unit_, ne = nb;
            while (ne < e && unitAt(ne) != u']')
                ne += unit_;
            while (nb < ne && isBlank(unitAt(nb)))
                nb += unit_;
            while (ne > nb && isBlank(unitAt(ne - unit_)))
                ne -= unit_;
            line.nameBegin = nb;
            line.nameEnd = ne;
            line.folded = decode(nb, ne).toCaseFolded();
        } else if (unitAt(b) == u';') {
            line.kind = Kind::Comment;
        } else {
            line.kind = Kind::Entry;
            qsizetype eq = b;
            while (eq < e && unitAt(eq) != u'=')
                eq += unit_;
            qsizetype ne = eq;
            while (ne > b && isBlank(unitAt(ne - unit_)))
                ne -= unit_;
            line.nameBegin = b;
            line.nameEnd = ne;
            line.folded = decode(b, ne).toCaseFolded();
            if (eq < e) {
                line.hasValue = true;
                qsizetype vb = eq + unit_;
                while (vb < e && isBlank(unitAt(vb)))
                    vb += unit_;
                line.valueBegin = vb;
                line.valueEnd = e;
            }
        }
        lines.push_back(std::move(line));
        pos = lines.back().next;
    }
    return lines;
}

qsizetype IniDocument::findSection(const QString &folded) const {
    for (qsizetype i = 0; i < qsizetype(lines_.size()); ++i)
        if (lines_[i].kind == Kind::Section && lines_[i].folded == folded) return i;
    return -1;
}

qsizetype IniDocument::sectionEnd(qsizetype header) const {
    qsizetype i = header + 1;
    while (i < qsizetype(lines_.size()) && lines_[i].kind != Kind::Section)
        ++i;
    return i;
}

std::optional<QString> IniDocument::value(const QString &section, const QString &key) const {
    const qsizetype header = findSection(trimBlanks(section).toCaseFolded());
    if (header < 0) return std::nullopt;
    const QString folded = trimBlanks(key).toCaseFolded();
    const qsizetype end = sectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i) {
        const Line &line = lines_[i];
        if (line.kind != Kind::Entry || line.folded != folded) continue;
        if (!line.hasValue) return std::nullopt;
        QString v = decode(line.valueBegin, line.valueEnd);
        if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
            v = v.mid(1, v.size() - 2);
        return v;
    }
    return std::nullopt;
}

bool IniDocument::canWrite(const QString &section, const QString &key, const QString &value) const {
    // A UTF-16 file cut in the middle of a code unit cannot be added to without misaligning it.
    if ((bytes_.size() - textBegin_) % unit_ != 0) return false;
    auto breaksLine = [](const QString &s) { return s.contains(u'\r') || s.contains(u'\n'); };
    if (breaksLine(section) || breaksLine(key) || breaksLine(value)) return false;
    const QString k = trimBlanks(key);
    if (k.contains(u'=') || k.startsWith(u'[') || k.startsWith(u';')) return false;
    if (section.contains(u']')) return false;
    for (const QString *text : {&section, &key, &value}) {
        if (encoding_ == Encoding::Windows1251) {
            const CodePage &cp = codePage();
            for (QChar c : *text)
                if (!cp.fromUnicode.contains(c.unicode())) return false;
        } else if (encoding_ != Encoding::Utf16Le) {
            // Lone surrogates have no UTF-8 form.
            if (QString::fromUtf8(text->toUtf8()) != *text) return false;
        }
    }
    return true;
}

std::optional<IniDocument::Edit>
IniDocument::prepareWrite(const QString &section, const QString &key, const QString &value) const {
    const QString s = trimBlanks(section);
    const QString k = trimBlanks(key);
    const QByteArray crlf = encode(QStringLiteral("\r\n"));
    const QByteArray entry = encode(k) + encode(QStringLiteral("=")) + encode(value) + crlf;
    const qsizetype count = qsizetype(lines_.size());

    Edit edit;
    QByteArray inserted;
    const qsizetype header = findSection(s.toCaseFolded());
    if (header >= 0) {
        const QString folded = k.toCaseFolded();
        const qsizetype end = sectionEnd(header);
        qsizetype lastEntry = header;
        for (qsizetype i = header + 1; i < end; ++i) {
            const Line &line = lines_[i];
            if (line.kind != Kind::Entry) continue;
            if (line.folded == folded) {
                if (line.hasValue && decode(line.valueBegin, line.valueEnd) == value)
                    return std::nullopt;
                // In place, keeping the key as it is spelt in the file.
                edit.firstLine = i;
                edit.removedLines = 1;
                inserted = bytes_.mid(line.nameBegin, line.nameEnd - line.nameBegin) +
                           encode(QStringLiteral("=")) + encode(value) + crlf;
                break;
            }
            lastEntry = i;
        }
        if (edit.removedLines == 0) {
            const Line &anchor = lines_[lastEntry];
            if (anchor.hasBreak) {
                edit.firstLine = lastEntry + 1;
                inserted = entry;
            } else {
                edit.firstLine = lastEntry;
                edit.removedLines = 1;
                inserted = bytes_.mid(anchor.begin, anchor.next - anchor.begin) + crlf + entry;
            }
        }
    } else {
        const QByteArray head = encode(QStringLiteral("[") + s + QStringLiteral("]")) + crlf;
        if (count > 0 && !lines_.back().hasBreak) {
            const Line &last = lines_.back();
            edit.firstLine = count - 1;
            edit.removedLines = 1;
            inserted = bytes_.mid(last.begin, last.next - last.begin) + crlf + head + entry;
        } else {
            edit.firstLine = count;
            inserted = head + entry;
        }
    }

    edit.start = edit.firstLine < count ? lines_[edit.firstLine].begin : bytes_.size();
    const qsizetype removedEnd = edit.firstLine + edit.removedLines < count
                                     ? lines_[edit.firstLine + edit.removedLines].begin
                                     : bytes_.size();
    edit.length = inserted.size();
    edit.bytes = bytes_.left(edit.start) + inserted + bytes_.mid(removedEnd);
    return edit;
}

void IniDocument::apply(Edit edit) {
    const qsizetype count = qsizetype(lines_.size());
    const qsizetype removedEnd = edit.firstLine + edit.removedLines < count
                                     ? lines_[edit.firstLine + edit.removedLines].begin
                                     : bytes_.size();
    const qsizetype delta = edit.length - (removedEnd - edit.start);
    bytes_ = std::move(edit.bytes);
    std::vector<Line> fresh = parseRange(edit.start, edit.start + edit.length);
    for (qsizetype i = edit.firstLine + edit.removedLines; i < count; ++i) {
        Line &line = lines_[i];
        line.begin += delta;
        line.next += delta;
        if (line.kind == Kind::Section || line.kind == Kind::Entry) {
            line.nameBegin += delta;
            line.nameEnd += delta;
        }
        if (line.hasValue) {
            line.valueBegin += delta;
            line.valueEnd += delta;
        }
    }
    auto first = lines_.begin() + edit.firstLine;
    first = lines_.erase(first, first + edit.removedLines);
    lines_.insert(first, std::make_move_iterator(fresh.begin()),
                  std::make_move_iterator(fresh.end()));
}

bool operator==(const IniDocument &a, const IniDocument &b) {
    return a.bytes_ == b.bytes_ && a.encoding_ == b.encoding_ && a.lines_ == b.lines_;
}

} // namespace kp::config
