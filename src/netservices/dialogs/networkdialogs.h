#pragma once

#include <functional>

class QWidget;

// How the settings screen opens the network dialogs, and the hooks the
// application wires at start-up.
namespace NetDialogs {

// Creates the network settings dialog once (gpNetDialog) and runs it; an
// accepted run applies the service switches. Returns the dialog's result.
int openNetworkSettings();
// Opens the download dialog on parent, or tells the operator the server
// cannot be reached. Returns the dialog's result (0 when it did not open).
int openVersionDownload(QWidget* parent);

// Installs the wait dialog for the card manager's shell jobs and the poll's
// check of the settings dialog; called once before either dialog is used.
void install();

// Called when a card edit was accepted: stops the application's long-touch
// calibration hold (set by the application).
void setTouchHoldStop(std::function<void()> stop);
void stopTouchHold();

} // namespace NetDialogs
