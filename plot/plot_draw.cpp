// cairo and what it pulls in (fonts, X, PNG) take longer to load than a short recording
// takes to decode, so the drawing lives in a module of its own, opened on the first
// picture: next to the program in the build tree, in the library folder once installed.

#include "plot/plot_draw.hpp"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace tavrel {

namespace {

using DrawEntry = void (*)(const Layout*, const char*, int, int, std::string*);

struct PlotModule {
  DrawEntry draw = nullptr;
  std::string problem;  ///< why it could not be loaded
};

PlotModule load_module() {
  std::error_code failed;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", failed);
  const std::filesystem::path here = program.parent_path();
  PlotModule module;
  // Only ever a module beside the program's own file: never one looked up in the current
  // folder or on the library path.
  if (!program.is_absolute()) {
    module.problem = "no picture module: the program's own folder is unknown (no /proc?)";
    return module;
  }
  for (const std::filesystem::path& place :
       {here / TAVREL_PLOT_MODULE, here / TAVREL_PLOT_MODULE_FROM_BIN / TAVREL_PLOT_MODULE}) {
    if (!std::filesystem::exists(place, failed)) continue;
    void* handle = dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      module.problem = dlerror();
      return module;
    }
    module.draw = reinterpret_cast<DrawEntry>(dlsym(handle, "tavrel_plot_draw"));
    if (!module.draw) module.problem = place.string() + " has no drawing entry";
    return module;
  }
  module.problem = "no picture module: " TAVREL_PLOT_MODULE
                   " is neither beside the program nor in " +
                   (here / TAVREL_PLOT_MODULE_FROM_BIN).lexically_normal().string();
  return module;
}

}  // namespace

bool plot_format_known(const std::string& path) {
  return path.ends_with(".png") || path.ends_with(".svg");
}

std::string plot_draw(const Layout& layout, const std::string& path, int width, int height) {
  static const PlotModule module = load_module();
  if (!module.draw) return module.problem;
  std::string problem;
  module.draw(&layout, path.c_str(), width, height, &problem);
  return problem;
}

}  // namespace tavrel
