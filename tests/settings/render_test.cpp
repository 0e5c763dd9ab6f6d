// Every page of the settings screen, the ROI editor and the camera order
// screen in all four languages on both screen sizes: each paints, no text is
// missing, button texts fit and nothing runs off the screen. With
// MM_RENDER_DIR set the drawings are saved there as PNG files.
#include "settingsfixture.h"

#include "colorbutton.h"
#include "dialogpainter.h"
#include "drawroiwidget.h"
#include "cammersingleton.h"
#include "globals.h"
#include "layoutcheck.h"
#include "widgetchangecamera.h"
#include "wizardparawidget.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include <cmath>

namespace {
// Contrast ratio of two colours by their relative luminance (1 to 21).
double contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

struct Screen
{
    int width, height;
};

class SettingsRenderTest : public SettingsTest, public ::testing::WithParamInterface<Screen>
{
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        gShowW = GetParam().width;
        gShowH = GetParam().height;
        window->resize(gShowW, gShowH);
        window->setStyleSheet("RecordingMainWindow { background-color: black; }");  // as the main window has
        ASSERT_NE(makeUnit(unitCamera("SERIAL-PAINT")), nullptr);
        unit->show();  // the camera view under the editor's column
        unit->lower();
        outDir = qEnvironmentVariable("MM_RENDER_DIR");
        if (!outDir.isEmpty())
            QDir().mkpath(outDir);
    }

    void save(const QImage& image, const QString& name) const
    {
        if (!outDir.isEmpty())
            image.save(QStringLiteral("%1/settings_%2_%3_%4x%5.png").arg(outDir, name).arg(gLan).arg(gShowW).arg(gShowH));
    }

    // Every shown text is there, whole, and nothing lies off its parent or under another control.
    static void expectReadable(QWidget* top)
    {
        for (QAbstractButton* b : top->findChildren<QAbstractButton*>()) {
            if (b->isVisibleTo(top)) {
                EXPECT_FALSE(b->text().trimmed().isEmpty()) << b->objectName().toStdString();
            }
        }
        for (QLabel* label : top->findChildren<QLabel*>()) {
            if (label->isVisibleTo(top) && label->pixmap(Qt::ReturnByValue).isNull()) {
                EXPECT_FALSE(label->text().trimmed().isEmpty());
            }
        }
        // The test's main window stands where the window system put it, full-screen sized.
        const QRect screen = top->isWindow() ? top->geometry() : QRect(0, 0, gShowW, gShowH);
        EXPECT_LE(screen.width(), gShowW);
        EXPECT_LE(screen.height(), gShowH);
        const QStringList faults = layoutFaults(top, screen);
        EXPECT_TRUE(faults.isEmpty()) << faults.join('\n').toStdString();
    }

    QString outDir;
};
}  // namespace

TEST_P(SettingsRenderTest, EveryPageAndDialogPaintsInEveryLanguage)
{
    live->trigModeNext = 3;  // shows the most detection fields
    live->detectCount = 8;
    for (int lan = 0; lan < kLanguageCount; ++lan) {
        gLan = lan;
        SCOPED_TRACE(QStringLiteral("language %1 at %2x%3").arg(lan).arg(gShowW).arg(gShowH).toStdString());
        WizardParaWidget screen(window.get(), window.get());
        screen.setCameraUnits({unit});
        window->pWizardParaWidget = &screen;
        *gpWParaBak = *gpWPara;
        screen.open();
        for (int page = 0; page < screen.pages()->count(); ++page) {
            screen.SlotChangePage(page);
            QTest::qWait(1);
            const QImage image = screen.grab().toImage();
            save(image, QStringLiteral("page%1").arg(page));
            QWidget* current = screen.pages()->currentWidget();
            // Yellow captions need the dark page behind them (a point right of every control).
            EXPECT_LT(qGray(image.pixel(gShowW - 45, gShowH - 20)), 60) << "page " << page;
            expectReadable(current);
            // The page scrolls down, never sideways: nothing is cut at the right edge.
            if (auto* scroll = qobject_cast<QScrollArea*>(current)) {
                EXPECT_EQ(scroll->horizontalScrollBar()->maximum(), 0) << "page " << page;
                save(scroll->widget()->grab().toImage(), QStringLiteral("page%1_whole").arg(page));  // past the fold too
            }
        }
        expectReadable(&screen);
        screen.hide();
        window->pWizardParaWidget = settings;

        DrawROIWidget editorPanel(window.get(), window.get());
        editorPanel.setCameraUnits({unit});
        editorPanel.Restart();
        QTest::qWait(1);
        save(window->grab().toImage(), "roieditor");
        expectReadable(&editorPanel);
        EXPECT_LE(editorPanel.sizeHint().height(), gShowH);
        editorPanel.SlotReturn();

        WidgetChangeCamera order(window.get(), {});
        QTimer::singleShot(0, &order, [&] {
            save(order.grab().toImage(), "cameraorder");
            expectReadable(&order);
            EXPECT_TRUE(QRect(0, 0, gShowW, gShowH).contains(order.geometry()));
            order.reject();
        });
        order.openWith({unit});
    }
}

// The ROI panel and the fine-tuning row of a selected ROI, for a ROI at the top,
// at the bottom and over the whole view, lie inside the camera view beside the
// tool column, clear of each other, with their texts whole.
TEST_P(SettingsRenderTest, RoiPanelStaysBesideTheToolColumnInEveryLanguage)
{
    live->enableSpot = 1;  // the function button and the half switch are offered
    live->ejectorPulseNgNoAlarm = 1;  // and the output choice
    // The camera area of the main window: left of the column, above the IO status bar.
    unit->setGeometry(0, 0, gShowW - DrawROIWidget::kWidth, gShowH - 44);
    const QRect boxes[] = {{QPoint(200, 120), QPoint(700, 300)},
                           {QPoint(300, gShowH - 300), QPoint(900, gShowH - 120)},
                           {QPoint(20, 20), QPoint(gShowW - 300, gShowH - 80)}};
    for (int lan = 0; lan < kLanguageCount; ++lan) {
        gLan = lan;
        DrawROIWidget editorPanel(window.get(), window.get());
        editorPanel.setCameraUnits({unit});
        editorPanel.Restart();
        unit->setGeometry(0, 0, gShowW - DrawROIWidget::kWidth, gShowH - 44);
        CammerSingleton& edit = *unit->pSingletonEdit;
        for (int b = 0; b < 3; ++b) {
            for (int function : {1, 0}) {
                SCOPED_TRACE(QStringLiteral("language %1 box %2 function %3 at %4x%5")
                                 .arg(lan).arg(b).arg(function).arg(gShowW).arg(gShowH).toStdString());
                edit.rectRoi[0][0].rect = boxes[b];
                edit.rectRoi[0][0].setShowA(unit->screenSW, unit->screenSH);
                edit.rectRoi[0][0].setImageRect();
                edit.roiShape[0][0] = CammerSingleton::kShapeRect;
                edit.roiFunction[0][0] = function;
                edit.roiCount[0] = 1;
                unit->curRoi = 0;
                unit->ShowHideROIPara();
                expectReadable(window.get());
                save(window->grab().toImage(), QStringLiteral("roipanel%1_%2").arg(b).arg(function));
                unit->pBtnMove->setChecked(true);  // fine tuning: the move row
                expectReadable(window.get());
                save(window->grab().toImage(), QStringLiteral("roimove%1_%2").arg(b).arg(function));
                unit->pBtnMove->setChecked(false);
            }
        }
        // The delay countdown under the template time and the ROI panel (a picture to look at).
        QTimer delay;
        delay.start(60000);
        window->delayTimer[0] = &delay;
        window->delayCountdown[0] = 0.3f;
        gTempTime = QStringLiteral("2026-12-07 08:00:00");
        unit->repaint();
        save(window->grab().toImage(), QStringLiteral("roicountdown"));
        window->delayTimer[0] = nullptr;
        // The function caption stays readable over a dark grey picture.
        EXPECT_GE(contrast(unit->pLabelFunc->palette().color(QPalette::WindowText), QColor(0x40, 0x40, 0x40)), 4.5);
        unit->curRoi = -1;
        unit->ShowHideROIPara();
        editorPanel.SlotReturn();
    }
}

INSTANTIATE_TEST_SUITE_P(Screens, SettingsRenderTest, ::testing::Values(Screen{1920, 1080}, Screen{1024, 768}),
                         [](const ::testing::TestParamInfo<Screen>& info) {
                             return QStringLiteral("w%1x%2").arg(info.param.width).arg(info.param.height).toStdString();
                         });
