// The text of one INI file as the Windows private-profile functions see it: lines, sections and
// entries found in the bytes, lookups by section and key, and the bytes a write produces.
// No file access here; IniFile reads and writes the file around it.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace kp::config {

class IniDocument {
public:
    enum class Encoding { Windows1251, Utf8, Utf8Bom, Utf16Le };

    // An empty document: what a missing file reads as, and what a new file is written in.
    IniDocument();
    explicit IniDocument(QByteArray bytes);
    IniDocument(IniDocument &&) = default;
    IniDocument &operator=(IniDocument &&) = default;

    const QByteArray &bytes() const { return bytes_; }
    Encoding encoding() const { return encoding_; }
    // The encoding a file with these bytes is read in.
    static Encoding encodingOf(const QByteArray &bytes);

    // The value of the first matching key of the first matching section, quotes removed;
    // nothing when the section or key is missing, or the key has no "=".
    std::optional<QString> value(const QString &section, const QString &key) const;

    // Whether key and value can be written into this file: no line break anywhere, a key
    // without "=" that does not start like a header or comment, a section name without "]",
    // and text the file's encoding can hold.
    bool canWrite(const QString &section, const QString &key, const QString &value) const;

    // A write prepared but not yet applied: the bytes the file will have.
    struct Edit {
        QByteArray bytes;
        qsizetype firstLine = 0; // lines [firstLine, firstLine + removedLines) are replaced
        qsizetype removedLines = 0;
        qsizetype start = 0; // byte range of the new lines within bytes
        qsizetype length = 0;
    };
    // The write of value under key in section; nothing when the value is already there (the file
    // is then left alone). Requires canWrite().
    std::optional<Edit> prepareWrite(const QString &section, const QString &key,
                                     const QString &value) const;
    // Takes the prepared edit as the document's new text, once the file holds it.
    void apply(Edit edit);

    // Same bytes and the same lines found in them (a document kept up to date edit by edit
    // equals one parsed afresh from its bytes).
    friend bool operator==(const IniDocument &a, const IniDocument &b);

private:
    enum class Kind { Blank, Comment, Section, Entry };
    struct Line {
        qsizetype begin = 0; // first byte of the line
        qsizetype next = 0;  // first byte of the following line (after the line break)
        bool hasBreak = false;
        Kind kind = Kind::Blank;
        QString folded;                         // section or key name, trimmed and case-folded
        qsizetype nameBegin = 0, nameEnd = 0;   // key as spelt in the file (entries)
        qsizetype valueBegin = 0, valueEnd = 0; // trimmed value (entries with "=")
        bool hasValue = false;
        friend bool operator==(const Line &, const Line &) = default;
    };

    std::vector<Line> parseRange(qsizetype from, qsizetype to) const;
    char16_t unitAt(qsizetype pos) const;
    QString decode(qsizetype from, qsizetype to) const;
    QByteArray encode(const QString &text) const;
    qsizetype findSection(const QString &folded) const;
    qsizetype sectionEnd(qsizetype header) const;

    QByteArray bytes_;
    Encoding encoding_ = Encoding::Windows1251;
    qsizetype unit_ = 1;      // bytes per code unit
    qsizetype textBegin_ = 0; // after the byte-order mark
    std::vector<Line> lines_;
};

} // namespace kp::config
