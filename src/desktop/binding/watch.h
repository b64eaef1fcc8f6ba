#pragma once
// Subscriptions of a view to components of the control model, dropped
// together when the view goes, and one by one as components announce their end.

#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/controls.h"

namespace apura::desktop {

class Watch {
 public:
  Watch() = default;
  ~Watch() { Clear(); }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  void On(TComponent& component, std::function<void(std::string_view property)> handler) {
    TComponent* c = &component;
    int token = c->Subscribe([this, c, h = std::move(handler)](TComponent&, std::string_view p) {
      if (p == "Destroying") Forget(c);
      h(p);
    });
    subs_.emplace_back(c, token);
  }
  void Clear() {
    auto subs = std::move(subs_);
    subs_.clear();
    for (auto& [c, token] : subs) c->Unsubscribe(token);
  }

 private:
  void Forget(TComponent* c) {
    for (auto it = subs_.begin(); it != subs_.end();) {
      if (it->first == c) {
        c->Unsubscribe(it->second);
        it = subs_.erase(it);
      } else {
        ++it;
      }
    }
  }
  std::vector<std::pair<TComponent*, int>> subs_;
};

}  // namespace apura::desktop
