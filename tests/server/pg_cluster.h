#pragma once
// A throwaway PostgreSQL cluster for the tests of one process: initdb and pg_ctl
// in a temporary folder, reached on a unix socket there, stopped and removed at
// exit. initdb refuses to run as root, so under root the cluster runs as `nobody`.

#include <memory>
#include <string>

namespace apura::server::testing {

class PgCluster {
 public:
  // The cluster of this process, started at the first call. Null when it did not
  // start; `why` then says why.
  static PgCluster* Get(std::string* why);
  // True when the server programs are not installed: the one reason to skip.
  static bool ProgramsMissing();

  // A new empty database; its connection text.
  std::string CreateDatabase();
  void DropDatabase(const std::string& conninfo);
  // The connection text of database `name`.
  std::string Address(const std::string& name) const;

  ~PgCluster();

 private:
  PgCluster() = default;
  bool Start(std::string* why);
  std::string dir_, bin_, runAs_;
  bool running_ = false;
  int databases_ = 0;
};

// Runs one statement on the database at `conninfo`; throws with its error.
void PgExec(const std::string& conninfo, const std::string& sql);

// In SetUp: the cluster, or skips the test when the server programs are missing,
// or fails it when they are there and the cluster did not start.
#define APURA_REQUIRE_PG_CLUSTER(cluster)                                   \
  do {                                                                      \
    std::string why_;                                                       \
    cluster = ::apura::server::testing::PgCluster::Get(&why_);              \
    if (!cluster && ::apura::server::testing::PgCluster::ProgramsMissing()) \
      GTEST_SKIP() << "PostgreSQL runs skipped: " << why_;                  \
    if (!cluster) FAIL() << why_;                                           \
  } while (0)

// True when this test process runs the server tests against PostgreSQL.
bool TestsOnPostgres();

}  // namespace apura::server::testing
