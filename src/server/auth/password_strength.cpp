#include "server/auth/password_strength.h"

#include <zxcvbn.h>

#include <cmath>
#include <vector>

namespace apura::server {

std::string PasswordWeakness(const std::string& password, const std::string& code,
                             const std::string& name) {
  size_t chars = 0;
  for (unsigned char c : password) chars += (c & 0xC0) != 0x80;
  if (chars < kMinPasswordChars)
    return "A senha deve ter ao menos " + std::to_string(kMinPasswordChars) + " caracteres.";
  std::vector<const char*> own{code.c_str(), name.c_str(), nullptr};
  if (password.find('\0') != std::string::npos) return "A senha não pode conter o caractere NUL.";
  const double bits = ZxcvbnMatch(password.c_str(), own.data(), nullptr);
  if (!(bits >= kMinPasswordBits))
    return "A senha é fácil de adivinhar (estimativa de " + std::to_string(std::lround(bits)) +
           " bits; o mínimo é " + std::to_string(std::lround(kMinPasswordBits)) +
           "): use mais palavras ou caracteres incomuns.";
  return {};
}

}  // namespace apura::server
