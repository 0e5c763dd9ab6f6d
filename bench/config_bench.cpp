// ROI parameter store and shapes: the polygon mask (exact scan-line fill)
// beside cv::fillPoly of the same polygon and beside the per-pixel test it
// replaces; the size of an empty store; saving a full store (8 x 100 ROIs).

#include "benchratio.h"

#include "cammersingleton.h"
#include "globals.h"
#include "paramdatabase.h"
#include "repolygon.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <random>

namespace {

// A free-hand outline: a wobbly closed curve of n nodes around (cx, cy).
std::vector<QPoint> freeHand(int n, int cx, int cy, int radius)
{
    std::mt19937 random(7);
    std::vector<QPoint> points;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * M_PI * i / n;
        const double r = radius * (0.8 + 0.2 * std::sin(7 * a)) + double(random() % 5);
        points.emplace_back(int(cx + r * std::cos(a)), int(cy + r * std::sin(a)));
    }
    return points;
}

RePolygon polygonOf(const std::vector<QPoint>& points)
{
    RePolygon p(int(points.size()), const_cast<QPoint*>(points.data()));
    p.setShowA(1.0f, 1.0f);
    p.setImageRect();
    return p;
}

const std::vector<QPoint>& outline(int which)
{
    static const std::vector<QPoint> large = freeHand(8000, 600, 500, 450);
    static const std::vector<QPoint> medium = freeHand(2000, 200, 200, 150);
    static const std::vector<QPoint> simple = {{10, 10},  {1200, 40}, {1150, 500}, {900, 880},
                                               {600, 600}, {300, 890}, {20, 700},   {200, 400}};
    return which == 0 ? large : which == 1 ? medium : simple;
}

void BM_MaskScanLine(benchmark::State& state)
{
    const RePolygon p = polygonOf(outline(int(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(p.UpdateMask());
}

void BM_MaskFillPoly(benchmark::State& state)
{
    const RePolygon p = polygonOf(outline(int(state.range(0))));
    std::vector<cv::Point> contour;
    for (const QPoint& q : p.imageNodes)
        contour.emplace_back(q.x() - p.imageRect.left(), q.y() - p.imageRect.top());
    const std::vector<std::vector<cv::Point>> contours{contour};
    for (auto _ : state) {
        cv::Mat mask(p.imageRect.height(), p.imageRect.width(), CV_8UC1, cv::Scalar(0));
        cv::fillPoly(mask, contours, cv::Scalar(255));
        benchmark::DoNotOptimize(mask.data);
    }
}

// The per-pixel point-in-polygon test (pixels x nodes), on the medium outline only.
void BM_MaskPerPixel(benchmark::State& state)
{
    const RePolygon p = polygonOf(outline(1));
    std::vector<cv::Point> contour;
    for (const QPoint& q : p.imageNodes)
        contour.emplace_back(q.x(), q.y());
    for (auto _ : state) {
        cv::Mat mask(p.imageRect.height(), p.imageRect.width(), CV_8UC1, cv::Scalar(0));
        for (int y = 0; y < mask.rows; ++y)
            for (int x = 0; x < mask.cols; ++x)
                if (cv::pointPolygonTest(contour, cv::Point2f(float(p.imageRect.left() + x),
                                                               float(p.imageRect.top() + y)), false) > 0)
                    mask.at<unsigned char>(y, x) = 255;
        benchmark::DoNotOptimize(mask.data);
    }
}

void BM_EmptyStoreCopy(benchmark::State& state)
{
    auto source = std::make_unique<CammerSingleton>(0, nullptr);
    auto target = std::make_unique<CammerSingleton>(0, nullptr);
    for (auto _ : state) {
        *target = *source;
        benchmark::DoNotOptimize(target.get());
    }
    // What the store costs now, and what 2 x 8096 nodes per polygon slot would cost.
    const double fixedNodes = 8.0 * 100 * 2 * RePolygon::kMaxNodes * sizeof(QPoint);
    state.counters["store_MB"] = double(sizeof(CammerSingleton)) / (1 << 20);
    state.counters["fixed_array_store_MB"] = (double(sizeof(CammerSingleton)) + fixedNodes) / (1 << 20);
}

// Every group full: 100 ROIs of all three shapes, written in one transaction.
void BM_SaveFullStore(benchmark::State& state)
{
    QTemporaryDir dir;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", ParamDatabase::kConnectionName);
        db.setDatabaseName(dir.filePath("PARAM.db"));
        db.open();
        QSqlQuery(db).exec("create table cammer0 (name text, value text)");
    }
    auto store = std::make_unique<CammerSingleton>(0, nullptr);
    const std::vector<QPoint>& nodes = outline(2);
    for (int g = 0; g < CammerSingleton::kGroups; ++g) {
        store->roiCount[g] = CammerSingleton::kMaxRois;
        for (int r = 0; r < CammerSingleton::kMaxRois; ++r) {
            const int kind = r % 3;
            store->roiShape[g][r] = kind == 0 ? 1 : kind == 1 ? 2 : 4;
            store->rectRoi[g][r].rect = QRect(10 + r, 10, 50, 50);
            store->polygonRoi[g][r] = polygonOf(nodes);
            store->circleRoi[g][r].centerX = 300;
            store->circleRoi[g][r].centerY = 300;
            store->circleRoi[g][r].radius = 40;
        }
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(store->SaveDatatoFile());
    QSqlDatabase::database(ParamDatabase::kConnectionName).close();
}

} // namespace

BENCHMARK(BM_MaskScanLine)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MaskFillPoly)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MaskPerPixel)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EmptyStoreCopy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveFullStore)->Iterations(3)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    gShowW = 1920;
    gShowH = 1080;
    return benchratio::run(argc, argv,
                           {{"BM_MaskScanLine/0", "BM_MaskFillPoly/0"},
                            {"BM_MaskScanLine/1", "BM_MaskFillPoly/1"},
                            {"BM_MaskScanLine/2", "BM_MaskFillPoly/2"},
                            {"BM_MaskPerPixel/iterations:1", "BM_MaskScanLine/1"}});
}
