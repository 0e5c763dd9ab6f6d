#pragma once

// The plain state of one camera unit that the recognition engine works on:
// sizes, frame buffers, masks, templates and the results of the last check.
// The camera unit (CammerWidget) derives from it; tests fill one with
// synthetic frames. Large (the NG box table alone is 1.3 MB): allocate it on
// the heap.

#include "roimaskowner.h"
#include "zeroedbuffers.h"

#include <functional>
#include <vector>

class CammerSingleton;

// NG boxes of one ROI: entry 0 holds the box count in its first int, entries
// 1..count the boxes {x1, y1, x2, y2} in image coordinates, right and bottom
// edges exclusive.
struct NgBoxList
{
    static constexpr int kEntries = 100;
    static constexpr int kMaxBoxes = kEntries - 1;

    int entry[kEntries][4] = {};

    int count() const { return entry[0][0]; }
    void clear() { entry[0][0] = 0; }
};

class CameraUnitState : public RoiMaskOwner
{
public:
    CameraUnitState() = default;
    CameraUnitState(const CameraUnitState&) = delete;
    CameraUnitState& operator=(const CameraUnitState&) = delete;

    // Allocates every buffer once for the camera's image size (frames of
    // 1 byte per pixel, or 4 for colour; templateSlots templates per group),
    // all zero, and sets the sizes. Called once, at construction of the unit.
    void allocateBuffers(int width, int height, bool color, int templateSlots);

    // Template slot t of group g; null when the slot does not exist.
    unsigned char* templateFrame(int group, int slot) const;

    CammerSingleton* pSingleton = nullptr;      // active ROI parameters
    CammerSingleton* pSingletonEdit = nullptr;  // edited ROI parameters
    int camIndex = 0;
    bool isColor = false;
    int imageW = 0;
    int imageH = 0;
    int imagePixels = 0;
    int frameBytes = 0;

    unsigned char* pCaptureBuf = nullptr;  // newest frame
    unsigned char* pAlignBuf = nullptr;    // after alignment
    unsigned char* pCheckBuf = nullptr;    // after positioning: the checked frame
    unsigned char* pGrayBuf = nullptr;     // grey or hue plane of a colour frame
    unsigned char* pSensMask = nullptr;    // defect pixels of the last check or preview

    bool roiResult[kGroups][kRois] = {};
    bool camOK = true;
    int roiValue[kGroups][kRois] = {};
    NgBoxList ngBoxes[kGroups][kRois];
    bool isSensPreview = false;

    unsigned char* pIgnoreMask[kGroups] = {};               // 255 at ignore points
    std::vector<unsigned char*> pTemplate[kGroups];         // template frames
    int templateCount[kGroups] = {};
    int curTemplate = 0;                                    // template shown by the ROI editor
    std::vector<int> pTemplateValid[kGroups];               // 1 where a template is present

    // Asks the unit's view to repaint (the preview's result changed).
    std::function<void()> requestRepaint;

private:
    unsigned char* newBuffer(size_t bytes);

    ZeroedBuffers m_storage;
};
