#include "cammerrecongnize.h"

#include "cameraunithooks.h"
#include "cameraunitstate.h"
#include "cammersingleton.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "miscfunc.h"
#include "param_roi.h"
#include "roishapevisit.h"
#include "wizardpara.h"

#include <QDebug>
#include <QElapsedTimer>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int kMotionOff = -1;
constexpr int kMaxAngle = 180;
constexpr int kAutoOffset = 8000;      // offsets up to this: automatic contrast
constexpr int kFixedContrastEnd = 8254;
constexpr int kAutoContrast = 255;
constexpr int kLowContrast = 30;
constexpr int kDefaultLayers = 10;
constexpr int kMinHomoFeatures = 300;
constexpr float kHomoMatchConf = 0.4f;
constexpr int kOtherFunction = 11;     // table row of codes outside 0..10

struct RoiParams
{
    int sens;
    int area;
    int minWH;
};

struct Band
{
    int lo;
    int hi;
};

int byte0(int v) { return v & 0xFF; }
int byte1(int v) { return (v >> 8) & 0xFF; }
int low16(int v) { return v & 0xFFFF; }
int high16(int v) { return (v >> 16) & 0xFFFF; }
Band ordered(int a, int b) { return {std::min(a, b), std::max(a, b)}; }

enum class Source { Skip, GrayModel, SurfModel, GreyBand, Colour };
enum class Value { Area, Score, Count };

// One detection function: how its defect mask is made, how it is cleaned,
// what it measures, when it is OK and what it publishes.
struct FunctionRule
{
    Source source;
    Band (*band)(const RoiParams&);
    int (*kernel)(const RoiParams&, const WizardPara&);
    Value value;
    bool (*ok)(const RoiParams&, const WizardPara&, int value);
    bool invertible;
    std::array<int, 3> (*published)(const RoiParams&);
};

Band spotBand(const RoiParams& p) { return ordered(byte0(p.minWH), byte1(p.minWH)); }
Band darkBand(const RoiParams& p) { return {0, byte0(p.sens)}; }
Band brightBand(const RoiParams& p) { return {byte0(p.sens), 255}; }
Band wholeBand(const RoiParams&) { return {0, 255}; }

int defectKernel(const RoiParams& p, const WizardPara& w) { return w.showAllParams ? p.minWH : w.filterSize; }
int spotKernel(const RoiParams&, const WizardPara& w) { return w.minSpot; }
int unitKernel(const RoiParams&, const WizardPara&) { return 1; }
// In 64 bits: a huge filter size must clear the mask, not wrap round to a small kernel.
int countKernel(const RoiParams& p, const WizardPara&)
{
    return int(std::clamp<long long>(2LL * p.minWH + 1, INT_MIN, INT_MAX));
}

bool defectOk(const RoiParams& p, const WizardPara& w, int a) { return a <= (w.showAllParams ? p.area : w.area); }
bool spotOk(const RoiParams& p, const WizardPara&, int a) { return p.sens <= a && a <= p.area; }
bool areaOk(const RoiParams& p, const WizardPara&, int a) { return p.area <= a && a <= p.minWH; }
bool scoreOk(const RoiParams& p, const WizardPara&, int s) { return s >= p.sens; }
bool countOk(const RoiParams& p, const WizardPara&, int n) { return low16(p.area) <= n && n <= high16(p.area); }
bool colourOk(const RoiParams&, const WizardPara& w, int a) { return w.minColorArea <= a && a <= w.maxColorArea; }
bool alwaysOk(const RoiParams&, const WizardPara&, int) { return true; }

std::array<int, 3> allParams(const RoiParams& p) { return {p.sens, p.area, p.minWH}; }
std::array<int, 3> spotParams(const RoiParams& p) { return {p.sens, p.area, -1}; }
std::array<int, 3> areaParams(const RoiParams& p) { return {0, p.area, -1}; }
std::array<int, 3> scoreParams(const RoiParams& p) { return {p.sens, -1, -1}; }
std::array<int, 3> noParams(const RoiParams&) { return {-1, -1, -1}; }

const FunctionRule kRules[] = {
    /* 0 Defect           */ {Source::GrayModel, nullptr, defectKernel, Value::Area, defectOk, true, allParams},
    /* 1 Spot Det         */ {Source::GreyBand, spotBand, spotKernel, Value::Area, spotOk, false, spotParams},
    /* 2 Ignore Area      */ {Source::Skip, nullptr, unitKernel, Value::Area, alwaysOk, false, noParams},
    /* 3 Position         */ {Source::Skip, nullptr, unitKernel, Value::Area, alwaysOk, false, noParams},
    /* 4 black area       */ {Source::GreyBand, darkBand, spotKernel, Value::Area, areaOk, false, areaParams},
    /* 5 white area       */ {Source::GreyBand, brightBand, spotKernel, Value::Area, areaOk, false, areaParams},
    /* 6 Similarity       */ {Source::SurfModel, nullptr, unitKernel, Value::Score, scoreOk, false, scoreParams},
    /* 7 white num        */ {Source::GreyBand, brightBand, countKernel, Value::Count, countOk, false, noParams},
    /* 8 black num        */ {Source::GreyBand, darkBand, countKernel, Value::Count, countOk, false, noParams},
    /* 9 Color spots      */ {Source::Colour, nullptr, spotKernel, Value::Area, colourOk, false, noParams},
    /* 10 Angle correction*/ {Source::Skip, nullptr, unitKernel, Value::Area, alwaysOk, false, noParams},
    /* any other code     */ {Source::GreyBand, wholeBand, spotKernel, Value::Area, defectOk, true, allParams},
};

const FunctionRule& ruleOf(int code)
{
    return kRules[(code >= 0 && code < kOtherFunction) ? code : kOtherFunction];
}

bool validGroup(int g)
{
    return g >= 0 && g < CammerRecong::kGroups;
}

// A ROI mask the engine can use: an 8-bit single-channel image with pixels.
bool usableMask(const cv::Mat& m)
{
    // A mask without one pixel to check (an empty ring, a flat polygon) checks nothing.
    return !m.empty() && m.type() == CV_8UC1 && cv::countNonZero(m) > 0;
}

// Spot counting clears the mask when the kernel no longer fits the ROI.
bool countKernelTooLarge(int k, const cv::Size& roi)
{
    return k >= 2 * (std::min(roi.height, roi.width) / 2) - 2;
}

// Opening with an elliptic k x k element. Once the element reaches from every
// pixel of the ROI to every other, erosion gives the mask's minimum everywhere
// (the border never erodes), so the opening keeps a full mask and clears any
// other: computed so, instead of building a huge element for a huge parameter.
cv::Mat openMask(const cv::Mat& d, int k)
{
    k = std::max(k, 1);
    if (k == 1)
        return d;
    if ((k - 1) / 2 >= std::hypot(d.cols - 1, d.rows - 1))
        return cv::countNonZero(d) == int(d.total()) ? d : cv::Mat(cv::Mat::zeros(d.size(), CV_8UC1));
    cv::Mat o;
    cv::morphologyEx(d, o, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(k, k)));
    return o;
}

// Defect mask of a colour ROI: each plane within its range, inside the effective mask.
void colourMask(const cv::Mat& colourRoi, const cv::Mat& effective, const RoiParams& p, cv::Mat& d)
{
    cv::Mat planes[4];
    cv::split(colourRoi, planes);
    d.setTo(255);
    const std::pair<int, int> planeRanges[] = {{2, p.sens}, {1, p.area}, {0, p.minWH}};
    for (const auto& [plane, packed] : planeRanges) {
        const Band b = ordered(low16(packed), high16(packed));
        cv::Mat band;
        CammerRecong::ThresholdFUNC(planes[plane], band, b.lo, b.hi);
        d &= band & effective;
    }
}

// Defect mask of a grey-band or colour function. colourRoi is empty on a grey
// camera, where a colour function finds nothing and k falls to 1.
void bandOrColourMask(const FunctionRule& rule, const RoiParams& p, const cv::Mat& greyRoi, const cv::Mat& colourRoi,
                      const cv::Mat& effective, cv::Mat& d, int& k)
{
    if (rule.source == Source::Colour) {
        if (colourRoi.empty())
            k = 1;
        else
            colourMask(colourRoi, effective, p, d);
        return;
    }
    const Band b = rule.band(p);
    CammerRecong::ThresholdFUNC(greyRoi, d, b.lo, b.hi);
    d &= effective;
}

// The defect mask opened with the function's kernel; spot counting clears it
// instead when the kernel no longer fits the ROI.
cv::Mat cleanDefects(cv::Mat& d, int k, bool counting)
{
    k = std::max(k, 1);
    if (counting && countKernelTooLarge(k, d.size())) {
        d.setTo(0);
        return d;
    }
    return openMask(d, k);
}

int outerContours(const cv::Mat& o, std::vector<std::vector<cv::Point>>& contours)
{
    contours.clear();
    if (cv::countNonZero(o) > 0)
        cv::findContours(o, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    return int(contours.size());
}

} // namespace

// A ROI's box in image coordinates, cut to the frame and to its mask (a shape
// near the right or bottom edge reaches out of the frame).
struct CammerRecong::RoiWindow
{
    cv::Rect box;     // the shape's box as stored
    cv::Rect rect;    // the part inside the frame and the mask
    cv::Rect inMask;  // that part in mask coordinates

    bool empty() const { return rect.width < 1 || rect.height < 1; }
};

CammerRecong::CammerRecong(CammerSingleton* active, CameraUnitState* owner)
    : pParam(active)
    , pCamWidget(owner)
{
    if (!gpWPara || !pParam || !pCamWidget)
        return;
    for (int g = 0; g < kGroups; ++g) {
        if (gpWPara->detectEnable[g]) {
            CreateHomoShape(g);
            CreateShape(g);
            VarTrain(g);
        }
    }
}

void CammerRecong::ThresholdFUNC(cv::Mat src, cv::Mat& dst, int low, int high)
{
    if (low > high) {
        dst = cv::Mat::zeros(src.size(), CV_8UC1);
        return;
    }
    cv::inRange(src, cv::Scalar(low), cv::Scalar(high), dst);
}

cv::Mat CammerRecong::frameGray(unsigned char* frame)
{
    CameraUnitState& u = *pCamWidget;
    if (!u.isColor)
        return cv::Mat(u.imageH, u.imageW, CV_8UC1, frame);
    int* pixels = reinterpret_cast<int*>(frame);
    if (gisGrayHue)
        RGBA2Gray(u.pGrayBuf, pixels, u.imageW, u.imageH);
    else
        RGBA2Hue(u.pGrayBuf, pixels, u.imageW, u.imageH);
    return cv::Mat(u.imageH, u.imageW, CV_8UC1, u.pGrayBuf);
}

CammerRecong::RoiWindow CammerRecong::roiWindow(const CammerSingleton& store, const cv::Mat& mask, int g,
                                                 int r) const
{
    const QRect q = roiImageRect(store, g, r);
    RoiWindow w;
    w.box = cv::Rect(q.x(), q.y(), q.width(), q.height());
    w.rect = w.box & cv::Rect(0, 0, pCamWidget->imageW, pCamWidget->imageH);
    if (!mask.empty())
        w.rect &= cv::Rect(w.box.tl(), mask.size());
    if (w.empty())
        w.rect = cv::Rect();
    w.inMask = w.rect - w.box.tl();
    return w;
}

void CammerRecong::publish(const param_roi& result)
{
    if (const auto& publishRoiResult = CameraUnitHooks::instance().publishRoiResult)
        publishRoiResult(result);
}

void CammerRecong::failRoi(int g, int r, int error, unsigned& reported)
{
    CameraUnitState& u = *pCamWidget;
    u.camOK = false;
    // One record per camera, group and error code in a run, not one per ROI.
    const unsigned bit = 1u << unsigned(-error);
    if (!(reported & bit)) {
        reported |= bit;
        if (gpWin)
            gpWin->InsertRecord(QString("REG RUN ERROR = %1, %2, %3").arg(u.camIndex).arg(g).arg(error), "info");
    }
    // A ROI that cannot be checked is NG and says so, instead of keeping the last frame's result.
    u.roiResult[g][r] = false;
    u.roiValue[g][r] = 0;
    u.ngBoxes[g][r].clear();
    const RoiParams p{pParam->roiSensitivity[g][r], pParam->roiArea[g][r], pParam->roiMinWH[g][r]};
    const int code = pParam->roiFunction[g][r];
    const std::array<int, 3> params = ruleOf(code).published(p);
    publish({u.camIndex, g, r, code, 0, params[0], params[1], params[2], 0});
}

void CammerRecong::Run(int g)
{
    if (!validGroup(g) || !gpWPara || !pParam || !pCamWidget)
        return;
    const WizardPara& w = *gpWPara;
    CameraUnitState& u = *pCamWidget;
    const CammerSingleton& p = *pParam;

    u.camOK = true;
    for (int r = 0; r < std::min(p.roiCount[g], kRois); ++r)
        u.roiResult[g][r] = true;

    const cv::Mat grey = frameGray(u.pCheckBuf);
    const cv::Mat colour = u.isColor ? cv::Mat(u.imageH, u.imageW, CV_8UC4, u.pCheckBuf) : cv::Mat();
    cv::Mat source = grey;
    if (w.matchBrightness && templateNorm[g] > 0) {
        cv::normalize(grey, m_bright, templateNorm[g], 0, cv::NORM_L2, CV_8U);
        source = m_bright;
    }
    std::memset(u.pSensMask, 0, size_t(u.imagePixels));
    const cv::Mat sens(u.imageH, u.imageW, CV_8UC1, u.pSensMask);

    const int inversionIndex = (w.trigMode == 1 || w.trigMode == 2) ? g % 2 : g;
    const bool inverted = w.ngTemplate[inversionIndex] != 0;
    unsigned reported = 0;
    std::vector<std::vector<cv::Point>> contours;

    for (int r = 0; r < std::min(p.roiCount[g], kRois); ++r) {
        const int code = p.roiFunction[g][r];
        const FunctionRule& rule = ruleOf(code);
        if (rule.source == Source::Skip) {
            u.roiValue[g][r] = 0;
            u.ngBoxes[g][r].clear();
            continue;
        }
        const cv::Mat& roiMask = u.roiMask[g][r];
        if (!usableMask(roiMask)) {
            failRoi(g, r, kNoRoiMask, reported);
            continue;
        }
        if (groupMask[g].rows == 0 || groupMask[g].cols == 0) {
            failRoi(g, r, kNotLearnt, reported);
            continue;
        }
        const RoiWindow win = roiWindow(p, roiMask, g, r);
        if (win.empty()) {
            failRoi(g, r, kEmptyBox, reported);
            continue;
        }
        const RoiParams par{p.roiSensitivity[g][r], p.roiArea[g][r], p.roiMinWH[g][r]};
        const cv::Mat image = source(win.rect);
        // Only the band and colour functions cut their mask by the group and ROI masks.
        auto effective = [&] { return cv::Mat(groupMask[g](win.rect) & roiMask(win.inMask)); };
        cv::Mat defects = cv::Mat::zeros(win.rect.size(), CV_8UC1);
        int k = rule.kernel(par, w);
        int score = 0;
        switch (rule.source) {
        case Source::GrayModel:
            if (grayModel[g][r].IsValid())
                grayModel[g][r].Match(image, defects);
            break;
        case Source::SurfModel:
            if (surfModel[g][r].IsValid()) {
                cv::Mat copy = image.clone();
                score = int(surfModel[g][r].Match(copy, defects));
            }
            break;
        case Source::Colour:
        case Source::GreyBand:
            bandOrColourMask(rule, par, image, u.isColor ? colour(win.rect) : cv::Mat(), effective(), defects, k);
            break;
        case Source::Skip:
            break;
        }
        const cv::Mat cleaned = cleanDefects(defects, k, rule.value == Value::Count);
        cv::Mat sensWindow = sens(win.rect);
        sensWindow |= cleaned;

        const int area = cv::countNonZero(cleaned);
        const bool counting = rule.value == Value::Count;
        const int found = counting ? outerContours(cleaned, contours) : 0;
        const int measured = rule.value == Value::Score ? score : counting ? found : area;
        u.roiValue[g][r] = measured;
        bool ok = rule.ok(par, w, measured);
        if (rule.invertible && inverted)
            ok = !ok;
        u.roiResult[g][r] = ok;
        if (!ok)
            u.camOK = false;

        // Only an NG ROI's boxes are drawn (on the NG picture): an OK one needs no contours.
        NgBoxList& boxes = u.ngBoxes[g][r];
        const int kept = ok ? 0 : std::min(counting ? found : outerContours(cleaned, contours), NgBoxList::kMaxBoxes);
        for (int i = 0; i < kept; ++i) {
            const cv::Rect b = cv::boundingRect(contours[i]) + win.rect.tl();
            int* e = boxes.entry[i + 1];
            e[0] = b.x;
            e[1] = b.y;
            e[2] = b.x + b.width;
            e[3] = b.y + b.height;
        }
        boxes.entry[0][0] = kept;

        const std::array<int, 3> params = rule.published(par);
        // Each ROI publishes its own result; the camera's running result stays in camOK.
        publish({u.camIndex, g, r, code, area, params[0], params[1], params[2], ok ? 1 : 0});
    }
}

void CammerRecong::RunTest(int g, int roi)
{
    if (!validGroup(g) || !pCamWidget)
        return;
    CameraUnitState& u = *pCamWidget;
    const CammerSingleton* edit = u.pSingletonEdit;
    unsigned char* shown = u.templateFrame(g, u.curTemplate);
    if (!shown || !gpWPara || !edit)
        return;
    const cv::Mat grey = frameGray(shown);
    std::memset(u.pSensMask, 0, size_t(u.imagePixels));
    // The panel has no ROI selected (-1) or one beyond the group: nothing to preview.
    if (roi < 0 || roi >= kRois)
        return;
    u.roiValue[g][roi] = 0;
    u.ngBoxes[g][roi].clear();
    if (roi >= edit->roiCount[g])
        return;
    const int code = edit->roiFunction[g][roi];
    const FunctionRule& rule = ruleOf(code);
    if (rule.source != Source::GreyBand && rule.source != Source::Colour) {
        if (u.requestRepaint)
            u.requestRepaint();
        return;
    }
    const cv::Mat& roiMask = u.roiMaskEdit[g][roi];
    const RoiWindow win = roiWindow(*edit, roiMask, g, roi);
    if (win.empty())
        return;
    const RoiParams par{edit->roiSensitivity[g][roi], edit->roiArea[g][roi], edit->roiMinWH[g][roi]};
    // An unlearnt group or an empty ROI mask previews an empty mask.
    cv::Mat effective = cv::Mat::zeros(win.rect.size(), CV_8UC1);
    if (!groupMask[g].empty() && usableMask(roiMask))
        effective = groupMask[g](win.rect) & roiMask(win.inMask);
    cv::Mat defects = cv::Mat::zeros(win.rect.size(), CV_8UC1);
    // Made and cleaned as in the check, so the preview shows what the check will find.
    int k = rule.kernel(par, *gpWPara);
    const cv::Mat colourRoi = u.isColor ? cv::Mat(u.imageH, u.imageW, CV_8UC4, shown)(win.rect) : cv::Mat();
    bandOrColourMask(rule, par, grey(win.rect), colourRoi, effective, defects, k);
    const cv::Mat cleaned = cleanDefects(defects, k, rule.value == Value::Count);
    cv::Mat sensWindow = cv::Mat(u.imageH, u.imageW, CV_8UC1, u.pSensMask)(win.rect);
    sensWindow |= cleaned;
    std::vector<std::vector<cv::Point>> contours;
    u.roiValue[g][roi] = rule.value == Value::Count ? outerContours(cleaned, contours) : cv::countNonZero(cleaned);
    u.isSensPreview = true;
    if (u.requestRepaint)
        u.requestRepaint();
}

void CammerRecong::VarTrain(int g)
{
    if (!validGroup(g) || !gpWPara || !pParam || !pCamWidget)
        return;
    const WizardPara& w = *gpWPara;
    CameraUnitState& u = *pCamWidget;
    const CammerSingleton& p = *pParam;
    for (int r = 0; r < kRois; ++r) {
        grayModel[g][r].Clear();
        surfModel[g][r].Clear();
    }

    cv::Mat ignore = cv::Mat::zeros(u.imageH, u.imageW, CV_8UC1);
    if (u.pIgnoreMask[g])
        cv::Mat(u.imageH, u.imageW, CV_8UC1, u.pIgnoreMask[g]).copyTo(ignore);
    const int count = std::min(p.roiCount[g], kRois);
    for (int r = 0; r < count; ++r) {
        if (p.roiFunction[g][r] != kIgnoreArea || !usableMask(u.roiMask[g][r]))
            continue;
        const RoiWindow win = roiWindow(p, u.roiMask[g][r], g, r);
        if (!win.empty())
            u.roiMask[g][r](win.inMask).copyTo(ignore(win.rect));
    }
    // Any non-zero ignore pixel is ignored, whatever its grey value.
    cv::compare(ignore, 0, groupMask[g], cv::CMP_EQ);

    // The templates to learn, as grey frames, and the norm of the last one.
    std::vector<cv::Mat> templates;
    for (int t = 0; t < gTempNum && int(templates.size()) < u.templateCount[g]; ++t) {
        unsigned char* frame = u.templateFrame(g, t);
        if (!frame || t >= int(u.pTemplateValid[g].size()) || !u.pTemplateValid[g][t])
            continue;
        const cv::Mat f = frameGray(frame);
        templates.push_back(u.isColor ? f.clone() : f);
    }
    bool usedTemplates = false;
    for (int r = 0; r < count; ++r) {
        const int code = p.roiFunction[g][r];
        if ((code != kDefect && code != kSimilarity) || !usableMask(u.roiMask[g][r]))
            continue;
        const RoiWindow win = roiWindow(p, u.roiMask[g][r], g, r);
        if (win.empty())
            continue;
        const cv::Mat effective = u.roiMask[g][r](win.inMask) & groupMask[g](win.rect);
        const int sensitivity = p.roiSensitivity[g][r];
        if (code == kSimilarity) {
            surfModel[g][r].Create(win.rect.width, win.rect.height, effective.clone());
            for (const cv::Mat& f : templates)
                surfModel[g][r].AddTemp(f(win.rect).clone(), 1, 50, sensitivity);
            surfModel[g][r].Train(0, 0, 0, 0);
        } else {
            grayModel[g][r].Create(win.rect.width, win.rect.height, effective, w.defectEdgeIgnore);
            for (const cv::Mat& f : templates)
                grayModel[g][r].AddTemp(f(win.rect));
            grayModel[g][r].Train(sensitivity, w.amplify, 100, 150);
        }
        usedTemplates = usedTemplates || !templates.empty();
    }
    if (usedTemplates)
        templateNorm[g] = cv::norm(templates.back(), cv::NORM_L2);
}

void CammerRecong::CreateShape(int g)
{
    if (!validGroup(g) || !gpWPara || !pParam || !pCamWidget)
        return;
    const WizardPara& w = *gpWPara;
    CameraUnitState& u = *pCamWidget;
    if (w.motionCorrect == kMotionOff || u.isColor)
        return;
    unsigned char* slot0 = u.templateFrame(g, 0);
    if (!slot0)
        return;
    const CammerSingleton& p = *pParam;
    cv::Rect box;
    cv::Mat mask;
    for (int r = 0; r < std::min(p.roiCount[g], kRois); ++r) {
        if (p.roiFunction[g][r] != kPosition)
            continue;
        // Its box decides; a missing mask leaves the whole box to the model.
        const RoiWindow win = roiWindow(p, u.roiMask[g][r], g, r);
        if (!win.empty()) {
            box = win.rect;
            if (usableMask(u.roiMask[g][r]))
                mask = u.roiMask[g][r](win.inMask);
        }
        break;
    }
    if (box.empty()) {
        box = cv::Rect(u.imageW / 4, u.imageH / 4, u.imageW / 2, u.imageH / 2);
        mask = cv::Mat(box.size(), CV_8UC1, cv::Scalar(255));
    }
    shapeCentreX[g] = box.x + box.width / 2;
    shapeCentreY[g] = box.y + box.height / 2;

    int contrast = kAutoContrast;
    int layers = w.zoomLayers;
    if (w.offset <= kAutoOffset)
        layers = w.zoomLayers ? w.zoomLayers : kDefaultLayers;
    else if (w.offset <= kFixedContrastEnd)
        contrast = w.offset - kAutoOffset;
    else
        contrast = kLowContrast;
    const int range = (w.angle >= 1 && w.angle <= kMaxAngle) ? w.angle : w.motionCorrect;
    const cv::Mat templ(u.imageH, u.imageW, CV_8UC1, slot0);
    shapeModel[g].CreateShape(templ(box), 0.0, 0, range, shapeCentreX[g], shapeCentreY[g], false, contrast, mask,
                              w.matchAccuracy, layers);
    const cv::Rect search(box.x - w.offset, box.y - w.offset, box.width + 2 * w.offset, box.height + 2 * w.offset);
    shapeRect[g] = search & cv::Rect(0, 0, u.imageW, u.imageH);
    if (shapeRect[g].empty())
        shapeRect[g] = cv::Rect();
}

void CammerRecong::CreateHomoShape(int g)
{
    if (!validGroup(g) || !gpWPara || !pParam || !pCamWidget)
        return;
    CameraUnitState& u = *pCamWidget;
    if (gpWPara->angleCorrection == 0 || u.isColor)
        return;
    unsigned char* slot0 = u.templateFrame(g, 0);
    if (!slot0)
        return;
    const CammerSingleton& p = *pParam;
    const cv::Mat image(u.imageH, u.imageW, CV_8UC1, slot0);
    cv::Mat mask = cv::Mat::zeros(u.imageH, u.imageW, CV_8UC1);
    bool lastUsable = false;
    bool any = false;
    for (int r = 0; r < std::min(p.roiCount[g], kRois); ++r) {
        if (p.roiFunction[g][r] != kAngleCorrection)
            continue;
        any = true;
        const RoiWindow win = roiWindow(p, u.roiMask[g][r], g, r);
        lastUsable = !win.empty();
        if (lastUsable && usableMask(u.roiMask[g][r]))
            u.roiMask[g][r](win.inMask).copyTo(mask(win.rect));
    }
    if (!any || !lastUsable)
        mask(cv::Rect(u.imageW / 4, u.imageH / 4, 3 * u.imageW / 4, 3 * u.imageH / 4)).setTo(255);
    homoTrans[g].setTemplate(image, mask, kMinHomoFeatures);
}

int CammerRecong::HomoTransShape(int g)
{
    if (!pCamWidget)
        return 1;
    CameraUnitState& u = *pCamWidget;
    const bool align = validGroup(g) && gpWPara && gpWPara->angleCorrection != 0 && !u.isColor;
    if (align) {
        const cv::Mat src(u.imageH, u.imageW, CV_8UC1, u.pCaptureBuf);
        cv::Mat dst(u.imageH, u.imageW, CV_8UC1, u.pAlignBuf);
        if (homoTrans[g].transImageHomo(src, dst, kHomoMatchConf) && dst.data == u.pAlignBuf)
            return 1;
    }
    std::memcpy(u.pAlignBuf, u.pCaptureBuf, size_t(u.frameBytes));
    return 1;
}

void CammerRecong::ShapeMatch(int g)
{
    if (!pCamWidget)
        return;
    CameraUnitState& u = *pCamWidget;
    if (!validGroup(g) || !gpWPara || gpWPara->motionCorrect == kMotionOff || !shapeModel[g].IsValid() ||
        u.isColor || shapeRect[g].empty()) {
        std::memcpy(u.pCheckBuf, u.pAlignBuf, size_t(u.frameBytes));
        return;
    }
    const cv::Mat aligned(u.imageH, u.imageW, CV_8UC1, u.pAlignBuf);
    cv::Mat checked(u.imageH, u.imageW, CV_8UC1, u.pCheckBuf);
    cv::Mat search = aligned(shapeRect[g]);  // a view: the model only reads it
    QElapsedTimer timer;
    timer.start();
    int x = 0, y = 0;
    double angle = 0, score = 0;
    if (!shapeModel[g].Find(search, 0, &x, &y, &angle, &score)) {
        qInfo() << "NG运行时间" << timer.elapsed();
        std::memcpy(u.pCheckBuf, u.pAlignBuf, size_t(u.frameBytes));
        return;
    }
    const int dx = x - shapeRect[g].x;
    const int dy = y - shapeRect[g].y;
    if (gpWPara->angle >= 1 && gpWPara->angle <= kMaxAngle)
        TransformImage(aligned, checked, cv::Point(dx, dy), cv::Point(shapeCentreX[g], shapeCentreY[g]), angle);
    else
        MoveImage(aligned, checked, dx, dy);
    qInfo() << "OK运行时间" << timer.elapsed() << "x: " << dx << "y: " << dy << "a: " << angle;
}
