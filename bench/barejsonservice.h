#pragma once

// The reference service of the HTTP benchmarks: one route answering {"ok":true}.

#include "httpmanager.h"

namespace benchservice {

constexpr const char* kBareRoute = "/v18/http/bench";

class BareJsonService : public HttpManager
{
public:
    BareJsonService() : HttpManager(VEKT_SERVER)
    {
        routes_.insert(kBareRoute, [this](CTask_FormData task) {
            CTask_FormData r;
            r.uuid = task.uuid;
            r.sessionId = task.sessionId;
            r.json.insert("ok", true);
            sendAsync(r);
        });
    }
};

} // namespace benchservice
