// Draws frames through the loaded module as a host does, checks them, and
// prints where the module's code lies. check_executed_code.cmake runs it
// under one of qemu's processor models with a log of every instruction that
// qemu translates, and reads off which instruction sets the module's own
// code used there: the kernel it chose, and nothing the processor lacks.
#include <inttypes.h>
#include <stdio.h>

#include <vector>

#include "frames.h"
#include "loaded_module.h"
#include "render_plugin.h"

int main() {
  Module module(QUORVIX_MODULE_FILE, kModuleLoader);
  if (!module.loaded()) {
    fprintf(stderr, "%s: %s\n", QUORVIX_MODULE_FILE, module.error().c_str());
    return 1;
  }
  const auto getInfo = module.Find<RenderPluginGetInfoFn>("RenderPluginGetInfo");
  const auto output = module.Find<RenderPluginOutputFn>("RenderPluginOutput");
  uintptr_t begin = 0, end = 0;
  if (getInfo == nullptr || output == nullptr || !module.CodeRange("RenderPluginOutput", &begin, &end)) {
    fprintf(stderr, "%s: entry points or code not found\n", QUORVIX_MODULE_FILE);
    return 1;
  }
  getInfo();
  // A frame that stays in the caches and one large enough for streaming
  // stores, neither a multiple of any kernel's width.
  const uint32_t sizes[][2] = {{333, 9}, {1030, 1020}};
  for (const auto& size : sizes) {
    const Frame source = MakeFrame(Pattern::kSprite, size[0], size[1]);
    const Frame want = Scale2xFrame(source);
    std::vector<uint16_t> target(want.pixels.size());
    RenderPluginOutputParams p = {};
    p.SourcePixels = source.pixels.data();
    p.SourcePitch = 2 * source.width;
    p.SourceWidth = source.width;
    p.SourceHeight = source.height;
    p.TargetPixels = target.data();
    p.TargetPitch = 2 * want.width;
    p.TargetWidth = want.width;
    p.TargetHeight = want.height;
    output(&p);
    if (target != want.pixels) {
      fprintf(stderr, "%ux%u: the module's frame differs from the rule's\n", size[0], size[1]);
      return 1;
    }
  }
  // Written as qemu writes guest addresses.
  printf("module code 0x%" PRIxPTR " 0x%" PRIxPTR "\n", begin, end);
  return 0;
}
