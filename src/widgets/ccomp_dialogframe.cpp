#include "ccomp_dialogframe.h"

#include "globals.h"
#include "touchscroll.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <QtDebug>

namespace {
constexpr int kTitleBarHeight = 60;
constexpr int kMinWidth = 1000;
constexpr int kMinHeight = 800;
}

CComp_DialogFrame::CComp_DialogFrame(const QString& title, QWidget* parent)
    : QDialog(parent)
{
    qInfo().noquote() << "open dialog:" + title;

    auto* titleBar = new QWidget(this);
    m_titleBar = titleBar;
    titleBar->setFixedHeight(kTitleBarHeight);
    titleBar->setStyleSheet(QStringLiteral("color:white;background-color:rgb(80,80,80);font-size:32px"));

    m_titleLabel = new QLabel(titleBar);
    m_titleLabel->setFixedHeight(kTitleBarHeight);
    m_titleLabel->setText(title);

    auto* confirm = new QPushButton(QStringLiteral("确定"), titleBar);
    confirm->setFixedSize(100, 50);
    confirm->setStyleSheet(QStringLiteral("outline:0px;border:none;font-size:32px;color:white;background-color:#8BC34A;"));
    connect(confirm, SIGNAL(pressed()), this, SLOT(acceptDialog()));

    m_titleLayout = new QHBoxLayout;
    m_titleLayout->addWidget(m_titleLabel);
    m_titleLayout->addStretch();
    m_titleLayout->addWidget(confirm);
    m_titleLayout->setContentsMargins(8, 0, 8, 0);
    titleBar->setLayout(m_titleLayout);

    // The body scrolls (by dragging too) where the frame is smaller than it, and
    // then shows its bar, on a large screen as on a small one.
    auto* bodyScroll = new QScrollArea(this);
    m_bodyScroll = bodyScroll;
    bodyScroll->setObjectName(QStringLiteral("frameBody"));
    bodyScroll->setWidgetResizable(true);
    bodyScroll->setFrameShape(QFrame::NoFrame);
    bodyScroll->setStyleSheet(QStringLiteral("QScrollArea#frameBody{background:transparent;}"));
    bodyScroll->viewport()->setAutoFillBackground(false);
    m_body = new QWidget(bodyScroll);
    bodyScroll->setWidget(m_body);
    m_body->setAutoFillBackground(false);  // the dialog's grey, as before
    TouchScroll::enable(bodyScroll);

    auto* frameLayout = new QVBoxLayout;
    frameLayout->addWidget(titleBar);
    frameLayout->addWidget(bodyScroll);
    frameLayout->setMargin(0);
    frameLayout->setSpacing(5);
    frameLayout->setContentsMargins(0, 0, 0, 5);
    setLayout(frameLayout);

    // Never larger than the screen (a 1024 x 768 panel).
    setMinimumSize(qMin(kMinWidth, gShowW), qMin(kMinHeight, gShowH));
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
}

QSize CComp_DialogFrame::contentSize() const
{
    // The body whole, plus every shown line of the frame (title bar, lines above the body).
    QBoxLayout* frameLayout = static_cast<QBoxLayout*>(layout());
    const QMargins margins = frameLayout->contentsMargins();
    QSize size(m_body->minimumSizeHint().width(), margins.top() + margins.bottom());
    int shown = 0;
    for (int i = 0; i < frameLayout->count(); ++i) {
        QLayoutItem* item = frameLayout->itemAt(i);
        if (item->isEmpty())
            continue;
        ++shown;
        if (item->widget() == m_bodyScroll) {
            size.rheight() += m_body->minimumSizeHint().height();
            continue;
        }
        size.setWidth(qMax(size.width(), item->minimumSize().width()));
        size.rheight() += item->hasHeightForWidth() ? item->heightForWidth(size.width()) : item->sizeHint().height();
    }
    size.rheight() += frameLayout->spacing() * qMax(0, shown - 1);
    return size;
}

void CComp_DialogFrame::placeCentred(QSize wanted)
{
    const QSize size = wanted.boundedTo(QSize(gShowW, gShowH));
    setGeometry((gShowW - size.width()) / 2, (gShowH - size.height()) / 2, size.width(), size.height());
}

void CComp_DialogFrame::placeInside(const CComp_DialogFrame* host)
{
    const int top = kTitleBarHeight + host->layout()->spacing();
    const QSize room(host->width(), host->height() - top);
    const QSize size = this->size().boundedTo(room);
    setFixedSize(size);
    move((room.width() - size.width()) / 2, top + (room.height() - size.height()) / 2);
}

void CComp_DialogFrame::addAboveBody(QWidget* w)
{
    auto* frameLayout = static_cast<QVBoxLayout*>(layout());
    frameLayout->insertWidget(frameLayout->indexOf(m_bodyScroll), w);
}

void CComp_DialogFrame::acceptDialog()
{
    accept();
}

void CComp_DialogFrame::addTitleWgt(QWidget* w)
{
    m_titleLayout->insertWidget(m_titleLayout->count() - 1, w);
}

void CComp_DialogFrame::setStyleCombobox(QComboBox* box, QStyledItemDelegate* itemDelegate, const QString& extra)
{
    box->setItemDelegate(itemDelegate);
    box->setStyleSheet(
        QStringLiteral(
            "QComboBox {color:white;font-size:22px;height:40px;border:1px solid #BDBDBD;background-color:#607D8B;"
            "combobox-popup:0;}"
            "QComboBox::drop-down{width:40px;height:40px;border-style:none;}"
            "QComboBox::down-arrow{width:30px;height:30px;image:url(:/img/Resources/RightTriangle.png);}"
            "QComboBox::down-arrow:open{image: url(:/img/Resources/DownTriangle.png);}"
            "QComboBox QAbstractItemView::item {outline:0px;color:black;min-height:45px;height:40px;"
            "background-color:white;}"
            "QComboBox QAbstractItemView::item:focus {color:white;min-height:50px;height:40px;"
            "background-color:#607D8B;}")
        + extra);
}

QString CComp_DialogFrame::defaultStyle()
{
    return QStringLiteral(
        "QDialog{background-color:rgb(110,110,110);outline:0px;border:none;}"
        "QTabWidget::pane{border: 1px solid #BDBDBD;background-color:#616161;}"
        "QTabWidget::tab-bar{alignment:left;top:1px;}"
        "QTabBar::tab{color:white;border: 1px solid #BDBDBD;padding-left: 10px;padding-right: 10px;}"
        "QTabBar::tab:selected{height:50px;width:110px;color:white;font-size:26px;background-color:#616161;"
        "border: 1px solid #BDBDBD;border-bottom: 1px solid #616161;}"
        "QTabBar::tab:!selected{height:40px;width:110px;font-size:22px;top:10px;"
        "background-color: rgb(110, 110, 110);}"
        "QPushButton{outline:0px;border:none;font-size:32px;color:white;background-color:#00BCD4;}"
        "QLabel{color:white;font-size:26px;}"
        "QRadioButton,QCheckBox{color:white;font-size:26px;}"
        "QRadioButton::indicator{width:32px;height:32px;}"
        "QCheckBox::indicator{width:32px;height:32px;}"
        "QRadioButton::indicator::unchecked {image: url(:/img/Resources/RadioBox1.png);}"
        "QRadioButton::indicator::checked {image: url(:/img/Resources/RadioBox2.png);}"
        "QCheckBox::indicator::unchecked {image: url(./images/CheckBox1.png);}"
        "QCheckBox::indicator::checked {image: url(./images/CheckBox2.png);}"
        "QListWidget{font-size:22px;color:white;background-color:#616161;alternate-background-color:#757575;"
        "border:1px solid #BDBDBD;}"
        "QScrollArea{background-color:rgb(80,80,80);}"
        "QLineEdit{color:white;font-size:20px;padding:0px 5px 0px 5px;border: 1px solid #959595;height:32px;}"
        "QLineEdit:!focus{border: 1px solid #959595;background:transparent;color:white;}"
        "QLineEdit:focus{background:white;color:black;}");
}

void CComp_DialogFrame::setDefaultWgt(QWidget* w, const QString& extra)
{
    w->setStyleSheet(defaultStyle() + extra);
}
