#pragma once

#include <QRect>
#include <QStringList>
#include <QVector>
#include <QWidget>

class ControlPort;
class QTimer;

// The IO status bar at the bottom of the main screen: one dot per input and
// output with its display name (gaName), green while active. A touch opens
// the IO page.
class IOStatus : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 200;

    IOStatus(ControlPort* io, QWidget* parent);

    // Entries of gaName shown, inputs first: (name index, is output, signal number).
    struct Entry
    {
        int nameIndex;
        bool output;
        int number;
    };
    static QVector<Entry> entries(int trigMode);
    // The entry as the bar names it: "I1 Open", "O3 Alrm".
    static QString label(const Entry& entry);

    // Where the bar puts its labels: one font size for all, as large as fits; one row
    // when every label fits at a readable size, else the inputs above the outputs.
    // Only labels that fit in neither way are elided.
    static constexpr int kNamePixels = 16;
    static constexpr int kReadablePixels = 12;
    struct Cell
    {
        QRect dot;
        QRect text;
        QString shown;  // the label, elided only when even the smallest size leaves it no room
    };
    struct Layout
    {
        int pixelSize = kNamePixels;
        QVector<Cell> cells;  // in the order of the labels
    };
    // labels: the inputs' first (inputs of them); the right reserved pixels hold the marks.
    static Layout layout(const QStringList& labels, int inputs, QSize bar, int reserved);
    // The room the marks at the right take: link lost, image disk, export progress.
    static int reservedWidth(bool linkLost, bool disk, const QString& exportText);
    // Whether the entry's input or output is on now (off without a link).
    static bool isOn(const ControlPort* io, const Entry& entry);

    // Progress of a statistics export, shown at the right; empty hides it.
    void setExportText(const QString& text);
    QString exportText() const { return m_exportText; }
    // Whether the NG images go to a USB disk now (the disk icon).
    static bool hasImageDisk();

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString shownState() const;
    void refreshIfChanged();

    ControlPort* m_io;
    QTimer* m_timer;
    QString m_exportText;
    QString m_paintedState;  // shownState() at the last paint
};
