#pragma once

#include "warnbox.h"

// The production-count alarm: OK clears the alarm outputs and the count.
class ProductAlarmWarnBox : public WarnBox
{
    Q_OBJECT
public:
    explicit ProductAlarmWarnBox(QWidget* parent);

public slots:
    void accept() override;
};
