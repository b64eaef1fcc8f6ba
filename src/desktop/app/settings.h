#pragma once
// The host's session settings: where the application server is, who is
// working, in which branch and module, and the user's number and date forms.
// They come from the settings file, and the command line overrides it.

#include <QSettings>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

namespace apura::desktop {

struct HostSettings {
  std::string serverHost = "127.0.0.1";
  int serverPort = 50051;
  bool keepConnected = false;
  std::string operatorCode = "ADMIN";
  std::string branch = "001";
  std::string processingDate;  // in the short date format; empty: today
  int activeModule = 4;
  std::string shortDateFormat;  // platform picture, e.g. "dd/mm/yyyy"
  char decimalSeparator = ',';
  char thousandSeparator = '.';
  std::string productTreePicture;  // empty: codes shown as stored
  std::string modulesDir;          // empty: the executable's folder
  std::string localDatabase;       // empty: apura-local.sqlite in the data folder
  std::string screen = "PRQ05001";
  int screenHeight = 0;  // 0: the screen's own
  bool demo = false;
  // PEM file of the authority that signed the server's certificate; empty: a
  // plain-text connection, which servers accept on loopback only.
  std::string tlsCaFile;
  std::string demoDir;  // empty: the data folder
  size_t demoRows = 0;  // 0: the ordinary demo; else about that many delivery rows
  // Batch report: the report's code and the PDF file it is written to; the
  // host then renders it without a window and ends.
  std::string reportCode;
  std::string reportPdf;
  // The seven launch values, when given on the command line.
  std::optional<std::vector<std::string>> launchValues;
};

// The user's locale as the platform's pictures: "dd/MM/yyyy" -> "dd/mm/yyyy".
std::string PlatformDateFormat(const QString& qtFormat);
// Defaults from the user's locale (date format, separators).
HostSettings LocaleDefaults();

// Reads the settings file over `base`; unknown keys are ignored.
void ReadSettingsFile(QSettings& file, HostSettings& settings);

// Applies the command line (program name first) over `settings`. Answers
// false with `error` saying what is wrong (an unknown option, a port that is
// not a number, a module that is not 4, 34 or 77, launch values that are not
// seven); `helpText` receives the usage when --help was asked for.
bool ParseCommandLine(const QStringList& arguments, HostSettings& settings, QString& error,
                      QString* helpText = nullptr, QString* settingsFile = nullptr);

// Installs the number and date forms in the framework's format settings.
void ApplyFormats(const HostSettings& settings);

}  // namespace apura::desktop
