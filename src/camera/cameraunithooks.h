#pragma once

#include <QImage>
#include <QString>
#include <functional>
#include <optional>

struct param_roi;

// What the ROI editor's record browser shows on a camera unit.
struct RecordBrowserView
{
    QImage image;
    QString text;
    int camera = 0;
    int count = 0;
    int index = 0;
};

// The drawing tools a double tap restarts in the ROI editor.
enum class EditorTool { Rect, Circle, Polygon, Hand };

// The recognition engine and the camera units sit below the network hub, the
// ROI editor and the settings screen; they reach them only through these
// hooks, which the application sets at start-up. An unset hook does nothing
// (or answers "no editor, no settings screen").
struct CameraUnitHooks
{
    // Every ROI result of a check, for the network hub's result cache.
    std::function<void(const param_roi& result)> publishRoiResult;
    // True while the settings screen is shown: the units then read the edited settings.
    std::function<bool()> settingsScreenShown;
    // A touch on the alarm view chose this camera for the editor.
    std::function<void(int camera)> editorCameraChosen;
    // A double tap finished the shape in progress: draw on with the same tool.
    std::function<void(EditorTool tool)> editorToolRestarted;
    // The first press of a new polygon outline.
    std::function<void()> editorPolygonStarted;
    // The record browser's picture and captions; nothing when no editor exists.
    std::function<std::optional<RecordBrowserView>()> recordBrowser;

    static CameraUnitHooks& instance();
};
