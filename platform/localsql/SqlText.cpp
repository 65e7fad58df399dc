#include "SqlText.h"

#include <QString>
#include <cctype>
#include <unordered_map>

namespace kp::localsql {

namespace {

enum class Tok { Space, String, QuotedId, Word, Number, Param, Op, LParen, RParen, Comma, Semi };

struct Token {
    Tok kind;
    size_t begin;
    size_t end;
    bool unterminated = false;
};

bool wordStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool wordChar(unsigned char c) { return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80; }

std::vector<Token> tokenize(std::string_view s) {
    std::vector<Token> out;
    out.reserve(s.size() / 4 + 4);
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const size_t b = i;
        const auto c = static_cast<unsigned char>(s[i]);
        Token t{Tok::Op, b, b};
        if (std::isspace(c)) {
            while (i < n && std::isspace(static_cast<unsigned char>(s[i])))
                ++i;
            t.kind = Tok::Space;
        } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
            while (i < n && s[i] != '\n')
                ++i;
            t.kind = Tok::Space;
        } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            i += 2;
            while (i < n && !(s[i] == '*' && i + 1 < n && s[i + 1] == '/'))
                ++i;
            i = i < n ? i + 2 : n;
            t.kind = Tok::Space;
        } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
            const char close = c == '[' ? ']' : static_cast<char>(c);
            ++i;
            t.unterminated = true;
            while (i < n) {
                if (s[i] == close) {
                    if (close != ']' && i + 1 < n && s[i + 1] == close) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    t.unterminated = false;
                    break;
                }
                ++i;
            }
            t.kind = c == '\'' ? Tok::String : Tok::QuotedId;
        } else if (std::isdigit(c) ||
                   (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            while (i < n) {
                const auto d = static_cast<unsigned char>(s[i]);
                if (std::isalnum(d) || d == '.' || d == '_') {
                    ++i;
                } else if ((d == '+' || d == '-') && (s[i - 1] == 'e' || s[i - 1] == 'E')) {
                    ++i;
                } else {
                    break;
                }
            }
            t.kind = Tok::Number;
        } else if (wordStart(c)) {
            while (i < n && wordChar(static_cast<unsigned char>(s[i])))
                ++i;
            t.kind = Tok::Word;
        } else if (c == '?' || c == ':' || c == '@' || c == '$' || c == '#') {
            ++i;
            while (i < n && wordChar(static_cast<unsigned char>(s[i])))
                ++i;
            t.kind = Tok::Param;
        } else if (c == '(') {
            ++i, t.kind = Tok::LParen;
        } else if (c == ')') {
            ++i, t.kind = Tok::RParen;
        } else if (c == ',') {
            ++i, t.kind = Tok::Comma;
        } else if (c == ';') {
            ++i, t.kind = Tok::Semi;
        } else {
            // Operators: the two-character ones first.
            static const char *pairs[] = {"<=", ">=", "<>", "!=", "==", "||", "<<", ">>", "->"};
            size_t len = 1;
            for (const char *p : pairs)
                if (i + 1 < n && s[i] == p[0] && s[i + 1] == p[1]) len = 2;
            if (len == 2 && s[i] == '-' && i + 2 < n && s[i + 2] == '>') len = 3;
            i += len;
            t.kind = Tok::Op;
        }
        t.end = i;
        if (t.kind != Tok::Space) out.push_back(t);
    }
    return out;
}

// The keywords that steer the scan; every other word is kNone.
enum Kw : unsigned char {
    kNone,
    kSelect,
    kFrom,
    kWhere,
    kHaving,
    kOn,
    kJoin,
    kInto,
    kUpdate,
    kTable,
    kValues,
    kCreate,
    kTemp,
    kIf,
    kNot,
    kExists,
    kOnly,
    kOtherClause, // GROUP, ORDER, LIMIT, ... : literals there stay
    kJoinWord,    // LEFT, INNER, USING, ... : end a FROM list's table and alias
    kCheck,
};

Kw keyword(std::string_view word) {
    static const std::unordered_map<std::string_view, Kw> words = {
        {"SELECT", kSelect},
        {"FROM", kFrom},
        {"WHERE", kWhere},
        {"HAVING", kHaving},
        {"ON", kOn},
        {"JOIN", kJoin},
        {"INTO", kInto},
        {"UPDATE", kUpdate},
        {"TABLE", kTable},
        {"VALUES", kValues},
        {"CREATE", kCreate},
        {"TEMP", kTemp},
        {"TEMPORARY", kTemp},
        {"IF", kIf},
        {"NOT", kNot},
        {"EXISTS", kExists},
        {"ONLY", kOnly},
        {"GROUP", kOtherClause},
        {"ORDER", kOtherClause},
        {"LIMIT", kOtherClause},
        {"SET", kOtherClause},
        {"UNION", kOtherClause},
        {"EXCEPT", kOtherClause},
        {"INTERSECT", kOtherClause},
        {"WINDOW", kOtherClause},
        {"RETURNING", kOtherClause},
        {"DEFAULT", kOtherClause},
        {"CHECK", kCheck},
        {"USING", kJoinWord},
        {"LEFT", kJoinWord},
        {"RIGHT", kJoinWord},
        {"FULL", kJoinWord},
        {"INNER", kJoinWord},
        {"CROSS", kJoinWord},
        {"NATURAL", kJoinWord},
        {"OUTER", kJoinWord},
        {"INDEXED", kJoinWord},
    };
    char upper[12];
    if (word.size() > sizeof upper) return kNone;
    for (size_t i = 0; i < word.size(); ++i) {
        const char c = word[i];
        upper[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    }
    auto it = words.find(std::string_view(upper, word.size()));
    return it == words.end() ? kNone : it->second;
}

std::string dequote(std::string_view s) {
    if (s.empty()) return {};
    const char open = s.front();
    if (open != '\'' && open != '"' && open != '`' && open != '[') return std::string(s);
    const char close = open == '[' ? ']' : open;
    std::string out;
    size_t end = s.size() > 1 && s.back() == close ? s.size() - 1 : s.size();
    for (size_t i = 1; i < end; ++i) {
        out += s[i];
        if (close != ']' && s[i] == close && i + 1 < end && s[i + 1] == close) ++i;
    }
    return out;
}

enum class Clause { None, Select, From, Where, Values, ValuesRow, Other };

bool isComparison(std::string_view op) {
    return op == "=" || op == "==" || op == "<" || op == ">" || op == "<=" || op == ">=" ||
           op == "<>" || op == "!=";
}

// Keywords that end a FROM list's table-and-alias sequence.
bool endsFromList(Kw k) {
    return k != kNone && k != kFrom && k != kInto && k != kUpdate && k != kTable && k != kCreate &&
           k != kTemp && k != kIf && k != kExists && k != kOnly && k != kCheck;
}

} // namespace

SqlShape analyzeSql(std::string_view sql) {
    SqlShape shape;
    const std::vector<Token> toks = tokenize(sql); // significant tokens only
    auto text = [&](size_t k) { return sql.substr(toks[k].begin, toks[k].end - toks[k].begin); };
    std::vector<Kw> kws(toks.size(), kNone);
    for (size_t k = 0; k < toks.size(); ++k)
        if (toks[k].kind == Tok::Word) kws[k] = keyword(text(k));
    auto word = [&](size_t k) { return kws[k]; };

    bool ownParams = false;
    bool unterminated = false;
    bool afterSemi = false;
    for (const Token &t : toks) {
        if (t.kind == Tok::Semi)
            afterSemi = true;
        else if (afterSemi)
            shape.severalStatements = true;
        if (t.kind == Tok::Param) ownParams = true;
        if (t.unterminated) unterminated = true;
    }

    // CREATE [TEMP|TEMPORARY] TABLE [IF NOT EXISTS]
    {
        size_t k = 0;
        if (k < toks.size() && word(k) == kCreate) {
            ++k;
            if (k < toks.size() && word(k) == kTemp) ++k;
            if (k < toks.size() && word(k) == kTable) {
                shape.createTable = true;
                if (k + 3 < toks.size() && word(k + 1) == kIf && word(k + 2) == kNot &&
                    word(k + 3) == kExists)
                    shape.ifNotExists = true;
            }
        }
    }

    std::vector<Clause> clauses{Clause::None};
    bool expectTable = false;
    bool inFromList = false;
    size_t fromDepth = 0;
    std::vector<size_t> literals; // indexes into toks
    for (size_t k = 0; k < toks.size(); ++k) {
        const Token &t = toks[k];
        const Kw w = word(k);
        const size_t depth = clauses.size() - 1;
        if (expectTable) {
            if (w == kIf || w == kNot || w == kExists || w == kOnly) continue;
            expectTable = false;
            if (t.kind == Tok::String || t.kind == Tok::QuotedId ||
                (t.kind == Tok::Word && !endsFromList(w))) {
                // schema.name: the name is the part after the dot
                if (k + 2 < toks.size() && text(k + 1) == "." &&
                    (toks[k + 2].kind == Tok::String || toks[k + 2].kind == Tok::QuotedId ||
                     toks[k + 2].kind == Tok::Word))
                    k += 2;
                shape.tables.append(QString::fromStdString(dequote(text(k))));
                continue;
            }
        }
        switch (t.kind) {
        case Tok::LParen:
            clauses.push_back(clauses.back() == Clause::Values ? Clause::ValuesRow
                                                               : clauses.back());
            continue;
        case Tok::RParen:
            if (clauses.size() > 1) clauses.pop_back();
            if (inFromList && clauses.size() - 1 < fromDepth) inFromList = false;
            continue;
        case Tok::Semi:
            clauses.assign(1, Clause::None);
            inFromList = false;
            continue;
        case Tok::Comma:
            if (inFromList && depth == fromDepth) expectTable = true;
            continue;
        case Tok::Word:
            if (inFromList && depth == fromDepth && endsFromList(w)) inFromList = false;
            switch (w) {
            case kSelect:
                clauses.back() = Clause::Select;
                break;
            case kFrom:
                clauses.back() = Clause::From;
                expectTable = true;
                inFromList = true;
                fromDepth = depth;
                break;
            case kJoin:
                expectTable = true;
                inFromList = true;
                fromDepth = depth;
                break;
            case kInto:
            case kUpdate:
            case kTable:
                expectTable = true;
                break;
            case kWhere:
            case kHaving:
            case kOn:
                clauses.back() = Clause::Where;
                break;
            case kValues:
                clauses.back() = Clause::Values;
                break;
            case kOtherClause:
            case kCheck:
                clauses.back() = Clause::Other;
                break;
            default:
                break;
            }
            continue;
        case Tok::String: {
            if (k == 0) continue;
            const Clause c = clauses.back();
            const std::string_view prev = text(k - 1);
            if (c == Clause::Where && toks[k - 1].kind == Tok::Op && isComparison(prev)) {
                literals.push_back(k);
            } else if (c == Clause::ValuesRow &&
                       (toks[k - 1].kind == Tok::LParen || toks[k - 1].kind == Tok::Comma) &&
                       k + 1 < toks.size() &&
                       (toks[k + 1].kind == Tok::Comma || toks[k + 1].kind == Tok::RParen)) {
                literals.push_back(k);
            }
            continue;
        }
        default:
            continue;
        }
    }

    if (ownParams || unterminated || literals.empty()) {
        shape.key = std::string(sql);
        return shape;
    }
    size_t at = 0;
    for (size_t k : literals) {
        shape.key.append(sql.substr(at, toks[k].begin - at));
        shape.key += '?';
        shape.params.push_back(dequote(text(k)));
        at = toks[k].end;
    }
    shape.key.append(sql.substr(at));
    return shape;
}

} // namespace kp::localsql
