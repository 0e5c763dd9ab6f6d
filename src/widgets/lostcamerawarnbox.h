#pragma once

#include "warnbox.h"

// Shown when a camera is lost and the lost-camera parameter is set: its only
// button powers the box off after recording why.
class LostCameraWarnBox : public WarnBox
{
    Q_OBJECT
public:
    explicit LostCameraWarnBox(QWidget* parent);

public slots:
    void accept() override;
};
