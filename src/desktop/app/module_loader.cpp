#include "desktop/app/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace apura::desktop {

std::string ExecutableDir() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path().string();
  return exe.parent_path().string();
}

ModuleLoader::ModuleLoader(std::string modulesDir)
    : dir_(modulesDir.empty() ? ExecutableDir() : std::move(modulesDir)) {}

ModuleLoader::~ModuleLoader() {
  // The screens' forms live in the host's application object and may still
  // run code of the libraries until the very end, so they stay loaded.
}

std::string ModuleLoader::LibraryPath(const std::string& code) const {
  return (std::filesystem::path(dir_) / ("lib" + code + ".so")).string();
}

bool ModuleLoader::IsLoaded(const std::string& code) const {
  return handles_.count(code) != 0;
}

ModuleLoader::IniProcFn ModuleLoader::Entry(const std::string& code) {
  auto it = handles_.find(code);
  void* handle = it == handles_.end() ? nullptr : it->second;
  if (!handle) {
    // A screen code names a library in the modules folder and nothing else.
    const bool plain = !code.empty() && std::all_of(code.begin(), code.end(), [](char c) {
      return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    });
    if (!plain) throw EModuleNotInstalled("Código de tela inválido: \"" + code + "\".");
    const std::string path = LibraryPath(code);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
      throw EModuleNotInstalled("A tela " + code + " não está instalada (" + path +
                                " não encontrado).");
    // RTLD_GLOBAL is not wanted: each screen keeps its own symbols, and
    // the framework's come from the host.
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = dlerror();
      throw EModuleNotInstalled("A tela " + code + " não pôde ser carregada (" + path +
                                "): " + (why ? why : "erro desconhecido"));
    }
    handles_[code] = handle;
  }
  dlerror();
  void* sym = dlsym(handle, "IniProc");
  if (!sym)
    throw EModuleNotInstalled("A tela " + code + " não tem a entrada IniProc (" +
                              LibraryPath(code) + ").");
  return reinterpret_cast<IniProcFn>(sym);
}

void ModuleLoader::Open(const std::string& code, const ValueArray& params) {
  IniProcFn entry = Entry(code);
  entry(Value(params));
}

}  // namespace apura::desktop
