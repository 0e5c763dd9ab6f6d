#include "roifunctiontable.h"

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

}  // namespace RoiFunctionTable
