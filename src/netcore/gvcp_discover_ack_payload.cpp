#include "gvcp_discover_ack_payload.h"

#include "gvcppacket.h"

#include <cstring>

gvcp_discover_ack_payload::gvcp_discover_ack_payload()
{
    std::memset(this, 0, sizeof *this);
}

gvcp_discover_ack_payload gvcp_discover_ack_payload::fromPacket(const std::string& packet)
{
    gvcp_discover_ack_payload record;
    const std::string copy = Gvcp::clipped(packet, Gvcp::kDiscoveryAckPayload);
    std::memcpy(&record, copy.data() + Gvcp::kHeaderBytes, sizeof record);
    return record;
}

std::string gvcp_discover_ack_payload::packet() const
{
    std::string bytes(size_t(Gvcp::kHeaderBytes), '\0');
    bytes.append(reinterpret_cast<const char*>(this), sizeof *this);
    return bytes;
}

QString gvcp_discover_ack_payload::idText() const
{
    return Gvcp::text(packet(), Gvcp::kDeviceIdField);
}

QString gvcp_discover_ack_payload::modelText() const
{
    return Gvcp::text(packet(), Gvcp::kModelField);
}

QString gvcp_discover_ack_payload::requesterText() const
{
    return Gvcp::ip(packet(), Gvcp::kOffRequester);
}

QString gvcp_discover_ack_payload::ipText() const
{
    return Gvcp::ip(packet(), Gvcp::kOffIp);
}

QString gvcp_discover_ack_payload::maskText() const
{
    return Gvcp::ip(packet(), Gvcp::kOffMask);
}

QString gvcp_discover_ack_payload::gatewayText() const
{
    return Gvcp::ip(packet(), Gvcp::kOffGateway);
}
