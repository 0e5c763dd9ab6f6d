#include "fuzzsupport.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace FuzzSupport {

void init()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = nullptr;
    if (!app && !QCoreApplication::instance())
        app = new QCoreApplication(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

Split split(const uint8_t* data, size_t size)
{
    Split s;
    if (size == 0)
        return s;
    s.stream = bytes(data + 1, size - 1);
    s.cut = int(size_t(data[0]) * size_t(s.stream.size()) / 255);
    return s;
}

void fail(const char* what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

} // namespace FuzzSupport

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSupport::init();
    if (fuzzSetUp)
        fuzzSetUp();
    return 0;
}
