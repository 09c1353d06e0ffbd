/* Stand-in render plugin modules for the host tool's tests, built from this
 * one file: STUB_REFUSES reports a result three times the frame (a target
 * sized for doubling is too small, so by the refusal rule nothing is drawn);
 * STUB_NO_OUTPUT exports only RenderPluginGetInfo. */
#include "render_plugin.h"

#if defined(_WIN32)
#define STUB_EXPORT __declspec(dllexport)
#else
#define STUB_EXPORT __attribute__((visibility("default")))
#endif

static RenderPluginInfo gInfo = {"Stub", 0, 0};

STUB_EXPORT RenderPluginInfo* RenderPluginGetInfo(void) { return &gInfo; }

#if defined(STUB_REFUSES)
STUB_EXPORT void RenderPluginOutput(RenderPluginOutputParams* params) {
  params->ResultWidth = 3 * params->SourceWidth;
  params->ResultHeight = 3 * params->SourceHeight;
}
#endif
