#pragma once

// What the three parameters of a ROI mean for each detection function: the
// slider rows, ranges and how a packed word is split. One table serves the
// parameter panel and the parameter sync of the ROI store.
struct RoiParamField
{
    enum Packing { Whole, Bytes, Halves };  // Bytes: bits 0-7 / 8-15; Halves: bits 0-15 / 16-31

    int row;      // language row of the slider (low part when packed)
    int rowHigh;  // language row of the high part, -1 when not packed
    int min;
    int max;
    Packing packing;
};

struct RoiFunctionInfo
{
    int nameRow;
    RoiParamField field[3];  // sensitivity, area, minimum width/height
};

namespace RoiFunctionTable {

constexpr int kFunctionCount = 11;
enum Field { Sensitivity = 0, Area = 1, MinWH = 2 };

// A code outside 0..10 reads as code 0.
const RoiFunctionInfo& info(int code);
// The low (high = false) or high part of a packed word; the word itself when Whole.
int part(int word, RoiParamField::Packing packing, bool high);
// The word with one part replaced, the other bits kept.
int withPart(int word, RoiParamField::Packing packing, bool high, int value);

}  // namespace RoiFunctionTable
