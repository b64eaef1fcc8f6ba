#pragma once
// The demo: a demo tally in an SQLite database (made once, then reused), the
// reference application server on a free loopback port in this process, and
// a local database seeded with the demo's regions and operator groups.

#include <memory>
#include <string>
#include <vector>

#include "desktop/settings.h"

namespace apura::desktop {

class DemoEnvironment {
 public:
  // `dir`: where the demo databases live (created when missing). `rows`: 0
  // for the ordinary demo size, otherwise about that many delivery rows.
  explicit DemoEnvironment(const std::string& dir, size_t rows = 0);
  ~DemoEnvironment();
  DemoEnvironment(const DemoEnvironment&) = delete;
  DemoEnvironment& operator=(const DemoEnvironment&) = delete;

  int Port() const;
  std::string Address() const;
  const std::string& LocalDatabasePath() const { return localPath_; }
  // The seven launch values of the demo tally, dates in the current short
  // date format.
  std::vector<std::string> LaunchValues() const;
  // Points the session at the demo: server address, local database, the
  // demo buyer as operator, the supplies module.
  void Configure(HostSettings& settings) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string localPath_;
};

}  // namespace apura::desktop
