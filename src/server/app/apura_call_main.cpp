// apura-call: calls one method of an application-server object from the command
// line, through the same client transport as the worksheet.
//
//   apura-call [--json] [--timeout SECONDS] [--login OPERATOR | --token TOKEN]
//              [--tls-ca PEM] HOST:PORT[,HOST:PORT...] OBJECT METHOD [ARG...]
//
// Several servers are balanced as the worksheet's host balances them: the call
// goes to one that answers, and a read is sent to another when its server is
// lost under it.
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
// its text on standard error with exit status 1; a transport error exits with 2,
// and so does a command line it refuses. --help describes every option.

#include <CLI/CLI.hpp>
#include <algorithm>
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
      return nullptr;
    case Value::Kind::Boolean:
      return v.AsBoolean();
    case Value::Kind::Integer:
      return v.AsInteger();
    case Value::Kind::Float:
      return v.AsFloat();
    case Value::Kind::Text:
      return v.ToText();
    case Value::Kind::Date:
      return DateText(v.AsDate());
    case Value::Kind::Array: {
      Json a = Json::array();
      for (const Value& x : v.AsArray()) a.push_back(ToJson(x));
      return a;
    }
    case Value::Kind::Packet: {
      const DataPacket& p = v.AsPacket();
      Json fields = Json::array();
      for (const auto& f : p.fields()) {
        Json fj = Json::object();
        fj.emplace("name", f.name);
        fj.emplace("type", apura::FieldTypeName(f.type));
        if (f.size) fj.emplace("size", f.size);
        fields.push_back(std::move(fj));
      }
      Json rows = Json::array();
      for (size_t r = 0; r < p.RowCount(); ++r) {
        Json row = Json::array();
        for (size_t c = 0; c < p.fields().size(); ++c) row.push_back(ToJson(p.Cell(c, r)));
        rows.push_back(std::move(row));
      }
      Json out = Json::object();
      out.emplace("fields", std::move(fields));
      out.emplace("rows", std::move(rows));
      return out;
    }
  }
  return nullptr;
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

int Refuse(const std::string& why) {
  std::cerr << "apura-call: " << why << "\n"
            << "Run with --help for the options.\n";
  return 2;
}

// Options are read only before METHOD: everything after it is an argument of the
// call, however it looks ("--json", "-5"). The end of the options is marked with
// "--" so the parser takes the rest as they are.
std::vector<std::string> MarkArguments(const CLI::App& app, int argc, char** argv) {
  std::vector<std::string> out(argv + 1, argv + argc);
  int positionals = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    const std::string& a = out[i];
    if (a == "--") return out;
    if (a.size() > 1 && a[0] == '-' && a.find('=') == std::string::npos) {
      const CLI::Option* o = app.get_option_no_throw(a);
      if (!o) return out;                        // refused by the parser, naming it
      if (o->get_items_expected_min() > 0) ++i;  // its value
      continue;
    }
    if (++positionals == 3) {
      if (i + 1 < out.size()) out.insert(out.begin() + static_cast<std::ptrdiff_t>(i) + 1, "--");
      return out;
    }
  }
  return out;
}

}  // namespace

// The sanitizer build's leak check reads this at exit. gRPC's resolver asks
// c-ares for a host name, and c-ares keeps a few bytes until the process ends;
// reported, they would turn a call that succeeded into exit status 1. Only that
// library is let off: a leak of ours still fails the program.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libcares.so\n";
}

int main(int argc, char** argv) {
  bool json = false;
  std::string login, token, address, object, method;
  std::vector<std::string> argTexts;
  apura::rpc::GrpcClientOptions options;

  CLI::App app{
      "Calls one method of an application-server object, through the same client transport\n"
      "as the worksheet. A packet prints as an aligned table, an array element by element.\n"
      "A failure prints its text and code on standard error and exits 1; an unreachable\n"
      "server or a timeout exits 2.",
      "apura-call"};
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.get_formatter()->column_width(30);
  app.add_flag("--json", json, "Print the answer as JSON");
  app.add_option_function<std::string>(
         "--timeout",
         [&](const std::string& text) {
           char* end = nullptr;
           double s = std::strtod(text.c_str(), &end);
           // A day is far beyond any call; larger values would overflow the deadline.
           if (text.empty() || *end != '\0' || !(s > 0) || !(s <= 86400))
             throw CLI::ValidationError("--timeout takes seconds, more than 0 and at most 86400");
           options.callTimeoutSeconds = s;
         },
         "Give up on the call after this many seconds")
      ->type_name("SECONDS");
  auto* loginOption =
      app.add_option("--login", login,
                     "Log OPERATOR in first, with the password from APURA_PASSWORD or else the "
                     "first line of standard input, and call in that session")
          ->type_name("OPERATOR");
  app.add_option("--token", token, "Call in a session opened before")
      ->type_name("TOKEN")
      ->excludes(loginOption);
  app.add_option("--tls-ca", options.tlsCaFile,
                 "Certificate authority to check a TLS server against")
      ->type_name("PEM");
  app.add_option("address", address, "The server, or several separated by commas")
      ->type_name("HOST:PORT")
      ->required();
  app.add_option("object", object, "The object, e.g. Cmp.rdmCompras")
      ->type_name("OBJECT")
      ->required();
  app.add_option("method", method, "The method, e.g. GetParamCmp")->type_name("METHOD")->required();
  app.add_option("args", argTexts,
                 "The method's arguments: texts unless prefixed n:NUMBER, i:INTEGER, "
                 "b:true|false, d:YYYY-MM-DD[THH:MM:SS], null:, or t:TEXT for a text that "
                 "would otherwise look prefixed; ref: in front passes one by reference")
      ->type_name("ARG...");
  try {
    std::vector<std::string> args = MarkArguments(app, argc, argv);
    std::reverse(args.begin(), args.end());  // the parser takes them from the back
    app.parse(args);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    return Refuse(e.what());
  }
  try {
    apura::rpc::ParseServerAddresses(address, 0);
  } catch (const std::invalid_argument& e) {
    return Refuse("the address must be HOST:PORT or a list of them separated by commas: " +
                  std::string(e.what()));
  }

  apura::rpc::TuneAllocatorForLargePackets();
  auto& fmt = apura::CurrentFormat();
  fmt.decimalSeparator = '.';
  fmt.thousandSeparator = ',';

  try {
    std::vector<CallArg> args;
    for (const std::string& text : argTexts) args.push_back(ParseArg(text));
    options.sessionToken = [&token] { return token; };
    auto transport = apura::rpc::MakeGrpcTransport(options);
    transport->Connect(address, 0);
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
    Value envelope = transport->Invoke(object, method, args);
    const auto& parts = envelope.AsArray();
    if (!parts[0].AsBoolean()) {
      // The code last, in brackets, for scripts that act on it.
      std::cerr << parts[1].ToText() << " [" << apura::ErrorCodeName(apura::FailureCode(envelope))
                << "]\n";
      return 1;
    }
    if (json) {
      std::cout << apura::server::DumpJson(ToJson(parts[1]), 2) << "\n";
    } else {
      Print(parts[1], "");
    }
    // Whatever happens at exit, the answer is out.
    std::cout.flush();
    return std::cout ? 0 : 2;
  } catch (const std::invalid_argument& e) {
    return Refuse(e.what());
  } catch (const std::exception& e) {
    std::cerr << "apura-call: " << e.what() << "\n";
    return 2;
  }
}
