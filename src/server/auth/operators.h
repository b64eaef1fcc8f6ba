#pragma once
// Who may call the server: operators with their centres, branches and
// authorisations, passwords kept only as Argon2id hashes, and the sessions a
// login opens. A call carries its session's token; the session, never the
// call's own arguments, says which centres and branches the caller works in.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server/auth/login_throttle.h"
#include "server/storage/storage.h"

namespace apura::server {

struct Operator {
  std::string code, name;
  // "*" alone stands for every centre (or branch).
  std::vector<std::string> centres, branches;
  std::vector<std::string> authorisations;  // e.g. "PEME"

  bool WorksInCentre(const std::string& centre) const;
  bool WorksInBranch(const std::string& branch) const;
  bool Holds(const std::string& authorisation) const;
};

// How much work and memory one password hash takes. Interactive is libsodium's
// recommendation for logins; Minimum is for tests only.
enum class HashCost { Interactive, Minimum };

// The operators, in the database the server uses: every server on one
// database knows the same operators.
class OperatorDirectory {
 public:
  explicit OperatorDirectory(IStorage& storage, HashCost cost = HashCost::Interactive);
  // Operators kept in a SQLite file of their own.
  explicit OperatorDirectory(const std::string& dbPath, HashCost cost = HashCost::Interactive);
  ~OperatorDirectory();
  OperatorDirectory(const OperatorDirectory&) = delete;
  OperatorDirectory& operator=(const OperatorDirectory&) = delete;

  // Adds or replaces an operator; the password is hashed here and never kept.
  void Save(const Operator& op, const std::string& password);
  std::optional<Operator> Find(const std::string& code);
  // The operator when the password is theirs; nullopt for an unknown operator
  // or a wrong password alike.
  std::optional<Operator> Verify(const std::string& code, const std::string& password);
  IStorage& storage() { return storage_; }

 private:
  std::unique_ptr<IStorage> owned_;
  IStorage& storage_;
  HashCost cost_;
  std::mutex mutex_;
  // Verified against when the operator is unknown, so that a wrong code and a
  // wrong password take the same time.
  std::string decoy_;
};

struct Session {
  std::string token;
  Operator op;
  std::chrono::system_clock::time_point expires;
};

// Sessions live in the operators' database, so a token one server gave is
// good on every server of it, a logout ends it everywhere, and changing an
// operator ends their sessions at once.
class Sessions {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;
  explicit Sessions(OperatorDirectory& directory,
                    std::chrono::seconds lifetime = std::chrono::hours(10), Clock clock = {},
                    LoginPolicy policy = {});

  // Throws ServerError "Operador ou senha inválidos." on any mismatch, and
  // refuses at once a try the throttle says comes too early (login_throttle.h).
  // `client` is the caller's address, empty for a caller inside the process.
  // Every try is logged with its operator code, address and outcome.
  Session Login(const std::string& code, const std::string& password,
                const std::string& client = {});
  // A session for an operator the program itself vouches for (the demo's
  // buyer): no password involved.
  Session Open(const Operator& op);
  // The session of a token; throws ServerError asking to log in when the token
  // is missing, unknown or expired.
  Session Require(const std::string& token);
  void Logout(const std::string& token);
  // Sessions open now, on every server of the database.
  size_t Count();

 private:
  double Now() const;

  OperatorDirectory& directory_;
  std::chrono::seconds lifetime_;
  Clock clock_;
  LoginThrottle throttle_;
};

// Splits "a,b, c" into its trimmed, non-empty parts.
std::vector<std::string> SplitList(const std::string& text);

}  // namespace apura::server
