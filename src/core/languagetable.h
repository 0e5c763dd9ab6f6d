#pragma once

#include <QString>

// The language table data: one line per row, tab separated:
//   row <TAB> simplified Chinese <TAB> English <TAB> traditional Chinese <TAB> Japanese
// Inside a text, "\n", "\r", "\t" and "\\" stand for line break, carriage
// return, tab and backslash. Lines starting with '#' and empty lines are skipped.
namespace LanguageTable {

// The table compiled into the program.
constexpr const char* kResourcePath = ":/language/language.tsv";

// Fills gaLanStr from a file (a resource path works too); returns the number
// of rows read, or -1 when the file cannot be read (the table is then left as it was).
int load(const QString& path = QString::fromLatin1(kResourcePath));

// Decodes the escapes of one field.
QString unescape(const QString& field);

} // namespace LanguageTable
