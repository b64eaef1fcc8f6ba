// apura-call: calls one method of an application-server object from the command
// line, through the same client transport as the worksheet.
//
//   apura-call [--json] [--timeout SECONDS] [--login OPERATOR | --token TOKEN]
//              [--tls-ca PEM] HOST:PORT OBJECT METHOD [ARG...]
//
// --login logs the operator in first, with the password from the environment
// variable APURA_PASSWORD or else the first line of standard input, and makes
// the call in that session; --token uses a session opened before.
//
// Arguments are texts unless prefixed: "n:1.5" number, "i:42" integer,
// "b:true" boolean, "d:2026-12-08" or "d:2026-12-08T14:30:00" date, "null:" null,
// "t:..." a text that would otherwise look prefixed. "ref:" in front of any of
// these passes the argument by reference ("ref:0001", "ref:n:2").
// A packet prints as an aligned table, an array element by element, a failure as
// its text on standard error with exit status 1; a transport error exits with 2.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "contract/objects.h"
#include "framework/format.h"
#include "framework/packet.h"
#include "rpc/grpc_transport.h"
#include "server/exchange/json.h"

namespace {

using apura::CallArg;
using apura::DataPacket;
using apura::DateTime;
using apura::Value;
using apura::server::Json;

std::string DateText(DateTime d) {
  int y, m, dd, h, mi, s, ms;
  d.Decode(y, m, dd);
  d.DecodeTime(h, mi, s, ms);
  char buf[32];
  if (d.HasTime()) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", y, m, dd, h, mi, s);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, dd);
  }
  return buf;
}

std::string CellText(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Null:
      return "";
    case Value::Kind::Date:
      return DateText(v.AsDate());
    case Value::Kind::Boolean:
      return v.AsBoolean() ? "true" : "false";
    case Value::Kind::Packet:
      return "<packet>";
    case Value::Kind::Array:
      return "<array>";
    default:
      return v.ToText();
  }
}

size_t Width(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

void PrintTable(const DataPacket& p) {
  const auto& fields = p.fields();
  std::vector<std::vector<std::string>> cells(p.RowCount());
  std::vector<size_t> width(fields.size());
  for (size_t c = 0; c < fields.size(); ++c) width[c] = Width(fields[c].name);
  for (size_t r = 0; r < p.RowCount(); ++r) {
    cells[r].resize(fields.size());
    for (size_t c = 0; c < fields.size(); ++c) {
      cells[r][c] = CellText(p.Cell(c, r));
      width[c] = std::max(width[c], Width(cells[r][c]));
    }
  }
  auto line = [&](const std::vector<std::string>& row) {
    std::string out;
    for (size_t c = 0; c < row.size(); ++c) {
      bool right = fields[c].type != apura::FieldType::String;
      std::string pad(width[c] - Width(row[c]), ' ');
      out += right ? pad + row[c] : row[c] + pad;
      if (c + 1 < row.size()) out += "  ";
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    std::cout << out << "\n";
  };
  std::vector<std::string> header;
  for (const auto& f : fields) header.push_back(f.name);
  line(header);
  std::vector<std::string> rule;
  for (size_t w : width) rule.push_back(std::string(w, '-'));
  line(rule);
  for (const auto& row : cells) line(row);
  std::cout << "(" << p.RowCount() << (p.RowCount() == 1 ? " row" : " rows") << ")\n";
}

Json ToJson(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Null:
      return Json();
    case Value::Kind::Boolean:
      return Json(v.AsBoolean());
    case Value::Kind::Integer:
      return Json(static_cast<double>(v.AsInteger()));
    case Value::Kind::Float:
      return Json(v.AsFloat());
    case Value::Kind::Text:
      return Json(v.ToText());
    case Value::Kind::Date:
      return Json(DateText(v.AsDate()));
    case Value::Kind::Array: {
      Json::Array a;
      for (const Value& x : v.AsArray()) a.push_back(ToJson(x));
      return Json(std::move(a));
    }
    case Value::Kind::Packet: {
      const DataPacket& p = v.AsPacket();
      Json out{Json::Object{}};
      Json::Array fields;
      for (const auto& f : p.fields()) {
        Json fj{Json::Object{}};
        fj.Set("name", f.name);
        fj.Set("type", apura::FieldTypeName(f.type));
        if (f.size) fj.Set("size", f.size);
        fields.push_back(std::move(fj));
      }
      out.Set("fields", Json(std::move(fields)));
      Json::Array rows;
      for (size_t r = 0; r < p.RowCount(); ++r) {
        Json::Array row;
        for (size_t c = 0; c < p.fields().size(); ++c) row.push_back(ToJson(p.Cell(c, r)));
        rows.push_back(Json(std::move(row)));
      }
      out.Set("rows", Json(std::move(rows)));
      return out;
    }
  }
  return Json();
}

void Print(const Value& v, const std::string& indent) {
  if (v.kind() == Value::Kind::Packet) {
    PrintTable(v.AsPacket());
  } else if (v.kind() == Value::Kind::Array) {
    const auto& a = v.AsArray();
    for (size_t i = 0; i < a.size(); ++i) {
      std::cout << indent << "[" << i << "] ";
      if (a[i].kind() == Value::Kind::Packet) {
        std::cout << "packet\n";
        PrintTable(a[i].AsPacket());
      } else if (a[i].kind() == Value::Kind::Array) {
        std::cout << "array of " << a[i].AsArray().size() << "\n";
        Print(a[i], indent + "  ");
      } else {
        std::cout << (a[i].IsNull() ? "null" : CellText(a[i])) << "\n";
      }
    }
  } else {
    std::cout << (v.IsNull() ? "null" : CellText(v)) << "\n";
  }
}

bool StartsWith(const std::string& s, const char* p) {
  return s.rfind(p, 0) == 0;
}

CallArg ParseArg(std::string s) {
  CallArg a;
  if (StartsWith(s, "ref:")) {
    a.byRef = true;
    s = s.substr(4);
  }
  auto fail = [&](const char* what) {
    throw std::invalid_argument("argument \"" + s + "\": " + what);
  };
  if (StartsWith(s, "t:")) {
    a.value = Value(s.substr(2));
  } else if (StartsWith(s, "n:")) {
    char* end = nullptr;
    double d = std::strtod(s.c_str() + 2, &end);
    if (s.size() == 2 || *end) fail("not a number");
    a.value = Value(d);
  } else if (StartsWith(s, "i:")) {
    char* end = nullptr;
    long long v = std::strtoll(s.c_str() + 2, &end, 10);
    if (s.size() == 2 || *end) fail("not an integer");
    a.value = Value(static_cast<int64_t>(v));
  } else if (StartsWith(s, "b:")) {
    if (s == "b:true")
      a.value = Value(true);
    else if (s == "b:false")
      a.value = Value(false);
    else
      fail("not true or false");
  } else if (StartsWith(s, "d:")) {
    int y, m, d, h = 0, mi = 0, sec = 0;
    int n = std::sscanf(s.c_str() + 2, "%d-%d-%dT%d:%d:%d", &y, &m, &d, &h, &mi, &sec);
    if (n != 3 && n != 6) fail("not a date YYYY-MM-DD[THH:MM:SS]");
    a.value = Value(DateTime::FromDateTime(y, m, d, h, mi, sec));
  } else if (s == "null:") {
    a.value = Value();
  } else {
    a.value = Value(s);
  }
  return a;
}

int Usage(const char* why) {
  if (why) std::cerr << "apura-call: " << why << "\n";
  std::cerr << "usage: apura-call [--json] [--timeout SECONDS] [--login OPERATOR | --token TOKEN]\n"
               "                  [--tls-ca PEM] HOST:PORT OBJECT METHOD [ARG...]\n"
               "  ARG: text, or n:NUMBER, i:INTEGER, b:true|false, d:YYYY-MM-DD[THH:MM:SS],\n"
               "       null:, t:TEXT; prefix ref: to pass by reference\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  std::string login, token;
  apura::rpc::GrpcClientOptions options;
  std::vector<std::string> pos;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (pos.size() < 3 && a == "--json") {
      json = true;
    } else if (pos.size() < 3 && a == "--timeout") {
      if (i + 1 >= argc) return Usage("--timeout needs a value");
      char* end = nullptr;
      const char* text = argv[++i];
      options.callTimeoutSeconds = std::strtod(text, &end);
      // A day is far beyond any call; larger values would overflow the deadline.
      if (end == text || *end != '\0' || !(options.callTimeoutSeconds > 0) ||
          !(options.callTimeoutSeconds <= 86400))
        return Usage("--timeout takes seconds, more than 0 and at most 86400");
    } else if (pos.size() < 3 && (a == "--login" || a == "--token" || a == "--tls-ca")) {
      if (i + 1 >= argc) return Usage((a + " needs a value").c_str());
      (a == "--login" ? login : a == "--token" ? token : options.tlsCaFile) = argv[++i];
    } else if (pos.size() < 3 && (a == "--help" || a == "-h")) {
      return Usage(nullptr), 0;
    } else {
      pos.push_back(a);
    }
  }
  if (pos.size() < 3) return Usage("HOST:PORT, OBJECT and METHOD are required");
  auto colon = pos[0].rfind(':');
  if (colon == std::string::npos) return Usage("the address must be HOST:PORT");
  std::string host = pos[0].substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  int port = std::atoi(pos[0].c_str() + colon + 1);

  apura::rpc::TuneAllocatorForLargePackets();
  auto& fmt = apura::CurrentFormat();
  fmt.decimalSeparator = '.';
  fmt.thousandSeparator = ',';

  try {
    std::vector<CallArg> args;
    for (size_t i = 3; i < pos.size(); ++i) args.push_back(ParseArg(pos[i]));
    options.sessionToken = [&token] { return token; };
    auto transport = apura::rpc::MakeGrpcTransport(options);
    transport->Connect(host, port);
    if (!login.empty()) {
      std::string password;
      if (const char* env = std::getenv("APURA_PASSWORD"))
        password = env;
      else
        std::getline(std::cin, password);
      Value session =
          transport->Invoke(apura::contract::kSessionObject, apura::contract::kLoginMethod,
                            {apura::ByVal(Value(login)), apura::ByVal(Value(password))});
      const auto& s = session.AsArray();
      if (!s[0].AsBoolean()) {
        std::cerr << s[1].ToText() << " [" << apura::ErrorCodeName(apura::FailureCode(session))
                  << "]\n";
        return 1;
      }
      token = s[1].AsArray()[0].ToText();
    }
    Value envelope = transport->Invoke(pos[1], pos[2], args);
    const auto& parts = envelope.AsArray();
    if (!parts[0].AsBoolean()) {
      // The code last, in brackets, for scripts that act on it.
      std::cerr << parts[1].ToText() << " [" << apura::ErrorCodeName(apura::FailureCode(envelope))
                << "]\n";
      return 1;
    }
    if (json) {
      std::cout << ToJson(parts[1]).Dump(2) << "\n";
    } else {
      Print(parts[1], "");
    }
    return 0;
  } catch (const std::invalid_argument& e) {
    return Usage(e.what());
  } catch (const std::exception& e) {
    std::cerr << "apura-call: " << e.what() << "\n";
    return 2;
  }
}
