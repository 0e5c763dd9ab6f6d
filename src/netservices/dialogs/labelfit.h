#pragma once

class QLabel;
class QPushButton;
class QWidget;

// The dialogs' style sheet fixes the label font size, so long translations
// are fitted by a smaller size in the label's own style instead of being cut.
namespace LabelFit {

constexpr int kDialogTextPixels = 26;

// Smaller, and on two lines where one would still be cut.
void fit(QLabel* label, int width, int pixelSize = kDialogTextPixels);
// Widens a button whose text would be cut.
void fitWidth(QPushButton* button, int padding = 16);
// The title of every IPv4 editor below root.
void fitIpTitles(QWidget* root);

} // namespace LabelFit
