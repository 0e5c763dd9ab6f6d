#include "versiondownloaddialog.h"

#include "ccomp_dialogframe.h"
#include "colorbutton.h"
#include "dialogpainter.h"
#include "displaytext.h"
#include "globals.h"
#include "v_selectbox.h"
#include "versionrepository.h"

#include <QButtonGroup>
#include <QPainter>
#include <QPixmap>
#include <QTransform>
#include <QtDebug>

namespace {
constexpr const char* kPackageNameProperty = "packageName";
constexpr int kSmallScreenW = 1025;
constexpr int kSmallW = 700;
constexpr int kSmallH = 500;
constexpr int kLargeW = 1280;
constexpr int kLargeH = 960;
constexpr int kSmallFont = 16;
constexpr int kLargeFont = 30;
constexpr int kButtonClass = 3;
constexpr int kTitleBand = 60;
constexpr int kPackageW = 200;
constexpr int kPackageH = 50;
constexpr int kFirstPackageY = 180;
constexpr int kPackageStep = 80;
constexpr int kColumnTitleY = 100;
constexpr int kLargeBoxW = 750;
constexpr int kLargeBoxH = 370;
constexpr int kSmallPackageH = 32;
constexpr int kRowDiskFull = 900;
} // namespace

VersionDownloadDialog::VersionDownloadDialog(QWidget* parent)
    : VersionDownloadDialog(new VersionRepository(), parent)
{
}

VersionDownloadDialog::VersionDownloadDialog(VersionRepository* repository, QWidget* parent)
    : QDialog(parent)
    , m_repository(repository)
    , m_lastGroup(new QButtonGroup(this))
    , m_nextGroup(new QButtonGroup(this))
{
    m_repository->setParent(this);
    m_repository->browse();
    build();
}

VersionDownloadDialog::~VersionDownloadDialog() = default;

bool VersionDownloadDialog::isOnline() const
{
    return m_repository->isOnline();
}

void VersionDownloadDialog::build()
{
    const bool small = gShowW < kSmallScreenW;
    const int w = small ? kSmallW : kLargeW;
    const int h = small ? kSmallH : kLargeH;
    setGeometry(gShowW / 2 - w / 2, gShowH / 2 - h / 2, w, h);
    setFont(DialogPainter::font(small ? kSmallFont : kLargeFont));

    m_exit = new ColorButton(QStringLiteral("退出"), this, kButtonClass);
    m_exit->setObjectName(QStringLiteral("exitButton"));
    m_exit->setGeometry(w - 154, 5, 150, 50);
    connect(m_exit, &QPushButton::clicked, this, &VersionDownloadDialog::acceptDialog);

    const QVector<QString> lines = m_repository->productLines();
    for (int k = 0; k < lines.size(); ++k) {
        auto* last = new ColorButton(QStringLiteral("上一页"), this, kButtonClass);
        auto* next = new ColorButton(QStringLiteral("下一页"), this, kButtonClass);
        for (ColorButton* b : {last, next}) {
            b->setStyleSheet(QStringLiteral("background:transprent;"));
            b->setFixedSize(100, 50);
        }
        last->move(w / 12 + k * w / 3 - 50, h - 100);
        next->move(w / 4 + k * w / 3 - 50, h - 100);
        m_lastGroup->addButton(last, k);
        m_nextGroup->addButton(next, k);
    }

    // Package columns line up with the product lines, also where a line has none. A column
    // holds the buttons of one page only; paging gives them the names of the page shown.
    const QList<stu_packageInfos> packages = m_repository->packages();
    for (int k = 0; k < packages.size(); ++k) {
        auto* group = new QButtonGroup(this);
        const QList<QString>& names = packages.at(k).names;
        for (int i = 0; i < qMin(int(kPerPage), names.size()); ++i) {
            auto* button = new ColorButton(QString(), this, kButtonClass);
            button->resize(kPackageW, kPackageH);
            button->hide();
            group->addButton(button, i);
        }
        connect(group, QOverload<QAbstractButton*>::of(&QButtonGroup::buttonClicked), this,
                &VersionDownloadDialog::onPackagePressed);
        m_groups << group;
        m_names << names;
        m_pageCount << (names.size() + kPerPage - 1) / kPerPage;
        m_curPage << 0;
        show(k);
    }
    m_titles = lines;

    connect(m_lastGroup, &QButtonGroup::idClicked, this, &VersionDownloadDialog::slotToLastPage);
    connect(m_nextGroup, &QButtonGroup::idClicked, this, &VersionDownloadDialog::slotToNextPage);
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    CComp_DialogFrame::setDefaultWgt(this, QString());
}

QList<QAbstractButton*> VersionDownloadDialog::packageButtons(int column) const
{
    QList<QAbstractButton*> buttons;
    if (QButtonGroup* group = m_groups.value(column)) {
        for (int i = 0; group->button(i); ++i)
            buttons << group->button(i);
    }
    return buttons;
}

QStringList VersionDownloadDialog::packageNames(int column) const
{
    return m_names.value(column);
}

void VersionDownloadDialog::show(int column)
{
    const QList<QAbstractButton*> buttons = packageButtons(column);
    const QStringList names = m_names.value(column);
    const int first = kPerPage * m_curPage.value(column);
    // The small dialog is 500 px high: the seven rows are scaled to fit above the paging buttons.
    const double scale = qMin(1.0, double(height()) / kLargeH);
    const int buttonH = scale < 1.0 ? kSmallPackageH : kPackageH;
    for (int j = 0; j < kPerPage && j < buttons.size() && first + j < names.size(); ++j) {
        auto* button = static_cast<ColorButton*>(buttons.at(j));
        button->setText(escapedForDisplay(names.at(first + j)));
        button->setProperty(kPackageNameProperty, names.at(first + j));
        button->setGeometry(width() / 6 + column * width() / 3 - kPackageW / 2,
                            int(scale * (kFirstPackageY + kPackageStep * j)), kPackageW, buttonH);
        // Package names are longer than the button at the dialog's font.
        button->fitText();
        button->show();
    }
}

void VersionDownloadDialog::vhide(int column)
{
    for (QAbstractButton* button : packageButtons(column))
        button->hide();
}

void VersionDownloadDialog::slotToLastPage(int column)
{
    if (column < 0 || column >= m_curPage.size())
        return;
    vhide(column);
    if (m_curPage[column] > 0)
        --m_curPage[column];
    show(column);
}

void VersionDownloadDialog::slotToNextPage(int column)
{
    if (column < 0 || column >= m_curPage.size())
        return;
    vhide(column);
    if (m_curPage[column] < m_pageCount[column] - 1)
        ++m_curPage[column];
    show(column);
}

void VersionDownloadDialog::setEnable(bool enable)
{
    for (int k = 0; k < m_groups.size(); ++k) {
        for (QAbstractButton* button : packageButtons(k))
            button->setEnabled(enable);
    }
}

void VersionDownloadDialog::acceptDialog()
{
    accept();
}

bool VersionDownloadDialog::downloadPackage(const QString& name)
{
    QString error;
    const bool ok = m_repository->downloadPackage(name, &error);
    if (!ok)
        qWarning().noquote() << "download of" << name << "failed:" << error;
    return ok;
}

void VersionDownloadDialog::onPackagePressed(QAbstractButton* button)
{
    m_exit->setEnabled(false);
    setEnable(false);
    // The boxes are children of this dialog, placed for the large box at both
    // sizes: the small box then starts 25 px left of the small dialog, its
    // buttons inside it.
    const QPoint at(width() / 2 - kLargeBoxW / 2, height() / 2 - kLargeBoxH / 2);
    v_SelectBox question(at.x(), at.y(), this, v_SelectBox::Question);
    question.setText(QStringLiteral("是否开始下载该版本?"));
    if (question.exec() == QDialog::Accepted) {
        v_SelectBox notice(at.x(), at.y(), this, v_SelectBox::Notice);
        notice.setText(QStringLiteral("下载中..."));
        notice.QDialog::show();
        // Shown escaped; the name as the server lists it is what is downloaded.
        const QString name = button->property(kPackageNameProperty).toString();
        const bool ok = downloadPackage(name);
        notice.close();
        v_SelectBox outcome(at.x(), at.y(), this, v_SelectBox::Confirm);
        // A file that could not be written (a full disk, the backup) is named: trying again would not help.
        QString text = ok ? QStringLiteral("下载成功\n重启后自动更新") : QStringLiteral("下载失败");
        if (!ok && !m_repository->lastUnsavedFile().isEmpty())
            text = lanText(kRowDiskFull).arg(m_repository->lastUnsavedFile());
        outcome.setText(text);
        if (outcome.exec() != QDialog::Accepted)
            return;
    }
    setEnable(true);
    m_exit->setEnabled(true);
}

void VersionDownloadDialog::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DialogPainter::drawBackground(painter, rect());
    if (gpPixmapTitle && !gpPixmapTitle->isNull())
        painter.drawPixmap(QRect(0, 0, width(), kTitleBand), *gpPixmapTitle);
    painter.setPen(Qt::white);
    painter.setFont(DialogPainter::font(32));
    painter.drawText(QRect(0, 0, width(), kTitleBand), Qt::AlignCenter, QStringLiteral("版本库"));
    const int columns = m_titles.size();
    if (gpPixmapLine && !gpPixmapLine->isNull()) {
        const QPixmap line = gpPixmapLine->transformed(QTransform().rotate(90));
        for (int k = 0; k + 1 < columns; ++k)
            painter.drawPixmap(QRect((k + 1) * width() / 3, kTitleBand, line.width(), height() - kTitleBand), line);
    }
    painter.setFont(font());
    for (int k = 0; k < columns; ++k)
        painter.drawText(QRect(width() / 6 + k * width() / 3 - kPackageW / 2,
                               int(qMin(1.0, double(height()) / kLargeH) * kColumnTitleY), kPackageW, kPackageH),
                         Qt::AlignCenter, m_titles.at(k));
}
