#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// Shared set-up of the fuzz targets: an application object (SQLite and the
// image plug-ins need one) and quiet Qt logging, so that the fuzzer's own
// output stays readable and fast. The support library's LLVMFuzzerInitialize
// does it, then calls the target's fuzzSetUp() when the target has one.
extern "C" void fuzzSetUp() __attribute__((weak));

namespace FuzzSupport {
void init();
inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), int(size));
}
// An input read as a stream and a cut point in it: the first byte chooses
// where (0 the start, 255 the end), the rest is the stream.
struct Split
{
    QByteArray stream;
    int cut = 0;
    QByteArray head() const { return stream.left(cut); }
    QByteArray tail() const { return stream.mid(cut); }
};
Split split(const uint8_t* data, size_t size);
// Stops the run with a message, the way a sanitizer finding does.
[[noreturn]] void fail(const char* what);
}
