#pragma once

// Address helpers of the network parts: text forms of addresses, an
// interface's addresses and gateway (read under the host root), free ports,
// subnets. They keep no state and may run in any thread.

#include <QString>
#include <string>

std::string nint2string(unsigned int addr);
std::string ethaddr2string(unsigned char* mac);
int string2ethaddr(const QString& text, unsigned char* mac);
int set_socket_nonblock(int fd);
// The peer has ended the connection (or reset it) and nothing it sent is left unread: a
// server may count the connection gone before its own read of the end comes round.
bool peerHasClosed(int fd);
// Bytes written to the socket that the peer has not acknowledged yet (0 when unknown).
int unsentBytes(int fd);
// Makes the next close of the socket reset the connection: what the system still holds for the
// peer is dropped then, not handed on long after the close to a peer that reads slowly.
void resetOnClose(int fd);
// resetOnClose() when the peer has not taken everything written to the socket.
void dropUnsentOnClose(int fd);
unsigned short RandPort();
// Fills mac, ip, mask and gateway (in that order) of the interface; 0 or a negative step code.
int GetIfAddr(char* ifname, char* ip, char* mask, char* gateway, char* mac);
QString new_uuid();
bool setIPLast(QString& ip, int n);
QString getSubNet(const QString& ip, const QString& mask);
