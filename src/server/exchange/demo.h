#pragma once
// Deterministic demo data: a tally with readable Portuguese names, a few choice
// rules, zero-priced (unanswered) quotations, minimum-value flags and deliveries
// spread over the period. The same seed gives the same document on any machine.

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "server/auth/operators.h"
#include "server/model.h"

namespace apura::server {

struct DemoOptions {
  uint64_t seed = 20261208;
  int stockProducts = 12;
  int regions = 3;
  int branches = 8;
  int deliveryDates = 2;
  int suppliers = 10;
  int brands = 8;
  int collections = 3;
  int quotesPerProductRegion = 4;
  std::string centre = "0001", tally = "1234", buyer = "COMP01";

  // Sizes that give about `rows` delivery rows (tally price items).
  static DemoOptions ForDeliveryRows(size_t rows);
};

TallyDocument GenerateDemo(const DemoOptions& options = {});

// The demo's buyer as an operator: the demo centre, every branch, and the
// manual-choice authorisation "PEME".
Operator DemoBuyer(const DemoOptions& options = {});

// Creates, when missing, the host's local tables REGIAO, AUTGRUPOP and OPERGRUPOP
// and fills them: the regions of `doc` (of the default demo when null), and the
// operator groups: "COMPRAS" (operators "COMP01" and "ADMIN") holds the
// manual-choice authorisation "PEME"; "CONSULTA" (operator "VISITA") does not.
void SeedLocalDatabase(sqlite3* db, const TallyDocument* doc = nullptr);
void SeedLocalDatabase(const std::string& path, const TallyDocument* doc = nullptr);

}  // namespace apura::server
