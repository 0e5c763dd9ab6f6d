#include "cameraunitfixture.h"

#include "cammersingleton.h"
#include "globals.h"
#include "statecodes.h"
#include "viewmapping.h"
#include "wizardpara.h"

#include <QResizeEvent>
#include <QTest>

#include <cmath>

// Shapes drawn by touch on camera views of every size the main window lays out
// (alone, beside the tool column, a quarter of the area) at both screen sizes:
// the checked image box and the shown outline lie where the finger went.
namespace {

struct Screen
{
    int w, h;
};
const Screen kScreens[] = {{1920, 1080}, {1024, 768}};
constexpr int kColumn = 240, kStatusBar = 44;

bool isOutline(QRgb c) { return qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) > 200; }  // magenta: selected

}  // namespace

class ViewMappingTest : public CameraUnitTest
{
protected:
    // Builds the unit for a screen and lays its view at the given size.
    void openOn(const Screen& screen, QSize view)
    {
        gShowW = screen.w;
        gShowH = screen.h;
        if (!unit) {
            ASSERT_NE(makeUnit(unitCamera("SERIAL-MAP01")), nullptr);
        }
        unit->CameraOpen();  // display scale of this screen
        for (int& count : unit->pSingletonEdit->roiCount)
            count = 0;
        const QSize before = unit->size();
        unit->resize(view);
        QResizeEvent resized(view, before);
        QCoreApplication::sendEvent(unit, &resized);
        gSource = 0;
        window->curDetect = 0;
        window->drawMode = kDrawNone;
        window->isFreeHand = false;
        unit->DeselectROI();
        unit->curRoi = -1;
    }

    // One image pixel in view pixels, plus half a pixel of rounding.
    double tolerance() const { return std::max(1.0, double(unit->width()) / unit->imageW) + 0.5; }
    QPointF imageToView(QPointF p) const
    {
        return {p.x() * unit->width() / unit->imageW, p.y() * unit->height() / unit->imageH};
    }
    // A magenta pixel within 2 px of a view point in a fresh paint of the view
    // (its own painting: the ROI panel may stand over a ROI in a small view).
    bool outlineNear(QPointF p)
    {
        QImage shown(unit->size(), QImage::Format_ARGB32);
        shown.fill(Qt::black);
        unit->render(&shown, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx) {
                const QPoint q = p.toPoint() + QPoint(dx, dy);
                if (shown.rect().contains(q) && isOutline(shown.pixel(q)))
                    return true;
            }
        return false;
    }
    CammerSingleton& store() { return *unit->pSingletonEdit; }

    void drag(QPoint from, QPoint to)
    {
        press(from);
        for (int i = 1; i <= 8; ++i)
            moveTo(from + (to - from) * i / 8);
        release(to);
    }
};

TEST_F(ViewMappingTest, MappingRoundTripsAndFollowsZoom)
{
    for (const QSize view : {QSize(1680, 1036), QSize(784, 724), QSize(392, 362), QSize(1920, 1036)}) {
        ViewMapping m{view, QSize(1920, 1080), QPointF(), 1.0};
        for (const QPointF p : {QPointF(0, 0), QPointF(123.4, 77.7), QPointF(view.width() - 1, view.height() - 1)}) {
            const QPointF back = m.toView(m.toDisplay(p));
            EXPECT_LE(std::abs(back.x() - p.x()), 0.5 * 1920 / view.width() + 0.01) << view.width();
            EXPECT_LE(std::abs(back.y() - p.y()), 0.5 * 1080 / view.height() + 0.01) << view.height();
            EXPECT_EQ(m.transform().map(QPointF(m.toDisplay(p))), m.toView(m.toDisplay(p)));
        }
    }
    // Zoomed 2x and panned: the view's centre shows display (480, 270) of a 960 x 540 view on a 1920 x 1080 screen.
    ViewMapping zoomed{QSize(960, 540), QSize(1920, 1080), QPointF(-480, -270), 2.0};
    EXPECT_EQ(zoomed.toDisplay(QPointF(480, 270)), QPoint(960, 540));
    EXPECT_EQ(zoomed.toView(QPointF(960, 540)), QPointF(480, 270));
}

// Each shape in each view: stored display coordinates, checked image box and
// shown outline agree with the touches, before and after a move.
TEST_F(ViewMappingTest, ShapesStayWhereDrawnAtEveryViewSize)
{
    live->continuationArea = 0;
    for (const Screen& screen : kScreens) {
        const QSize views[] = {{screen.w, screen.h - kStatusBar},
                               {screen.w - kColumn, screen.h - kStatusBar},
                               {(screen.w - kColumn) / 2, (screen.h - kStatusBar) / 2}};
        for (const QSize view : views) {
            const QString where = QString("screen %1x%2 view %3x%4").arg(screen.w).arg(screen.h).arg(view.width()).arg(view.height());
            SCOPED_TRACE(where.toStdString());
            const QPoint a(view.width() * 3 / 10, view.height() * 35 / 100);
            const QPoint b(view.width() * 55 / 100, view.height() * 65 / 100);

            // Rectangle: the checked box's corners are the touched corners.
            openOn(screen, view);
            window->drawMode = kDrawRect;
            drag(a, b);
            ASSERT_EQ(store().roiCount[0], 1);
            const double tol = tolerance();
            QRect box = store().rectRoi[0][0].imageRect;
            EXPECT_NEAR(imageToView(box.topLeft()).x(), a.x(), tol);
            EXPECT_NEAR(imageToView(box.topLeft()).y(), a.y(), tol);
            EXPECT_NEAR(imageToView(box.bottomRight() + QPoint(1, 1)).x(), b.x(), tol);
            EXPECT_NEAR(imageToView(box.bottomRight() + QPoint(1, 1)).y(), b.y(), tol);
            EXPECT_TRUE(outlineNear(QPointF(a.x(), (a.y() + b.y()) / 2.0))) << "left edge not shown under the finger";
            // A move by a drag: the box moves by the drag.
            drag((a + b) / 2, (a + b) / 2 + QPoint(40, 30));
            box = store().rectRoi[0][0].imageRect;
            EXPECT_NEAR(imageToView(box.topLeft()).x(), a.x() + 40, tol);
            EXPECT_NEAR(imageToView(box.topLeft()).y(), a.y() + 30, tol);
            EXPECT_TRUE(outlineNear(QPointF(a.x() + 40, (a.y() + b.y()) / 2.0 + 30)));
            // Fine tuning moves the shown and the checked box together.
            unit->SlotMove(5, 0);
            box = store().rectRoi[0][0].imageRect;
            const QRect shown = store().rectRoi[0][0].rect;
            EXPECT_NEAR(imageToView(box.topLeft()).x(), unit->viewMapping().toView(shown.topLeft()).x(), tol);

            // Circle: the checked ring is the one shown, and the press point is on its box.
            openOn(screen, view);
            window->drawMode = kDrawCircle;
            const QPoint c2(a.x() + (b.y() - a.y()), b.y());  // a square drag
            drag(a, c2);
            ASSERT_EQ(store().roiCount[0], 1);
            const Circle& circle = store().circleRoi[0][0];
            const QPointF centre = imageToView(QPointF(circle.imageCenterX, circle.imageCenterY));
            const QPointF touchedCentre = unit->viewMapping().toView(QPointF(circle.centerX, circle.centerY));
            EXPECT_NEAR(centre.x(), touchedCentre.x(), tol);
            EXPECT_NEAR(centre.y(), touchedCentre.y(), tol);
            const QPointF right = imageToView(QPointF(circle.imageCenterX + circle.imageRadius, circle.imageCenterY));
            const QPointF top = imageToView(QPointF(circle.imageCenterX, circle.imageCenterY - circle.imageRadius));
            EXPECT_TRUE(outlineNear(right)) << "right of the checked ring not shown";
            EXPECT_TRUE(outlineNear(top)) << "top of the checked ring not shown";
            EXPECT_NEAR(unit->viewMapping().toView(circle.rect.topLeft()).x(), a.x(), tol) << "drawn from the touch";
            drag(centre.toPoint(), centre.toPoint() + QPoint(40, 30));
            // The checked centre is cut to whole image pixels before and after: two roundings.
            const QPointF moved = imageToView(QPointF(circle.imageCenterX, circle.imageCenterY));
            EXPECT_NEAR(moved.x(), centre.x() + 40, 2 * tol);
            EXPECT_NEAR(moved.y(), centre.y() + 30, 2 * tol);

            // Polygon by taps, ended by a double tap.
            openOn(screen, view);
            live->continuationArea = 1;
            window->drawMode = kDrawPolygon;
            // Further right, where the display coordinates exceed the view's width; not
            // starting at the circle's press point (that would make a double tap).
            const QPoint pa(view.width() * 6 / 10, a.y()), pb(view.width() * 85 / 100, b.y());
            const QPoint nodes[3] = {QPoint(pb.x(), pa.y()), pb, pa};
            for (const QPoint& p : nodes) {
                press(p);
                release(p);
                QTest::qWait(5);
            }
            press(pa + QPoint(0, 40));
            release(pa + QPoint(0, 40));
            press(pa + QPoint(2, 42));  // the second tap takes the extra point back and ends the outline
            release(pa + QPoint(2, 42));
            live->continuationArea = 0;
            ASSERT_EQ(store().roiCount[0], 1);
            const RePolygon& poly = store().polygonRoi[0][0];
            ASSERT_EQ(poly.nodeCount, 3);
            for (int i = 0; i < 3; ++i) {
                EXPECT_NEAR(imageToView(poly.imageNodes[i]).x(), nodes[i].x(), tol) << i;
                EXPECT_NEAR(imageToView(poly.imageNodes[i]).y(), nodes[i].y(), tol) << i;
            }
            EXPECT_TRUE(outlineNear(QPointF((pa.x() + pb.x()) / 2.0, pa.y()))) << "top edge not shown";
            // Moved whole, also where the display lies beyond the view's own width.
            window->drawMode = kDrawNone;  // the double tap left the tool on for the next outline
            const QPoint inside = (nodes[0] + nodes[1] + nodes[2]) / 3;
            drag(inside, inside + QPoint(40, 30));
            for (int i = 0; i < 3; ++i) {
                EXPECT_NEAR(imageToView(poly.imageNodes[i]).x(), nodes[i].x() + 40, tol) << i;
                EXPECT_NEAR(imageToView(poly.imageNodes[i]).y(), nodes[i].y() + 30, tol) << i;
            }

            // Free-hand loop.
            openOn(screen, view);
            window->drawMode = kDrawPolygon;
            window->isFreeHand = true;
            const QPoint loop[] = {a, QPoint(b.x(), a.y()), b, QPoint(a.x(), b.y()), a + QPoint(2, 2)};
            press(loop[0]);
            for (int i = 1; i < 5; ++i)
                for (int s = 1; s <= 4; ++s)
                    moveTo(loop[i - 1] + (loop[i] - loop[i - 1]) * s / 4);
            release(loop[4]);
            ASSERT_EQ(store().roiCount[0], 1);
            const QRect hand = store().polygonRoi[0][0].imageRect;
            EXPECT_NEAR(imageToView(hand.topLeft()).x(), a.x(), tol);
            EXPECT_NEAR(imageToView(hand.topLeft()).y(), a.y(), tol);
            EXPECT_TRUE(outlineNear(QPointF(a.x(), (a.y() + b.y()) / 2.0))) << "left side of the loop not shown";
        }
    }
}
