#include "wizardparawidget.h"

#include "cammerrecongnize.h"
#include "cammerwidget.h"
#include "ccomp_diawait.h"
#include "checkbox.h"
#include "choosecalinumwidget.h"
#include "colorbutton.h"
#include "combobox.h"
#include "dialogpainter.h"
#include "edit.h"
#include "editbox.h"
#include "editdatetime.h"
#include "exportdataselectdlg.h"
#include "fuzzycombobox.h"
#include "globals.h"
#include "indexbutton.h"
#include "mainwindowbase.h"
#include "modifytimewidget.h"
#include "paragroupstore.h"
#include "paramfield.h"
#include "settingsprompt.h"
#include "touchscroll.h"
#include "widgetchangecamera.h"
#include "wizardpara.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <cstring>
#include <functional>

namespace {

constexpr int kRowSaveQuestion = 234;
constexpr int kRowConfirm = 121;
constexpr int kRowReturn = 58;
constexpr int kRowFirstPage = 800;
constexpr int kRowCamera = 808;
constexpr int kRowOnceWB = 809;
constexpr int kRowRestoreDefaults = 810;
constexpr int kRowRestoreQuestion = 811;
constexpr int kRowNewPassword = 819;
constexpr int kRowDigitsOnly = 820;
constexpr int kRowSearch = 821;
constexpr int kRowGroupName = 822;
constexpr int kRowBackup = 823;
constexpr int kRowRestore = 824;
constexpr int kRowDelete = 825;
constexpr int kRowBackupQuestion = 826;
constexpr int kRowRestoreGroupQuestion = 827;
constexpr int kRowDeleteQuestion = 828;
constexpr int kRowBadGroupName = 829;
constexpr int kRowGroupFailed = 830;
constexpr int kRowModifyTime = 831;
constexpr int kRowLanguage = 832;
constexpr int kRowExit = 833;
constexpr int kRowCameraOrder = 834;
constexpr int kRowImageStorage = 835;
constexpr int kRowCaliPoints = 836;
constexpr int kRowTimeQuestion = 837;
constexpr int kRowTimeFailed = 838;
constexpr int kRowExportQuestion = 839;
constexpr int kRowRestartQuestion = 840;
constexpr int kRowExitQuestion = 841;
constexpr int kRowLanguageQuestion = 842;
constexpr int kRowNotAvailable = 843;
constexpr int kRowSaveFailed = 844;
constexpr int kRowShutDown = 209;
constexpr int kRowExport = 326;
constexpr int kRowNetwork = 328;
constexpr int kRowVersionDownload = 873;
constexpr int kRowCameraN = 586;
constexpr int kRowParaGroups = 806;

constexpr int kPageCountAll = ParamField::PageCount + 2;
constexpr int kPageButtonW = 260;
constexpr int kButtonH = 80;
constexpr int kActionButtonW = 300;
constexpr int kButtonClass = 3;
constexpr int kCaptionPixels = 28;
constexpr int kComboW = 420;
constexpr int kComboH = 50;
constexpr int kWideScreen = 1800;
constexpr int kPageMargin = 60;
constexpr int kValueBoxW = 900;
constexpr int kSwitchW = 600;
constexpr int kSwitchIndicatorW = 60;
constexpr char kWrapWidth[] = "wrapWidth";
constexpr int kEditKeypad = 1;
constexpr int kEditCharKeypad = Edit::CharPad;

const char* const kLanguageNames[kLanguageCount] = {"简体中文", "English", "繁體中文", "日本語"};

QString notAvailable(int row)
{
    return lanText(row) + QStringLiteral("\n") + lanText(kRowNotAvailable);
}

WizardParaWidget::ScreenHook& networkHook()
{
    static WizardParaWidget::ScreenHook hook;
    return hook;
}

WizardParaWidget::ScreenHook& versionDownloadHook()
{
    static WizardParaWidget::ScreenHook hook;
    return hook;
}

WizardParaWidget::ScreenHook& imageStorageHook()
{
    static WizardParaWidget::ScreenHook hook;
    return hook;
}

WizardParaWidget::AcceptedHook& acceptedHook()
{
    static WizardParaWidget::AcceptedHook hook;
    return hook;
}

WizardParaWidget::ExportHook& exportHook()
{
    static WizardParaWidget::ExportHook hook;
    return hook;
}

QLabel* caption(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(DialogPainter::font(kCaptionPixels));
    DialogPainter::setYellowText(label);
    return label;
}

// Long captions go onto further lines instead of running off the page:
// between words where there are blanks, else between characters.
QString wrapped(const QString& text, int width)
{
    const QFont font = DialogPainter::font(kCaptionPixels);
    if (width <= 0 || DialogPainter::textWidth(font, text) <= width)
        return text;
    const QString flat = text.simplified();
    const bool words = flat.contains(' ');
    const QStringList parts = words ? flat.split(' ') : flat.split(QString(), Qt::SkipEmptyParts);
    QStringList lines;
    QString line;
    for (const QString& part : parts) {
        const QString candidate = line.isEmpty() ? part : line + (words ? QStringLiteral(" ") : QString()) + part;
        if (!line.isEmpty() && DialogPainter::textWidth(font, candidate) > width) {
            lines << line;
            line = part;
        } else {
            line = candidate;
        }
    }
    lines << line;
    return lines.join('\n');
}

bool digitsOnly(const QString& text)
{
    for (const QChar c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

}  // namespace

struct WizardParaWidget::FieldControl
{
    EditBox* edit = nullptr;
    CheckBox* check = nullptr;
    ComboBox* combo = nullptr;
    QLabel* label = nullptr;  // caption of a combo box
    QWidget* widget = nullptr;
};

void WizardParaWidget::setNetworkHook(ScreenHook hook) { networkHook() = std::move(hook); }
void WizardParaWidget::setImageStorageHook(ScreenHook hook) { imageStorageHook() = std::move(hook); }
void WizardParaWidget::setVersionDownloadHook(ScreenHook hook) { versionDownloadHook() = std::move(hook); }
void WizardParaWidget::setExportHook(ExportHook hook) { exportHook() = std::move(hook); }
void WizardParaWidget::setAcceptedHook(AcceptedHook hook) { acceptedHook() = std::move(hook); }

WizardParaWidget::WizardParaWidget(MainWindowBase* window, QWidget* parent)
    : QWidget(parent)
    , m_win(window)
    , m_caliWidget(std::make_unique<ChooseCaliNumWidget>(nullptr))
    , m_timeWidget(std::make_unique<ModifyTimeWidget>(nullptr))
{
    setObjectName("settingsScreen");
    // A style sheet, not the palette: the main window's style sheet would replace a palette.
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("#settingsScreen { background-color: black; }"));
    buildPages();
}

WizardParaWidget::~WizardParaWidget() = default;

ColorButton* WizardParaWidget::addButton(QWidget* parent, int row, const char* name, void (WizardParaWidget::*slot)())
{
    auto* button = new ColorButton(lanText(row), parent, kButtonClass);
    button->setObjectName(QString::fromLatin1(name));
    button->setFixedSize(kActionButtonW, kButtonH);
    button->fitText();
    connect(button, &QPushButton::clicked, this, slot);
    return button;
}


void WizardParaWidget::buildPages()
{
    // Page choice, Confirm and Return across the top: the pages keep the full width.
    auto* outer = new QVBoxLayout(this);
    auto* top = new QGridLayout;
    const int perRow = gShowW >= kWideScreen ? kPageCountAll + 2 : (kPageCountAll + 2) / 2;
    const int buttonW = qMin(kPageButtonW, (gShowW - 20) / perRow - 6);
    m_pages = new QStackedWidget(this);
    for (int page = 0; page < kPageCountAll; ++page) {
        auto* pageButton = new ColorButton(lanText(kRowFirstPage + page), this, kButtonClass);
        pageButton->setFixedSize(buttonW, kButtonH);
        pageButton->setCheckable(true);
        pageButton->fitText();
        connect(pageButton, &QPushButton::clicked, this, [this, page] { SlotChangePage(page); });
        m_pageButtons << pageButton;
        top->addWidget(pageButton, page / perRow, page % perRow);
    }
    int slot = kPageCountAll;
    for (ColorButton* action : {addButton(this, kRowConfirm, "confirm", &WizardParaWidget::accept),
                                addButton(this, kRowReturn, "return", &WizardParaWidget::reject)}) {
        action->setFixedWidth(buttonW);
        action->fitText();
        top->addWidget(action, slot / perRow, slot % perRow);
        ++slot;
    }
    outer->addLayout(top);
    outer->addWidget(m_pages, 1);

    m_controls.resize(paramFields().size());
    for (int page = 0; page < ParamField::PageCount; ++page)
        m_pages->addWidget(buildFieldPage(page));
    m_pages->addWidget(buildGroupPage());
    m_pages->addWidget(buildSystemPage());
    SlotChangePage(0);
}

QWidget* WizardParaWidget::buildFieldPage(int page)
{
    auto* scroll = new QScrollArea(m_pages);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* body = new QWidget(scroll);
    body->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(body);

    if (page == ParamField::CameraPage) {
        auto* top = new QHBoxLayout;
        top->addWidget(caption(lanText(kRowCamera), body));
        m_cameraChoice = new ComboBox(body);
        m_cameraChoice->setFont(DialogPainter::font(kCaptionPixels));
        m_cameraChoice->setFixedSize(kComboW / 2, kComboH);
        m_cameraChoice->setItemHeight(kComboH);
        connect(m_cameraChoice, QOverload<int>::of(&QComboBox::activated), this, &WizardParaWidget::SlotChangeCamera);
        top->addWidget(m_cameraChoice);
        top->addWidget(addButton(body, kRowOnceWB, "onceWB", &WizardParaWidget::SlotOnceWB));
        top->addWidget(addButton(body, kRowRestoreDefaults, "restoreDefaults", &WizardParaWidget::SlotRestoreDefaultSettings));
        top->addStretch();
        layout->addLayout(top);
    }
    if (page == ParamField::PasswordPage) {
        auto* row = new QHBoxLayout;
        row->addWidget(caption(lanText(kRowNewPassword), body));
        m_password = new Edit(kEditKeypad, body);
        m_password->setObjectName("newPassword");
        m_password->setFixedSize(kComboW, kComboH);
        m_password->setFont(DialogPainter::font(kCaptionPixels));
        m_password->setEchoMode(QLineEdit::Password);
        row->addWidget(m_password);
        row->addStretch();
        layout->addLayout(row);
    }

    // Value boxes first, then the switches, as many to a line as the screen holds.
    auto* values = new QGridLayout;
    auto* switches = new QGridLayout;
    const int area = gShowW - kPageMargin;
    const int valueColumns = qMax(1, area / kValueBoxW);
    const int switchColumns = qMax(1, area / kSwitchW);
    const int switchTextW = area / switchColumns - kSwitchIndicatorW;
    int valueCount = 0;
    int switchCount = 0;
    const auto& fields = paramFields();
    for (int i = 0; i < int(fields.size()); ++i) {
        const ParamField& f = fields[size_t(i)];
        if (f.page != page)
            continue;
        FieldControl& c = m_controls[size_t(i)];
        const QString text = lanText(f.row);
        switch (f.control) {
        case ParamField::Edit: {
            c.edit = new EditBox(f.min, f.max, body, text, QString(), 0, 1);
            connect(c.edit, &EditBox::valueChanged, this, [this, i](int v) { fieldEdited(i, v); });
            c.widget = c.edit;
            values->addWidget(c.widget, valueCount / valueColumns, valueCount % valueColumns);
            ++valueCount;
            break;
        }
        case ParamField::Check: {
            c.check = new CheckBox(body, wrapped(text, switchTextW));
            connect(c.check, &QCheckBox::toggled, this, [this, i](bool on) { fieldEdited(i, on ? 1 : 0); });
            c.widget = c.check;
            c.check->setProperty(kWrapWidth, switchTextW);
            switches->addWidget(c.widget, switchCount / switchColumns, switchCount % switchColumns);
            ++switchCount;
            break;
        }
        case ParamField::Combo: {
            c.widget = new QWidget(body);
            auto* row = new QHBoxLayout(c.widget);
            row->setContentsMargins(0, 0, 0, 0);
            c.label = caption(text, c.widget);
            c.combo = new ComboBox(c.widget);
            c.combo->setFont(DialogPainter::font(kCaptionPixels));
            c.combo->setFixedSize(kComboW, kComboH);
            c.combo->setItemHeight(kComboH);
            for (int k = 0; k <= f.max; ++k)
                c.combo->addItem(lanText(f.choiceRows[k]));
            connect(c.combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                    [this, i](int v) { fieldEdited(i, v); });
            row->addWidget(c.label);
            row->addWidget(c.combo);
            row->addStretch();
            values->addWidget(c.widget, valueCount / valueColumns, valueCount % valueColumns);
            ++valueCount;
            break;
        }
        }
    }
    layout->addLayout(values);
    layout->addLayout(switches);
    layout->addStretch();
    scroll->setWidget(body);
    // The screen's own black shows through the page (a palette fill would be replaced
    // by the main window's style sheet); a finger-wide scroll bar.
    scroll->viewport()->setAutoFillBackground(false);
    body->setAutoFillBackground(false);
    scroll->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    // On the bar itself: under the screen's own style sheet a rule of the page
    // does not reach the bar's size, which stayed at the style's 14 px.
    scroll->verticalScrollBar()->setStyleSheet(QStringLiteral("QScrollBar:vertical { width: 30px; }"));
    TouchScroll::enable(scroll);
    return scroll;
}

QWidget* WizardParaWidget::buildGroupPage()
{
    auto* page = new QWidget(m_pages);
    auto* layout = new QGridLayout(page);
    m_groupSearch = new Edit(kEditCharKeypad, page);
    m_groupSearch->setObjectName("groupSearch");
    m_groupChoice = new FuzzyComboBox(page);
    m_groupName = new Edit(kEditCharKeypad, page);
    m_groupName->setObjectName("groupName");
    for (QWidget* w : {static_cast<QWidget*>(m_groupSearch), static_cast<QWidget*>(m_groupChoice),
                       static_cast<QWidget*>(m_groupName)}) {
        w->setFixedSize(kComboW, kComboH);
        w->setFont(DialogPainter::font(kCaptionPixels));
    }
    m_groupChoice->setItemHeight(kComboH);
    // Narrowing the list keeps the chosen group when it is still listed.
    connect(m_groupSearch, &QLineEdit::textChanged, this, [this](const QString& text) {
        const int remembered = m_groupChoice->currentIndex();
        m_groupChoice->blockSignals(true);
        m_groupChoice->setFilterFixedString(text);
        m_groupChoice->checkFilterResult(remembered);
        m_groupChoice->blockSignals(false);
    });
    // Captions on the left, the buttons under the field they act on: fits the narrow screen too.
    auto* groupActions = new QHBoxLayout;
    groupActions->addWidget(addButton(page, kRowRestore, "groupRestore", &WizardParaWidget::SlotParaGroupRestore));
    groupActions->addWidget(addButton(page, kRowDelete, "groupDelete", &WizardParaWidget::SlotParaGroupDelete));
    groupActions->addStretch();
    layout->addWidget(caption(lanText(kRowSearch), page), 0, 0);
    layout->addWidget(m_groupSearch, 0, 1);
    layout->addWidget(caption(lanText(kRowParaGroups), page), 1, 0);
    layout->addWidget(m_groupChoice, 1, 1);
    layout->addLayout(groupActions, 2, 1);
    layout->addWidget(caption(lanText(kRowGroupName), page), 3, 0);
    layout->addWidget(m_groupName, 3, 1);
    layout->addWidget(addButton(page, kRowBackup, "groupBackup", &WizardParaWidget::SlotParaGroupBackup), 4, 1);
    layout->setRowStretch(5, 1);
    layout->setColumnStretch(2, 1);
    return page;
}

QWidget* WizardParaWidget::buildSystemPage()
{
    auto* page = new QWidget(m_pages);
    auto* layout = new QGridLayout(page);
    m_language = new ComboBox(page);
    m_language->setFont(DialogPainter::font(kCaptionPixels));
    m_language->setFixedSize(kActionButtonW, kComboH);
    m_language->setItemHeight(kComboH);
    for (const char* name : kLanguageNames)
        m_language->addItem(QString::fromUtf8(name));
    connect(m_language, QOverload<int>::of(&QComboBox::activated), this, &WizardParaWidget::SlotChangeLan);
    layout->addWidget(caption(lanText(kRowLanguage), page), 0, 0);
    layout->addWidget(m_language, 0, 1);

    struct Action
    {
        int row;
        const char* name;
        void (WizardParaWidget::*slot)();
    };
    const Action actions[] = {
        {kRowModifyTime, "modifyTime", &WizardParaWidget::SlotModifyTime},
        {kRowExport, "exportData", &WizardParaWidget::SlotExportData},
        {kRowCameraOrder, "cameraOrder", &WizardParaWidget::SlotCameraOrder},
        {kRowNetwork, "network", &WizardParaWidget::SlotToNetwork},
        {kRowVersionDownload, "versionDownload", &WizardParaWidget::SlotVersionDownload},
        {kRowImageStorage, "imageStorage", &WizardParaWidget::SlotImageStorage},
        {kRowCaliPoints, "caliNum", &WizardParaWidget::SlotCaliNum},
        {kRowShutDown, "shutDown", &WizardParaWidget::SlotShutDown},
        {kRowExit, "exit", &WizardParaWidget::SlotExit},
    };
    int n = 0;
    for (const Action& a : actions) {
        layout->addWidget(addButton(page, a.row, a.name, a.slot), 1 + n / 3, n % 3);
        ++n;
    }
    layout->setRowStretch(1 + (n + 2) / 3, 1);
    layout->setColumnStretch(3, 1);
    m_cameraOrder = new WidgetChangeCamera(this, [this] { SlotShutDown(); });
    return page;
}

QWidget* WizardParaWidget::fieldControl(int field) const
{
    return field >= 0 && field < int(m_controls.size()) ? m_controls[size_t(field)].widget : nullptr;
}

CammerWidget* WizardParaWidget::shownUnit() const
{
    return shownCamera >= 0 && shownCamera < m_units.size() ? m_units.at(shownCamera) : nullptr;
}

void WizardParaWidget::open()
{
    if (m_win)
        setGeometry(m_win->rect());
    shownCamera = qBound(0, shownCamera, qMax(0, m_units.size() - 1));
    m_cameraChoice->clear();
    for (int c = 0; c < m_units.size(); ++c)
        m_cameraChoice->addItem(lanText(kRowCameraN).arg(c + 1));
    m_cameraChoice->setCurrentIndex(shownCamera);
    m_password->clear();
    m_groupSearch->clear();
    m_groupName->clear();
    refreshGroups();
    setCamerParamRange();
    WizardParaInit();
    raise();
    show();
}

void WizardParaWidget::WizardParaInit()
{
    if (!gpWParaBak)
        return;
    const auto& fields = paramFields();
    for (size_t i = 0; i < fields.size(); ++i) {
        const FieldControl& c = m_controls[i];
        const ParamField& f = fields[i];
        const int shown = f.value(*gpWParaBak, shownCamera) + f.shownOffset;
        const QString text = lanText(f.caption(*gpWParaBak));
        if (c.edit) {
            const QSignalBlocker block(c.edit);
            c.edit->setText(text);
            c.edit->setValue(shown);
        } else if (c.check) {
            const QSignalBlocker block(c.check);
            c.check->setText(wrapped(text, c.check->property(kWrapWidth).toInt()));
            c.check->setValue(shown);
        } else if (c.combo) {
            const QSignalBlocker block(c.combo);
            c.combo->setCurrentIndex(qBound(0, shown, c.combo->count() - 1));
        }
    }
    {
        const QSignalBlocker block(m_language);
        m_language->setCurrentIndex(qBound(0, gLan, kLanguageCount - 1));
    }
    updateVisibility();
}

void WizardParaWidget::updateVisibility()
{
    if (!gpWParaBak)
        return;
    const auto& fields = paramFields();
    for (size_t i = 0; i < fields.size(); ++i) {
        const FieldControl& c = m_controls[i];
        if (!c.widget)
            continue;
        c.widget->setVisible(fields[i].isShown(*gpWParaBak));
        if (c.edit)
            c.edit->setText(lanText(fields[i].caption(*gpWParaBak)));
        else if (c.check)
            c.check->setText(wrapped(lanText(fields[i].caption(*gpWParaBak)), c.check->property(kWrapWidth).toInt()));
    }
}

void WizardParaWidget::setCamerParamRange()
{
    CammerWidget* unit = shownUnit();
    if (!unit || !unit->pCamera)
        return;
    using Range = void (CameraInterface::*)(int&, int&);
    const struct
    {
        ParamField::CameraArray field;
        Range range;
    } ranges[] = {
        {&WizardPara::exposeTime, &CameraInterface::getExposeTimeRange},
        {&WizardPara::adjustPlus, &CameraInterface::getAdjustPlusRange},
        {&WizardPara::sharp, &CameraInterface::getSharpRange},
        {&WizardPara::contrast, &CameraInterface::getContrastRange},
        {&WizardPara::gamma, &CameraInterface::getGammaRange},
    };
    const auto& fields = paramFields();
    for (const auto& r : ranges) {
        int min = 0;
        int max = 0;
        (unit->pCamera->*r.range)(min, max);
        if (min > max)
            continue;
        for (size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].perCamera == r.field && m_controls[i].edit) {
                const QSignalBlocker block(m_controls[i].edit);
                m_controls[i].edit->setRange(min, max);
            }
        }
    }
}

void WizardParaWidget::fieldEdited(int field, int shownValue)
{
    if (!gpWParaBak || field < 0 || field >= int(paramFields().size()))
        return;
    const ParamField& f = paramFields()[size_t(field)];
    if (f.perCamera && (shownCamera < 0 || shownCamera >= kMaxCameras))
        return;
    f.ref(*gpWParaBak, shownCamera) = shownValue - f.shownOffset;
    if (f.live) {
        if (f.perCamera) {
            if (CammerWidget* unit = shownUnit())
                (unit->*f.live)();
        } else {
            for (CammerWidget* unit : qAsConst(m_units))
                (unit->*f.live)();
        }
    }
    updateVisibility();
}

namespace {

using CameraField = int (WizardPara::*)[8];
using UnitSetter = void (CammerWidget::*)();

// Writes one per-camera field of the edited record and runs the unit's setter.
void editAndApply(CammerWidget* unit, int camera, CameraField field, int value, UnitSetter setter)
{
    if (!gpWParaBak || camera < 0 || camera >= kMaxCameras)
        return;
    (gpWParaBak->*field)[camera] = value;
    if (unit)
        (unit->*setter)();
}

}  // namespace

void WizardParaWidget::SetExposeTime(int value)
{
    editAndApply(shownUnit(), shownCamera, &WizardPara::exposeTime, value, &CammerWidget::SetExposeTime);
}

void WizardParaWidget::SetAdjust(int value)
{
    editAndApply(shownUnit(), shownCamera, &WizardPara::adjustPlus, value, &CammerWidget::SetAdjustPlus);
}

void WizardParaWidget::SetSharp(int value)
{
    editAndApply(shownUnit(), shownCamera, &WizardPara::sharp, value, &CammerWidget::SetSharp);
}

void WizardParaWidget::SetContrast(int value)
{
    editAndApply(shownUnit(), shownCamera, &WizardPara::contrast, value, &CammerWidget::SetContrast);
}

void WizardParaWidget::SetGamma(int value)
{
    editAndApply(shownUnit(), shownCamera, &WizardPara::gamma, value, &CammerWidget::SetGamma);
}

void WizardParaWidget::SetSaturation(int value)
{
    editAndApply(shownUnit(), shownCamera, &WizardPara::saturation, value, &CammerWidget::SetSaturation);
}

void WizardParaWidget::Set3DNoise(int value)
{
    editAndApply(shownUnit(), shownCamera, &WizardPara::noise3D, value, &CammerWidget::Set3DNoise);
}

void WizardParaWidget::set2DNoise()
{
    if (CammerWidget* unit = shownUnit())
        unit->Set2DNoise();
}

void WizardParaWidget::SetAutoWDR(int value)
{
    if (gpWParaBak)
        gpWParaBak->autoShading = value;
    if (CammerWidget* unit = shownUnit())
        unit->SetWDR();
}

void WizardParaWidget::SetHMirror()
{
    if (gpWParaBak && shownCamera >= 0 && shownCamera < kMaxCameras)
        editAndApply(shownUnit(), shownCamera, &WizardPara::mirrorH, gpWParaBak->mirrorH[shownCamera] ? 0 : 1,
                     &CammerWidget::SetHMirror);
}

void WizardParaWidget::SetVMirror()
{
    if (gpWParaBak && shownCamera >= 0 && shownCamera < kMaxCameras)
        editAndApply(shownUnit(), shownCamera, &WizardPara::mirrorV, gpWParaBak->mirrorV[shownCamera] ? 0 : 1,
                     &CammerWidget::SetVMirror);
}

void WizardParaWidget::SlotChangePage(int page)
{
    if (page < 0 || page >= m_pages->count())
        return;
    SettingsPrompt::hideKeypads();
    m_pages->setCurrentIndex(page);
    for (int i = 0; i < m_pageButtons.size(); ++i)
        m_pageButtons[i]->setChecked(i == page);
}

void WizardParaWidget::SlotChangeCamera(int camera)
{
    if (camera < 0 || camera >= m_units.size())
        return;
    shownCamera = camera;
    setCamerParamRange();
    WizardParaInit();
}

void WizardParaWidget::SlotOnceWB()
{
    if (CammerWidget* unit = shownUnit(); unit && unit->pCamera)
        unit->pCamera->onceWB();
}

void WizardParaWidget::SlotRestoreDefaultSettings()
{
    CammerWidget* unit = shownUnit();
    if (!unit || !SettingsPrompt::ask(lanText(kRowRestoreQuestion)))
        return;
    unit->RestoreDefaultSettings();
    WizardParaInit();
}

bool WizardParaWidget::takePassword(QString* reason)
{
    const QString typed = m_password->text();
    if (typed.isEmpty()) {
        // A stored password with letters could never be typed on the keypad.
        if (gpWParaBak->isPswUsed && !digitsOnly(QString::fromLatin1(gpWParaBak->password))) {
            *reason = lanText(kRowDigitsOnly);
            return false;
        }
        return true;
    }
    if (!digitsOnly(typed) || typed.size() >= WizardPara::kPasswordSize) {
        *reason = lanText(kRowDigitsOnly);
        return false;
    }
    std::memset(gpWParaBak->password, 0, sizeof gpWParaBak->password);
    const QByteArray bytes = typed.toLatin1();
    std::memcpy(gpWParaBak->password, bytes.constData(), size_t(bytes.size()));
    return true;
}

void WizardParaWidget::accept()
{
    if (!gpWPara || !gpWParaBak)
        return;
    SettingsPrompt::hideKeypads();
    QString reason;
    if (!takePassword(&reason)) {
        SettingsPrompt::warn(reason);
        return;
    }
    if (!SettingsPrompt::ask(lanText(kRowSaveQuestion))) {
        reject();
        return;
    }
    const WizardPara before = *gpWPara;
    *gpWPara = *gpWParaBak;
    if (!gpWPara->SaveDatatoFile()) {
        // Nothing changed on disk: the live record stays as it was and the edits stay on screen.
        *gpWPara = before;
        SettingsPrompt::warn(lanText(kRowSaveFailed));
        return;
    }

    // One "set" record lists every change of this save.
    QStringList changes;
    QStringList waiting;  // changed settings read only when the program starts
    const auto& fields = paramFields();
    for (const ParamField& f : fields) {
        const int cameras = f.perCamera ? qMax(1, m_units.size()) : 1;
        for (int c = 0; c < cameras; ++c) {
            const int was = f.value(before, c);
            const int now = f.value(*gpWPara, c);
            if (was == now)
                continue;
            QString text = lanText(f.caption(*gpWPara)).simplified();
            if (f.perCamera)
                text = lanText(kRowCameraN).arg(c + 1) + QStringLiteral(" ") + text;
            if (f.needsRestart && !waiting.contains(text))
                waiting << text;
            changes << QStringLiteral("%1: %2 -> %3").arg(text).arg(was).arg(now);
        }
    }
    if (std::strcmp(before.password, gpWPara->password) != 0)
        changes << lanText(kRowNewPassword);
    if (m_win && !changes.isEmpty())
        m_win->InsertRecord(changes.join(QStringLiteral("; ")), QStringLiteral("set"));

    gPicNumNG = gpWPara->ngRecordNum;
    gPicNumOK = gpWPara->okRecordNum;
    for (CammerWidget* unit : qAsConst(m_units))
        unit->CameraChangeTrig(gpWPara->externalTrigger != 0);
    if (m_win)
        m_win->CameraSetSpeed();
    if (acceptedHook())
        acceptedHook()(before);
    for (CammerWidget* unit : qAsConst(m_units)) {
        if (!unit->pRecong)
            continue;
        for (int g = 0; g < qMin(gDNum, kMaxDetections); ++g) {
            if (!gpWPara->detectEnable[g])
                continue;
            unit->pRecong->CreateHomoShape(g);
            unit->pRecong->CreateShape(g);
            unit->pRecong->VarTrain(g);
        }
    }
    leave();
    // The panel's snapshot buttons follow these two switches; it is rebuilt and shown again.
    if ((before.enableProdDetect != gpWPara->enableProdDetect || before.manualSnapshot != gpWPara->manualSnapshot)
        && m_win && m_win->pIndexButton) {
        m_win->pIndexButton->Reset();
        m_win->pIndexButton->show();
        m_win->ChangeCammer();
    }
    SettingsPrompt::warnRestartNeeded(waiting);
}

void WizardParaWidget::reject()
{
    if (gpWPara && gpWParaBak) {
        const WizardPara edited = *gpWParaBak;
        *gpWParaBak = *gpWPara;
        // Only the settings that reached a camera go back to it.
        for (const ParamField& f : paramFields()) {
            if (!f.live)
                continue;
            for (int c = 0; c < m_units.size() && c < kMaxCameras; ++c) {
                if (f.value(edited, c) != f.value(*gpWPara, c))
                    (m_units.at(c)->*f.live)();
            }
        }
    }
    leave();
}

void WizardParaWidget::leave()
{
    SettingsPrompt::hideKeypads();
    hide();
    if (m_win)
        m_win->update();
}

void WizardParaWidget::refreshGroups()
{
    m_groupChoice->setStringList(ParaGroupStore::groups());
    if (gpWPara)
        m_groupChoice->setCurrentIndex(qMax(0, gpWPara->groupIndex));
}

void WizardParaWidget::followCurrentGroup(const QString& name)
{
    gpWPara->groupIndex = ParaGroupStore::indexOf(name);
    gpWPara->SaveAddFile();
    gpWParaBak->groupIndex = gpWPara->groupIndex;
    gpWParaBak->updateGroupName();
    refreshGroups();
}

namespace {
// The name of the group in force, by its position before any change of the list.
QString currentGroup()
{
    return gpWPara ? ParaGroupStore::groups().value(gpWPara->groupIndex) : QString();
}

// A group's files are copied, flushed to the disk or deleted for seconds: beside the wait
// indicator, whose event loop keeps the cycle and the IO board going.
bool groupJob(const std::function<bool(QString*)>& job, QString* error)
{
    bool ok = false;
    CComp_DiaWait wait([&job, &ok, error] { ok = job(error); }, nullptr);
    wait.exec();
    return ok;
}
}  // namespace

void WizardParaWidget::SlotParaGroupBackup()
{
    if (!gpWPara || !gpWParaBak)
        return;
    SettingsPrompt::hideKeypads();
    QString name = m_groupName->text();
    if (name.isEmpty())
        name = m_groupChoice->currentText();
    if (!ParaGroupStore::isValidName(name)) {
        SettingsPrompt::warn(lanText(kRowBadGroupName));
        return;
    }
    if (!SettingsPrompt::ask(lanText(kRowBackupQuestion).arg(name)))
        return;
    const QString current = currentGroup();
    QString error;
    const bool ok = groupJob([&name](QString* e) { return ParaGroupStore::backup(name, e); }, &error);
    followCurrentGroup(current);
    if (!ok) {
        SettingsPrompt::warn(lanText(kRowGroupFailed).arg(error));
        return;
    }
    m_groupName->clear();
    if (m_win)
        m_win->InsertRecord(QStringLiteral("backup group %1").arg(name), QStringLiteral("operate"));
}

void WizardParaWidget::SlotParaGroupRestore()
{
    if (!gpWPara || !gpWParaBak)
        return;
    const QString name = m_groupChoice->currentText();
    if (ParaGroupStore::indexOf(name) < 0 || !SettingsPrompt::ask(lanText(kRowRestoreGroupQuestion).arg(name)))
        return;
    QString error;
    if (!groupJob([&name](QString* e) { return ParaGroupStore::restore(name, e); }, &error)) {
        SettingsPrompt::warn(lanText(kRowGroupFailed).arg(error));
        return;
    }
    followCurrentGroup(name);
    if (m_win)
        m_win->InsertRecord(QStringLiteral("restore group %1").arg(name), QStringLiteral("operate"));
    // The restored database must not be overwritten by the record in memory.
    restartBox(false);
}

void WizardParaWidget::SlotParaGroupDelete()
{
    if (!gpWPara || !gpWParaBak)
        return;
    const QString name = m_groupChoice->currentText();
    if (ParaGroupStore::indexOf(name) < 0 || !SettingsPrompt::ask(lanText(kRowDeleteQuestion).arg(name)))
        return;
    QString current = currentGroup();
    if (current == name)
        current.clear();
    QString error;
    const bool ok = groupJob([&name](QString* e) { return ParaGroupStore::remove(name, e); }, &error);
    followCurrentGroup(ok ? current : currentGroup());
    if (!ok) {
        SettingsPrompt::warn(lanText(kRowGroupFailed).arg(error));
        return;
    }
    if (m_win)
        m_win->InsertRecord(QStringLiteral("delete group %1").arg(name), QStringLiteral("operate"));
}

void WizardParaWidget::SlotModifyTime()
{
    EditDateTime* editor = m_timeWidget->editDateTime();
    editor->ShowDateTime();
    if (m_timeWidget->exec() != 1 || !SettingsPrompt::ask(lanText(kRowTimeQuestion)))
        return;
    if (!editor->setSysDateTime()) {
        SettingsPrompt::warn(lanText(kRowTimeFailed));
        return;
    }
    if (gpWPara)
        gpWPara->SaveDatatoFile();
    if (m_win)
        m_win->InsertRecord(QStringLiteral("modify time %1").arg(editor->dateTime().toString("yyyy-MM-dd HH:mm:ss")),
                            QStringLiteral("operate"));
}

void WizardParaWidget::SlotChangeLan(int language)
{
    if (language < 0 || language >= kLanguageCount || language == gLan)
        return;
    if (!SettingsPrompt::ask(lanText(kRowLanguageQuestion))) {
        const QSignalBlocker block(m_language);
        m_language->setCurrentIndex(gLan);
        return;
    }
    if (m_win)
        m_win->changeLanguage(language);
    // Still here: the change was not stored, the choice shows the language in force.
    const QSignalBlocker block(m_language);
    m_language->setCurrentIndex(gLan);
}

void WizardParaWidget::SlotExportData()
{
    if (!m_win)
        return;
    ExportDataSelectDlg dialog(m_win->getPathContext(), m_win->exportTitle, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList items = dialog.getResult();
    if (items.isEmpty() || !SettingsPrompt::ask(lanText(kRowExportQuestion)))
        return;
    const QStringList paths = m_win->getExportPathByContext(items);
    QString error = notAvailable(kRowExport);
    if (!exportHook() || !exportHook()(paths, &error))
        SettingsPrompt::warn(error);
}

void WizardParaWidget::restartBox(bool saveFirst)
{
    if (saveFirst && gpWPara)
        gpWPara->SaveDatatoFile();
    if (m_win)
        m_win->rebootSystem();
}

void WizardParaWidget::SlotShutDown()
{
    if (SettingsPrompt::ask(lanText(kRowRestartQuestion)))
        restartBox(true);
}

void WizardParaWidget::SlotExit()
{
    if (!SettingsPrompt::ask(lanText(kRowExitQuestion)))
        return;
    if (gpWPara)
        gpWPara->SaveDatatoFile();
    for (CammerWidget* unit : qAsConst(m_units)) {
        unit->CameraStop();
        unit->CameraClose();
    }
    if (m_win) {
        m_win->InsertRecord(lanText(kRowExit), QStringLiteral("operate"));
        m_win->FLushAll();
    }
    QCoreApplication::quit();
}

void WizardParaWidget::SlotCameraOrder()
{
    m_cameraOrder->openWith(m_units);
}

void WizardParaWidget::SlotToNetwork()
{
    if (networkHook())
        networkHook()(this);
    else
        SettingsPrompt::warn(notAvailable(kRowNetwork));
}

void WizardParaWidget::SlotVersionDownload()
{
    // Built on the main window, over which this screen lies.
    if (versionDownloadHook())
        versionDownloadHook()(m_win ? static_cast<QWidget*>(m_win) : this);
    else
        SettingsPrompt::warn(notAvailable(kRowVersionDownload));
}

void WizardParaWidget::SlotImageStorage()
{
    if (imageStorageHook())
        imageStorageHook()(this);
    else
        SettingsPrompt::warn(notAvailable(kRowImageStorage));
}

void WizardParaWidget::SlotCaliNum()
{
    if (m_caliWidget->exec() == 1)
        caliNum = m_caliWidget->comboBox()->currentText().trimmed().toInt();
}


