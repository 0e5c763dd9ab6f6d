#include "textshowwidget.h"

#include <QIcon>
#include <QPushButton>
#include <QTextBrowser>

namespace {
constexpr int kWidth = 560;
constexpr int kHeight = 300;
constexpr int kCloseSize = 60;
constexpr int kCloseIcon = 40;
}

TextShowWidget::TextShowWidget(QWidget* parent)
    : QWidget(parent)
{
    textBrowser = new QTextBrowser(this);
    textBrowser->move(0, 0);
    textBrowser->setStyleSheet(QStringLiteral("font-size:15px;"));
    textBrowser->setFixedSize(kWidth, kHeight);

    auto* close = new QPushButton(this);
    close->setObjectName(QStringLiteral("closeButton"));
    const QIcon icon(QStringLiteral("./images/error.png"));
    close->setIcon(icon);
    QString style = QStringLiteral("outline:0px;border:none;background-color:rgba(110,110,110,0)");
    if (icon.availableSizes().isEmpty()) {
        // Without the picture the button would be invisible: a red cross instead.
        close->setText(QStringLiteral("\u2715"));
        style += QStringLiteral(";color:#E74C3C;font-size:32px");
    }
    close->setStyleSheet(style);
    close->move(kWidth - kCloseSize, 0);
    close->setFixedSize(kCloseSize, kCloseSize);
    close->setIconSize(QSize(kCloseIcon, kCloseIcon));
    connect(close, &QPushButton::clicked, this, [this] {
        emit sigHideWidget();
        hide();
    });

    setFixedSize(kWidth, kHeight);
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    setStyleSheet(QStringLiteral("outline:0px; border:2px solid #00BCD4"));
}
