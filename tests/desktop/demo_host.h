#pragma once
// What the worksheet suites start from: the demo server in a temporary folder,
// its buyer logged in, the user's Brazilian forms, and every connection of the
// worksheet going to the demo over gRPC with the demo's local database.

#include <QTemporaryDir>
#include <memory>

#include "desktop/app/settings.h"

namespace apura::desktop {
class DemoEnvironment;
}

namespace apura::desktop::test {

// The settings a host on the demo starts with (module 34).
HostSettings StartDemoHost(const QTemporaryDir& dir, std::unique_ptr<DemoEnvironment>& demo);
// Undoes StartDemoHost; the host and its windows must be gone first.
void StopDemoHost(std::unique_ptr<DemoEnvironment>& demo);

}  // namespace apura::desktop::test
