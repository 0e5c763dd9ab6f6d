#pragma once

#include <QString>

// One local network interface; an all-empty record stands for none.
struct DeviceNetInfo_Detail
{
    QString name;
    QString ip;
    QString mask;
    QString extra;   // kept for the record layout; nothing fills it
    QString mac;
    QString gateway;

    bool isEmpty() const { return name.isEmpty() && ip.isEmpty() && mac.isEmpty(); }
};
