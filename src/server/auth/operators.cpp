#include "server/auth/operators.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>

#include "server/services/tally_service.h"
#include "server/storage/sqlite/sqlite.h"

namespace apura::server {

namespace {

bool Listed(const std::vector<std::string>& list, const std::string& item) {
  if (list.size() == 1 && list[0] == "*") return true;
  return std::find(list.begin(), list.end(), item) != list.end();
}

std::string Joined(const std::vector<std::string>& list) {
  std::string out;
  for (const std::string& s : list) out += (out.empty() ? "" : ",") + s;
  return out;
}

void RequireSodium() {
  static const bool ready = sodium_init() >= 0;
  if (!ready) throw std::runtime_error("libsodium could not be initialised");
}

const char* kOperatorSchema = R"SQL(
CREATE TABLE IF NOT EXISTS operador (
  CDOPERADOR  TEXT PRIMARY KEY,
  NMOPERADOR  TEXT NOT NULL,
  DSSENHA     TEXT NOT NULL,
  DSCENTROS   TEXT NOT NULL DEFAULT '',
  DSFILIAIS   TEXT NOT NULL DEFAULT '',
  DSAUTORIZ   TEXT NOT NULL DEFAULT '');
)SQL";

}  // namespace

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at <= text.size()) {
    size_t comma = text.find(',', at);
    if (comma == std::string::npos) comma = text.size();
    std::string part = text.substr(at, comma - at);
    const auto first = part.find_first_not_of(" \t");
    if (first != std::string::npos) {
      part = part.substr(first, part.find_last_not_of(" \t") - first + 1);
      out.push_back(part);
    }
    at = comma + 1;
  }
  return out;
}

bool Operator::WorksInCentre(const std::string& centre) const {
  return Listed(centres, centre);
}
bool Operator::WorksInBranch(const std::string& branch) const {
  return Listed(branches, branch);
}
bool Operator::Holds(const std::string& authorisation) const {
  return std::find(authorisations.begin(), authorisations.end(), authorisation) !=
         authorisations.end();
}

struct OperatorDirectory::Impl {
  Impl(const std::string& path, HashCost c) : db(path), cost(c) {
    db.Exec("PRAGMA busy_timeout = 5000");
    db.Exec(kOperatorSchema);
  }
  std::mutex mutex;  // one connection, used by the server's threads in turn
  sql::Db db;
  HashCost cost;
  // Verified against when the operator is unknown, so that a wrong code and a
  // wrong password take the same time.
  std::string decoy;
};

OperatorDirectory::OperatorDirectory(std::string dbPath, HashCost cost)
    : impl_(std::make_unique<Impl>(dbPath, cost)) {
  RequireSodium();
}

OperatorDirectory::~OperatorDirectory() = default;

namespace {

std::string Hash(const std::string& password, HashCost cost) {
  char out[crypto_pwhash_STRBYTES];
  const bool min = cost == HashCost::Minimum;
  if (crypto_pwhash_str_alg(
          out, password.data(), password.size(),
          min ? crypto_pwhash_argon2id_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE,
          min ? crypto_pwhash_argon2id_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE,
          crypto_pwhash_ALG_ARGON2ID13) != 0)
    throw std::runtime_error("not enough memory to hash a password");
  return out;
}

Operator Read(sql::Stmt& s) {
  Operator op;
  op.code = std::string(s.Text(0));
  op.name = std::string(s.Text(1));
  op.centres = SplitList(std::string(s.Text(3)));
  op.branches = SplitList(std::string(s.Text(4)));
  op.authorisations = SplitList(std::string(s.Text(5)));
  return op;
}

}  // namespace

void OperatorDirectory::Save(const Operator& op, const std::string& password) {
  if (op.code.empty()) throw std::invalid_argument("an operator needs a code");
  if (password.empty()) throw std::invalid_argument("operator " + op.code + " needs a password");
  const std::string hash = Hash(password, impl_->cost);
  std::lock_guard lock(impl_->mutex);
  sql::Stmt(impl_->db,
            "INSERT OR REPLACE INTO operador (CDOPERADOR, NMOPERADOR, DSSENHA, DSCENTROS, "
            "DSFILIAIS, DSAUTORIZ) VALUES (?, ?, ?, ?, ?, ?)")
      .Bind(1, op.code)
      .Bind(2, op.name)
      .Bind(3, hash)
      .Bind(4, Joined(op.centres))
      .Bind(5, Joined(op.branches))
      .Bind(6, Joined(op.authorisations))
      .Run();
}

std::optional<Operator> OperatorDirectory::Find(const std::string& code) {
  std::lock_guard lock(impl_->mutex);
  sql::Stmt s(impl_->db,
              "SELECT CDOPERADOR, NMOPERADOR, DSSENHA, DSCENTROS, DSFILIAIS, DSAUTORIZ "
              "FROM operador WHERE CDOPERADOR = ?");
  s.Bind(1, code);
  if (!s.Step()) return std::nullopt;
  return Read(s);
}

std::optional<Operator> OperatorDirectory::Verify(const std::string& code,
                                                  const std::string& password) {
  std::optional<Operator> op;
  std::string hash;
  {
    std::lock_guard lock(impl_->mutex);
    sql::Stmt s(impl_->db,
                "SELECT CDOPERADOR, NMOPERADOR, DSSENHA, DSCENTROS, DSFILIAIS, DSAUTORIZ "
                "FROM operador WHERE CDOPERADOR = ?");
    s.Bind(1, code);
    if (s.Step()) {
      op = Read(s);
      hash = std::string(s.Text(2));
    } else {
      if (impl_->decoy.empty()) impl_->decoy = Hash("decoy", impl_->cost);
      hash = impl_->decoy;
    }
  }
  const bool match = crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
  if (!op || !match) return std::nullopt;
  return op;
}

Sessions::Sessions(OperatorDirectory& directory, std::chrono::seconds lifetime, Clock clock)
    : directory_(directory), lifetime_(lifetime), clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return std::chrono::system_clock::now(); };
}

Session Sessions::Login(const std::string& code, const std::string& password) {
  std::optional<Operator> op = directory_.Verify(code, password);
  if (!op) throw ServerError(ErrorCode::Unauthenticated, "Operador ou senha inválidos.");
  return Open(*op);
}

Session Sessions::Open(const Operator& op) {
  RequireSodium();
  unsigned char raw[32];
  randombytes_buf(raw, sizeof raw);
  char hex[sizeof raw * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, raw, sizeof raw);
  Session s{hex, op, clock_() + lifetime_};
  std::lock_guard lock(mutex_);
  // Expired sessions go when a new one opens, so the map stays small.
  for (auto it = open_.begin(); it != open_.end();)
    it = it->second.expires <= clock_() ? open_.erase(it) : std::next(it);
  open_[s.token] = s;
  return s;
}

Session Sessions::Require(const std::string& token) {
  if (token.empty())
    throw ServerError(ErrorCode::Unauthenticated, "Sessão não informada: faça login.");
  std::lock_guard lock(mutex_);
  auto it = open_.find(token);
  if (it == open_.end())
    throw ServerError(ErrorCode::Unauthenticated, "Sessão desconhecida: faça login.");
  if (it->second.expires <= clock_()) {
    open_.erase(it);
    throw ServerError(ErrorCode::Unauthenticated, "Sessão expirada: faça login de novo.");
  }
  return it->second;
}

void Sessions::Logout(const std::string& token) {
  std::lock_guard lock(mutex_);
  open_.erase(token);
}

}  // namespace apura::server
