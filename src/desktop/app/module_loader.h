#pragma once
// Finds a screen's shared library by its code in the modules folder, loads
// it once and opens the screen through its exported entry.

#include <map>
#include <stdexcept>
#include <string>

#include "framework/value.h"

namespace apura::desktop {

// The screen's library is not in the modules folder, or it lacks the entry.
class EModuleNotInstalled : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ModuleLoader {
 public:
  explicit ModuleLoader(std::string modulesDir);
  ~ModuleLoader();
  ModuleLoader(const ModuleLoader&) = delete;
  ModuleLoader& operator=(const ModuleLoader&) = delete;

  // lib<CODE>.so in the modules folder.
  std::string LibraryPath(const std::string& screenCode) const;
  bool IsLoaded(const std::string& screenCode) const;
  // Loads the library the first time and calls its IniProc with the values.
  // EModuleNotInstalled names the code and the file when it is not there or
  // has no entry; errors of the screen itself propagate.
  void Open(const std::string& screenCode, const ValueArray& params);

 private:
  using IniProcFn = void (*)(const Value&);
  IniProcFn Entry(const std::string& screenCode);
  std::string dir_;
  std::map<std::string, void*> handles_;
};

// The folder of the running program.
std::string ExecutableDir();

}  // namespace apura::desktop
