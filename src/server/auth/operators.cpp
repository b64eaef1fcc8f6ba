#include "server/auth/operators.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "server/errors.h"
#include "server/services/tally_service.h"
#include "server/storage/sqlite/sqlite_storage.h"

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

// A token's stored name: knowing the table gives no session.
std::string TokenHash(const std::string& token) {
  unsigned char out[crypto_generichash_BYTES];
  crypto_generichash(out, sizeof out, reinterpret_cast<const unsigned char*>(token.data()),
                     token.size(), nullptr, 0);
  char hex[sizeof out * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, out, sizeof out);
  return hex;
}

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

Operator FromRow(const OperatorRow& r) {
  return {r.code, r.name, SplitList(r.centres), SplitList(r.branches), SplitList(r.authorisations)};
}

}  // namespace

OperatorDirectory::OperatorDirectory(IStorage& storage, HashCost cost)
    : storage_(storage), cost_(cost) {
  RequireSodium();
}

OperatorDirectory::OperatorDirectory(const std::string& dbPath, HashCost cost)
    : owned_(std::make_unique<SqliteStorage>(dbPath)), storage_(*owned_), cost_(cost) {
  RequireSodium();
}

OperatorDirectory::~OperatorDirectory() = default;

void OperatorDirectory::Save(const Operator& op, const std::string& password) {
  if (op.code.empty()) throw std::invalid_argument("an operator needs a code");
  if (password.empty()) throw std::invalid_argument("operator " + op.code + " needs a password");
  OperatorRow row{op.code,
                  op.name,
                  Hash(password, cost_),
                  Joined(op.centres),
                  Joined(op.branches),
                  Joined(op.authorisations)};
  auto s = storage_.OpenSession();
  Transaction t(*s, true);
  s->SaveOperator(row);
  t.Commit();
}

std::optional<Operator> OperatorDirectory::Find(const std::string& code) {
  auto s = storage_.OpenSession();
  Transaction t(*s, false);
  std::optional<OperatorRow> row = s->FindOperator(code);
  if (!row) return std::nullopt;
  return FromRow(*row);
}

std::optional<Operator> OperatorDirectory::Verify(const std::string& code,
                                                  const std::string& password) {
  std::optional<OperatorRow> row;
  {
    auto s = storage_.OpenSession();
    Transaction t(*s, false);
    row = s->FindOperator(code);
  }
  std::string hash;
  if (row) {
    hash = row->passwordHash;
  } else {
    std::lock_guard lock(mutex_);
    if (decoy_.empty()) decoy_ = Hash("decoy", cost_);
    hash = decoy_;
  }
  const bool match = crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
  if (!row || !match) return std::nullopt;
  return FromRow(*row);
}

Sessions::Sessions(OperatorDirectory& directory, std::chrono::seconds lifetime, Clock clock,
                   LoginPolicy policy)
    : directory_(directory), lifetime_(lifetime), clock_(std::move(clock)), throttle_(policy) {
  if (!clock_) clock_ = [] { return std::chrono::system_clock::now(); };
}

double Sessions::Now() const {
  return std::chrono::duration<double>(clock_().time_since_epoch()).count();
}

namespace {

// An operator code or address as a log line may show it: a caller chose it, so
// it is cut short and its control characters escaped.
std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text.substr(0, 40)) {
    if (c < 0x20 || c == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return text.size() > 40 ? out + "..." : out;
}

}  // namespace

Session Sessions::Login(const std::string& code, const std::string& password,
                        const std::string& client) {
  const auto now = clock_();
  const std::string who =
      "login " + Printable(code) + " from " + (client.empty() ? "this process" : Printable(client));
  if (std::string refusal = throttle_.Refusal(code, client, now); !refusal.empty()) {
    LogLine(who + ": refused, too many failures before it");
    throw ServerError(ErrorCode::Unauthenticated, refusal);
  }
  std::optional<Operator> op = directory_.Verify(code, password);
  if (!op) {
    const bool locked = throttle_.Failed(code, client, now);
    LogLine(who + ": wrong operator or password" +
            (locked ? "; the operator is locked for a while" : ""));
    throw ServerError(ErrorCode::Unauthenticated, "Operador ou senha inválidos.");
  }
  throttle_.Succeeded(code, client);
  LogLine(who + ": ok");
  return Open(*op);
}

Session Sessions::Open(const Operator& op) {
  RequireSodium();
  unsigned char raw[32];
  randombytes_buf(raw, sizeof raw);
  char hex[sizeof raw * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, raw, sizeof raw);
  Session session{hex, op, clock_() + lifetime_};
  const double expires = std::chrono::duration<double>(session.expires.time_since_epoch()).count();
  auto s = directory_.storage().OpenSession();
  Transaction t(*s, true);
  s->SaveSession({TokenHash(session.token), op.code, op.name, Joined(op.centres),
                  Joined(op.branches), Joined(op.authorisations), expires},
                 Now());
  t.Commit();
  return session;
}

Session Sessions::Require(const std::string& token) {
  if (token.empty())
    throw ServerError(ErrorCode::Unauthenticated, "Sessão não informada: faça login.");
  std::optional<SessionRow> row;
  {
    auto s = directory_.storage().OpenSession();
    Transaction t(*s, false);
    row = s->FindSession(TokenHash(token));
  }
  if (!row) throw ServerError(ErrorCode::Unauthenticated, "Sessão desconhecida: faça login.");
  if (row->expires <= Now()) {
    // Said once; the token is unknown from then on.
    try {
      Logout(token);
    } catch (const std::exception&) {
      // Purged with the next login anyway.
    }
    throw ServerError(ErrorCode::Unauthenticated, "Sessão expirada: faça login de novo.");
  }
  Session session;
  session.token = token;
  session.op = {row->op, row->name, SplitList(row->centres), SplitList(row->branches),
                SplitList(row->authorisations)};
  session.expires = std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::duration<double>(row->expires)));
  return session;
}

size_t Sessions::Count() {
  auto s = directory_.storage().OpenSession();
  Transaction t(*s, false);
  return s->CountSessions(Now());
}

void Sessions::Logout(const std::string& token) {
  if (token.empty()) return;
  auto s = directory_.storage().OpenSession();
  Transaction t(*s, true);
  s->DeleteSession(TokenHash(token));
  t.Commit();
}

}  // namespace apura::server
