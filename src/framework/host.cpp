#include "framework/host.h"

#include <stdexcept>

namespace apura {

namespace {
IHostServices* g_host = nullptr;
}

const char* MsgDlgTypeName(TMsgDlgType t) {
  switch (t) {
    case TMsgDlgType::mtWarning:
      return "warning";
    case TMsgDlgType::mtError:
      return "error";
    case TMsgDlgType::mtInformation:
      return "information";
    case TMsgDlgType::mtConfirmation:
      return "confirmation";
    case TMsgDlgType::mtCustom:
      return "custom";
  }
  return "?";
}

std::string MsgDlgButtonsText(TMsgDlgButtons b) {
  static const std::pair<TMsgDlgBtn, const char*> names[] = {
      {mbYes, "Yes"},           {mbNo, "No"},       {mbOK, "OK"},
      {mbCancel, "Cancel"},     {mbAbort, "Abort"}, {mbRetry, "Retry"},
      {mbIgnore, "Ignore"},     {mbAll, "All"},     {mbNoToAll, "NoToAll"},
      {mbYesToAll, "YesToAll"}, {mbHelp, "Help"}};
  std::string out;
  for (auto [bit, name] : names) {
    if (!(b & bit)) continue;
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out.empty() ? "none" : out;
}

int IHostServices::NumeroSemana(DateTime d) {
  return WeekNumber(d);
}
std::string IHostServices::NomeSemana(DateTime d) {
  return DayName(d);
}

IHostServices& Host() {
  if (!g_host) throw std::logic_error("No host services installed (SetHost was not called)");
  return *g_host;
}
void SetHost(IHostServices* host) {
  g_host = host;
}
bool HasHost() {
  return g_host != nullptr;
}

void MensErro(const std::string& text, bool stop) {
  Host().MessageBox(text, {}, TMsgDlgType::mtError, mbOK, 0);
  if (stop) Abort();
}

bool EmptyString(std::string_view text) {
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\v' && c != '\f') return false;
  return true;
}

int MessageDlg(const std::string& text, TMsgDlgType kind, TMsgDlgButtons buttons, int helpContext) {
  return Host().MessageBox(text, {}, kind, buttons, helpContext);
}

int MsgAlertEx(const std::string& text, TMsgDlgType kind, const std::vector<std::string>& captions,
               int defaultButton, int cancelButton, int helpContext) {
  return Host().MsgAlertEx(text, kind, captions, defaultButton, cancelButton, helpContext);
}

int ModuloAtiv() {
  return Host().ModuloAtiv();
}
std::string Operador() {
  return Host().Operador();
}
std::string FiliProc() {
  return Host().FiliProc();
}
DateTime DataProc(const std::string& branch) {
  return Host().DataProc(branch);
}
std::string WebURL() {
  return Host().WebURL();
}
int WebPort() {
  return Host().WebPort();
}
bool KeepConnected() {
  return Host().KeepConnected();
}
std::string DBPict(int kind) {
  return Host().DBPict(kind);
}
int NumeroSemana(DateTime d) {
  return Host().NumeroSemana(d);
}
std::string NomeSemana(DateTime d) {
  return Host().NomeSemana(d);
}
void ActiveShowAvi(int kind, const std::string& caption) {
  Host().ActiveShowAvi(kind, caption);
}
void DeactiveShowAvi() {
  Host().DeactiveShowAvi();
}
void LoadBPL(const std::string& screenCode, const ValueArray& params) {
  Host().LoadBPL(screenCode, params);
}
bool Pesquisar(TDataSource& source, const std::string& caption, bool flag1, bool flag2) {
  return Host().Pesquisar(source, caption, flag1, flag2);
}
void Procura(TClientDataSet& table) {
  Host().Procura(table);
}
void MsgEventForm(MessageHook hook) {
  Host().MsgEventForm(std::move(hook));
}

int WeekNumber(DateTime d) {
  int y, m, day;
  d.Decode(y, m, day);
  DateTime jan1 = DateTime::FromDate(y, 1, 1);
  // Start of the week (Sunday) holding 1 January.
  double firstSunday = jan1.DateOnly().days - (jan1.DayOfWeek() - 1);
  double days = d.DateOnly().days - firstSunday;
  return static_cast<int>(days / 7) + 1;
}

std::string DayName(DateTime d) {
  static const char* const names[] = {"Domingo",      "Segunda-feira", "Terça-feira",
                                      "Quarta-feira", "Quinta-feira",  "Sexta-feira",
                                      "Sábado"};
  return names[d.DayOfWeek() - 1];
}

std::string LeftChars(std::string_view text, size_t count) {
  size_t i = 0, chars = 0;
  while (i < text.size()) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == count) break;
      ++chars;
    }
    ++i;
  }
  return std::string(text.substr(0, i));
}

bool GuardedCall(const std::function<void()>& event) {
  try {
    event();
    return true;
  } catch (const EAbort&) {
    return false;
  } catch (const std::exception& e) {
    Host().ShowException(e);
    return false;
  } catch (...) {
    // Whatever a handler throws must stop here: past this point lies the
    // host's event loop, which no exception may cross.
    Host().ShowException(
        std::runtime_error("Unexpected error: an exception that is not a standard error"));
    return false;
  }
}

}  // namespace apura
