#pragma once

// One ROI's inspection result as the network side reports it. The field order
// is the record's wire order.
struct param_roi
{
    int camera = 0;
    int group = 0;     // detection index
    int roi = 0;
    int function = 0;  // detection function 0..10
    int value = 0;     // measured value
    int param1 = -1;
    int param2 = -1;
    int param3 = -1;
    int result = 1;    // non-zero OK, 0 NG
};
