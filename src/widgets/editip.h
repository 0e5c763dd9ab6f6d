#pragma once

#include <QVector>
#include <QWidget>

class Edit;
class QHBoxLayout;
class QLabel;

// IPv4 address editor: a title and four octet edits (0..255) separated by dots.
// Placement 0 hosts the keypad one level out (network settings dialog),
// placement 1 inside the network settings dialog (network card dialog).
class EditIP : public QWidget
{
    Q_OBJECT
public:
    EditIP(const QString& title, int placement, QWidget* parent);

    QString getAddress();
    // Fills the octets from a dotted text; every octet is cleared first.
    void setAddress(const QString& ip);

    Edit* octet(int index) const { return m_octets.value(index); }

signals:
    void textchange(QString address);

public slots:
    void SlotPressDot_0();
    void SlotPressDot_1();
    void SlotPressDot_2();

private:
    void moveToOctet(int index);

    QLabel* m_title;
    QVector<Edit*> m_octets;
    QHBoxLayout* m_layout;
};
