// The module's two exported entry points and its one info record.
#include "render_plugin.h"

#include <stdint.h>

#include "scaler.h"

#if defined(_WIN32)
#define QUORVIX_EXPORT __declspec(dllexport)
#else
#define QUORVIX_EXPORT __attribute__((visibility("default")))
#endif

namespace {

#define QUORVIX_DISPLAY_NAME "Quorvix (Dovane)"

const char kName[] = QUORVIX_DISPLAY_NAME;
static_assert(sizeof(kName) <= RENDER_PLUGIN_NAME_SIZE, "name fits its field");

// The record already holds its bytes when the module is loaded, so that
// RenderPluginGetInfo normally writes nothing and threads asking for it at
// the same time never race. ModuleHandle belongs to the host.
RenderPluginInfo gInfo = {QUORVIX_DISPLAY_NAME, RENDER_PLUGIN_FLAGS, nullptr};

// Stores `value` only where the record differs from it, as one atomic access,
// so the record reads the same however often and from wherever it is asked.
template <typename T>
void Restore(T* field, T value) {
  if (__atomic_load_n(field, __ATOMIC_RELAXED) != value) {
    __atomic_store_n(field, value, __ATOMIC_RELAXED);
  }
}

uint32_t Doubled(uint32_t size) {
  const uint64_t doubled = uint64_t{size} * 2;
  return doubled > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(doubled);
}

}  // namespace

extern "C" {

QUORVIX_EXPORT RenderPluginInfo* RENDER_PLUGIN_CALL RenderPluginGetInfo(void) {
  // The name up to and including its NUL, then the flags word; the bytes
  // after the NUL and the host's field are never touched.
  for (size_t i = 0; i < sizeof(kName); ++i) Restore(&gInfo.Name[i], kName[i]);
  Restore(&gInfo.Flags, RENDER_PLUGIN_FLAGS);
  return &gInfo;
}

QUORVIX_EXPORT void RENDER_PLUGIN_CALL RenderPluginOutput(RenderPluginOutputParams* params) {
  const uint32_t width = params->SourceWidth;
  const uint32_t height = params->SourceHeight;
  // The fit test in 64 bits: a doubled size never wraps past the target's.
  if (uint64_t{width} * 2 <= params->TargetWidth &&
      uint64_t{height} * 2 <= params->TargetHeight) {
    quorvix::ScaleFrame2x(quorvix::SelectedKernel(), params->SourcePixels,
                          params->SourcePitch, params->TargetPixels,
                          params->TargetPitch, width, height);
  }
  params->ResultWidth = Doubled(width);
  params->ResultHeight = Doubled(height);
}

}  // extern "C"
