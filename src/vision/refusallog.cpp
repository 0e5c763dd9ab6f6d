#include "refusallog.h"

#include <glog/logging.h>

#include <mutex>
#include <set>
#include <string>

namespace vision {

void logRefusal(const char* where, const std::exception& error)
{
    static std::mutex mutex;
    static std::set<std::string> logged;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!logged.insert(where).second)
            return;
    }
    LOG(WARNING) << where << " refused its input: " << error.what() << " (further refusals here are not logged)";
}

} // namespace vision
