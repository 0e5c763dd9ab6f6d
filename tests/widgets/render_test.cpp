// Every dialog, keypad, editor and the button panel is drawn in all four
// languages on both screen sizes: each must paint something and its button
// texts must fit. With MM_RENDER_DIR set the drawings are
// saved there as PNG files; MM_RENDER_IMAGES names a folder of pictures to use
// instead of the plain fills.
#include "widgetfixture.h"

#include "ccomp_dialogframe.h"
#include "ccomp_diawait.h"
#include "checkbox.h"
#include "choosebox.h"
#include "choosecalinumwidget.h"
#include "colorbutton.h"
#include "dialogpainter.h"
#include "editbox.h"
#include "editdatetime.h"
#include "editip.h"
#include "exportdataselectdlg.h"
#include "floatslider.h"
#include "globals.h"
#include "indexbutton.h"
#include "layoutcheck.h"
#include "lostcamerawarnbox.h"
#include "modifytimewidget.h"
#include "numberinput.h"
#include "numcharinput.h"
#include "passwordbox.h"
#include "productalarmwarnbox.h"
#include "slider.h"
#include "splashframe.h"
#include "textshowwidget.h"
#include "warnbox.h"

#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QRegularExpression>
#include <QProgressBar>
#include <QSet>
#include <QSlider>
#include <QTest>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <functional>
#include <memory>

namespace {
struct Screen
{
    int width, height;
};

using Builder = std::function<std::unique_ptr<QWidget>(QWidget* window)>;

// A dark panel like the screens these widgets sit on.
std::unique_ptr<QWidget> onPanel(QWidget* content, int width, int height)
{
    auto panel = std::make_unique<QWidget>();
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, QColor(60, 60, 60));
    panel->setPalette(palette);
    panel->resize(width, height);
    content->setParent(panel.get());
    content->move(10, 10);
    return panel;
}

template <typename T>
std::unique_ptr<QWidget> box(T* widget, const QString& text = QString())
{
    if (!text.isEmpty())
        widget->setText(text);
    return std::unique_ptr<QWidget>(widget);
}

const QVector<QPair<QString, Builder>>& builders()
{
    static const QVector<QPair<QString, Builder>> table = {
        {"warnbox", [](QWidget*) { return box(new WarnBox(nullptr), lanText(39)); }},
        // The full-disk box: the files not written, and with them those saved after all.
        {"fulldisk", [](QWidget*) { return box(new WarnBox(nullptr), lanText(900).arg("cammer12/template0.bmp")); }},
        {"fulldisksaved", [](QWidget*) {
             return box(new WarnBox(nullptr), lanText(901).arg("count.ini, alarm.ini (+1)") + "\r\n"
                                                  + lanText(900).arg("cammer12/template0.bmp, RECORD.db (+2)"));
         }},
        {"choosebox", [](QWidget*) { return box(new ChooseBox(nullptr, 750, 370), lanText(209)); }},
        {"productalarm", [](QWidget*) { return box(new ProductAlarmWarnBox(nullptr)); }},
        {"lostcamera", [](QWidget*) { return box(new LostCameraWarnBox(nullptr)); }},
        {"calinum", [](QWidget*) { return box(new ChooseCaliNumWidget(nullptr), lanText(209)); }},
        {"password", [](QWidget*) { return std::unique_ptr<QWidget>(new PasswordBox(nullptr)); }},
        {"modifytime", [](QWidget*) {
             auto* dialog = new ModifyTimeWidget(nullptr);
             dialog->editDateTime()->ShowDateTime();
             return std::unique_ptr<QWidget>(dialog);
         }},
        {"numberinput", [](QWidget*) { return std::unique_ptr<QWidget>(new NumberInput(nullptr)); }},
        {"numcharinput", [](QWidget*) { return std::unique_ptr<QWidget>(new NumCharInput(nullptr)); }},
        {"editors", [](QWidget*) {
             auto* column = new QWidget;
             auto* layout = new QVBoxLayout(column);
             auto* value = new EditBox(0, 1000, column, lanText(215), "ms", 0, 1);
             value->setValue(125);
             auto* scaled = new EditBox(0, 100, column, lanText(130), QString(), 2, 10);
             scaled->setValue(53);
             auto* ip = new EditIP("IP", 0, column);
             ip->setAddress("192.168.1.20");
             auto* when = new EditDateTime(lanText(124), column);
             when->ShowDateTime();
             auto* check = new CheckBox(column, lanText(541));
             check->setValue(1);
             auto* slider = new Slider(0, 100, 1, 60, column, lanText(130));
             slider->setFixedSize(900, 60);
             auto* zoom = new FloatSlider(column);
             zoom->setFixedSize(900, 35);
             for (QWidget* w : {static_cast<QWidget*>(value), static_cast<QWidget*>(scaled), static_cast<QWidget*>(ip),
                                static_cast<QWidget*>(when), static_cast<QWidget*>(check),
                                static_cast<QWidget*>(slider), static_cast<QWidget*>(zoom)})
                 layout->addWidget(w);
             column->resize(1000, 620);
             return onPanel(column, 1020, 640);
         }},
        {"dialogframe", [](QWidget*) {
             auto* frame = new CComp_DialogFrame(lanText(215), nullptr);
             CComp_DialogFrame::setDefaultWgt(frame, QString());
             auto* cancel = new QPushButton(lanText(124));
             frame->addTitleWgt(cancel);
             auto* text = new TextShowWidget(frame->bodyWidget());
             text->textBrowser->append("PING 127.0.0.1 56(84) bytes of data.\n64 bytes from 127.0.0.1: icmp_seq=1");
             text->move(20, 20);
             return std::unique_ptr<QWidget>(frame);
         }},
        {"export", [](QWidget*) {
             QStringList items;
             for (int row : {126, 129, 130, 541, 215, 131, 132, 209, 721})
                 items << lanText(row);
             auto* dialog = new ExportDataSelectDlg(items, lanText(541), nullptr);
             return std::unique_ptr<QWidget>(dialog);
         }},
        {"wait", [](QWidget*) { return std::unique_ptr<QWidget>(new CComp_DiaWait([] {}, nullptr)); }},
        {"splash", [](QWidget*) {
             auto* splash = new SplashFrame;
             splash->flushstep(42, "等待相机开启...");
             return std::unique_ptr<QWidget>(splash);
         }},
        {"panel", [](QWidget* window) {
             gpWPara->manualSnapshot = 1;
             gpWPara->enableProdDetect = 1;
             gpWPara->useStatistics = 1;
             auto panel = std::make_unique<IndexButton>(static_cast<MainWindowBase*>(window));
             panel->show();
             return std::unique_ptr<QWidget>(std::move(panel));
         }},
    };
    return table;
}

int distinctColours(const QImage& image)
{
    QSet<QRgb> colours;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); y += 2) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); x += 2)
            colours.insert(line[x]);
        if (colours.size() > 64)
            break;
    }
    return colours.size();
}

class RenderTest : public WidgetTest, public ::testing::WithParamInterface<Screen>
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        setScreen(GetParam().width, GetParam().height);
        QPalette palette = win->palette();
        palette.setColor(QPalette::Window, QColor(30, 30, 30));
        win->setPalette(palette);
        win->setAutoFillBackground(true);
        loadPictures();
    }

    void TearDown() override
    {
        for (QPixmap** picture : pictures())
            *picture = nullptr;
        loaded.clear();
        WidgetTest::TearDown();
    }

    static QVector<QPixmap**> pictures()
    {
        return {&gpPixmapBG, &gpPixmapEdit, &gpPixmapSlideru, &gpPixmapSliderd, &gpPixmapSlidert};
    }

    // The pictures of MM_RENDER_IMAGES under ./images/, loaded as main loads them.
    void loadPictures()
    {
        const QString source = qEnvironmentVariable("MM_RENDER_IMAGES");
        if (source.isEmpty())
            return;
        QDir().mkpath("images");
        for (const QString& name : QDir(source).entryList(QDir::Files))
            QFile::copy(source + '/' + name, "images/" + name);
        const char* files[] = {"background", "edit", "slideru", "sliderd", "slidert"};
        for (int i = 0; i < pictures().size(); ++i) {
            loaded.push_back(std::make_unique<QPixmap>(QStringLiteral("./images/%1.png").arg(files[i])));
            *pictures()[i] = loaded.back().get();
        }
    }

    std::vector<std::unique_ptr<QPixmap>> loaded;
};
} // namespace

TEST_P(RenderTest, EveryWidgetPaintsAndItsButtonTextsFit)
{
    const QString outDir = qEnvironmentVariable("MM_RENDER_DIR");
    if (!outDir.isEmpty())
        QDir().mkpath(outDir);
    const QStringList selfPlacing = {"warnbox", "choosebox", "productalarm", "lostcamera", "calinum", "password",
                                     "modifytime"};
    for (int lan = 0; lan < kLanguageCount; ++lan) {
        gLan = lan;
        for (const auto& [name, build] : builders()) {
            SCOPED_TRACE(QStringLiteral("%1 language %2 at %3x%4")
                             .arg(name).arg(lan).arg(gShowW).arg(gShowH).toStdString());
            std::unique_ptr<QWidget> widget = build(win.get());
            const bool inWindow = widget->parentWidget() == win.get();
            if (!inWindow)
                widget->show();
            QTest::qWait(1);
            const QImage image = inWindow ? win->grab(widget->geometry()).toImage() : widget->grab().toImage();
            EXPECT_GE(distinctColours(image), 3) << "paints nothing";
            static const char* const kLanguageNames[] = {"zh", "en", "tw", "ja"};
            if (!outDir.isEmpty())
                image.save(QStringLiteral("%1/%2_%3_%4x%5.png").arg(outDir, name, kLanguageNames[lan])
                               .arg(gShowW).arg(gShowH));

            // Texts whole, nothing off its parent or under another control.
            const QStringList faults = layoutFaults(widget.get(), selfPlacing.contains(name) ? QRect(0, 0, gShowW, gShowH)
                                                                                            : widget->geometry());
            EXPECT_TRUE(faults.isEmpty()) << faults.join('\n').toStdString();
            if (auto* message = dynamic_cast<WarnBox*>(widget.get())) {
                const QFont font = DialogPainter::fittedFont(message->text(), message->width());
                EXPECT_LE(DialogPainter::textWidth(font, message->text()), message->width() - 10);
                EXPECT_GE(font.pixelSize(), 24) << message->text().toStdString();
                // As the box draws it: a line without spaces (Chinese, Japanese) wrapped would
                // break inside a word.
                const QRect room = message->messageRoom();
                const QFont drawn = DialogPainter::messageFont(message->text(), room);
                // The red text stays off the frame and the button.
                const QRect button = message->okButton()->geometry();
                int strayRed = 0;
                for (int y = 0; y < image.height(); ++y) {
                    for (int x = 0; x < image.width(); ++x) {
                        const QColor c = image.pixelColor(x, y);
                        const bool red = c.red() > 180 && c.green() < 80 && c.blue() < 80;
                        strayRed += red && (button.contains(x, y) || y < 3 || y >= image.height() - 3);
                    }
                }
                EXPECT_EQ(strayRed, 0) << message->text().toStdString();
                for (const QString& line : message->text().split(QRegularExpression("\\r?\\n"))) {
                    if (!line.contains(' ')) {
                        EXPECT_LE(DialogPainter::textWidth(drawn, line), room.width()) << line.toStdString();
                    }
                }
            }
            // Dialogs that place themselves stay on the screen; none is larger than it.
            const QRect screen(0, 0, gShowW, gShowH);
            if (selfPlacing.contains(name)) {
                EXPECT_TRUE(screen.contains(widget->geometry()));
            }
            if (widget->isWindow() && name != "splash") {
                EXPECT_LE(widget->width(), gShowW);
                EXPECT_LE(widget->height(), gShowH);
            }
            if (gpNumPad && gpNumPad->parentWidget() == widget.get())
                gpNumPad->setParent(nullptr);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Screens, RenderTest, ::testing::Values(Screen{1920, 1080}, Screen{1024, 768}),
                         [](const ::testing::TestParamInfo<Screen>& info) {
                             return QStringLiteral("w%1x%2").arg(info.param.width).arg(info.param.height).toStdString();
                         });
