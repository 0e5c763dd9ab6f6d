#pragma once

// The ROI parameters of one camera: for each of 8 detection groups up to 100
// ROIs with their inspection parameters and shapes, stored in the table
// "cammer%1" of "PARAM.db". A plain value: the camera unit keeps an active
// and an edit copy and copies one over the other whole.

#include "circle.h"
#include "clustomrect.h"
#include "repolygon.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

class RoiMaskOwner;

class CammerSingleton
{
public:
    static constexpr int kGroups = 8;
    static constexpr int kMaxRois = 100;
    static constexpr int kGroupRecordSize = 8;
    static constexpr int kShapeRect = 1;
    static constexpr int kShapePolygon = 2;
    static constexpr int kShapeCircle = 4;
    static constexpr int kHandPolygonWord = 258;

    CammerSingleton(int camIndex, RoiMaskOwner* owner);

    // Reads the camera's table, rebuilds the shapes and the owner's roiMask
    // (null: the owner given at construction).
    void LoadDatafromFile(RoiMaskOwner* owner = nullptr);
    // Writes every loaded group in one transaction; false (rolled back, logged) on failure.
    bool SaveDatatoFile();
    // The rows SaveDatatoFile writes, by row name ("detect0", "ROI0-3", ...).
    QMap<QString, QString> storedRows() const;
    void setSelectRoi(int i);
    // Adds the changes of ROI roi since it was selected (the cached values) to
    // every other ROI of the current group with the same function, then renews
    // the cache. Whole words move by the plain difference; a packed word moves
    // part by part, each kept in its range so it never carries into the other.
    void syncParam(int roi);
    void getCopyParamIndex(int src, int& dst) const;
    void getCopyParamDescri(int src, int dst, QString& srcText, QString& dstText) const;
    void copyParam(int src);
    void copyParam(int src, int dst);

    QString tableName() const;

    int camIndex = 0;
    RoiMaskOwner* owner = nullptr;
    int roiCount[kGroups] = {};
    int roiSensitivity[kGroups][kMaxRois] = {};
    int roiArea[kGroups][kMaxRois] = {};
    int roiMinWH[kGroups][kMaxRois] = {};
    int roiFunction[kGroups][kMaxRois] = {};
    ClustomRect rectRoi[kGroups][kMaxRois];
    Circle circleRoi[kGroups][kMaxRois];
    RePolygon polygonRoi[kGroups][kMaxRois];
    int roiShape[kGroups][kMaxRois] = {};
    int roiOutput[kMaxRois] = {};
    int groupRecord[kGroups][kGroupRecordSize] = {};
    int selectedRoi = 0;
    int selectedFunction = 0;
    int selectedSensitivity = 0;
    int selectedArea = 0;
    int selectedMinWH = 0;
    // False for a group whose rows could not be read: it is shown empty and not
    // written back while it stays empty, so a database fault cannot replace real ROIs.
    bool groupLoaded[kGroups] = {true, true, true, true, true, true, true, true};

private:
    void applyDefaultRoi(int g, int r);
    void storeMask(int g, int r, const cv::Mat& mask);
    QString roiValue(int g, int r) const;
    bool writesGroup(int g) const;
    QList<QPair<QString, QString>> groupRows(int g) const;
};
