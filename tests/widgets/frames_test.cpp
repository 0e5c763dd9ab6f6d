// Dialog frame, wait dialog, text panel, export selection, splash and styles.
#include "widgetfixture.h"

#include "c_type_com.h"
#include "ccomp_dialogframe.h"
#include "ccomp_diawait.h"
#include "checkbox.h"
#include "colorbutton.h"
#include "exportdataselectdlg.h"
#include "splashframe.h"
#include "textshowwidget.h"
#include "warnbox.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>

using FrameTest = WidgetTest;

namespace {
ColorButton* buttonWithText(QWidget* dialog, const QString& text)
{
    for (ColorButton* button : dialog->findChildren<ColorButton*>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// A finger on the box itself (a wide check box reacts to its box and text only).
void tick(QWidget* box)
{
    touchAt(box, QPoint(16, box->height() / 2));
}
} // namespace

TEST_F(FrameTest, DialogFrameTitleBarOrderAndConfirmOnPress)
{
    MessageLog log;
    CComp_DialogFrame frame("Network", nullptr);
    EXPECT_TRUE(log.lines.contains("open dialog:Network")) << log.lines.join('|').toStdString();
    EXPECT_EQ(frame.windowFlags() & ~Qt::WindowType_Mask, Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    EXPECT_EQ(frame.minimumSize(), QSize(1000, 800));
    QLabel a("A");
    QLabel b("B");
    frame.addTitleWgt(&a);
    frame.addTitleWgt(&b);
    QHBoxLayout* bar = frame.titleLayout();
    ASSERT_EQ(bar->count(), 5);
    EXPECT_EQ(bar->itemAt(0)->widget(), frame.titleLabel());
    EXPECT_NE(bar->itemAt(1)->spacerItem(), nullptr);
    EXPECT_EQ(bar->itemAt(2)->widget(), &a);
    EXPECT_EQ(bar->itemAt(3)->widget(), &b);
    auto* confirm = qobject_cast<QPushButton*>(bar->itemAt(4)->widget());
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(confirm->text(), "确定");

    frame.show();
    QTest::mousePress(confirm, Qt::LeftButton);  // the press alone accepts
    EXPECT_EQ(frame.result(), QDialog::Accepted);
    EXPECT_FALSE(frame.isVisible());
    QTest::mouseRelease(confirm, Qt::LeftButton);
}

TEST_F(FrameTest, SharedStyleTexts)
{
    EXPECT_EQ(CComp_DialogFrame::defaultStyle().size(), 1492);
    EXPECT_EQ(C_Type_COM::getSlider().size(), 583);
    QWidget w;
    CComp_DialogFrame::setDefaultWgt(&w, "QLabel{}");
    EXPECT_TRUE(w.styleSheet().endsWith("QLineEdit:focus{background:white;color:black;}QLabel{}"));

    QComboBox box;
    auto* rows = new QStyledItemDelegate(&box);
    CComp_DialogFrame::setStyleCombobox(&box, rows, "QComboBox{margin:1px;}");
    EXPECT_EQ(box.itemDelegate(), rows);
    EXPECT_EQ(box.styleSheet().size(), 563 + 22);
    EXPECT_TRUE(box.styleSheet().startsWith("QComboBox {color:white;font-size:22px;height:40px;border:1px solid #BDBDBD;"
                                            "background-color:#607D8B;combobox-popup:0;}"));
    EXPECT_TRUE(box.styleSheet().endsWith("min-height:50px;height:40px;background-color:#607D8B;}QComboBox{margin:1px;}"));

    QLineEdit edit;
    C_Type_COM styler;
    styler.setTxtQss(&edit, C_Type_COM::Color2);
    EXPECT_EQ(edit.styleSheet(), "QLineEdit{border-style:none;padding:1px;border-radius:5px;border:2px solid #DCE4EC;}"
                                 "QLineEdit:focus{border:2px solid #3498DB;}");
    styler.setTxtQss(&edit, static_cast<C_Type_COM::C_Color>(4));
    EXPECT_TRUE(edit.styleSheet().contains("#3498DB"));
}

TEST_F(FrameTest, WaitDialogRunsItsJobAndClosesWhenItReturns)
{
    std::atomic<bool> done{false};
    QElapsedTimer clock;
    clock.start();
    {
        CComp_DiaWait wait([&done] {
            QThread::msleep(400);
            done = true;
        }, nullptr);
        EXPECT_EQ(wait.size(), QSize(64, 64));
        EXPECT_EQ(wait.exec(), QDialog::Accepted);
        EXPECT_TRUE(done);
    }
    EXPECT_GE(clock.elapsed(), 490);

    CComp_DiaWait empty({}, nullptr);
    EXPECT_EQ(empty.exec(), QDialog::Accepted);
}

TEST_F(FrameTest, WaitDialogWhoseJobEndedBeforeExecStillCloses)
{
    CComp_DiaWait wait([] {}, nullptr);
    // Something else runs the event loop while the short job ends and its
    // finish() is delivered, before the caller gets to exec().
    QTest::qWait(400);
    // Were the indicator to wait for good, this would end it as rejected.
    QTimer::singleShot(2500, &wait, &QDialog::reject);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(wait.exec(), QDialog::Accepted);
    EXPECT_LT(clock.elapsed(), 2000);
}

TEST_F(FrameTest, TextPanelCloseAnnouncesAndHides)
{
    TextShowWidget panel(win.get());
    panel.show();
    panel.textBrowser->append("64 bytes from 127.0.0.1");
    EXPECT_EQ(panel.size(), QSize(560, 300));
    QSignalSpy hidden(&panel, &TextShowWidget::sigHideWidget);
    auto* close = panel.findChild<QPushButton*>("closeButton");
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->geometry(), QRect(500, 0, 60, 60));
    touch(close);
    EXPECT_EQ(hidden.count(), 1);
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(FrameTest, ExportSelectionIsTriState)
{
    QStringList items;
    for (int i = 1; i <= 9; ++i)
        items << QStringLiteral("item%1").arg(i);
    ExportDataSelectDlg dialog(items, "All", nullptr);
    dialog.show();
    auto* itemsArea = qobject_cast<QVBoxLayout*>(static_cast<QVBoxLayout*>(dialog.layout())->itemAt(1)->layout());
    ASSERT_NE(itemsArea, nullptr);
    ASSERT_EQ(itemsArea->count(), 3);
    EXPECT_EQ(itemsArea->itemAt(0)->layout()->count(), 4);
    EXPECT_EQ(itemsArea->itemAt(2)->layout()->count(), 1);

    EXPECT_EQ(dialog.masterBox()->checkState(), Qt::Unchecked);
    for (QCheckBox* box : dialog.itemBoxes())
        tick(box);
    EXPECT_EQ(dialog.masterBox()->checkState(), Qt::Checked);
    EXPECT_EQ(dialog.getResult(), QStringList({"All"}));

    tick(dialog.itemBoxes().at(4));
    EXPECT_EQ(dialog.masterBox()->checkState(), Qt::PartiallyChecked);
    tick(dialog.itemBoxes().at(4));
    tick(dialog.itemBoxes().at(2));
    tick(dialog.itemBoxes().at(7));
    QStringList expected = items;
    expected.removeAt(7);
    expected.removeAt(2);
    EXPECT_EQ(dialog.getResult(), expected);

    tick(dialog.masterBox());  // partly checked: the press checks everything
    EXPECT_EQ(dialog.masterBox()->checkState(), Qt::Checked);
    tick(dialog.masterBox());
    EXPECT_EQ(dialog.masterBox()->checkState(), Qt::Unchecked);
    for (QCheckBox* box : dialog.itemBoxes())
        EXPECT_EQ(box->checkState(), Qt::Unchecked);
    EXPECT_TRUE(dialog.getResult().isEmpty());
}

TEST_F(FrameTest, ExportWithNothingChosenWarnsAndStaysOpen)
{
    ExportDataSelectDlg dialog({"a", "b"}, "All", nullptr);
    dialog.show();
    ColorButton* exportButton = buttonWithText(&dialog, "导出");
    ASSERT_NE(exportButton, nullptr);
    QString warned;
    new ModalAnswerer([&warned](QWidget* modal) {
        auto* warn = dynamic_cast<WarnBox*>(modal);
        ASSERT_NE(warn, nullptr);
        warned = warn->text();
        touch(warn->okButton());
    });
    touch(exportButton);
    EXPECT_EQ(warned, "未选择要导出的文件，请重新选择");
    EXPECT_TRUE(dialog.isVisible());

    tick(dialog.itemBoxes().at(1));
    touch(exportButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.getResult(), QStringList({"b"}));

    ExportDataSelectDlg none({}, "All", nullptr);
    none.show();
    tick(none.masterBox());
    EXPECT_EQ(none.masterBox()->checkState(), Qt::Checked);
    EXPECT_EQ(none.getResult(), QStringList({"All"}));
    touch(buttonWithText(&none, "退出"));
    EXPECT_EQ(none.result(), QDialog::Rejected);
}

TEST_F(FrameTest, SplashNeverMovesBackAndEndsItsContentAtTheLastStep)
{
    SplashFrame splash;
    EXPECT_TRUE(splash.isVisible());
    auto* label = splash.findChild<QLabel*>("loadlabel");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "程序加载中..");
    splash.flushstep(-5, "启动...");
    EXPECT_EQ(splash.progressBar()->value(), 0);
    splash.flushstep(42, "等待相机开启...");
    splash.flushstep(15, "back");
    EXPECT_EQ(splash.progressBar()->value(), 42);
    EXPECT_EQ(label->text(), "back");
    splash.flushstep(60, "");
    EXPECT_EQ(splash.progressBar()->value(), 60);
    EXPECT_EQ(label->text(), "back");

    splash.flushstep(130, "done");
    EXPECT_EQ(splash.shownValue(), 100);
    EXPECT_EQ(splash.innerPanel(), nullptr);
    EXPECT_EQ(splash.findChild<QLabel*>("loadlabel"), nullptr);
    EXPECT_TRUE(splash.isVisible());
    splash.flushstep(100, "late");  // does nothing once the content is gone
    EXPECT_EQ(splash.shownValue(), 100);
}

TEST_F(FrameTest, DevelopmentMachineIsRecognisedByTheExactPluginPath)
{
    const QByteArray previous = qgetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
    qputenv("QT_QPA_PLATFORM_PLUGIN_PATH", "/opt/Qt5.15.7/plugins/platforms");
    {
        MessageLog log;
        EXPECT_TRUE(isOpen_Env());
        // The value is logged as it stands, not wrapped in quotes.
        EXPECT_TRUE(log.lines.contains("/opt/Qt5.15.7/plugins/platforms")) << log.lines.join('|').toStdString();
    }
    for (const char* other : {"/opt/Qt5.15.7/plugins/platforms/", "/opt/Qt5.15.7/plugins/platforms ",
                              "/opt/Qt5.15.7/plugins/platforms;x", "$HOME", ""}) {
        qputenv("QT_QPA_PLATFORM_PLUGIN_PATH", other);
        EXPECT_FALSE(isOpen_Env()) << other;
    }
    qunsetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
    EXPECT_FALSE(isOpen_Env());
    if (!previous.isNull())
        qputenv("QT_QPA_PLATFORM_PLUGIN_PATH", previous);
}
