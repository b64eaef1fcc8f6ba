#pragma once
// The message catalogue component: every text a screen shows or sends, by key.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/controls.h"
#include "framework/host.h"

namespace apura {

class TMessages : public TComponent {
 public:
  using TComponent::TComponent;

  // Appends a line; a key already held is an error naming it.
  void Add(std::string key, std::string text);
  // Replaces the catalogue by "key|text" lines: the key is what comes before
  // the first "|", the text everything after it. A line without "|" or a
  // repeated key is an error quoting the line.
  void SetLines(const std::vector<std::string>& lines);
  void Clear() { lines_.clear(); }

  const std::vector<std::pair<std::string, std::string>>& Lines() const { return lines_; }
  int Count() const { return static_cast<int>(lines_.size()); }
  // Keys are matched exactly, letter case included.
  bool Has(std::string_view key) const;
  // The key's text; a key the catalogue does not hold is an error naming the
  // key and the catalogue.
  const std::string& Msg(std::string_view key) const;
  // Shows the key's text through the host; answers the button pressed.
  int ShowMsg(std::string_view key, TMsgDlgType kind, TMsgDlgButtons buttons,
              int helpContext = 0) const;

 private:
  std::vector<std::pair<std::string, std::string>> lines_;
};

// Fills the "%s" placeholders of a catalogue text in order; "%%" is a percent
// sign. Placeholders beyond the arguments stay as they are.
std::string FormatMsg(std::string_view text, const std::vector<std::string>& args);

}  // namespace apura
