#pragma once
// The tally exchange format: a JSON document describing one tally with everything
// it needs (centre, products, regions, branches, suppliers, brands, choice rules,
// quotation lines, branch requests). The demo generator writes it, --import reads
// it. Layout, every member required unless marked optional:
//
// {
//   "format": "apura-tally/1",
//   "centre": {"code": "0001", "name": "...", "IDTIPOAPUR": "1", "IDBLOQUEAAF": "N",
//              "IDCONSPRSOL": "N", "IDEXJUSTESCM": "S", "monthlyRate": 0.015,
//              "budget": null (optional, null = unlimited), "afDirectory": "" (optional)},
//   "tally": {"number": "1234", "buyer": "COMP01", "start": "2026-12-01", "end": "2026-12-31"},
//   "regions":   [{"code": "001", "name": "Norte"}],
//   "branches":  [{"code": "0101", "name": "Filial Centro", "region": "001"}],
//   "suppliers": [{"code": "F0001", "name": "Distribuidora Bom Preço"}],
//   "brands":    [{"code": "M001", "name": "Sabor do Campo"}],
//   "stockProducts": [{"code": "E0001", "tree": "1.01.001", "name": "Arroz Tipo 1",
//                      "unit": "KG", "lastPrice": 4.2 (optional)}],
//   "negotiatedProducts": [{"code": "N0001", "stockProduct": "E0001", "tree": "1.01.001.01",
//                           "name": "Arroz Tipo 1 Pacote 5 kg", "unit": "PCT", "factor": 5,
//                           "preferred": false, "web": false, "safetyStock": 0 (all optional
//                           from "preferred" on)}],
//   "rules": [{"product": "N0001", "supplier": "F0001" or "", "brand": "" or "M001",
//              "kind": "O" | "R" | "P" | "A"}]  (optional),
//   "quotations": [{"product": "N0001", "region": "001", "collection": "C001",
//                   "supplier": "F0001", "brand": "M001", "unitPrice": 21.5,
//                   "freightRate": 0.02, "paymentDays": 28, "taxRate": 0.12,
//                   "priceList": true, "minValue": 100, "minValueFlag": "R",
//                   "minQuantity": 0, "minQuantityFlag": "N", "unit": "PCT"
//                   (from "freightRate" on optional)}],
//   "requests": [{"product": "N0001", "region": "001", "branch": "0101",
//                 "date": "2026-12-05", "quantity": 10}]
// }
//
// Rates are fractions (0.02 = 2 %), dates "YYYY-MM-DD", quantities in negotiated
// units. Codes must fit the worksheet's field sizes. Every number is finite; a
// unit price is at most 1,000,000,000 and not negative (0: not priced yet); a
// quantity (requested, minimum, safety stock) is zero or more and at
// most 1,000,000,000, a requested one above zero; a factor from 0.000001 to
// 1,000,000,000; a freight rate at most 10; payment days at most 3650; a value in
// money (budget, minimum value) at most 10^18. A refusal names the entry.

#include <string>
#include <string_view>

#include "server/exchange/json.h"
#include "server/model.h"

namespace apura::server {

// Throws ServerError naming the offending entry ("quotations[3].supplier: ...").
TallyDocument DocumentFromJson(simdjson::dom::element root);
// The same from text; malformed JSON is a ServerError saying where.
TallyDocument DocumentFromText(std::string_view text);
Json DocumentToJson(const TallyDocument& doc);

TallyDocument ReadDocumentFile(const std::string& path);
void WriteDocumentFile(const TallyDocument& doc, const std::string& path);

}  // namespace apura::server
