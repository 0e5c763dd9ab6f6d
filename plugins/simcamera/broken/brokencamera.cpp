// Deliberately unloadable: the data symbol below is defined nowhere, so the
// dynamic loader refuses the file although its plug-in metadata is valid.
#include "camerainterface.h"

extern "C" int mm_brokencamera_missing_symbol;

class BrokenCamera : public CameraInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID CameraInterface_iid)
    Q_INTERFACES(CameraInterface)
public:
    QString name() override { return QString::number(mm_brokencamera_missing_symbol); }
};

#include "brokencamera.moc"
