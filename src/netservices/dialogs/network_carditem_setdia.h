#pragma once

#include "ccomp_dialogframe.h"
#include "networkmanager.h"

class EditIP;
class QBoxLayout;
class QLabel;
class QLayout;

// Modal editor of one card: DHCP or static, addresses, priority and, for a
// wireless card, its use, network name and password. The values live in the
// named widgets until getNetINfo collects them.
class Network_CardItem_SetDia : public CComp_DialogFrame
{
    Q_OBJECT
public:
    Network_CardItem_SetDia(stu_netinfo card, QWidget* parent);

    stu_netinfo getNetINfo();
    // Empty when every address is one (or may stay empty), else the refusal shown.
    QString refusedAddress() const;

public slots:
    // Closes only when every address is one; else shows the refusal and stays.
    void acceptDialog() override;

private:
    // The first address refused, with its reason in the screen's language; empty text when none is.
    struct Refusal
    {
        QString text;
        EditIP* editor = nullptr;
    };
    Refusal refusal() const;
    void addRow(QBoxLayout* column, QLayout* row);
    void fitToRoom();

    stu_netinfo m_card;
    QLabel* m_refusal = nullptr;
};
