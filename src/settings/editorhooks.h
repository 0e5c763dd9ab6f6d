#pragma once

class MainWindowBase;

// Connects the camera units' hooks for the ROI editor and the settings screen
// to the screens of a main window. The screens are looked up at each call, so
// they may be built after the wiring or replaced.
namespace EditorHooks {

void wire(MainWindowBase* window);
void unwire();

} // namespace EditorHooks
