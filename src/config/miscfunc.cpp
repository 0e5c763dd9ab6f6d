#include "miscfunc.h"

#include "globals.h"

#include <QDebug>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QJsonValue>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kToleranceMin = 3;
constexpr int kToleranceMax = 50;
constexpr int kScreenMargin = 3;
constexpr double kDiagonalFactor = 1.414;
constexpr float kHueSector = 42.5f;

int tolerance(int d)
{
    return std::clamp(d, kToleranceMin, kToleranceMax);
}

inline int byteOf(int word, int n)
{
    return (static_cast<unsigned>(word) >> (8 * n)) & 0xFF;
}

} // namespace

const int gaRGB2Gray[3 * 256] = {
    0, 306, 612, 918, 1224, 1530, 1837, 2143, 2449, 2755, 3061, 3367, 3674, 3980, 4286, 4592,
    4898, 5204, 5511, 5817, 6123, 6429, 6735, 7042, 7348, 7654, 7960, 8266, 8572, 8879, 9185, 9491,
    9797, 10103, 10409, 10716, 11022, 11328, 11634, 11940, 12247, 12553, 12859, 13165, 13471, 13777, 14084, 14390,
    14696, 15002, 15308, 15614, 15921, 16227, 16533, 16839, 17145, 17452, 17758, 18064, 18370, 18676, 18982, 19289,
    19595, 19901, 20207, 20513, 20819, 21126, 21432, 21738, 22044, 22350, 22657, 22963, 23269, 23575, 23881, 24187,
    24494, 24800, 25106, 25412, 25718, 26024, 26331, 26637, 26943, 27249, 27555, 27862, 28168, 28474, 28780, 29086,
    29392, 29699, 30005, 30311, 30617, 30923, 31229, 31536, 31842, 32148, 32454, 32760, 33067, 33373, 33679, 33985,
    34291, 34597, 34904, 35210, 35516, 35822, 36128, 36434, 36741, 37047, 37353, 37659, 37965, 38272, 38578, 38884,
    39190, 39496, 39802, 40109, 40415, 40721, 41027, 41333, 41639, 41946, 42252, 42558, 42864, 43170, 43476, 43783,
    44089, 44395, 44701, 45007, 45314, 45620, 45926, 46232, 46538, 46844, 47151, 47457, 47763, 48069, 48375, 48681,
    48988, 49294, 49600, 49906, 50212, 50519, 50825, 51131, 51437, 51743, 52049, 52356, 52662, 52968, 53274, 53580,
    53886, 54193, 54499, 54805, 55111, 55417, 55724, 56030, 56336, 56642, 56948, 57254, 57561, 57867, 58173, 58479,
    58785, 59091, 59398, 59704, 60010, 60316, 60622, 60929, 61235, 61541, 61847, 62153, 62459, 62766, 63072, 63378,
    63684, 63990, 64296, 64603, 64909, 65215, 65521, 65827, 66134, 66440, 66746, 67052, 67358, 67664, 67971, 68277,
    68583, 68889, 69195, 69501, 69808, 70114, 70420, 70726, 71032, 71339, 71645, 71951, 72257, 72563, 72869, 73176,
    73482, 73788, 74094, 74400, 74706, 75013, 75319, 75625, 75931, 76237, 76544, 76850, 77156, 77462, 77768, 78074,
    0, 601, 1202, 1803, 2404, 3005, 3606, 4207, 4808, 5409, 6010, 6611, 7213, 7814, 8415, 9016,
    9617, 10218, 10819, 11420, 12021, 12622, 13223, 13825, 14426, 15027, 15628, 16229, 16830, 17431, 18032, 18633,
    19234, 19835, 20436, 21038, 21639, 22240, 22841, 23442, 24043, 24644, 25245, 25846, 26447, 27048, 27650, 28251,
    28852, 29453, 30054, 30655, 31256, 31857, 32458, 33059, 33660, 34262, 34863, 35464, 36065, 36666, 37267, 37868,
    38469, 39070, 39671, 40272, 40873, 41475, 42076, 42677, 43278, 43879, 44480, 45081, 45682, 46283, 46884, 47485,
    48087, 48688, 49289, 49890, 50491, 51092, 51693, 52294, 52895, 53496, 54097, 54699, 55300, 55901, 56502, 57103,
    57704, 58305, 58906, 59507, 60108, 60709, 61310, 61912, 62513, 63114, 63715, 64316, 64917, 65518, 66119, 66720,
    67321, 67922, 68524, 69125, 69726, 70327, 70928, 71529, 72130, 72731, 73332, 73933, 74534, 75136, 75737, 76338,
    76939, 77540, 78141, 78742, 79343, 79944, 80545, 81146, 81747, 82349, 82950, 83551, 84152, 84753, 85354, 85955,
    86556, 87157, 87758, 88359, 88961, 89562, 90163, 90764, 91365, 91966, 92567, 93168, 93769, 94370, 94971, 95572,
    96174, 96775, 97376, 97977, 98578, 99179, 99780, 100381, 100982, 101583, 102184, 102786, 103387, 103988, 104589, 105190,
    105791, 106392, 106993, 107594, 108195, 108796, 109398, 109999, 110600, 111201, 111802, 112403, 113004, 113605, 114206, 114807,
    115408, 116009, 116611, 117212, 117813, 118414, 119015, 119616, 120217, 120818, 121419, 122020, 122621, 123223, 123824, 124425,
    125026, 125627, 126228, 126829, 127430, 128031, 128632, 129233, 129835, 130436, 131037, 131638, 132239, 132840, 133441, 134042,
    134643, 135244, 135845, 136446, 137048, 137649, 138250, 138851, 139452, 140053, 140654, 141255, 141856, 142457, 143058, 143660,
    144261, 144862, 145463, 146064, 146665, 147266, 147867, 148468, 149069, 149670, 150272, 150873, 151474, 152075, 152676, 153277,
    0, 116, 233, 350, 466, 583, 700, 817, 933, 1050, 1167, 1284, 1400, 1517, 1634, 1751,
    1867, 1984, 2101, 2217, 2334, 2451, 2568, 2684, 2801, 2918, 3035, 3151, 3268, 3385, 3502, 3618,
    3735, 3852, 3969, 4085, 4202, 4319, 4435, 4552, 4669, 4786, 4902, 5019, 5136, 5253, 5369, 5486,
    5603, 5720, 5836, 5953, 6070, 6187, 6303, 6420, 6537, 6653, 6770, 6887, 7004, 7120, 7237, 7354,
    7471, 7587, 7704, 7821, 7938, 8054, 8171, 8288, 8404, 8521, 8638, 8755, 8871, 8988, 9105, 9222,
    9338, 9455, 9572, 9689, 9805, 9922, 10039, 10156, 10272, 10389, 10506, 10622, 10739, 10856, 10973, 11089,
    11206, 11323, 11440, 11556, 11673, 11790, 11907, 12023, 12140, 12257, 12374, 12490, 12607, 12724, 12840, 12957,
    13074, 13191, 13307, 13424, 13541, 13658, 13774, 13891, 14008, 14125, 14241, 14358, 14475, 14592, 14708, 14825,
    14942, 15058, 15175, 15292, 15409, 15525, 15642, 15759, 15876, 15992, 16109, 16226, 16343, 16459, 16576, 16693,
    16809, 16926, 17043, 17160, 17276, 17393, 17510, 17627, 17743, 17860, 17977, 18094, 18210, 18327, 18444, 18561,
    18677, 18794, 18911, 19027, 19144, 19261, 19378, 19494, 19611, 19728, 19845, 19961, 20078, 20195, 20312, 20428,
    20545, 20662, 20779, 20895, 21012, 21129, 21245, 21362, 21479, 21596, 21712, 21829, 21946, 22063, 22179, 22296,
    22413, 22530, 22646, 22763, 22880, 22996, 23113, 23230, 23347, 23463, 23580, 23697, 23814, 23930, 24047, 24164,
    24281, 24397, 24514, 24631, 24748, 24864, 24981, 25098, 25214, 25331, 25448, 25565, 25681, 25798, 25915, 26032,
    26148, 26265, 26382, 26499, 26615, 26732, 26849, 26966, 27082, 27199, 27316, 27432, 27549, 27666, 27783, 27899,
    28016, 28133, 28250, 28366, 28483, 28600, 28717, 28833, 28950, 29067, 29184, 29300, 29417, 29534, 29650, 29767,
};

void RGB2Gray(unsigned char* dst, int* src, int width, int height)
{
    if (width < 1 || height < 1)
        return;
    const long count = long(width) * height;
    for (long i = 0; i < count; ++i) {
        const int p = src[i];
        dst[i] = static_cast<unsigned char>(
            (gaRGB2Gray[byteOf(p, 0)] + gaRGB2Gray[256 + byteOf(p, 1)] + gaRGB2Gray[512 + byteOf(p, 2)]) >> 10);
    }
}

void RGBA2Gray(unsigned char* dst, int* src, int width, int height)
{
    RGB2Gray(dst, src, width, height);
}

unsigned char RGB2HueByte(unsigned char a, unsigned char b, unsigned char c)
{
    const int maxV = std::max({a, b, c});
    const int minV = std::min({a, b, c});
    if (maxV == 0 || maxV == minV)
        return 0;
    const float delta = float(maxV - minV);
    float hue;
    if (a == maxV) {
        const float h = float(b - c) / delta;
        hue = b >= c ? h * kHueSector : (h + 6) * kHueSector;
    } else if (b == maxV) {
        hue = (float(c - a) / delta + 2) * kHueSector;
    } else {
        hue = (float(a - b) / delta + 4) * kHueSector;
    }
    return static_cast<unsigned char>(int(hue));
}

void RGBA2Hue(unsigned char* dst, int* src, int width, int height)
{
    if (width < 1 || height < 1)
        return;
    const long count = long(width) * height;
    for (long i = 0; i < count; ++i) {
        const int p = src[i];
        dst[i] = RGB2HueByte(byteOf(p, 0), byteOf(p, 1), byteOf(p, 2));
    }
}

void Gray2RGBA(unsigned char* src, int* dst, int width, int height)
{
    if (width < 1 || height < 1)
        return;
    const long count = long(width) * height;
    for (long i = 0; i < count; ++i) {
        const int g = src[i];
        dst[i] = g | (g << 8) | (g << 16);
    }
}

void MoveImage(cv::Mat src, cv::Mat& dst, int dx, int dy)
{
    const int rows = std::min(src.rows, dst.rows);
    const int cols = std::min(src.cols, dst.cols);
    // Columns x of a row that come from the source (x - dx inside it); the rest is 0.
    const int first = std::clamp(dx, 0, cols);
    const int end = std::clamp(cols + std::min(dx, 0), first, cols);
    for (int y = 0; y < dst.rows; ++y) {
        unsigned char* out = dst.ptr<unsigned char>(y);
        const int sy = y - dy;
        if (sy < 0 || sy >= rows || y >= rows) {
            std::memset(out, 0, dst.cols);
            continue;
        }
        const unsigned char* in = src.ptr<unsigned char>(sy);
        std::memset(out, 0, size_t(first));
        std::memcpy(out + first, in + first - dx, size_t(end - first));
        std::memset(out + end, 0, size_t(dst.cols - end));
    }
}

namespace {

// warpAffine's fixed-point steps: source points in 1/1024 pixel, rounded to
// 1/32 pixel for the bilinear weights.
constexpr int kAbBits = 10;
constexpr int kAbScale = 1 << kAbBits;
constexpr int kInterBits = 5;
constexpr int kInterTab = 1 << kInterBits;
constexpr int kRowsPerBand = 16;

// Inverse of a 2 x 3 affine matrix, computed as warpAffine computes it.
void invertAsWarp(double* m)
{
    double d = m[0] * m[4] - m[1] * m[3];
    d = d != 0 ? 1. / d : 0;
    const double a11 = m[4] * d, a22 = m[0] * d;
    m[0] = a11;
    m[1] *= -d;
    m[3] *= -d;
    m[4] = a22;
    const double b1 = -m[0] * m[2] - m[1] * m[5];
    const double b2 = -m[3] * m[2] - m[4] * m[5];
    m[2] = b1;
    m[5] = b2;
}

short toShort(int v)
{
    return cv::saturate_cast<short>(v);
}

} // namespace

// Turning the frame padded to its diagonal and cutting the frame's window back
// out gave the engine its checked frame; the same pixels come from sampling
// only that window, with the sample points and weights warpAffine computes at
// the window's padded coordinates (a warp of the window with a moved origin
// rounds some points to another 1/32 pixel).
void TransformImage(cv::Mat src, cv::Mat& dst, cv::Point shift, cv::Point centre, double angle)
{
    if (src.empty()) {
        dst = cv::Mat(); // nothing to turn
        return;
    }
    if (!dst.empty() && dst.datastart < src.dataend && src.datastart < dst.dataend)
        src = src.clone(); // written in place: read from a copy
    dst.create(src.size(), src.type());
    if (angle == 0) {
        MoveImage(src, dst, shift.x, shift.y);
        return;
    }
    const int m = std::max(src.rows, src.cols);
    const int diagonal = int(m * kDiagonalFactor);
    const cv::Point pad((diagonal - src.cols) / 2, (diagonal - src.rows) / 2);

    // The shift kept only what stays inside the padded frame.
    const cv::Rect kept = cv::Rect(0, 0, src.cols, src.rows)
                          & cv::Rect(-shift.x - pad.x, -shift.y - pad.y, src.cols + 2 * pad.x, src.rows + 2 * pad.y);
    if (kept.empty()) {
        dst.setTo(0);
        return;
    }
    const cv::Mat view = src(kept);
    const cv::Point origin = pad + shift + kept.tl(); // the view's place in the padded frame

    cv::Mat rotation =
        cv::getRotationMatrix2D(cv::Point2f(float(centre.x + pad.x), float(centre.y + pad.y)), angle, 1.0);
    double mat[6];
    for (int i = 0; i < 6; ++i)
        mat[i] = rotation.at<double>(i / 3, i % 3);
    invertAsWarp(mat);

    std::vector<int> columnSteps(2 * size_t(src.cols));
    for (int x = 0; x < src.cols; ++x) {
        const int px = x + pad.x;
        columnSteps[2 * size_t(x)] = cv::saturate_cast<int>(mat[0] * px * kAbScale);
        columnSteps[2 * size_t(x) + 1] = cv::saturate_cast<int>(mat[3] * px * kAbScale);
    }
    const int roundDelta = kAbScale / kInterTab / 2;
    const int bands = (src.rows + kRowsPerBand - 1) / kRowsPerBand;
    cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range& range) {
        cv::Mat points(kRowsPerBand, src.cols, CV_16SC2);
        cv::Mat weights(kRowsPerBand, src.cols, CV_16UC1);
        for (int b = range.start; b < range.end; ++b) {
            const int y0 = b * kRowsPerBand;
            const int rows = std::min(kRowsPerBand, src.rows - y0);
            for (int r = 0; r < rows; ++r) {
                const int py = y0 + r + pad.y;
                const int x0 = cv::saturate_cast<int>((mat[1] * py + mat[2]) * kAbScale) + roundDelta;
                const int yy0 = cv::saturate_cast<int>((mat[4] * py + mat[5]) * kAbScale) + roundDelta;
                short* xy = points.ptr<short>(r);
                unsigned short* a = weights.ptr<unsigned short>(r);
                for (int x = 0; x < src.cols; ++x) {
                    const int sx = (x0 + columnSteps[2 * size_t(x)]) >> (kAbBits - kInterBits);
                    const int sy = (yy0 + columnSteps[2 * size_t(x) + 1]) >> (kAbBits - kInterBits);
                    xy[2 * x] = toShort((sx >> kInterBits) - origin.x);
                    xy[2 * x + 1] = toShort((sy >> kInterBits) - origin.y);
                    a[x] = static_cast<unsigned short>((sy & (kInterTab - 1)) * kInterTab + (sx & (kInterTab - 1)));
                }
            }
            cv::Mat band = dst.rowRange(y0, y0 + rows);
            cv::remap(view, band, points.rowRange(0, rows), weights.rowRange(0, rows), cv::INTER_LINEAR,
                      cv::BORDER_CONSTANT, cv::Scalar(0));
        }
    });
}

bool PointAround(QPoint a, QPoint b, int d)
{
    const int t = tolerance(d);
    return std::abs(a.x() - b.x()) < t && std::abs(a.y() - b.y()) < t;
}

bool LineAround(int a, int b, int d)
{
    return std::abs(a - b) < tolerance(d);
}

bool LineAround(int a, int b, int c, int lo, int hi, int d)
{
    return LineAround(a, b, d) && lo <= c && c <= hi;
}

void CheckInRange(int* v, int isX, int /*width*/, int /*height*/)
{
    const int limit = isX ? gShowW : gShowH;
    if (*v < kScreenMargin)
        *v = kScreenMargin;
    if (*v >= limit - 2)
        *v = limit - kScreenMargin;
}

void CheckInRange(QRect* r, int width, int height, bool keepSize)
{
    int left = std::min(r->left(), r->right());
    int right = std::max(r->left(), r->right());
    int top = std::min(r->top(), r->bottom());
    int bottom = std::max(r->top(), r->bottom());
    if (keepSize) {
        if (left < kScreenMargin) {
            right += kScreenMargin - left;
            left = kScreenMargin;
        }
        if (top < kScreenMargin) {
            bottom += kScreenMargin - top;
            top = kScreenMargin;
        }
        if (right >= gShowW - 2) {
            left -= right - (gShowW - kScreenMargin);
            right = gShowW - kScreenMargin;
        }
        if (bottom >= gShowH - 2) {
            top -= bottom - (gShowH - kScreenMargin);
            bottom = gShowH - kScreenMargin;
        }
    } else {
        CheckInRange(&left, 1, width, height);
        CheckInRange(&right, 1, width, height);
        CheckInRange(&top, 0, width, height);
        CheckInRange(&bottom, 0, width, height);
    }
    r->setCoords(left, top, right, bottom);
}

bool columnExists(QSqlDatabase& db, const QString& table, const QString& column)
{
    // Names are quoted as identifiers so no text can leave the statement.
    QSqlQuery query(db);
    if (!query.exec(QString("PRAGMA table_info(%1);").arg(db.driver()->escapeIdentifier(table, QSqlDriver::TableName)))) {
        qWarning() << "Failed to get table info:" << query.lastError().text();
        return false;
    }
    while (query.next()) {
        if (query.value(1).toString() == column)
            return true;
    }
    return false;
}

bool addColumnIfNotExists(QSqlDatabase& db, const QString& table, const QString& column, const QString& type)
{
    if (columnExists(db, table, column)) {
        qDebug() << "Column" << column << "already exists in table" << table;
        return false;
    }
    static const QRegularExpression plainType("^[A-Za-z][A-Za-z0-9 ()]*$");
    if (!plainType.match(type).hasMatch()) {
        qWarning() << "Failed to add column:" << "invalid type" << type;
        return false;
    }
    QSqlQuery query(db);
    const QString text = QString("ALTER TABLE %1 ADD COLUMN %2 %3;")
                             .arg(db.driver()->escapeIdentifier(table, QSqlDriver::TableName),
                                  db.driver()->escapeIdentifier(column, QSqlDriver::FieldName), type);
    if (!query.exec(text)) {
        qWarning() << "Failed to add column:" << query.lastError().text();
        return false;
    }
    qDebug() << "Column" << column << "added to table" << table;
    return true;
}

QStringList jsonArray2StringList(QJsonArray array)
{
    QStringList list;
    for (const QJsonValue& value : array) {
        if (value.isString())
            list << value.toString();
    }
    return list;
}
