#pragma once
// The demo: a demo tally in an SQLite database (made once, then reused), the
// reference application server on a free loopback port in this process, and
// a local database seeded with the demo's regions and operator groups.

#include <memory>
#include <string>
#include <vector>

#include "desktop/app/settings.h"

namespace apura::desktop {

class DemoEnvironment {
 public:
  // `dir`: where the demo databases live (created when missing). `rows`: 0
  // for the ordinary demo size, otherwise about that many delivery rows.
  explicit DemoEnvironment(const std::string& dir, size_t rows = 0);
  // The demo the settings ask for (--demo-dir, --demo-rows); `defaultDir`
  // when they name no folder.
  static std::unique_ptr<DemoEnvironment> FromSettings(const HostSettings& settings,
                                                       const std::string& defaultDir);
  ~DemoEnvironment();
  DemoEnvironment(const DemoEnvironment&) = delete;
  DemoEnvironment& operator=(const DemoEnvironment&) = delete;

  int Port() const;
  std::string Address() const;
  // The demo buyer's session, logged in when the demo started.
  const std::string& SessionToken() const;
  const std::string& LocalDatabasePath() const { return localPath_; }
  // The tally's database: one file per demo size, so sizes never mix.
  const std::string& DatabasePath() const { return dbPath_; }
  // The seven launch values of the demo tally, dates in the current short
  // date format.
  std::vector<std::string> LaunchValues() const;
  // Points the session at the demo: server address, local database, the
  // demo buyer as operator, the supplies module.
  void Configure(HostSettings& settings) const;
  // Has the server choose the best quotations when nothing is chosen yet, so
  // a report of the demo tally shows what a tallied one looks like.
  void EnsureTallied();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string localPath_;
  std::string dbPath_;
};

}  // namespace apura::desktop
