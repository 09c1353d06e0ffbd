// The module's two exported entry points and its one info record.
#include "render_plugin.h"

#include <stdint.h>

#include "frame_output.h"
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
  quorvix::OutputFrame(quorvix::SelectedKernel(), params);
}

}  // extern "C"
