// The network configuration "cnt_net/config.json" as the network hub reads its
// values, from a file in a folder of the fuzzer's own.
#include "fuzzsupport.h"
#include "vek_netmn.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

extern "C" void fuzzSetUp()
{
    static QTemporaryDir folder;
    if (!folder.isValid() || !QDir::setCurrent(folder.path()) || !QDir().mkpath(QStringLiteral("cnt_net")))
        FuzzSupport::fail("no folder for the configuration");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QFile file(QString::fromLatin1(VEK_NETMN::kConfigPath));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        FuzzSupport::fail("cannot write the configuration");
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();
    for (const char* key : {"devicename", "device_worknetfunc", "device_workvideo", "device_workapifunc",
                            "workspace", "serveraddr", "serverport", "version", "camcount"})
        VEK_NETMN::getConfigValue(QString::fromLatin1(key)).toString();
    return 0;
}
