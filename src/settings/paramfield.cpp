#include "paramfield.h"

#include "wizardpara.h"
#include "cammerwidget.h"

namespace {

using P = ParamField;
using W = WizardPara;

constexpr int kMaxTenths = 10000;
constexpr int kMaxCount = 20000;
constexpr int kMaxLong = 100000000;
constexpr int kTrigModeRows[] = {813, 814, 815, 816};
constexpr int kStageRows[] = {477, 478, 479, 480};
// Input 4 / output 4: alone (reserve), or together with input or output 1..3.
constexpr int kInputShareRows[] = {304, 301, 302, 303};
constexpr int kOutputShareRows[] = {304, 305, 306, 307};

P edit(int row, P::Page page, P::Scalar field, int min, int max)
{
    P f;
    f.row = row;
    f.page = page;
    f.scalar = field;
    f.min = min;
    f.max = max;
    return f;
}

P check(int row, P::Page page, P::Scalar field)
{
    P f = edit(row, page, field, 0, 1);
    f.control = P::Check;
    return f;
}

P combo(int row, P::Page page, P::Scalar field, const int* rows, int count)
{
    P f = edit(row, page, field, 0, count - 1);
    f.control = P::Combo;
    f.choiceRows = rows;
    return f;
}

P camera(int row, P::CameraArray field, int min, int max, P::UnitSetter live, P::Control control = P::Edit)
{
    P f;
    f.row = row;
    f.control = control;
    f.perCamera = field;
    f.min = min;
    f.max = control == P::Check ? 1 : max;
    f.live = live;
    return f;
}

P element(int row, P::Page page, P::CameraArray field, int index)
{
    P f = check(row, page, nullptr);
    f.element = field;
    f.index = index;
    return f;
}

P detectElement(int row, P::Page page, P::DetectArray field, int index, int min, int max)
{
    P f = edit(row, page, nullptr, min, max);
    f.perDetect = field;
    f.index = index;
    return f;
}

P shownWhen(P f, bool (*shown)(const W&))
{
    f.shown = shown;
    return f;
}

P restart(P f)
{
    f.needsRestart = true;
    return f;
}

// The mode chosen for the next start decides which detection fields matter.
int modeShown(const W& w) { return w.trigModeNext; }
bool twoStage(const W& w) { return modeShown(w) == 1 || modeShown(w) == 2; }
bool multiDetect(const W& w) { return modeShown(w) == 3; }
int detections(const W& w) { return multiDetect(w) ? w.detectCount : twoStage(w) ? 4 : 2; }

template <int D>
bool delayShown(const W& w) { return D < detections(w); }

template <int D>
int delayRow(const W& w)
{
    if (D == 0)
        return multiDetect(w) ? 508 : 161;
    if (D == 1)
        return multiDetect(w) ? 509 : 162;
    return 485 + D - 2;
}

template <int D>
P delay()
{
    P f = detectElement(0, P::DetectionPage, &W::trigInDelay, D, 0, kMaxTenths);
    f.shown = &delayShown<D>;
    f.captionRow = &delayRow<D>;
    return f;
}

std::vector<P> buildTable()
{
    using CW = CammerWidget;
    // The detections and their inputs are derived when the record is loaded at start.
    P prodDetect = restart(check(175, P::DetectionPage, &W::enableProdDetect));
    prodDetect.captionRow = [](const W& w) { return multiDetect(w) ? 510 : 175; };
    P motion = check(176, P::RecognitionPage, &W::motionCorrect);
    motion.shownOffset = 1;  // stored -1 off, 0 on

    return {
        // Camera image of the camera shown; the live setters reach it at once.
        camera(164, &W::exposeTime, 0, kMaxTenths, &CW::SetExposeTime),
        camera(165, &W::adjustPlus, 0, kMaxTenths, &CW::SetAdjustPlus),
        camera(679, &W::sharp, 0, kMaxTenths, &CW::SetSharp),
        camera(680, &W::contrast, 0, kMaxTenths, &CW::SetContrast),
        camera(364, &W::gamma, 0, kMaxTenths, &CW::SetGamma),
        camera(681, &W::saturation, 0, 255, &CW::SetSaturation),
        camera(682, &W::noise3D, 0, 255, &CW::Set3DNoise),
        camera(683, &W::noise2D, 0, 1, &CW::Set2DNoise, P::Check),
        camera(617, &W::mirrorH, 0, 1, &CW::SetHMirror, P::Check),
        camera(618, &W::mirrorV, 0, 1, &CW::SetVMirror, P::Check),
        restart(camera(270, &W::isColors, 0, 1, nullptr, P::Check)),
        [] { P f = check(388, P::CameraPage, &W::autoShading); f.live = &CW::SetWDR; return f; }(),
        edit(244, P::CameraPage, &W::speed, 0, 100),
        restart(check(271, P::CameraPage, &W::grayChannel)),
        check(337, P::CameraPage, &W::noLensOptimization),
        check(624, P::CameraPage, &W::separateSampling),

        // Detection and triggers.
        restart(combo(812, P::DetectionPage, &W::trigModeNext, kTrigModeRows, 4)),
        restart(shownWhen(combo(817, P::DetectionPage, &W::stageGroups, kStageRows, 4), twoStage)),
        restart(shownWhen(edit(818, P::DetectionPage, &W::detectCount, 2, 8), multiDetect)),
        delay<0>(), delay<1>(), delay<2>(), delay<3>(), delay<4>(), delay<5>(), delay<6>(), delay<7>(),
        prodDetect,
        restart(check(174, P::DetectionPage, &W::semiAuto)),
        edit(166, P::DetectionPage, &W::preCutTime, 0, kMaxTenths),
        edit(167, P::DetectionPage, &W::recheckTimes, 0, kMaxTenths),
        edit(702, P::DetectionPage, &W::recheckDelay, 0, kMaxTenths),
        edit(685, P::DetectionPage, &W::reInspectionDelay, 0, kMaxTenths),
        edit(524, P::DetectionPage, &W::shakeEraseTime, 0, kMaxTenths),
        edit(336, P::DetectionPage, &W::inputTime, 0, kMaxLong),
        edit(630, P::DetectionPage, &W::shieldPin, 0, kMaxTenths),
        check(265, P::DetectionPage, &W::safetyDoorTrigger),
        check(623, P::DetectionPage, &W::separateDetectSignal),
        check(688, P::DetectionPage, &W::inputResetRecheck),
        check(760, P::DetectionPage, &W::recheckAllCameras),
        check(629, P::DetectionPage, &W::prodNgSkipRecheck),
        check(677, P::DetectionPage, &W::noDetectModeRelease),
        check(519, P::DetectionPage, &W::externalTrigger),
        check(690, P::DetectionPage, &W::resampleWithoutCut),

        // Outputs and interlocks.
        edit(168, P::OutputPage, &W::ejectorPulse, 0, kMaxTenths),
        edit(169, P::OutputPage, &W::clampPulse, 0, kMaxTenths),
        edit(667, P::OutputPage, &W::output4Pulse, 0, kMaxTenths),
        restart(edit(269, P::OutputPage, &W::ioPort, 0, 100)),
        // The IO board link takes its sharing of input and output 4 when it opens.
        restart(combo(203, P::OutputPage, &W::input4Use, kInputShareRows, 4)),
        restart(combo(334, P::OutputPage, &W::output4Use, kOutputShareRows, 4)),
        check(202, P::OutputPage, &W::okNgOutputPulses),
        check(178, P::OutputPage, &W::cutEjectorWhenClamping),
        check(179, P::OutputPage, &W::stopClampOnStop),
        check(193, P::OutputPage, &W::cutClampAfterMoldOk),
        check(513, P::OutputPage, &W::cutEjectorAfterProdOk),
        check(515, P::OutputPage, &W::cutEjectorOnProdAlarm),
        check(562, P::OutputPage, &W::cutClampOnMoldAlarm),
        check(192, P::OutputPage, &W::noEjectorInProd),
        check(190, P::OutputPage, &W::ejectorPulseNgNoAlarm),
        check(659, P::OutputPage, &W::cavityNgPulse),
        check(666, P::OutputPage, &W::outputOnCavityNg),
        check(686, P::OutputPage, &W::prodNgNoEjector),
        check(689, P::OutputPage, &W::noAlarmSoundOnNg),
        check(687, P::OutputPage, &W::noEjectorOnStop),
        check(751, P::OutputPage, &W::stopCutOutput4),
        check(756, P::OutputPage, &W::prodAlarmOutputO5),
        check(757, P::OutputPage, &W::cavityAlarmOutputO4),
        check(195, P::OutputPage, &W::safetyDoorClearsAlarm),
        restart([] { P f = detectElement(273, P::OutputPage, &W::outInitState, 0, 0, 1); f.control = P::Check; return f; }()),
        restart([] { P f = detectElement(274, P::OutputPage, &W::outInitState, 1, 0, 1); f.control = P::Check; return f; }()),
        restart([] { P f = detectElement(275, P::OutputPage, &W::outInitState, 2, 0, 1); f.control = P::Check; return f; }()),
        restart([] { P f = detectElement(281, P::OutputPage, &W::outInitState, 3, 0, 1); f.control = P::Check; return f; }()),

        // Recognition.
        edit(22, P::RecognitionPage, &W::filterSize, 1, 100),
        edit(24, P::RecognitionPage, &W::area, 1, 1000),
        edit(181, P::RecognitionPage, &W::minSpot, 1, 100),
        edit(188, P::RecognitionPage, &W::amplify, 0, 4),
        edit(213, P::RecognitionPage, &W::offset, 1, 8255),
        edit(663, P::RecognitionPage, &W::matchAccuracy, 0, 10),
        edit(664, P::RecognitionPage, &W::zoomLayers, 0, 10),
        edit(403, P::RecognitionPage, &W::angle, 0, 180),
        edit(707, P::RecognitionPage, &W::minColorArea, 1, 100000),
        edit(708, P::RecognitionPage, &W::maxColorArea, 1, 100000),
        restart(edit(185, P::RecognitionPage, &W::tempNumber, 1, 100)),
        motion,
        check(583, P::RecognitionPage, &W::angleCorrection),
        check(582, P::RecognitionPage, &W::matchBrightness),
        check(196, P::RecognitionPage, &W::enableDefect),
        check(197, P::RecognitionPage, &W::enableSpot),
        check(198, P::RecognitionPage, &W::enableIgnoreArea),
        check(199, P::RecognitionPage, &W::enableManualLocate),
        check(390, P::RecognitionPage, &W::enableBlackArea),
        check(391, P::RecognitionPage, &W::enableWhiteArea),
        check(520, P::RecognitionPage, &W::enableWhiteNumber),
        check(625, P::RecognitionPage, &W::enableBlackNumber),
        check(706, P::RecognitionPage, &W::enableColorSpots),
        check(397, P::RecognitionPage, &W::enableSimilarity),
        element(692, P::RecognitionPage, &W::ngTemplate, 0),
        element(693, P::RecognitionPage, &W::ngTemplate, 1),
        check(622, P::RecognitionPage, &W::addAllTemplates),
        check(400, P::RecognitionPage, &W::templateAutoUpdate),

        // Screen and records.
        edit(186, P::ScreenPage, &W::ngRecordNum, 0, kMaxCount),
        edit(187, P::ScreenPage, &W::okRecordNum, 0, kMaxCount),
        edit(243, P::ScreenPage, &W::screenOffTime, 0, 9999),
        edit(189, P::ScreenPage, &W::autoLogout, 0, kMaxTenths),
        edit(662, P::ScreenPage, &W::okMoldNumber, 0, kMaxLong),
        check(200, P::ScreenPage, &W::showAllParams),
        check(470, P::ScreenPage, &W::realTimeRoi),
        check(272, P::ScreenPage, &W::manualSnapshot),
        check(254, P::ScreenPage, &W::factoryParams),
        check(554, P::ScreenPage, &W::useStatistics),
        check(558, P::ScreenPage, &W::useLog),
        check(621, P::ScreenPage, &W::suppressRefreshAfterAlarm),
        check(671, P::ScreenPage, &W::continuationArea),
        check(676, P::ScreenPage, &W::rectToQuad),
        check(694, P::ScreenPage, &W::continuousReplication),
        restart(check(696, P::ScreenPage, &W::imageZoom)),  // the zoom slider is made with the main window
        check(697, P::ScreenPage, &W::polygonOpenStart),
        check(762, P::ScreenPage, &W::showDetectTime),
        check(658, P::ScreenPage, &W::cameraDisconnect),

        // Passwords (the password text itself has its own edit).
        check(170, P::PasswordPage, &W::isPswUsed),
        check(194, P::PasswordPage, &W::pswNoDetect),
        check(341, P::PasswordPage, &W::pswAddTemplate),
        check(556, P::PasswordPage, &W::pswStopDetect),
    };
}

}  // namespace

int& ParamField::ref(WizardPara& para, int camera) const
{
    if (scalar)
        return para.*scalar;
    if (perCamera)
        return (para.*perCamera)[camera];
    if (perDetect)
        return (para.*perDetect)[index];
    return (para.*element)[index];
}

int ParamField::value(const WizardPara& para, int camera) const
{
    return ref(const_cast<WizardPara&>(para), camera);
}

const std::vector<ParamField>& paramFields()
{
    static const std::vector<ParamField> table = buildTable();
    return table;
}
