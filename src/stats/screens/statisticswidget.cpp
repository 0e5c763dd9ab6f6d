#include "statisticswidget.h"

#include "camerastatisticswidget.h"
#include "camereatabwidget.h"
#include "choosebox.h"
#include "colorbutton.h"
#include "combobox.h"
#include "dateseletdialog.h"
#include "exportresultworker.h"
#include "findau.h"
#include "globals.h"
#include "resstatisticsparam.h"
#include "warnbox.h"

#include <QDir>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QSqlDatabase>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int kScreenH = 1080;
constexpr int kListHeight = 980;
// Below this width the top row's controls take two rows.
constexpr int kWideScreen = 1800;
constexpr int kSecondRowH = 60;
constexpr int kNarrowDateListW = 190;
constexpr int kFontPx = 33;
constexpr int kTopRowH = 50;
constexpr int kTopRowSpacing = 30;
constexpr int kTopButtonW = 240;
constexpr int kShiftLabelW = 125;  // the least widths; a longer translation widens its label
constexpr int kToLabelW = 60;
constexpr int kRowReturn = 58, kRowSave = 234, kRowNoDisk = 320, kRowExport = 326;
constexpr int kRowAllCameras = 585, kRowCameraN = 586, kRowExporting = 654, kRowStartExport = 732;
constexpr int kRowSuccess = 147, kRowFailed = 770;
constexpr int kRowMorningFrom = 738, kRowTo = 739, kRowNightFrom = 740;
constexpr int kChooseW = 750, kChooseH = 370;
constexpr const char* kListConnection = "dbListRes";
constexpr const char* kArchiveDir = "./ResStatistics";
// The four shift hours in the order of the choosers and their JSON keys.
constexpr const char* kShiftKeys[4] = {"morningsStart", "morningsEnd", "nightStart", "nightEnd"};

int shiftHour(const ResStatisticsParam& model, int index)
{
    const int hours[4] = {model.morningsStart, model.morningsEnd, model.nightStart, model.nightEnd};
    return hours[index];
}

// The label's width for its whole text, at least `least`.
int textFits(const QLabel* label, int least)
{
    return qMax(least, QFontMetrics(label->font()).horizontalAdvance(label->text()) + 8);
}

QFont screenFont()
{
    QFont font(QStringLiteral("wqy-microhei"));
    font.setPixelSize(kFontPx);
    return font;
}
} // namespace

StatisticsWidget* StatisticsWidget::instance = nullptr;

StatisticsWidget::StatisticsWidget(QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::CustomizeWindowHint)
{
    // The screen it runs on, so that Return and Export stay in reach on a small panel.
    setFixedSize(gShowW, gShowH);
    setStyleSheet(QStringLiteral("StatisticsWidget{background-color: #FFFFFF;background: #FFFFFF;}"
                                 "QListWidget {font-size:22px;}QListWidget::item { height: 50px; }"));
    setAttribute(Qt::WA_StyledBackground);
    hide();
    if (!QSqlDatabase::contains(QLatin1String(kListConnection)))
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kListConnection));

    qRegisterMetaType<QPair<QString, QString>>("QPair<QString,QString>");
    m_exportThread = std::make_unique<QThread>();
    m_exportThread->setObjectName(QStringLiteral("StatisticsExport"));
    worker = new ExportResultWorker;
    worker->moveToThread(m_exportThread.get());
    connect(m_exportThread.get(), &QThread::finished, worker, &QObject::deleteLater);
    m_exportThread->start(QThread::InheritPriority);

    connect(this, &StatisticsWidget::sigExportData, this, [this] {
        ResStatisticsParam* model = ResStatisticsParam::getInstance();
        m_timerWasOn = model->timer && model->timer->isActive();
        model->setTimer(false);
    });
    connect(this, &StatisticsWidget::sigExportData, worker, &ExportResultWorker::work, Qt::QueuedConnection);
    connect(worker, &ExportResultWorker::exportProgress, this, &StatisticsWidget::sigExportProgress);
    connect(worker, &ExportResultWorker::finish, this, &StatisticsWidget::exportFinished);
}

StatisticsWidget::~StatisticsWidget()
{
    // An export still running is waited for: its files must not be cut off.
    m_exportThread->quit();
    m_exportThread->wait();
    if (instance == this)
        instance = nullptr;
}

void StatisticsWidget::createWidget(QStringList detectNames)
{
    const bool narrow = width() < kWideScreen;
    const int listHeight = kListHeight * height() / kScreenH - (narrow ? kSecondRowH : 0);
    cameraTab = new QTabWidget(this);
    // The dates keep a readable column on a small panel.
    const int tabWidth = narrow ? width() - 20 - kNarrowDateListW - 6 : (width() / 11) * 10 - 2;
    cameraTab->setFixedSize(tabWidth, listHeight);
    cameraTab->setStyleSheet(QStringLiteral("QTabBar::tab {   width: 200px;   height: 50px;   font-size: 25px;}"
                                            "QTabBar::tab:selected {    background: #ff9900;    color: white;}"));
    const int cameras = qBound(0, numCamera, kMaxCameraTabs - 1);
    for (int i = 0; i <= cameras; ++i) {
        auto* tab = new CamereaTabWidget((i + 8) % kMaxCameraTabs, detectNames, cameraTab);
        // Sized by the tab widget it is a page of: a fixed size ran past the screen's bottom.
        tab->setStyleSheet(QStringLiteral("QTabBar::tab{width: 230px; height: 50px; font-size: 25px;}"));
        cameraTab->addTab(tab, i == 0 ? lanText(kRowAllCameras) : lanText(kRowCameraN).arg(i));
        connect(tab, &QTabWidget::currentChanged, this, &StatisticsWidget::refreshPage);
        cameraTabsList[i] = tab;
    }
    connect(cameraTab, &QTabWidget::currentChanged, this, &StatisticsWidget::refreshPage);

    dateList = new QListWidget(this);
    dateList->setFixedHeight(listHeight);
    connect(dateList, &QListWidget::itemClicked, this, &StatisticsWidget::UpdateRecord);

    groupCombo = new ComboBox(this);
    groupCombo->setFixedSize(300, 50);
    groupCombo->setFont(screenFont());
    groupCombo->setItemHeight(50);
    connect(groupCombo, &ComboBox::currentTextChanged, this, [this](const QString& text) {
        ResStatisticsParam::getInstance()->showGroupName = text;
        refreshPage();
    });

    const ResStatisticsParam* model = ResStatisticsParam::getInstance();
    auto shiftRow = [&](int labelRow, int first) {
        auto* row = new QHBoxLayout;
        row->setSpacing(0);
        row->setContentsMargins(0, 0, 0, 0);
        auto* from = new QLabel(lanText(labelRow), this);
        from->setFont(screenFont());
        from->setFixedSize(textFits(from, kShiftLabelW), kTopRowH);
        from->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row->addWidget(from);
        for (int k = first; k < first + 2; ++k) {
            auto* chooser = new ComboBox(this);
            chooser->setFixedSize(100, 50);
            chooser->setFont(screenFont());
            chooser->setItemHeight(50);
            for (int hour = 0; hour < kHoursPerDay; ++hour)
                chooser->addItem(QString::number(hour), hour);
            chooser->setCurrentIndex(shiftHour(*model, k));
            shiftCombos[k] = chooser;
            row->addWidget(chooser);
            if (k == first) {
                auto* to = new QLabel(lanText(kRowTo), this);
                to->setFont(screenFont());
                to->setFixedSize(textFits(to, kToLabelW), kTopRowH);
                to->setAlignment(Qt::AlignCenter);
                row->addWidget(to, 0, Qt::AlignRight);
            }
        }
        row->addStretch();
        return row;
    };

    auto* back = new ColorButton(lanText(kRowReturn), this, 3);
    back->setFixedSize(kTopButtonW, kTopRowH);
    connect(back, &ColorButton::clicked, this, &StatisticsWidget::SlotConfirm);
    auto* exportButton = new ColorButton(lanText(kRowExport), this, 3);
    exportButton->setFixedSize(kTopButtonW, kTopRowH);
    connect(exportButton, &ColorButton::clicked, this, &StatisticsWidget::SlotExportData);

    auto* top = new QHBoxLayout;
    top->setSpacing(narrow ? 10 : kTopRowSpacing);
    top->setContentsMargins(0, 0, 0, 0);
    auto* actions = narrow ? new QHBoxLayout : top;
    actions->addWidget(groupCombo);
    top->addLayout(shiftRow(kRowMorningFrom, 0));
    top->addLayout(shiftRow(kRowNightFrom, 2));
    actions->addStretch();
    actions->addWidget(back);
    actions->addWidget(exportButton);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(dateList);
    bottom->addWidget(cameraTab);
    auto* screen = new QVBoxLayout(this);
    screen->setContentsMargins(10, 10, 10, 10);
    screen->addLayout(top);
    if (actions != top)
        screen->addLayout(actions);
    screen->addLayout(bottom);
    screen->addStretch();
}

void StatisticsWidget::showEvent(QShowEvent* event)
{
    initWidget();
    QWidget::showEvent(event);
}

void StatisticsWidget::initWidget()
{
    const ResStatisticsParam* model = ResStatisticsParam::getInstance();
    for (int k = 0; k < 4; ++k) {
        if (shiftCombos[k])
            shiftCombos[k]->setCurrentIndex(shiftHour(*model, k));
    }
    updateList();
    updateGroupsList(true);
}

void StatisticsWidget::updateList()
{
    if (!dateList)
        return;
    dateList->clear();
    dateList->addItem(ResStatisticsParam::getInstance()->getCurDBDate());
    const QStringList names = QDir(QLatin1String(kArchiveDir))
                                  .entryList({QStringLiteral("*.db")}, QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    for (auto it = names.crbegin(); it != names.crend(); ++it)
        dateList->addItem(QString(*it).remove(QStringLiteral(".db")));
    dateList->setCurrentRow(0);
    UpdateRecord(dateList->item(0));
}

void StatisticsWidget::UpdateRecord(QListWidgetItem* item)
{
    if (!item || !dateList)
        return;
    const QString path = QStringLiteral("%1//%2.db").arg(QDir(QLatin1String(kArchiveDir)).absolutePath(), item->text());
    emit sigUpdateRecord(dateList->currentRow(), path);
}

void StatisticsWidget::slotUpdateRecord(bool)
{
    updateGroupsList(true);
    refreshPage();
}

void StatisticsWidget::updateGroupsList(bool block)
{
    if (!groupCombo)
        return;
    ResStatisticsParam* model = ResStatisticsParam::getInstance();
    const bool wasBlocked = block ? groupCombo->blockSignals(true) : groupCombo->signalsBlocked();
    groupCombo->clear();
    groupCombo->addItems(model->getGroups());
    model->showGroupName = groupCombo->currentText();
    groupCombo->blockSignals(wasBlocked);
    if (dateList && dateList->currentRow() == 0)
        groupCombo->setCurrentIndex(groupCombo->findText(model->getCurGroupName(), Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void StatisticsWidget::checkUpdate()
{
    if (dateList && dateList->currentRow() == 0)
        refreshPage();
}

void StatisticsWidget::refreshPage()
{
    if (!cameraTab)
        return;
    if (auto* tab = qobject_cast<CamereaTabWidget*>(cameraTab->currentWidget()))
        tab->updateData();
}

void StatisticsWidget::SlotConfirm()
{
    ResStatisticsParam* model = ResStatisticsParam::getInstance();
    QJsonObject obj;
    for (int k = 0; k < 4; ++k)
        obj.insert(QLatin1String(kShiftKeys[k]), shiftCombos[k] ? shiftCombos[k]->currentIndex() : shiftHour(*model, k));
    if (model->checkParam(obj)) {
        ChooseBox ask(this, kChooseW, kChooseH);
        ask.setText(lanText(kRowSave));
        if (ask.exec() == 1) {
            model->laodConfigFromJson(obj);
            // Kept across a restart.
            model->saveConfig();
            model->setCurGroup();
            model->checkDate();
        }
    }
    hide();
}

void StatisticsWidget::SlotExportData()
{
    if (!exportAllow) {
        WarnBox box(this);
        box.setText(lanText(kRowExporting));
        box.exec();
        return;
    }
    QString disk = FindAU();
    while (disk.isEmpty()) {
        ChooseBox ask(this, kChooseW, kChooseH);
        ask.setText(lanText(kRowNoDisk));
        if (ask.exec() != 1)
            return;
        disk = FindAU();
    }
    DateSeletDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (gpWarnBox) {
        gpWarnBox->setText(lanText(kRowStartExport));
        gpWarnBox->show();
    }
    exportAllow = false;
    // The export program reads the day file: it must hold the counts shown now.
    ResStatisticsParam::getInstance()->saveNow();
    worker->setTarget(disk);
    emit sigExportData(dialog.getDays());
}

void StatisticsWidget::exportFinished(bool ok, const QString& reason)
{
    exportAllow = true;
    ResStatisticsParam::getInstance()->setTimer(m_timerWasOn);
    emit sigExportDataFinish();
    WarnBox box(this);
    box.setText(ok ? lanText(kRowSuccess) : lanText(kRowFailed));
    Q_UNUSED(reason)  // logged by the worker
    box.exec();
}
