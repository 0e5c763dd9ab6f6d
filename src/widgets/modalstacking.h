#pragma once

#include <QObject>
#include <QPointer>

// Installed on the application: a modal dialog that is shown becomes a
// transient of the window that opened it (the modal page on top, else the
// active window) and is raised, so a shared dialog never opens beneath a
// full-screen page where no touch could reach it.
class ModalStacking : public QObject
{
    Q_OBJECT
public:
    explicit ModalStacking(QObject* parent = nullptr);

    bool eventFilter(QObject* watched, QEvent* event) override;
    // Puts a modal dialog above its opener (done by the filter on show).
    static void placeAboveOpener(QWidget* dialog);

    // For the length of one exec: a dialog that lives inside the main window
    // becomes a window of its own above the modal page on top (whose window
    // would otherwise cover it), and goes back to its home afterwards.
    class Lift
    {
    public:
        explicit Lift(QWidget* dialog);
        ~Lift();
        Lift(const Lift&) = delete;
        Lift& operator=(const Lift&) = delete;
        bool lifted() const { return m_lifted; }

    private:
        QPointer<QWidget> m_dialog;
        QPointer<QWidget> m_home;
        Qt::WindowFlags m_flags;
        bool m_lifted = false;
    };
};
