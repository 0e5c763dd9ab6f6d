#pragma once

#include <QString>
#include <string>

// The host's record of one discovered device: the payload of its DISCOVERY
// acknowledge (packet bytes 8-223) in the same layout.
struct gvcp_discover_ack_payload
{
    unsigned char mac[6];
    unsigned char reserved0[2];
    unsigned char requester[4];
    unsigned char ip[4];
    unsigned char mask[4];
    unsigned char gateway[4];
    char gev[32];
    char model[32];
    char version[32];
    char deviceClass[48];
    char id[32];
    unsigned char reserved1[16];

    gvcp_discover_ack_payload();
    // From an acknowledge packet; the stated payload, never more than the record or the packet holds.
    static gvcp_discover_ack_payload fromPacket(const std::string& packet);
    // The acknowledge packet this record was read from (header zero).
    std::string packet() const;

    QString idText() const;
    QString modelText() const;
    QString requesterText() const;
    QString ipText() const;
    QString maskText() const;
    QString gatewayText() const;
};

static_assert(sizeof(gvcp_discover_ack_payload) == 216, "the record keeps the acknowledge's payload layout");
