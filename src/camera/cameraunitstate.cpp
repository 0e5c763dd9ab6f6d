#include "cameraunitstate.h"

#include <cstring>

unsigned char* CameraUnitState::newBuffer(size_t bytes)
{
    return m_storage.add(bytes);
}

void CameraUnitState::allocateBuffers(int width, int height, bool color, int templateSlots)
{
    m_storage.clear();
    imageW = width > 0 ? width : 0;
    imageH = height > 0 ? height : 0;
    isColor = color;
    imagePixels = imageW * imageH;
    frameBytes = color ? 4 * imagePixels : imagePixels;
    pCaptureBuf = newBuffer(frameBytes);
    pAlignBuf = newBuffer(frameBytes);
    pCheckBuf = newBuffer(frameBytes);
    pGrayBuf = newBuffer(imagePixels);
    pSensMask = newBuffer(imagePixels);
    for (int g = 0; g < kGroups; ++g) {
        pIgnoreMask[g] = newBuffer(imagePixels);
        pTemplate[g].assign(templateSlots > 0 ? templateSlots : 0, nullptr);
        for (unsigned char*& t : pTemplate[g])
            t = newBuffer(frameBytes);
        pTemplateValid[g].assign(pTemplate[g].size(), 0);
        templateCount[g] = 0;
    }
}

unsigned char* CameraUnitState::templateFrame(int group, int slot) const
{
    if (group < 0 || group >= kGroups || slot < 0 || slot >= int(pTemplate[group].size()))
        return nullptr;
    return pTemplate[group][slot];
}
