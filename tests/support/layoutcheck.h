#pragma once

#include <QRect>
#include <QStringList>
#include <functional>

class QWidget;

// Finds what an operator could not read on a drawn screen. Each fault is one
// readable line naming the widget (object name or class, and its text).

// Texts of shown labels, buttons, check boxes and combo boxes that need more
// room than their widget gives them (font metrics, word wrap, rich text,
// margins and style sheet padding taken into account).
QStringList cutTexts(QWidget* top);

// Shown widgets that lie outside their shown parent (scrolled contents
// excepted) or outside `screen`, and shown controls that lie under another
// shown control or under a sibling stacked above them. `mayOverlap` names
// the pairs that are meant to overlap (e.g. an overlay on a picture).
using OverlapAllowed = std::function<bool(const QWidget* lower, const QWidget* upper)>;
QStringList strayWidgets(QWidget* top, const QRect& screen, const OverlapAllowed& mayOverlap = {});

// Both of the above.
QStringList layoutFaults(QWidget* top, const QRect& screen, const OverlapAllowed& mayOverlap = {});
