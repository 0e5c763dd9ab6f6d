// The cut-text finder the render tests rely on: it reports what an operator
// could not read and stays quiet where the text fits.
#include "widgetfixture.h"

#include "colorbutton.h"
#include "layoutcheck.h"

#include <QCheckBox>
#include <QLabel>

using LayoutCheckTest = WidgetTest;

TEST_F(LayoutCheckTest, FindsCutTextsAndAcceptsWrappedOnes)
{
    QWidget page;
    page.resize(600, 400);
    auto* narrow = new QLabel("Re inspection delay", &page);
    narrow->setGeometry(0, 0, 60, 30);
    auto* wrapped = new QLabel("Re inspection delay", &page);
    wrapped->setWordWrap(true);
    wrapped->setGeometry(0, 40, 200, 80);
    auto* low = new QLabel("one\ntwo\nthree", &page);
    low->setGeometry(0, 130, 200, 20);
    auto* button = new ColorButton("Cancel", &page, 3);
    button->setGeometry(300, 0, 30, 40);
    auto* check = new QCheckBox("Enable disk storage for image recording", &page);
    check->setGeometry(300, 60, 120, 30);
    auto* fits = new QLabel("OK", &page);
    fits->setGeometry(300, 120, 100, 40);
    page.show();

    const QStringList faults = cutTexts(&page);
    const QString all = faults.join('\n');
    EXPECT_EQ(faults.size(), 4) << all.toStdString();
    for (const char* text : {"\"Re inspection delay\" at 0,0", "\"one two three\"", "\"Cancel\"", "\"Enable disk"})
        EXPECT_TRUE(all.contains(QString::fromUtf8(text))) << text << " in\n" << all.toStdString();
    narrow->hide();  // hidden widgets are not read
    low->hide();
    button->hide();
    check->hide();
    EXPECT_TRUE(cutTexts(&page).isEmpty()) << cutTexts(&page).join('\n').toStdString();
}

TEST_F(LayoutCheckTest, FindsWidgetsOffTheirParentAndControlsUnderOthers)
{
    QWidget screen;
    screen.resize(800, 600);
    auto* view = new QWidget(&screen);
    view->setGeometry(0, 0, 560, 600);
    auto* offView = new ColorButton("X +1", view, 3);  // past the view's right edge
    offView->setGeometry(520, 100, 90, 44);
    auto* hidden = new ColorButton("+ 1", view, 3);
    hidden->setGeometry(100, 200, 90, 44);
    auto* column = new QWidget(&screen);  // a painted column stacked above the view
    column->setAttribute(Qt::WA_StyledBackground);
    column->setGeometry(560, 0, 240, 600);
    auto* over = new QLabel("Templates 1 / 1", view);
    over->setGeometry(120, 210, 200, 30);  // on top of the "+ 1" button
    screen.show();

    const QString all = strayWidgets(&screen, QRect(0, 0, 800, 600)).join('\n');
    EXPECT_TRUE(all.contains("outside its parent")) << all.toStdString();
    EXPECT_TRUE(all.contains("\"X +1\" at 520,100 90x44 under QWidget")) << all.toStdString();
    EXPECT_TRUE(all.contains("\"+ 1\" at 100,200 90x44 under QLabel \"Templates 1 / 1\"")) << all.toStdString();
    // A pair meant to overlap is let through; a window off the screen is not.
    const auto labelsMayCover = [](const QWidget*, const QWidget* upper) { return qobject_cast<const QLabel*>(upper); };
    EXPECT_FALSE(strayWidgets(&screen, QRect(0, 0, 800, 600), labelsMayCover).join('\n').contains("Templates"));
    offView->setGeometry(400, 100, 90, 44);
    over->move(120, 300);
    EXPECT_TRUE(strayWidgets(&screen, screen.geometry()).isEmpty());
    EXPECT_FALSE(strayWidgets(&screen, QRect(0, 0, 400, 300)).isEmpty());
}
