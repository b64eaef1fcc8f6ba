#include "framework/messages.h"

#include <stdexcept>

namespace apura {

void TMessages::Add(std::string key, std::string text) {
  if (Has(key))
    throw std::invalid_argument("Catalogue " + Name + " already holds the key '" + key + "'");
  lines_.emplace_back(std::move(key), std::move(text));
  Changed("Lines");
}

void TMessages::SetLines(const std::vector<std::string>& lines) {
  std::vector<std::pair<std::string, std::string>> parsed;
  parsed.reserve(lines.size());
  for (const std::string& line : lines) {
    size_t bar = line.find('|');
    if (bar == std::string::npos)
      throw std::invalid_argument("Catalogue " + Name + ": line without '|': \"" + line + "\"");
    std::string key = line.substr(0, bar);
    for (const auto& [k, t] : parsed)
      if (k == key)
        throw std::invalid_argument("Catalogue " + Name + " repeats the key '" + key + "'");
    parsed.emplace_back(std::move(key), line.substr(bar + 1));
  }
  lines_ = std::move(parsed);
  Changed("Lines");
}

bool TMessages::Has(std::string_view key) const {
  for (const auto& [k, t] : lines_)
    if (k == key) return true;
  return false;
}

const std::string& TMessages::Msg(std::string_view key) const {
  for (const auto& [k, t] : lines_)
    if (k == key) return t;
  throw std::out_of_range("Message '" + std::string(key) + "' is not in catalogue " +
                          (Name.empty() ? std::string("(unnamed)") : Name));
}

int TMessages::ShowMsg(std::string_view key, TMsgDlgType kind, TMsgDlgButtons buttons,
                       int helpContext) const {
  return Host().MessageBox(Msg(key), {}, kind, buttons, helpContext);
}

std::string FormatMsg(std::string_view text, const std::vector<std::string>& args) {
  std::string out;
  out.reserve(text.size());
  size_t next = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size()) {
      if (text[i + 1] == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (text[i + 1] == 's' && next < args.size()) {
        out += args[next++];
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

}  // namespace apura
