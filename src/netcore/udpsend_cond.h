#pragma once

#include <string>

// One datagram send of the broadcast core.
struct Udpsend_Cond
{
    std::string dstip = "255.255.255.255";
    int dstport = 10411;
    std::string localip = "0.0.0.0";   // the sending socket is bound to this address
    int waittime_ms = 100;             // 0: send once, expect no reply
    int resend_ms = 0;                 // > 0: send again at this interval while waiting
};
