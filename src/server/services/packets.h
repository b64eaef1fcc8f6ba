#pragma once
// The data packets the server methods answer, each with exactly the fields, in
// the order, types and sizes the worksheet's tables declare.

#include <string_view>
#include <unordered_map>
#include <vector>

#include "framework/packet.h"
#include "server/model.h"

namespace apura::server {

// Builds a packet column by column. Texts are interned once per column, so a
// caller that repeats a text over many rows can intern it once and push its code.
class ColumnBuilder {
 public:
  ColumnBuilder(std::vector<FieldDef> fields, size_t rows);
  int32_t Intern(size_t col, std::string_view text);
  void Code(size_t col, int32_t code) { body_.columns[col].codes.push_back(code); }
  void Text(size_t col, std::string_view text) { Code(col, Intern(col, text)); }
  void Number(size_t col, double v) { body_.columns[col].numbers.push_back(v); }
  DataPacket Build();

 private:
  DataPacket::Body body_;
  std::vector<std::unordered_map<std::string, int32_t>> dict_;
};

const std::vector<FieldDef>& ProdutoFields();
const std::vector<FieldDef>& RegiaoFields();
const std::vector<FieldDef>& ProdItemFields();
const std::vector<FieldDef>& ApurNegFields();
const std::vector<FieldDef>& PaiItmApurPrecFields();
const std::vector<FieldDef>& ItmApurPrecFields();
const std::vector<FieldDef>& DadosFields();
const std::vector<FieldDef>& DadosItmApurPrecFields();
const std::vector<FieldDef>& ParaSupriFields();
const std::vector<FieldDef>& VdEfetivaAFFields();
const std::vector<FieldDef>& RelInconsFields();

DataPacket ProdutoPacket(const TallyModel& m);
DataPacket RegiaoPacket(const TallyModel& m);
DataPacket ProdItemPacket(const TallyModel& m);
DataPacket ApurNegPacket(const TallyModel& m);
DataPacket PaiItmApurPrecPacket(const TallyModel& m);
DataPacket ItmApurPrecPacket(const TallyModel& m);
DataPacket DadosPacket(const TallyModel& m);
DataPacket DadosItmApurPrecPacket(const TallyModel& m);
DataPacket ParaSupriPacket(const CentreParams& c);

// A delivery packet (cdsDados, the price items) built from an earlier version of
// the same loaded tally as `m`, when the quotation lines were `beforeQuotes`,
// with what differs rewritten as `m` holds it: the prices of the lines that
// changed, and each delivery row's choice, quantity, reason and justification
// (looked at only unless `sameChoices`: a price edit shares the rows). `before`
// itself when nothing differs.
DataPacket UpdatedPacket(const DataPacket& before, const SharedList<QuoteLine>& beforeQuotes,
                         bool sameChoices, const TallyModel& m);

}  // namespace apura::server
