// The simulated camera's script: a camera the script describes is either
// refused or small enough for its frames to be made.
#include "fuzzsupport.h"
#include "simcameraconfig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QJsonDocument doc = QJsonDocument::fromJson(FuzzSupport::bytes(data, size));
    const QJsonArray cameras = doc.isArray() ? doc.array() : QJsonArray{doc.object()};
    for (const QJsonValue& camera : cameras) {
        const SimCameraSpec spec = SimCameraConfig::parseCamera(camera.toObject(), QStringLiteral("/nonexistent"));
        if (!spec.refusal.isEmpty())
            continue;
        const qint64 frameBytes = qint64(spec.width) * spec.height * (spec.color ? 4 : 1);
        if (spec.width < 1 || spec.height < 1 || frameBytes > std::numeric_limits<int>::max())
            FuzzSupport::fail("a camera whose frame cannot be made was accepted");
    }
    return 0;
}
