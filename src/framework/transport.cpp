#include "framework/transport.h"

namespace apura {

const char* ErrorCodeName(ErrorCode code) {
  switch (code) {
    case ErrorCode::Ok:
      return "ok";
    case ErrorCode::Unauthenticated:
      return "unauthenticated";
    case ErrorCode::Forbidden:
      return "forbidden";
    case ErrorCode::InvalidArgument:
      return "invalid argument";
    case ErrorCode::Conflict:
      return "conflict";
    case ErrorCode::Busy:
      return "busy";
    case ErrorCode::NotFound:
      return "not found";
    case ErrorCode::Internal:
      return "internal";
  }
  return "internal";
}

std::string EscapeNul(std::string text) {
  if (text.find('\0') == std::string::npos) return text;
  std::string escaped;
  escaped.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\0')
      escaped += "\\0";
    else
      escaped += c;
  }
  return escaped;
}

ErrorCode FailureCode(const Value& envelope) {
  if (envelope.kind() != Value::Kind::Array) return ErrorCode::Internal;
  const ValueArray& a = envelope.AsArray();
  if (a.empty() || a[0].kind() != Value::Kind::Boolean) return ErrorCode::Internal;
  if (a[0].AsBoolean()) return ErrorCode::Ok;
  if (a.size() < 3 || a[2].kind() != Value::Kind::Integer) return ErrorCode::Internal;
  const int64_t n = a[2].AsInteger();
  if (n <= 0 || n > static_cast<int64_t>(kLastErrorCode)) return ErrorCode::Internal;
  return static_cast<ErrorCode>(n);
}

}  // namespace apura
