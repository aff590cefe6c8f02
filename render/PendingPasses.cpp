// Render steps that the effect does not perform yet: each leaves the output as SmartRender cleared it and
// reports nothing new. They are weak, so a real definition in its own file takes the place of its entry here;
// delete the entry when the real one lands.
#include "render/DiagnosticViews.h"
#include "render/PassChains.h"

#define VELLORAN_PENDING_PASS __attribute__((weak))

VELLORAN_PENDING_PASS PF_Err RenderExponentialChain(PF_InData*, PF_OutData*, myParams*, PF_Err err) { return err; }
VELLORAN_PENDING_PASS PF_Err RenderLensIrisChain(PF_InData*, PF_OutData*, PF_SmartRenderExtra*, myParams*,
                                                 PF_Err err) {
    return err;
}
VELLORAN_PENDING_PASS PF_Err RenderLensDirtView(myParams*, PF_InData*, PF_OutData*) { return PF_Err_NONE; }
VELLORAN_PENDING_PASS PF_Err RenderIrisView(myParams*, PF_InData*, PF_OutData*) { return PF_Err_NONE; }
