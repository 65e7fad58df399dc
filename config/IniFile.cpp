#include "config/IniFile.h"

#include "platform/core/Exceptions.h"

#include <QFileInfo>

#include <limits>

namespace kp::config {

IniFile::IniFile(const QString &path, IniIo &io)
    : path_(QFileInfo(path).absoluteFilePath()), io_(io) {
    LoadedFile file = loadFile(io_, path_);
    // A file we cannot read is never written over: we do not know what it holds.
    unreadable_ = file.status == LoadedFile::Unreadable;
    if (file.status == LoadedFile::Loaded) doc_ = IniDocument(std::move(file.bytes));
}

QString IniFile::readString(const QString &section, const QString &key,
                            const QString &defaultValue) const {
    return doc_.value(section, key).value_or(defaultValue);
}

int IniFile::readInteger(const QString &section, const QString &key, int defaultValue) const {
    std::optional<QString> text = doc_.value(section, key);
    if (!text) return defaultValue;
    return parseIniInteger(*text).value_or(defaultValue);
}

namespace {
// Code-page bytes that happen to form valid UTF-8 would be read back as UTF-8 and come out as
// other letters ("ЖЁ" alone in an ASCII file): such a write is refused rather than mangle names.
bool readsBackAsOtherText(const IniDocument &doc, const IniDocument::Edit &edit) {
    return doc.encoding() == IniDocument::Encoding::Windows1251 &&
           IniDocument::encodingOf(edit.bytes) != IniDocument::Encoding::Windows1251;
}
} // namespace

bool IniFile::canWrite(const QString &section, const QString &key, const QString &value) const {
    if (unreadable_ || !doc_.canWrite(section, key, value)) return false;
    std::optional<IniDocument::Edit> edit = doc_.prepareWrite(section, key, value);
    return !edit || !readsBackAsOtherText(doc_, *edit);
}

void IniFile::writeString(const QString &section, const QString &key, const QString &value) {
    if (unreadable_ || !doc_.canWrite(section, key, value)) raiseWriteError();
    std::optional<IniDocument::Edit> edit = doc_.prepareWrite(section, key, value);
    if (!edit) return;
    if (readsBackAsOtherText(doc_, *edit)) raiseWriteError();
    if (!replaceFile(io_, path_, edit->bytes)) raiseWriteError();
    doc_.apply(std::move(*edit));
}

void IniFile::writeInteger(const QString &section, const QString &key, int value) {
    writeString(section, key, QString::number(value));
}

void IniFile::raiseWriteError() const {
    throw EIniFileException(QStringLiteral("Unable to write to %1").arg(path_));
}

std::optional<int> parseIniInteger(const QString &text) {
    const qsizetype n = text.size();
    qsizetype i = 0;
    bool negative = false;
    int base = 10;
    if (n > 0 && text[0] == u'$') {
        base = 16;
        i = 1;
    } else if (n > 1 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        base = 16;
        i = 2;
    } else if (n > 0 && (text[0] == u'+' || text[0] == u'-')) {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == n) return std::nullopt;
    // Hexadecimal spans the 32-bit pattern ($FFFFFFFF is -1), decimal the signed range.
    const qint64 limit = base == 16 ? qint64(std::numeric_limits<quint32>::max())
                                    : qint64(std::numeric_limits<int>::max()) + (negative ? 1 : 0);
    qint64 value = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > limit) return std::nullopt;
    }
    if (base == 16) value = qint64(qint32(quint32(value)));
    return int(negative ? -value : value);
}

} // namespace kp::config
