#pragma once

#include "networkmanager.h"

#include <QWidget>

class QLabel;

// One network card in the settings dialog: name, MAC, receive rate, addresses,
// description, in-use and priority marks and the running state as its left
// border; its modify button opens the card editor.
class Network_CardItem : public QWidget
{
    Q_OBJECT
public:
    Network_CardItem(stu_netinfo card, QWidget* parent);

    stu_netinfo card() const { return m_card; }
    void chgHardWare(bool running);
    void updateSpeed(const QString& rate);
    QString speedText() const;

signals:
    void sigUpdateAll();

public slots:
    void reload_information(stu_netinfo card);
    void slotChgCardInfo();

private:
    QLabel* label(const char* name) const;

    stu_netinfo m_card;
    QLabel* m_speed;
};
