// A render plugin module loaded the way an application loads one: dlopen,
// then both entry points looked up by their exported names.
#ifndef QUORVIX_HOST_MODULE_H
#define QUORVIX_HOST_MODULE_H

#include <stdint.h>

#include <string>

#include "render_plugin.h"

namespace host {

class PluginModule {
 public:
  PluginModule() = default;
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // Loads the module at `path` and finds both entry points. On failure
  // `error` says what is wrong (without the path) and nothing stays loaded.
  bool Load(const std::string& path, std::string* error);

  const std::string& path() const { return path_; }

  // The display name (at most the record's 60 bytes, up to its NUL) and the
  // flags word, read through RenderPluginGetInfo.
  bool ReadInfo(std::string* name, uint32_t* flags, std::string* error) const;

  // One frame. Calls for distinct records and buffers may run on several
  // threads at once.
  void Output(RenderPluginOutputParams* params) const { output_(params); }

 private:
  void* handle_ = nullptr;
  std::string path_;
  RenderPluginGetInfoFn getInfo_ = nullptr;
  RenderPluginOutputFn output_ = nullptr;
};

// Quorvix.rpi in the folder of the running executable.
std::string DefaultModulePath();

}  // namespace host

#endif  // QUORVIX_HOST_MODULE_H
