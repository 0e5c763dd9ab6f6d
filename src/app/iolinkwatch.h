#pragma once

#include <QObject>

#include <functional>

class ControlPort;

// Makes a lost IO board link as plain as a lost camera: the shared warn box
// while it lasts (triggers cannot arrive), and one record at the loss and one
// at the return.
class IOLinkWatch : public QObject
{
    Q_OBJECT
public:
    static constexpr int kRowLinkLost = 780;

    using Recorder = std::function<void(const QString& text, const QString& type)>;
    IOLinkWatch(ControlPort* io, Recorder record, QObject* parent = nullptr);

    bool isLost() const { return m_lost; }

public slots:
    void SlotLinkChanged(bool up);

private:
    Recorder m_record;
    bool m_lost = false;
    bool m_everUp = false;
};
