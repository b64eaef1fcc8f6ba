#pragma once
// A deterministic tally of several stock products, regions, negotiated items,
// suppliers, branches and delivery dates, with the packets the worksheet's
// server object answers for it. Rows arrive out of order so that sorting is
// visible; the model keeps plain vectors so tests can work out independently
// which rows each grid must show.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "framework/packet.h"
#include "worksheet/tables.h"

namespace apura::testing {

using Row = std::map<std::string, Value>;

struct GeneratedTally {
  struct Options {
    int products = 3;
    int itemsPerProduct = 2;
    int suppliers = 3;
    std::string idTipoApur = "1";
    std::string idConsPrSol = "N";
  };
  explicit GeneratedTally(Options o);
  GeneratedTally() : GeneratedTally(Options{}) {}

  Options options;
  std::string centCmp = "0001";
  std::vector<Row> produto, regiao, prodItem, apurNeg, pai, itm, dados, paraSupri;
  // The delivery rows as generated, before a test changed either list.
  std::vector<Row> generatedItm;

  // Brand names; the second carries a quote, as filters must survive.
  static std::string Marca(int supplier);

  // Packets as the server sends them, fields in the table's order. `drop`
  // leaves one column out, as a server of another version would.
  static DataPacket Packet(std::span<const worksheet::FieldLayout> fields,
                           const std::vector<Row>& rows, const std::string& drop = {});
  DataPacket ProdutoPacket() const;
  DataPacket RegiaoPacket() const;
  DataPacket ProdItemPacket() const;
  DataPacket ApurNegPacket() const;
  DataPacket PaiPacket() const;
  DataPacket ItmPacket() const;
  DataPacket DadosPacket() const;
  // The rows of both delivery packets with the columns of both, one server's
  // answer: the rows of `dados`, each column of `itm` that a test changed
  // taken from `itm` (rows matched by their delivery key and region).
  DataPacket DadosItmApurPrecPacket() const;
  DataPacket ParaSupriPacket() const;
};

// Text form of a row's field as the worksheet compares it.
std::string Text(const Row& r, const std::string& field);

}  // namespace apura::testing
