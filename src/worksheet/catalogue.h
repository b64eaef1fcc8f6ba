#pragma once
// The texts the worksheet shows or sends, by key. Forms load them into their
// TMessages component at creation; code names a text only by its key.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace apura::worksheet {

struct MessageLine {
  std::string_view key;
  std::string_view text;
};

// The worksheet's catalogue, in its order.
std::span<const MessageLine> PlanApurNegGridMessages();
// The justification dialog's catalogue.
std::span<const MessageLine> ObservJustMessages();

// "key|text" lines as a catalogue component holds them.
std::vector<std::string> CatalogueLines(std::span<const MessageLine> lines);

}  // namespace apura::worksheet
