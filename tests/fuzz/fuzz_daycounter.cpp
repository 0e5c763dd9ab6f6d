// The day counter JSON and the shift file: counts read from a damaged or
// edited document are totalled, and the shift file's day start and hours read.
#include "counttypes.h"
#include "fuzzsupport.h"
#include "resstatisticsparam.h"

#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QJsonObject document = QJsonDocument::fromJson(FuzzSupport::bytes(data, size)).object();
    static ResStatisticsParam model;
    CountGroupList list;
    ResStatisticsParam::StuCountFromJson(list, document);
    model.calcCount(list);
    ResStatisticsParam::StuCountToJson(list);
    model.laodConfigFromJson(document);
    return 0;
}
