// The multipart decoder: the first line is the boundary, the rest the body.
#include "ctask_formdata.h"
#include "fuzzsupport.h"
#include "sci_execobj_recv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = FuzzSupport::bytes(data, size);
    const int newline = input.indexOf('\n');
    if (newline < 0)
        return 0;
    CTask_FormData task;
    SCI_ExecObj_Recv::analysisIntegrality_multipart(input.left(newline), input.mid(newline + 1), task);
    for (const cv::Mat& image : task.images)
        if (image.total() * image.elemSize() == 0)
            FuzzSupport::fail("an empty image was accepted");
    return 0;
}
