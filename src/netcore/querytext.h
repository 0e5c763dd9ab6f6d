#pragma once

#include <QString>

// Query keys and values in a request line: written as they are, except what
// cannot stand there (blanks, control characters and the delimiters "&", "=",
// "?", "#" and "%"), which is percent-encoded; decoding undoes only that, so
// any other "%xx" a peer wrote stays as it was sent.
namespace QueryText {
QString encode(const QString& text);
QString decode(const QString& text);
}
