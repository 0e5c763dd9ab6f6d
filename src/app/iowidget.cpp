#include "iowidget.h"

#include "checkbox.h"
#include "choosebox.h"
#include "colorbutton.h"
#include "combobox.h"
#include "controlport.h"
#include "globals.h"
#include "iostatus.h"
#include "mainwindowbase.h"
#include "productalarmwarnbox.h"
#include "settingsprompt.h"
#include "statecodes.h"
#include "touchscroll.h"
#include "wizardpara.h"

#include <QAbstractButton>
#include <QDebug>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int kRowReturn = 58;
constexpr int kRowConfirm = 121;
constexpr int kRowNotSequential = 675;
constexpr int kRowDetect = 755;
constexpr int kRowSaveFailed = 844;
constexpr int kIoRows = 8;
constexpr int kMinDetections = 2;
constexpr int kButtonSize = 3;
const char* const kActiveStyle = "background-color: rgb(40, 200, 60); border-radius: 10px;";
const char* const kIdleStyle = "background-color: rgb(90, 90, 90); border-radius: 10px;";

QString ioLabel(const IOStatus::Entry& e)
{
    return QStringLiteral("%1%2  %3").arg(e.output ? "O" : "I").arg(e.number + 1).arg(gaName[e.nameIndex]);
}
} // namespace

IOWidget::IOWidget(MainWindowBase* win, ControlPort* io, QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint)
    , m_win(win)
    , m_io(io)
    , m_edit(std::make_unique<WizardPara>(gpWPara ? *gpWPara : WizardPara()))
    , m_timer(new QTimer(this))
{
    setObjectName("ioPage");
    setStyleSheet("QDialog#ioPage { background-color: rgb(20, 24, 30); } QLabel { color: white; font: 20px 'wqy-microhei'; }");
    resize(qMax(800, gShowW * 3 / 4), qMax(600, gShowH * 3 / 4));
    auto* layout = new QVBoxLayout(this);
    buildStates();
    if (gpWPara && gpWPara->trigMode == kAllGroupsTrigMode)
        buildAssignment();

    auto* buttons = new QHBoxLayout;
    auto* confirm = new ColorButton(lanText(kRowConfirm), this, kButtonSize);
    auto* back = new ColorButton(lanText(kRowReturn), this, kButtonSize);
    confirm->setObjectName("ioConfirm");
    back->setObjectName("ioReturn");
    connect(confirm, &QPushButton::clicked, this, &IOWidget::SlotConfirm);
    connect(back, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addStretch();
    buttons->addWidget(confirm);
    buttons->addWidget(back);
    layout->addLayout(buttons);

    connect(m_timer, &QTimer::timeout, this, &IOWidget::SlotRefresh);
    m_timer->start(kRefreshMs);
    SlotRefresh();
}

IOWidget::~IOWidget()
{
    // An output switched on for a test does not outlive the page that shows it,
    // unless an alarm holds it meanwhile.
    if (!m_io || !m_testOn)
        return;
    for (int output = 0; output < ControlPort::kOutputCount; ++output)
        if ((m_testOn & (1u << output)) && !isHeld(output))
            m_io->IOSetOut(output, 0);
    m_io->IOFlashOut();
}

void IOWidget::buildStates()
{
    auto* grid = new QGridLayout;
    const QVector<IOStatus::Entry> entries = IOStatus::entries(gpWPara ? gpWPara->trigMode : 0);
    int inputRow = 0;
    int outputRow = 0;
    for (const IOStatus::Entry& e : entries) {
        const int row = e.output ? outputRow++ : inputRow++;
        const int column = e.output ? 3 : 0;
        auto* lamp = new QLabel(this);
        lamp->setFixedSize(20, 20);
        lamp->setObjectName(QStringLiteral("ioLamp%1%2").arg(e.output ? "O" : "I").arg(e.number + 1));
        m_stateLabels << lamp;
        grid->addWidget(lamp, row, column);
        grid->addWidget(new QLabel(ioLabel(e), this), row, column + 1);
        if (e.output) {
            auto* test = new ColorButton(QStringLiteral("O%1").arg(e.number + 1), this, kButtonSize);
            test->setCheckable(true);
            test->setObjectName(QStringLiteral("ioTest%1").arg(e.number));
            connect(test, &QPushButton::toggled, this, [this, e, test](bool on) {
                // A refused switch leaves the button showing the output's real test state.
                if (!SlotTestOutput(e.number, on)) {
                    const QSignalBlocker blocker(test);
                    test->setChecked(!on);
                }
            });
            grid->addWidget(test, row, column + 2);
        }
    }
    static_cast<QVBoxLayout*>(layout())->addLayout(grid);
}

void IOWidget::buildAssignment()
{
    const int lan = qBound(0, gLan, kLanguageCount - 1);
    QVector<QPair<QString, int>> inFunctions, outFunctions, triggers, rows, counts;
    for (int f = 0; f < WizardPara::kInFunctions; ++f)
        inFunctions.append({QString::fromUtf8(gInName[4 * f + lan]), f});
    for (int f = 0; f < WizardPara::kOutFunctions; ++f)
        outFunctions.append({QString::fromUtf8(gOutName[4 * f + lan]), f});
    for (int t = 0; t < kIoRows; ++t)
        triggers.append({QStringLiteral("I%1").arg(TriginNo[t]), t});
    rows.append({QStringLiteral("-"), -1});
    for (int r = 0; r < kIoRows; ++r)
        rows.append({QString::number(r + 1), r});
    for (int n = kMinDetections; n <= kMaxDetections; ++n)
        counts.append({QString::number(n), n});

    auto add = [this](const QString& name, int index, std::function<int&(WizardPara&)> ref,
                      const QVector<QPair<QString, int>>& items, bool readAtStart) {
        Choice choice;
        choice.name = name;
        choice.index = index;
        choice.ref = std::move(ref);
        choice.items = items;
        choice.readAtStart = readAtStart;
        m_choices.append(choice);
    };
    // The detections, their rows and trigger inputs are derived when the record loads;
    // the functions rename the signals at once.
    add(QStringLiteral("detectCount"), 0, [](WizardPara& p) -> int& { return p.detectCount; }, counts, true);
    for (int d = 0; d < kMaxDetections; ++d)
        add(QStringLiteral("detectRow%1").arg(d), d, [d](WizardPara& p) -> int& { return p.detectRow[d]; }, rows, true);
    for (int r = 0; r < kIoRows; ++r) {
        add(QStringLiteral("rowTrigger%1").arg(r), r, [r](WizardPara& p) -> int& { return p.rowTrigger[r]; }, triggers,
            true);
        add(QStringLiteral("inFunc%1").arg(r), r, [r](WizardPara& p) -> int& { return p.inFunc[r]; }, inFunctions, false);
        add(QStringLiteral("outFunc%1").arg(r), r, [r](WizardPara& p) -> int& { return p.outFunc[r]; }, outFunctions,
            false);
    }

    auto* grid = new QGridLayout;
    for (Choice& choice : m_choices) {
        choice.box = new ComboBox(this);
        choice.box->setObjectName(choice.name);
        for (const auto& item : choice.items)
            choice.box->addItem(item.first, item.second);
        choice.box->setCurrentIndex(qMax(0, choice.box->findData(value(*m_edit, choice))));
        const QString name = choice.name;
        connect(choice.box, QOverload<int>::of(&QComboBox::activated), this,
                [this, name, box = choice.box](int index) { setChoice(name, box->itemData(index).toInt()); });
    }
    // Left: the detections in use and the IO row of each; right: per IO row its
    // trigger input, input function and output function (the choices name themselves).
    auto box = [this](const QString& name) {
        for (const Choice& choice : m_choices)
            if (choice.name == name)
                return static_cast<QWidget*>(choice.box);
        return static_cast<QWidget*>(nullptr);
    };
    grid->addWidget(new QLabel(lanText(kRowDetect).arg(QStringLiteral("N")), this), 0, 0);
    grid->addWidget(box(QStringLiteral("detectCount")), 0, 1);
    for (int d = 0; d < kMaxDetections; ++d) {
        grid->addWidget(new QLabel(lanText(kRowDetect).arg(d + 1), this), d + 1, 0);
        grid->addWidget(box(QStringLiteral("detectRow%1").arg(d)), d + 1, 1);
    }
    for (int r = 0; r < kIoRows; ++r) {
        grid->addWidget(new QLabel(QString::number(r + 1), this), r + 1, 3, Qt::AlignRight);
        grid->addWidget(box(QStringLiteral("rowTrigger%1").arg(r)), r + 1, 4);
        grid->addWidget(box(QStringLiteral("inFunc%1").arg(r)), r + 1, 5);
        grid->addWidget(box(QStringLiteral("outFunc%1").arg(r)), r + 1, 6);
    }
    grid->setColumnMinimumWidth(2, 40);
    auto* sequential = new CheckBox(this, lanText(kRowNotSequential));
    sequential->setObjectName("notSequential");
    sequential->setChecked(m_edit->sequentialDetect == 0);
    connect(sequential, &QCheckBox::toggled, this, [this](bool on) { m_edit->sequentialDetect = on ? 0 : 1; });
    grid->addWidget(sequential, kIoRows + 1, 0, 1, 4);

    auto* area = new QScrollArea(this);
    auto* inner = new QWidget(area);
    inner->setObjectName("ioAssignment");
    inner->setStyleSheet("QWidget#ioAssignment { background-color: rgb(20, 24, 30); }");
    inner->setLayout(grid);
    area->setWidget(inner);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    // Dragged by finger as the settings pages are; a drag that starts on a box only scrolls.
    TouchScroll::enable(area);
    static_cast<QVBoxLayout*>(layout())->addWidget(area);
}

int& IOWidget::field(WizardPara& para, const Choice& choice)
{
    return choice.ref(para);
}

int IOWidget::value(const WizardPara& para, const Choice& choice)
{
    return field(const_cast<WizardPara&>(para), choice);
}

bool IOWidget::setChoice(const QString& name, int v)
{
    for (const Choice& choice : m_choices) {
        if (choice.name != name)
            continue;
        // Only the offered values are taken: the record's loader does not bound them.
        for (const auto& item : choice.items) {
            if (item.second == v) {
                field(*m_edit, choice) = v;
                if (choice.box)
                    choice.box->setCurrentIndex(choice.box->findData(v));
                return true;
            }
        }
        return false;
    }
    return false;
}

QString IOWidget::changes() const
{
    QStringList list;
    if (!gpWPara)
        return QString();
    for (const Choice& choice : m_choices) {
        const int before = value(*gpWPara, choice);
        const int after = value(*m_edit, choice);
        if (before != after)
            list << QStringLiteral("%1: %2 -> %3").arg(choice.name).arg(before).arg(after);
    }
    if (gpWPara->sequentialDetect != m_edit->sequentialDetect)
        list << QStringLiteral("sequentialDetect: %1 -> %2").arg(gpWPara->sequentialDetect).arg(m_edit->sequentialDetect);
    return list.join("; ");
}

QStringList IOWidget::changesAtStart() const
{
    QStringList names;
    for (const Choice& choice : m_choices)
        if (choice.readAtStart && gpWPara && value(*gpWPara, choice) != value(*m_edit, choice))
            names << choice.name;
    return names;
}

void IOWidget::refreshNames(const WizardPara& para)
{
    if (para.trigMode != kAllGroupsTrigMode)
        return;
    const int lan = qBound(0, gLan, kLanguageCount - 1);
    auto inName = [lan](int f) { return QString::fromUtf8(gInName[4 * qBound(0, f, WizardPara::kInFunctions - 1) + lan]); };
    auto outName = [lan](int f) { return QString::fromUtf8(gOutName[4 * qBound(0, f, WizardPara::kOutFunctions - 1) + lan]); };
    gaName[0] = inName(para.inFunc[0]);
    for (int i = 1; i < kIoRows; ++i)
        gaName[1 + i] = inName(para.inFunc[i]);
    gaName[9] = outName(para.outFunc[0]);
    gaName[10] = outName(para.outFunc[1]);
    for (int i = 2; i < kIoRows; ++i)
        gaName[10 + i] = outName(para.outFunc[i]);
}

void IOWidget::SlotConfirm()
{
    const QString text = changes();
    if (text.isEmpty() || !gpWPara) {
        accept();
        return;
    }
    if (gpChooseBox) {
        gpChooseBox->setText(text);
        if (gpChooseBox->exec() != 1)
            return;
    }
    const QStringList waiting = changesAtStart();
    const WizardPara before = *gpWPara;
    for (const Choice& choice : m_choices)
        field(*gpWPara, choice) = value(*m_edit, choice);
    gpWPara->sequentialDetect = m_edit->sequentialDetect;
    gpWPara->trigModeNext = gpWPara->trigMode;
    if (!gpWPara->SaveDatatoFile()) {
        // Nothing was stored: the live record stays as it was, the edits stay on the page.
        *gpWPara = before;
        SettingsPrompt::warn(lanText(kRowSaveFailed));
        return;
    }
    refreshNames(*gpWPara);
    if (m_win)
        m_win->InsertRecord(text, QStringLiteral("set"));
    accept();
    SettingsPrompt::warnRestartNeeded(waiting);
}

bool IOWidget::isHeld(int output) const
{
    if (m_win && m_win->isOutputHeld(output))
        return true;
    // The production alarm interlocks the clamp and sounds the alarm until acknowledged.
    const bool productionAlarm = gpProductAlarmWarnBox && gpProductAlarmWarnBox->isVisible();
    return productionAlarm && (output == kClampOutput || output == kAlarmOutput);
}

bool IOWidget::SlotTestOutput(int output, bool on)
{
    if (!m_io || output < 0 || output >= ControlPort::kOutputCount)
        return false;
    // Both directions need the service level: switching off can release an interlock.
    if (!m_testAllowed) {
        m_testAllowed = !m_win || m_win->CheckRoot();
        if (!m_testAllowed)
            return false;
    }
    const unsigned bit = 1u << output;
    if (!on) {
        // Only an output this page switched on goes off, and never one an alarm holds.
        if (!(m_testOn & bit))
            return true;
        m_testOn &= ~bit;
        if (isHeld(output)) {
            qInfo() << "IO test: output" << output + 1 << "stays on, an alarm holds it";
            return true;
        }
    }
    m_io->IOSetOut(output, on ? 1 : 0);
    m_io->IOFlashOut();
    if (on)
        m_testOn |= bit;
    if (m_win)
        m_win->InsertRecord(QStringLiteral("IO test O%1 %2").arg(output + 1).arg(on ? "on" : "off"), QStringLiteral("operate"));
    return true;
}

void IOWidget::SlotRefresh()
{
    const QVector<IOStatus::Entry> entries = IOStatus::entries(gpWPara ? gpWPara->trigMode : 0);
    for (int i = 0; i < entries.size() && i < m_stateLabels.size(); ++i) {
        // A style sheet set again re-polishes the label even when it is the same.
        const QLatin1String style(IOStatus::isOn(m_io, entries.at(i)) ? kActiveStyle : kIdleStyle);
        if (m_stateLabels[i]->styleSheet() != style)
            m_stateLabels[i]->setStyleSheet(style);
    }
    showDrivenOutputs();
}

void IOWidget::showDrivenOutputs()
{
    // The cycle owns the outputs: an OK cycle releases one switched on for a
    // test. Its button then goes out, and the output is no longer the page's.
    if (!m_io)
        return;
    for (int output = 0; output < ControlPort::kOutputCount; ++output) {
        const unsigned bit = 1u << output;
        if (!(m_testOn & bit) || m_io->IOGetOut(output) != 0)
            continue;
        m_testOn &= ~bit;
        if (auto* test = findChild<QAbstractButton*>(QStringLiteral("ioTest%1").arg(output))) {
            const QSignalBlocker blocker(test);
            test->setChecked(false);
        }
    }
}
