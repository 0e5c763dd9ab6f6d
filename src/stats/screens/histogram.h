#pragma once

#include <QList>
#include <QWidget>

// Hourly bar chart: one green (OK) and one red (NG) bar per hour label.
class Histogram : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 1550;
    static constexpr int kHeight = 500;

    Histogram(QWidget* parent, QList<int> x = {}, QList<int> y1 = {}, QList<int> y2 = {});

    void modifyDataAxisX(QList<int> x);
    void modifyDataAxisY1(QList<int> y1);
    void modifyDataAxisY2(QList<int> y2);
    void modifyDataAxisY(QList<int> y1, QList<int> y2);
    void clcMaxY();

    int barCount() const { return n; }
    int maxValue() const { return maxY; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void recount();

    QList<int> x;
    QList<int> y1;
    QList<int> y2;
    int n = 0;
    int maxY = 0;
};
