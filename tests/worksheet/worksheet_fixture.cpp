#include "worksheet_fixture.h"

#include <sstream>

#include "framework/format.h"

namespace apura::testing {

namespace {

std::vector<std::string> Split(const std::string& fields) {
  std::vector<std::string> out;
  std::stringstream ss(fields);
  std::string f;
  while (std::getline(ss, f, ';')) out.push_back(f);
  return out;
}

}  // namespace

WorksheetTest::WorksheetTest() {
  CurrentFormat() = FormatSettings{};
  stCentCmp = tally.centCmp;
  stCdComprador = "COMP01";
  stNmComprador = "Comprador Um";
  stDtInicial = "09/03/2026";
  stDtFinal = "20/03/2026";
  stNrSeq_Rows = "123";
  // Moved in, not assigned from the literal: GCC 12 at -O2 reports a false
  // overlap in the inlined one-character copy (-Werror=restrict).
  stIdQtFrac = std::string("N");
  boStCriado = false;
  frmPlanApurNegGrid = nullptr;
  ScriptPermission({});
  db->Answer("FROM REGIAO", [this](const test::ExecutedQuery& q) {
    PacketBuilder b({{"NMREGIAO", FieldType::String, 30}});
    auto it = regionNames.find(q.Param("P_CDREGIAO"));
    if (it != regionNames.end()) b.Add({Value(it->second)});
    return b.Build();
  });
}

WorksheetTest::~WorksheetTest() {
  Application().DestroyForms();
  frmPlanApurNegGrid = nullptr;
  boStCriado = false;
}

void WorksheetTest::ScriptTally() {
  auto ok = [](DataPacket p) {
    return [p](const test::RecordedCall&) { return ResultOk(Value(p)); };
  };
  server.Handle("GetParamCmp", ok(tally.ParaSupriPacket()));
  server.Handle("DelApuracao", [](const test::RecordedCall&) { return ResultOk(Value()); });
  server.Handle("GetProduto", ok(tally.ProdutoPacket()));
  server.Handle("GetDados", ok(tally.DadosPacket()));
  server.Handle("GetRegiao", ok(tally.RegiaoPacket()));
  server.Handle("GetProdItem", ok(tally.ProdItemPacket()));
  server.Handle("GetApurNeg", ok(tally.ApurNegPacket()));
  server.Handle("GetPai_ItmApurPrec", ok(tally.PaiPacket()));
  server.Handle("GetItmApurPrec", ok(tally.ItmPacket()));
  server.Handle("GetDados_ItmApurPrec", ok(tally.DadosItmApurPrecPacket()));
}

void WorksheetTest::ScriptPermission(const std::vector<std::string>& operators) {
  PacketBuilder b({{"IDAUTGRUPOP", FieldType::String, 4}, {"CDOPERADOR", FieldType::String, 12}});
  for (const auto& op : operators) b.Add({Value("PEME"), Value(op)});
  db->Answer("FROM AUTGRUPOP", b.Build());
}

TfrmPlanApurNegGrid& WorksheetTest::Launch() {
  TfrmPlanApurNegGrid& f = CreateForm(frmPlanApurNegGrid);
  boStCriado = true;
  return f;
}

std::vector<std::string> WorksheetTest::Visible(TClientDataSet& table, const std::string& fields) {
  std::vector<int> idx;
  for (const auto& f : Split(fields)) idx.push_back(table.FieldByName(f).Index());
  std::vector<std::string> out;
  for (int pos = 0; pos < table.RecordCount(); ++pos) {
    std::string row;
    for (size_t i = 0; i < idx.size(); ++i) {
      if (i) row += "|";
      Value v = table.CellValue(pos, idx[i]);
      row += v.kind() == Value::Kind::Date ? DateTimeToText(v.AsDate()) : v.ToText();
    }
    out.push_back(std::move(row));
  }
  return out;
}

std::string WorksheetTest::Current(TClientDataSet& table, const std::string& fields) {
  std::string row;
  bool first = true;
  for (const auto& f : Split(fields)) {
    if (!first) row += "|";
    first = false;
    TField& fld = table.FieldByName(f);
    row += fld.DataType() == FieldType::DateTime && !fld.IsNull() ? DateTimeToText(fld.AsDateTime())
                                                                  : fld.AsString();
  }
  return row;
}

std::vector<std::string> WorksheetTest::Texts(const std::vector<const Row*>& rows,
                                              const std::string& fields) {
  std::vector<std::string> out;
  for (const Row* r : rows) {
    std::string row;
    bool first = true;
    for (const auto& f : Split(fields)) {
      if (!first) row += "|";
      first = false;
      row += Text(*r, f);
    }
    out.push_back(std::move(row));
  }
  return out;
}

}  // namespace apura::testing
