#include "module.h"

#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

PluginModule::~PluginModule() {
  if (handle_ != nullptr) dlclose(handle_);
}

bool PluginModule::Load(const std::string& path, std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = std::string("cannot open module: ") + strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "cannot open module: not a regular file";
    return false;
  }
  // A name without a slash would send dlopen searching the library path;
  // the user means the file in the current folder.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::string why = dlerror();
    // dlerror starts with the file name, which the caller already shows.
    if (why.compare(0, file.size() + 2, file + ": ") == 0) why.erase(0, file.size() + 2);
    *error = "cannot load module: " + why;
    return false;
  }
  auto getInfo = reinterpret_cast<RenderPluginGetInfoFn>(dlsym(handle, "RenderPluginGetInfo"));
  auto output = reinterpret_cast<RenderPluginOutputFn>(dlsym(handle, "RenderPluginOutput"));
  if (getInfo == nullptr || output == nullptr) {
    *error = std::string("not a render plugin: no ") +
             (getInfo == nullptr ? "RenderPluginGetInfo" : "RenderPluginOutput") + " entry point";
    dlclose(handle);
    return false;
  }
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = handle;
  path_ = path;
  getInfo_ = getInfo;
  output_ = output;
  return true;
}

bool PluginModule::ReadInfo(std::string* name, uint32_t* flags, std::string* error) const {
  const RenderPluginInfo* info = getInfo_();
  if (info == nullptr) {
    *error = "RenderPluginGetInfo returned no record";
    return false;
  }
  name->assign(info->Name, strnlen(info->Name, sizeof(info->Name)));
  *flags = info->Flags;
  return true;
}

std::string DefaultModulePath() {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  if (n <= 0) return "Quorvix.rpi";
  std::string dir(exe, static_cast<size_t>(n));
  dir.erase(dir.rfind('/') + 1);
  return dir + "Quorvix.rpi";
}

}  // namespace host
