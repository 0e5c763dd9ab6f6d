#include "gvcppacket.h"

#include "netaddress.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace Gvcp {

namespace {
void putBe16(std::string& packet, int offset, quint16 value)
{
    packet[size_t(offset)] = char(value >> 8);
    packet[size_t(offset + 1)] = char(value & 0xFF);
}

std::string header(quint16 code, int payloadBytes, bool isCommand)
{
    std::string packet(size_t(kHeaderBytes + payloadBytes), '\0');
    if (isCommand) {
        packet[0] = char(kKey);
        packet[1] = char(kFlags);
    }   // an acknowledge's status (bytes 0-1) is always 0
    putBe16(packet, 2, code);
    putBe16(packet, 4, quint16(payloadBytes));
    putBe16(packet, 6, kRequestId);
    return packet;
}
} // namespace

std::string command(quint16 code, int payloadBytes)
{
    return header(code, payloadBytes, true);
}

std::string acknowledge(quint16 code, int payloadBytes)
{
    return header(code, payloadBytes, false);
}

quint16 be16(const std::string& packet, int offset)
{
    if (int(packet.size()) < offset + 2)
        return 0;
    return quint16((quint8(packet[size_t(offset)]) << 8) | quint8(packet[size_t(offset + 1)]));
}

quint16 code(const std::string& packet)
{
    return int(packet.size()) < kHeaderBytes ? 0 : be16(packet, 2);
}

int payloadBytes(const std::string& packet, int recordBytes)
{
    const int present = std::max(0, int(packet.size()) - kHeaderBytes);
    return std::min({int(be16(packet, 4)), recordBytes, present});
}

std::string clipped(const std::string& packet, int recordBytes)
{
    std::string copy = packet.substr(0, size_t(kHeaderBytes + payloadBytes(packet, recordBytes)));
    copy.resize(size_t(kHeaderBytes + recordBytes), '\0');
    return copy;
}

void putIp(std::string& packet, int offset, const QString& dotted)
{
    in_addr address{};
    inet_pton(AF_INET, dotted.toLatin1().constData(), &address);   // unparsable: stays zero
    std::memcpy(&packet[size_t(offset)], &address.s_addr, 4);
}

QString ip(const std::string& packet, int offset)
{
    unsigned int address = 0;
    if (int(packet.size()) >= offset + 4)
        std::memcpy(&address, &packet[size_t(offset)], 4);
    return QString::fromStdString(nint2string(address));
}

void putMac(std::string& packet, int offset, const QString& mac)
{
    unsigned char bytes[6] = {};
    string2ethaddr(mac, bytes);
    std::memcpy(&packet[size_t(offset)], bytes, sizeof bytes);
}

void putText(std::string& packet, TextField field, const QString& text)
{
    const QByteArray bytes = text.toLatin1().left(field.size);
    std::memcpy(&packet[size_t(field.offset)], bytes.constData(), size_t(bytes.size()));
}

QString text(const std::string& packet, TextField field)
{
    if (int(packet.size()) <= field.offset)
        return QString();
    const std::string bytes = packet.substr(size_t(field.offset), size_t(field.size));
    return QString::fromLatin1(bytes.c_str());   // up to the first zero or the field's end
}

void putLe32(std::string& packet, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        packet[size_t(offset + i)] = char((value >> (8 * i)) & 0xFF);
}

quint32 le32(const std::string& packet, int offset)
{
    quint32 value = 0;
    for (int i = 0; i < 4 && offset + i < int(packet.size()); ++i)
        value |= quint32(quint8(packet[size_t(offset + i)])) << (8 * i);
    return value;
}

void putLe64(std::string& packet, int offset, qint64 value)
{
    for (int i = 0; i < 8; ++i)
        packet[size_t(offset + i)] = char((quint64(value) >> (8 * i)) & 0xFF);
}

qint64 le64(const std::string& packet, int offset)
{
    quint64 value = 0;
    for (int i = 0; i < 8 && offset + i < int(packet.size()); ++i)
        value |= quint64(quint8(packet[size_t(offset + i)])) << (8 * i);
    return qint64(value);
}

} // namespace Gvcp
