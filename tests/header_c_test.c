/* The public header as a C99 host sees it: it must compile without warnings
 * and its layout checks must hold in C too. */
#include "render_plugin.h"

#include <stdio.h>
#include <string.h>

int main(void) {
  RenderPluginOutputParams params;
  RenderPluginGetInfoFn getInfo = 0;
  RenderPluginOutputFn output = 0;
  memset(&params, 0, sizeof params);
  params.SourceWidth = 2;
  (void)getInfo;
  (void)output;
  if (offsetof(RenderPluginOutputParams, ResultHeight) + sizeof params.ResultHeight > sizeof params) {
    return 1;
  }
  printf("1 passed, 0 failed\n");
  return 0;
}
