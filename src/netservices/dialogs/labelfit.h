#pragma once

class QLabel;
class QWidget;

// The dialogs' style sheet fixes the label font size, so long translations
// are fitted by a smaller size in the label's own style instead of being cut.
namespace LabelFit {

constexpr int kDialogTextPixels = 26;

void fit(QLabel* label, int width, int pixelSize = kDialogTextPixels);
// The title of every IPv4 editor below root.
void fitIpTitles(QWidget* root);

} // namespace LabelFit
