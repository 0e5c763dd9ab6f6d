#pragma once

#include <QString>
#include <QtGlobal>
#include <string>

// Byte layout of the camera discovery datagrams: 8-byte command and acknowledge
// headers with big-endian fields, IPv4 addresses in network order, zero-filled.
namespace Gvcp {

constexpr quint16 kCommandPort = 3956;
constexpr quint16 kAckPort = 10400;
constexpr char kBroadcast[] = "255.255.255.255";

constexpr unsigned char kKey = 0x42;
constexpr unsigned char kFlags = 0x11;
constexpr quint16 kRequestId = 1;
constexpr int kHeaderBytes = 8;

constexpr quint16 kDiscoveryCmd = 0x0002;
constexpr quint16 kDiscoveryAck = 0x0003;
constexpr quint16 kForceIpCmd = 0x0004;
constexpr quint16 kForceIpAck = 0x0005;
constexpr quint16 kWriteRegCmd = 0x0082;
constexpr quint16 kWriteRegAck = 0x0083;

constexpr int kDiscoveryAckPayload = 216;
constexpr int kForceIpPayload = 56;
constexpr int kWriteRegPayload = 16;

constexpr quint32 kSubUpdateTime = 1;
constexpr quint32 kSubRestartService = 2;

// Packet offsets of the fields.
constexpr int kOffMac = 8;
constexpr int kOffRequester = 16;
constexpr int kOffIp = 20;
constexpr int kOffMask = 24;
constexpr int kOffGateway = 28;
constexpr int kOffForceId = 32;
constexpr int kOffSubCode = 8;
constexpr int kOffTime = 16;
constexpr int kIdBytes = 32;

struct TextField
{
    int offset;
    int size;
};
constexpr TextField kGevField{32, 32};
constexpr TextField kModelField{64, 32};
constexpr TextField kVersionField{96, 32};
constexpr TextField kClassField{128, 48};
constexpr TextField kDeviceIdField{176, 32};

// A zero-filled packet with the command (host) or acknowledge (device) header.
std::string command(quint16 code, int payloadBytes);
std::string acknowledge(quint16 code, int payloadBytes);

void putIp(std::string& packet, int offset, const QString& dotted);
QString ip(const std::string& packet, int offset);
void putMac(std::string& packet, int offset, const QString& mac);
// ASCII text, zero-padded; a text as long as the field fills it without a zero.
void putText(std::string& packet, TextField field, const QString& text);
QString text(const std::string& packet, TextField field);
void putLe32(std::string& packet, int offset, quint32 value);
quint32 le32(const std::string& packet, int offset);
void putLe64(std::string& packet, int offset, qint64 value);
qint64 le64(const std::string& packet, int offset);
quint16 be16(const std::string& packet, int offset);

// Answer or command code of a packet (bytes 2-3); 0 for one shorter than a header.
quint16 code(const std::string& packet);
// Stated payload length, limited to the record it fills and to the bytes present.
int payloadBytes(const std::string& packet, int recordBytes);
// Header and the stated payload as far as the record reaches, zero-filled to the record's size.
std::string clipped(const std::string& packet, int recordBytes);

} // namespace Gvcp
