#pragma once

#include <QDialog>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QScrollArea;
class QStyledItemDelegate;

// Frame of the large settings dialogs of the network side: a gray title bar
// with the title and a green confirm button, and a body the subclass fills.
class CComp_DialogFrame : public QDialog
{
    Q_OBJECT
public:
    CComp_DialogFrame(const QString& title, QWidget* parent);

    // Inserts a widget into the title bar just left of the confirm button.
    void addTitleWgt(QWidget* w);

    // The frame's look for a drop-down, followed directly by extra; the box takes
    // the delegate over (a TouchRowDelegate keeps its rows finger-high).
    static void setStyleCombobox(QComboBox* box, QStyledItemDelegate* itemDelegate, const QString& extra);
    static void setDefaultWgt(QWidget* w, const QString& extra);
    static QString defaultStyle();

    // Centred on the screen at the wanted size, never larger than the screen
    // (the body then scrolls under the title bar, whose buttons stay in reach).
    void placeCentred(QSize wanted);
    // Opened inside another frame (as a child widget): centred below that
    // frame's title bar and never larger than the room there, so that both
    // titles and both frames' buttons show.
    void placeInside(const CComp_DialogFrame* host);
    // The size at which the body needs no scrolling.
    QSize contentSize() const;

    // A line between the title bar and the body: it stays in view while the body scrolls.
    void addAboveBody(QWidget* w);

    QLabel* titleLabel() const { return m_titleLabel; }
    QWidget* bodyWidget() const { return m_body; }
    QScrollArea* bodyScroll() const { return m_bodyScroll; }
    QHBoxLayout* titleLayout() const { return m_titleLayout; }

public slots:
    virtual void acceptDialog();

protected:
    QLabel* m_titleLabel;
    QWidget* m_body;
    QScrollArea* m_bodyScroll;
    QWidget* m_titleBar;
    QHBoxLayout* m_titleLayout;
};
