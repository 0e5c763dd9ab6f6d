#pragma once

class MainWindowBase;

// The lower libraries reach the screens and services above them only through
// hooks; the main window sets them all here while it is built and clears them
// when it goes.
namespace HookWiring {

void wire(MainWindowBase* window);
void unwire();

} // namespace HookWiring
