#pragma once

#include <QAbstractSlider>

class ColorButton;
class Edit;

// Integer slider drawn with pictures: caption (the object name), the value in
// a box that opens the number keypad when tapped, "- 1"/"+ 1" buttons and a
// track whose handle follows a finger.
class Slider : public QAbstractSlider
{
    Q_OBJECT
public:
    static constexpr int kTrackX = 315;
    static constexpr int kValueBoxX = 135;
    static constexpr int kValueBoxW = 100;

    Slider(int min, int max, int pageStep, int value, QWidget* parent, const QString& name);

    void Reset(int min, int max, int pageStep, int value, const QString& name);

    int trackWidth() const { return m_trackWidth; }
    int trackStart() const { return m_trackStart; }
    int trackLength() const { return m_trackLength; }
    int handleX() const { return m_handleX; }
    bool dragging() const { return m_dragX != -1; }
    Edit* valueEdit() const { return m_edit; }
    ColorButton* plusButton() const { return m_plus; }
    ColorButton* minusButton() const { return m_minus; }
    // Filled part of the track for the current value.
    int fillLength() const;

public slots:
    void Add();
    void Sub();
    void SetText(const QString& text);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    ColorButton* m_plus;
    ColorButton* m_minus;
    Edit* m_edit;
    int m_trackWidth = 0;
    int m_trackStart = 0;
    int m_trackLength = 0;
    int m_handleX = 0;
    int m_dragX = -1;
};
