#include "desktop/app/settings.h"

#include <QCommandLineParser>
#include <QLocale>

#include "framework/format.h"
#include "rpc/grpc_transport.h"

namespace apura::desktop {

namespace {
std::string S(const QString& s) {
  return s.toStdString();
}
QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

bool ValidModule(int m) {
  return m == 4 || m == 34 || m == 77;
}

bool ParseBool(const QString& v, bool& out) {
  const QString s = v.trimmed().toLower();
  if (s == "1" || s == "true" || s == "yes" || s == "sim" || s == "s" || s == "on") {
    out = true;
    return true;
  }
  if (s == "0" || s == "false" || s == "no" || s == "nao" || s == "não" || s == "n" || s == "off") {
    out = false;
    return true;
  }
  return false;
}
}  // namespace

std::string PlatformDateFormat(const QString& qt) {
  // Qt's M and d pictures map onto the platform's m and d; a two-digit year
  // stays two digits.
  std::string out;
  for (int i = 0; i < qt.size();) {
    const QChar c = qt[i];
    int n = 1;
    while (i + n < qt.size() && qt[i + n] == c) ++n;
    if (c == 'd')
      out += std::string(size_t(std::min(n, 2)), 'd');
    else if (c == 'M')
      out += std::string(size_t(std::min(n, 2)), 'm');
    else if (c == 'y')
      out += n >= 4 ? "yyyy" : "yy";
    else
      out += QString(n, c).toStdString();
    i += n;
  }
  return out;
}

HostSettings LocaleDefaults() {
  HostSettings s;
  const QLocale locale = QLocale::system();
  // No locale chosen (C/POSIX): the system's own forms, comma and day first.
  if (locale.language() == QLocale::C) {
    s.shortDateFormat = "dd/mm/yyyy";
    return s;
  }
  const QString dec = locale.decimalPoint();
  const QString group = locale.groupSeparator();
  if (dec.size() == 1 && dec[0].unicode() < 128) s.decimalSeparator = char(dec[0].unicode());
  if (group.size() == 1 && group[0].unicode() < 128) s.thousandSeparator = char(group[0].unicode());
  if (s.thousandSeparator == s.decimalSeparator)
    s.thousandSeparator = s.decimalSeparator == ',' ? '.' : ',';
  const QString qtDate = locale.dateFormat(QLocale::ShortFormat);
  // Month names cannot be typed back as the worksheet's dates are.
  std::string date = qtDate.contains("MMM") ? std::string() : PlatformDateFormat(qtDate);
  // A locale whose short form has no four-digit year would misread dates of
  // other centuries; the platform's dates carry four digits.
  if (date.find("yyyy") == std::string::npos) {
    auto pos = date.find("yy");
    if (pos != std::string::npos) date.replace(pos, 2, "yyyy");
  }
  s.shortDateFormat = date.empty() ? "dd/mm/yyyy" : date;
  return s;
}

void ReadSettingsFile(QSettings& f, HostSettings& s) {
  f.beginGroup("server");
  // A list of servers reads as a list of texts unless it was quoted.
  const QVariant host = f.value("host", Q(s.serverHost));
  s.serverHost =
      S(host.typeId() == QMetaType::QStringList ? host.toStringList().join(',') : host.toString());
  // A port that is no number from 1 to 65535 keeps the one already set.
  bool portOk = false;
  const int port = f.value("port", s.serverPort).toInt(&portOk);
  if (portOk && port > 0 && port <= 65535) s.serverPort = port;
  // Read as the command line reads it: "no" or "não" is false, not a
  // non-empty text taken for true.
  if (f.contains("keepConnected")) ParseBool(f.value("keepConnected").toString(), s.keepConnected);
  f.endGroup();
  f.beginGroup("session");
  s.operatorCode = S(f.value("operator", Q(s.operatorCode)).toString());
  s.branch = S(f.value("branch", Q(s.branch)).toString());
  s.processingDate = S(f.value("processingDate", Q(s.processingDate)).toString());
  const int module = f.value("module", s.activeModule).toInt();
  if (ValidModule(module)) s.activeModule = module;
  f.endGroup();
  f.beginGroup("formats");
  s.shortDateFormat = S(f.value("shortDate", Q(s.shortDateFormat)).toString());
  // Separators are one ASCII character; anything else keeps the one set.
  auto separator = [](const QString& v, char& out) {
    if (v.size() == 1 && v[0].unicode() >= 32 && v[0].unicode() < 127) out = char(v[0].unicode());
  };
  separator(f.value("decimalSeparator").toString(), s.decimalSeparator);
  separator(f.value("thousandSeparator").toString(), s.thousandSeparator);
  // One character for both would make every number ambiguous: the decimal
  // one wins, as on the command line.
  if (s.thousandSeparator == s.decimalSeparator)
    s.thousandSeparator = s.decimalSeparator == ',' ? '.' : ',';
  s.productTreePicture = S(f.value("productTree", Q(s.productTreePicture)).toString());
  f.endGroup();
  f.beginGroup("host");
  s.modulesDir = S(f.value("modulesDir", Q(s.modulesDir)).toString());
  s.localDatabase = S(f.value("localDatabase", Q(s.localDatabase)).toString());
  f.endGroup();
}

bool ParseCommandLine(const QStringList& arguments, HostSettings& s, QString& error,
                      QString* helpText, QString* settingsFile) {
  QCommandLineParser p;
  p.setApplicationDescription("Apura desktop host");
  const QCommandLineOption help({"h", "help"}, "Show this help.");
  const QCommandLineOption server(
      "server", "Application server as host:port, or several separated by commas.", "host:port");
  const QCommandLineOption host("host", "Application server host.", "host");
  const QCommandLineOption port("port", "Application server port.", "port");
  const QCommandLineOption keep("keep-connected", "Open the server connections at once (yes/no).",
                                "yes|no");
  const QCommandLineOption oper("operator", "Operator code.", "code");
  const QCommandLineOption branch("branch", "Current branch code.", "code");
  const QCommandLineOption date("processing-date", "Processing date of the branch.", "date");
  const QCommandLineOption module("module", "Active module: 4, 34 or 77.", "code");
  const QCommandLineOption dateFormat("date-format", "Short date format, e.g. dd/mm/yyyy.",
                                      "picture");
  const QCommandLineOption decimal("decimal-separator", "Decimal separator.", "char");
  const QCommandLineOption tree("tree-picture", "Product-tree code picture.", "mask");
  const QCommandLineOption modules("modules-dir", "Folder of the screen modules.", "dir");
  const QCommandLineOption local("local-db", "Local database file.", "file");
  const QCommandLineOption screen("screen", "Screen code to open.", "code");
  const QCommandLineOption height("screen-height", "Pretend the screen is this high.", "pixels");
  const QCommandLineOption demo("demo", "Run against an in-process demo server.");
  const QCommandLineOption demoDir("demo-dir", "Folder of the demo databases.", "dir");
  const QCommandLineOption demoRows("demo-rows", "A demo tally of about this many delivery rows.",
                                    "rows");
  const QCommandLineOption launch("launch",
                                  "The seven launch values separated by '|': centre, buyer code, "
                                  "buyer name, start, end, tally, repeat flag.",
                                  "values");
  const QCommandLineOption file("settings", "Settings file to read.", "file");
  const QCommandLineOption report("report",
                                  "Render this report of the launch's tally (with --pdf).", "code");
  const QCommandLineOption pdf("pdf", "Write the --report to this PDF file, without a window.",
                               "file");
  const QCommandLineOption tlsCa("tls-ca", "Certificate authority of the server (PEM); TLS on.",
                                 "file");
  for (const auto* o :
       {&help,   &server,     &host,     &port,   &keep,    &oper,   &branch, &date,
        &module, &dateFormat, &decimal,  &tree,   &modules, &local,  &screen, &height,
        &demo,   &demoDir,    &demoRows, &launch, &file,    &report, &pdf,    &tlsCa})
    p.addOption(*o);
  p.addPositionalArgument("values", "The seven launch values, instead of --launch.",
                          "[centre buyer name start end tally flag]");
  if (!p.parse(arguments)) {
    error = p.errorText();
    return false;
  }
  if (p.isSet(help)) {
    if (helpText) *helpText = p.helpText();
    return true;
  }
  if (settingsFile && p.isSet(file)) *settingsFile = p.value(file);
  if (p.isSet(server)) {
    // One server as host and port; several as their list, each entry with its
    // port, which the transport balances.
    const QString v = p.value(server);
    std::vector<rpc::ServerAddress> list;
    try {
      list = rpc::ParseServerAddresses(S(v), 0);
    } catch (const std::invalid_argument& e) {
      error = QString("--server expects host:port, or several separated by commas, got \"%1\": %2")
                  .arg(v, QString::fromUtf8(e.what()));
      return false;
    }
    if (list.size() == 1) {
      s.serverHost = list[0].host;
      s.serverPort = list[0].port;
    } else {
      s.serverHost.clear();
      for (const rpc::ServerAddress& a : list) {
        if (!s.serverHost.empty()) s.serverHost += ',';
        s.serverHost += a.Text();
      }
    }
  }
  if (p.isSet(host)) s.serverHost = S(p.value(host));
  if (p.isSet(port)) {
    bool ok = false;
    const int n = p.value(port).toInt(&ok);
    if (!ok || n <= 0 || n > 65535) {
      error = QString("--port expects a number from 1 to 65535, got \"%1\"").arg(p.value(port));
      return false;
    }
    s.serverPort = n;
  }
  if (p.isSet(keep) && !ParseBool(p.value(keep), s.keepConnected)) {
    error = QString("--keep-connected expects yes or no, got \"%1\"").arg(p.value(keep));
    return false;
  }
  if (p.isSet(oper)) s.operatorCode = S(p.value(oper));
  if (p.isSet(branch)) s.branch = S(p.value(branch));
  if (p.isSet(date)) s.processingDate = S(p.value(date));
  if (p.isSet(module)) {
    bool ok = false;
    const int m = p.value(module).toInt(&ok);
    if (!ok || !ValidModule(m)) {
      error = QString("--module expects 4, 34 or 77, got \"%1\"").arg(p.value(module));
      return false;
    }
    s.activeModule = m;
  }
  if (p.isSet(dateFormat)) s.shortDateFormat = S(p.value(dateFormat));
  if (p.isSet(decimal)) {
    const QString d = p.value(decimal);
    if (d.size() != 1 || d[0].unicode() > 127) {
      error = QString("--decimal-separator expects one character, got \"%1\"").arg(d);
      return false;
    }
    s.decimalSeparator = char(d[0].unicode());
    if (s.thousandSeparator == s.decimalSeparator)
      s.thousandSeparator = s.decimalSeparator == ',' ? '.' : ',';
  }
  if (p.isSet(tree)) s.productTreePicture = S(p.value(tree));
  if (p.isSet(modules)) s.modulesDir = S(p.value(modules));
  if (p.isSet(local)) s.localDatabase = S(p.value(local));
  if (p.isSet(screen)) s.screen = S(p.value(screen));
  if (p.isSet(height)) s.screenHeight = p.value(height).toInt();
  if (p.isSet(demo)) s.demo = true;
  if (p.isSet(demoDir)) s.demoDir = S(p.value(demoDir));
  if (p.isSet(tlsCa)) s.tlsCaFile = S(p.value(tlsCa));
  if (p.isSet(demoRows)) {
    bool ok = false;
    const qulonglong n = p.value(demoRows).toULongLong(&ok);
    if (!ok || n == 0) {
      error = QString("--demo-rows expects a positive number, got \"%1\"").arg(p.value(demoRows));
      return false;
    }
    s.demoRows = size_t(n);
  }
  if (p.isSet(report)) s.reportCode = S(p.value(report));
  if (p.isSet(pdf)) s.reportPdf = S(p.value(pdf));
  if (!s.reportPdf.empty() && s.reportCode.empty()) {
    error = "--pdf needs --report to say which report";
    return false;
  }
  if (!s.reportCode.empty() && s.reportPdf.empty()) {
    error = "--report needs --pdf to say where the report goes";
    return false;
  }
  QStringList values;
  if (p.isSet(launch)) values = p.value(launch).split('|');
  if (!p.positionalArguments().isEmpty()) {
    if (!values.isEmpty()) {
      error = "Launch values given twice: both --launch and positional values";
      return false;
    }
    values = p.positionalArguments();
  }
  if (!values.isEmpty()) {
    if (values.size() != 7) {
      error = QString(
                  "Seven launch values are needed (centre, buyer code, buyer name, start, "
                  "end, tally, repeat flag); %1 given")
                  .arg(values.size());
      return false;
    }
    std::vector<std::string> v;
    for (const QString& x : values) v.push_back(S(x));
    s.launchValues = std::move(v);
  }
  return true;
}

void ApplyFormats(const HostSettings& s) {
  FormatSettings& f = CurrentFormat();
  f.decimalSeparator = s.decimalSeparator;
  f.thousandSeparator = s.thousandSeparator;
  if (!s.shortDateFormat.empty()) f.shortDateFormat = s.shortDateFormat;
}

}  // namespace apura::desktop
