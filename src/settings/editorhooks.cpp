#include "editorhooks.h"

#include "cameraunithooks.h"
#include "drawroiwidget.h"
#include "mainwindowbase.h"
#include "wizardparawidget.h"

namespace EditorHooks {

void wire(MainWindowBase* window)
{
    CameraUnitHooks& hooks = CameraUnitHooks::instance();
    hooks.settingsScreenShown = [window] {
        return window->pWizardParaWidget && window->pWizardParaWidget->isVisible();
    };
    hooks.editorCameraChosen = [window](int camera) {
        if (window->pDrawROIWidget)
            window->pDrawROIWidget->setCameraChoice(camera);
    };
    hooks.editorToolRestarted = [window](EditorTool tool) {
        DrawROIWidget* editor = window->pDrawROIWidget;
        if (!editor)
            return;
        switch (tool) {
        case EditorTool::Rect: editor->SlotDrawRect(); break;
        case EditorTool::Circle: editor->SlotDrawCircle(); break;
        case EditorTool::Polygon: editor->SlotDrawPloygn(); break;
        case EditorTool::Hand: editor->SlotDrawHand(); break;
        }
    };
    hooks.editorPolygonStarted = [window] {
        if (window->pDrawROIWidget)
            window->pDrawROIWidget->startDrawPloygn();
    };
    hooks.recordBrowser = [window]() -> std::optional<RecordBrowserView> {
        const DrawROIWidget* editor = window->pDrawROIWidget;
        if (!editor)
            return std::nullopt;
        RecordBrowserView view;
        view.image = editor->recordImage;
        view.text = editor->recordText;
        view.camera = editor->recordCamera;
        view.count = editor->recordCount;
        view.index = editor->recordIndex;
        return view;
    };
}

void unwire()
{
    CameraUnitHooks& hooks = CameraUnitHooks::instance();
    hooks.settingsScreenShown = nullptr;
    hooks.editorCameraChosen = nullptr;
    hooks.editorToolRestarted = nullptr;
    hooks.editorPolygonStarted = nullptr;
    hooks.recordBrowser = nullptr;
}

} // namespace EditorHooks
