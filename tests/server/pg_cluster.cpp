#include "pg_cluster.h"

#include <libpq-fe.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace apura::server::testing {

namespace fs = std::filesystem;

namespace {

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// The newest installed server's programs, or APURA_PG_BIN.
std::string FindBinaries() {
  if (const char* env = std::getenv("APURA_PG_BIN")) {
    return fs::exists(fs::path(env) / "initdb") && fs::exists(fs::path(env) / "pg_ctl") ? env : "";
  }
  std::string best;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    fs::path bin = e.path() / "bin";
    if (fs::exists(bin / "initdb") && fs::exists(bin / "pg_ctl") &&
        (best.empty() || std::stoi(e.path().filename().string()) >
                             std::stoi(fs::path(best).parent_path().filename().string()))) {
      best = bin.string();
    }
  }
  return best;
}

void Run(PGconn* c, const std::string& sql) {
  PGresult* r = PQexec(c, sql.c_str());
  bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
  std::string msg = PQresultErrorMessage(r);
  PQclear(r);
  if (!ok) throw std::runtime_error(sql + ": " + msg);
}

std::unique_ptr<PgCluster> gCluster;
std::string gWhy;
std::once_flag gOnce;

}  // namespace

void PgExec(const std::string& conninfo, const std::string& sql) {
  PGconn* c = PQconnectdb(conninfo.c_str());
  if (PQstatus(c) != CONNECTION_OK) {
    std::string msg = PQerrorMessage(c);
    PQfinish(c);
    throw std::runtime_error("cannot connect to " + conninfo + ": " + msg);
  }
  try {
    Run(c, sql);
  } catch (...) {
    PQfinish(c);
    throw;
  }
  PQfinish(c);
}

bool TestsOnPostgres() {
  const char* env = std::getenv("APURA_TEST_STORAGE");
  return env && std::string(env) == "postgresql";
}

bool PgCluster::ProgramsMissing() {
  return FindBinaries().empty();
}

PgCluster* PgCluster::Get(std::string* why) {
  std::call_once(gOnce, [] {
    std::unique_ptr<PgCluster> c(new PgCluster());
    if (c->Start(&gWhy)) gCluster = std::move(c);
  });
  if (!gCluster && why) *why = gWhy;
  return gCluster.get();
}

bool PgCluster::Start(std::string* why) {
  bin_ = FindBinaries();
  if (bin_.empty()) {
    *why =
        "no PostgreSQL server programs (initdb, pg_ctl) under /usr/lib/postgresql or "
        "APURA_PG_BIN; scripts/setup.sh installs them";
    return false;
  }
  char tmpl[] = "/tmp/apura-pg-XXXXXX";
  if (!::mkdtemp(tmpl)) {
    *why = "cannot make a temporary folder for the cluster";
    return false;
  }
  dir_ = tmpl;
  if (::geteuid() == 0) {
    passwd* pw = ::getpwnam("nobody");
    if (!pw || ::chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
      *why = "running as root and cannot hand the cluster folder to user nobody";
      return false;
    }
    runAs_ = "runuser -u nobody -- ";
  }
  const std::string log = dir_ + "/log";
  std::string initdb = runAs_ + Quote(bin_ + "/initdb") + " -D " + Quote(dir_ + "/data") +
                       " -U apura --auth=trust --locale=C -E UTF8 --no-sync >" +
                       Quote(dir_ + "/initdb.out") + " 2>&1";
  if (std::system(initdb.c_str()) != 0) {
    std::ifstream in(dir_ + "/initdb.out");
    std::stringstream ss;
    ss << in.rdbuf();
    *why = "initdb failed: " + ss.str();
    return false;
  }
  // Nothing of this cluster is meant to survive: durability off, no TCP port.
  std::string options = "-c listen_addresses='' -k " + dir_ +
                        " -c fsync=off -c synchronous_commit=off -c full_page_writes=off"
                        " -c max_connections=200 -c shared_buffers=64MB";
  std::string start = runAs_ + Quote(bin_ + "/pg_ctl") + " -D " + Quote(dir_ + "/data") + " -l " +
                      Quote(log) + " -w -t 60 -o " + Quote(options) + " start >/dev/null 2>&1";
  if (std::system(start.c_str()) != 0) {
    std::ifstream in(log);
    std::stringstream ss;
    ss << in.rdbuf();
    *why = "the cluster did not start: " + ss.str();
    return false;
  }
  running_ = true;
  return true;
}

PgCluster::~PgCluster() {
  if (running_) {
    std::string stop = runAs_ + Quote(bin_ + "/pg_ctl") + " -D " + Quote(dir_ + "/data") +
                       " -m immediate -w stop >/dev/null 2>&1";
    [[maybe_unused]] int rc = std::system(stop.c_str());
  }
  std::error_code ec;
  if (!dir_.empty()) fs::remove_all(dir_, ec);
}

std::string PgCluster::Address(const std::string& name) const {
  return "postgresql://apura@/" + name + "?host=" + dir_;
}

std::string PgCluster::CreateDatabase() {
  // Appended step by step: GCC 12 at -O2 and above takes "t" + std::to_string(...)
  // for an overlapping copy (a known -Wrestrict false positive).
  std::string name = "t";
  name += std::to_string(::getpid());
  name += '_';
  name += std::to_string(++databases_);
  PGconn* c = PQconnectdb(Address("postgres").c_str());
  if (PQstatus(c) != CONNECTION_OK) {
    std::string msg = PQerrorMessage(c);
    PQfinish(c);
    throw std::runtime_error("cannot reach the test cluster: " + msg);
  }
  try {
    Run(c, "CREATE DATABASE " + name + " TEMPLATE template0");
  } catch (...) {
    PQfinish(c);
    throw;
  }
  PQfinish(c);
  return Address(name);
}

void PgCluster::DropDatabase(const std::string& conninfo) {
  auto slash = conninfo.find("@/");
  auto q = conninfo.find('?');
  if (slash == std::string::npos || q == std::string::npos) return;
  std::string name = conninfo.substr(slash + 2, q - slash - 2);
  PGconn* c = PQconnectdb(Address("postgres").c_str());
  if (PQstatus(c) == CONNECTION_OK) {
    try {
      Run(c, "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
    } catch (...) {
    }
  }
  PQfinish(c);
}

}  // namespace apura::server::testing
