#include "roifunctiontable.h"

#include "cammersingleton.h"

#include <QtGlobal>

namespace RoiFunctionTable {
namespace {

using P = RoiParamField;
constexpr int kReserved = 16;
constexpr int kNoHigh = -1;

const RoiFunctionInfo kFunctions[kFunctionCount] = {
    {25, {{23, kNoHigh, 0, 100, P::Whole}, {24, kNoHigh, 0, 1000, P::Whole}, {22, kNoHigh, 1, 10, P::Whole}}},
    {15, {{13, kNoHigh, 0, 999999, P::Whole}, {14, kNoHigh, 0, 999999, P::Whole}, {10, 11, 0, 255, P::Bytes}}},
    {17, {{kReserved, kNoHigh, 0, 255, P::Whole}, {kReserved, kNoHigh, 0, 255, P::Whole}, {kReserved, kNoHigh, 0, 255, P::Whole}}},
    {21, {{kReserved, kNoHigh, 0, 100, P::Whole}, {kReserved, kNoHigh, 0, 10, P::Whole}, {kReserved, kNoHigh, 0, 10, P::Whole}}},
    {392, {{11, kNoHigh, 0, 255, P::Whole}, {13, kNoHigh, 0, 50000, P::Whole}, {14, kNoHigh, 0, 50000, P::Whole}}},
    {393, {{10, kNoHigh, 0, 255, P::Whole}, {13, kNoHigh, 0, 50000, P::Whole}, {14, kNoHigh, 0, 50000, P::Whole}}},
    {398, {{362, kNoHigh, 0, 100, P::Whole}, {24, kNoHigh, 0, 50000, P::Whole}, {kReserved, kNoHigh, 0, 255, P::Whole}}},
    {521, {{10, kNoHigh, 0, 255, P::Whole}, {627, 628, 0, 100, P::Halves}, {22, kNoHigh, 1, 100, P::Whole}}},
    {626, {{11, kNoHigh, 0, 255, P::Whole}, {627, 628, 0, 100, P::Halves}, {22, kNoHigh, 1, 100, P::Whole}}},
    {710, {{743, 742, 0, 255, P::Halves}, {745, 744, 0, 255, P::Halves}, {747, 746, 0, 255, P::Halves}}},
    {583, {{kReserved, kNoHigh, 1, 2, P::Whole}, {kReserved, kNoHigh, 1, 2, P::Whole}, {kReserved, kNoHigh, 1, 2, P::Whole}}},
};

int bitsOf(P::Packing packing) { return packing == P::Bytes ? 8 : 16; }

}  // namespace

const RoiFunctionInfo& info(int code)
{
    return kFunctions[(code >= 0 && code < kFunctionCount) ? code : 0];
}

int part(int word, RoiParamField::Packing packing, bool high)
{
    if (packing == P::Whole)
        return word;
    const int bits = bitsOf(packing);
    const unsigned mask = (1u << bits) - 1u;
    return static_cast<int>((static_cast<unsigned>(word) >> (high ? bits : 0)) & mask);
}

int withPart(int word, RoiParamField::Packing packing, bool high, int value)
{
    if (packing == P::Whole)
        return value;
    const int bits = bitsOf(packing);
    const int shift = high ? bits : 0;
    const unsigned mask = ((1u << bits) - 1u) << shift;
    const unsigned placed = (static_cast<unsigned>(value) << shift) & mask;
    return static_cast<int>((static_cast<unsigned>(word) & ~mask) | placed);
}

void syncParam(CammerSingleton& store, int group, int roi)
{
    if (group < 0 || group >= CammerSingleton::kGroups || roi < 0 || roi >= store.roiCount[group])
        return;
    const int code = store.roiFunction[group][roi];
    const RoiFunctionInfo& fn = info(code);
    int* words[3] = {store.roiSensitivity[group], store.roiArea[group], store.roiMinWH[group]};
    const int cached[3] = {store.selectedSensitivity, store.selectedArea, store.selectedMinWH};
    const int count = qBound(0, store.roiCount[group], static_cast<int>(CammerSingleton::kMaxRois));

    for (int f = 0; f < 3; ++f) {
        const RoiParamField& field = fn.field[f];
        const int parts = field.packing == P::Whole ? 1 : 2;
        for (int pi = 0; pi < parts; ++pi) {
            const bool high = pi == 1;
            const long long diff = static_cast<long long>(part(words[f][roi], field.packing, high))
                                   - part(cached[f], field.packing, high);
            if (diff == 0)
                continue;
            for (int r = 0; r < count; ++r) {
                if (r == roi || r == store.selectedRoi || store.roiFunction[group][r] != code)
                    continue;
                const long long moved = part(words[f][r], field.packing, high) + diff;
                const int value = static_cast<int>(qBound<long long>(field.min, moved, field.max));
                words[f][r] = withPart(words[f][r], field.packing, high, value);
            }
        }
    }
    store.setSelectRoi(roi);
}

}  // namespace RoiFunctionTable
