// What the database layer needs to know of a statement's text before SQLite sees it: the tables
// it names by path, and the statement with its comparison and VALUES literals taken out as
// parameters, so that statements that differ only in those literals share one prepared form.
#pragma once

#include <QStringList>
#include <string>
#include <string_view>
#include <vector>

namespace kp::localsql {

struct SqlShape {
    // The text with each extracted literal replaced by '?'; the whole text when nothing was
    // extracted or when the text has parameters of its own.
    std::string key;
    // The extracted literals, dequoted ('' becomes '), in the order of their '?'.
    std::vector<std::string> params;
    // Names in table position (after FROM, JOIN, INTO, UPDATE, TABLE, and in a FROM list),
    // dequoted, in order of appearance.
    QStringList tables;
    // CREATE [TEMP] TABLE [IF NOT EXISTS] ...
    bool createTable = false;
    bool ifNotExists = false;
    // More than one statement (something other than blanks and comments after a ';').
    bool severalStatements = false;
};

// Splits the statement into SQLite's tokens. Literals are taken out only where replacing them by
// a bound text parameter cannot change the result: right after a comparison operator in a WHERE,
// HAVING or ON clause, and as whole values of a VALUES list. Literals in the select list stay,
// because they give the result columns their names.
SqlShape analyzeSql(std::string_view utf8);

} // namespace kp::localsql
