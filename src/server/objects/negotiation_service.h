#pragma once
// The server objects of the two screens the worksheet opens on a quotation
// line: negotiation and simulation (read the line, simulate a unit price,
// record the negotiated one) and the spreadsheet information (read the line
// and its delivery requests).

#include "contract/objects.h"
#include "rpc/dispatch.h"
#include "server/services/tally_service.h"

namespace apura::server {

class Sessions;

using contract::kNegotiationObject;
using contract::kSpreadsheetObject;

// Both read GetCotacao(centre, collection, supplier, product, brand, region,
// tally) and GetEntregas(centre, product, region, tally, collection, supplier,
// brand); the negotiation object adds SimulaPreco and GravaPreco(centre,
// collection, supplier, product, brand, region, unit price, tally), which
// answer [PRECOECON, PRECOECONPI], GravaPreco storing the price.
// With sessions, every call needs a live one whose operator works in the
// centre the call names.
void RegisterCompanionObjects(rpc::ServerRegistry& registry, TallyService& service,
                              Sessions* sessions = nullptr);

}  // namespace apura::server
