#pragma once
// Whether a new operator's password is good enough to keep: long enough, and
// hard to guess by zxcvbn's estimate (dictionaries, keyboard runs, dates,
// repeats, and the operator's own code and name).

#include <string>

namespace apura::server {

inline constexpr size_t kMinPasswordChars = 10;
// zxcvbn's estimate in bits; 2^34 guesses is its "very unguessable" mark.
inline constexpr double kMinPasswordBits = 34;

// Why the password is too weak, in Portuguese; empty when it is good enough.
std::string PasswordWeakness(const std::string& password, const std::string& code,
                             const std::string& name);

}  // namespace apura::server
