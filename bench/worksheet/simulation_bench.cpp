// The buyer's gesture of coming back from the negotiation screen: the
// economic price recomputed, products and quotation lines reloaded, sorted
// and the cursors put back by key. Figures Worksheet_Simulacao/<delivery rows>.

#include <benchmark/benchmark.h>

#include <memory>

#include "framework/format.h"
#include "generated_tally.h"
#include "support/fake_database.h"
#include "support/fake_host.h"
#include "support/fake_server.h"
#include "worksheet/form.h"

namespace {

using apura::testing::GeneratedTally;

GeneratedTally::Options ForRows(int64_t rows) {
  GeneratedTally::Options o;
  o.products = 1;
  const auto perProduct = static_cast<int64_t>(GeneratedTally(o).itm.size());
  o.products = static_cast<int>(std::max<int64_t>(1, rows / std::max<int64_t>(1, perProduct)));
  return o;
}

void Worksheet_Simulacao(benchmark::State& state) {
  using namespace apura;
  CurrentFormat() = FormatSettings{};
  test::FakeHost host;
  test::FakeServer server;
  auto db = std::make_shared<test::FakeDatabase>();
  test::ScopedDatabase scoped{db};
  PacketBuilder ops({{"IDAUTGRUPOP", FieldType::String, 4}, {"CDOPERADOR", FieldType::String, 12}});
  db->Answer("FROM AUTGRUPOP", ops.Build());
  db->Answer("FROM REGIAO", PacketBuilder({{"NMREGIAO", FieldType::String, 30}}).Build());
  const GeneratedTally tally(ForRows(state.range(0)));
  auto ok = [](DataPacket p) {
    return [p](const test::RecordedCall&) { return ResultOk(Value(p)); };
  };
  server.Handle("GetParamCmp", ok(tally.ParaSupriPacket()));
  server.Handle("DelApuracao", [](const test::RecordedCall&) { return ResultOk(Value()); });
  server.Handle("Atualiza_PrecoEco", [](const test::RecordedCall&) { return ResultOk(Value()); });
  server.Handle("GetProduto", ok(tally.ProdutoPacket()));
  server.Handle("GetDados", ok(tally.DadosPacket()));
  server.Handle("GetRegiao", ok(tally.RegiaoPacket()));
  server.Handle("GetProdItem", ok(tally.ProdItemPacket()));
  server.Handle("GetApurNeg", ok(tally.ApurNegPacket()));
  server.Handle("GetPai_ItmApurPrec", ok(tally.PaiPacket()));
  server.Handle("GetItmApurPrec", ok(tally.ItmPacket()));
  server.Handle("GetDados_ItmApurPrec", ok(tally.DadosItmApurPrecPacket()));
  stCentCmp = tally.centCmp;
  stNrSeq_Rows = "123";
  boStCriado = false;
  auto& form = CreateForm(frmPlanApurNegGrid);
  boStCriado = true;
  form.cdsApurNeg.Last();
  for (auto _ : state) {
    form.sbtSimulacaoClick(form.sbtSimulacao);
    server.ClearRecords();
    host.ClearRecords();
  }
  state.counters["rows"] = static_cast<double>(tally.itm.size());
  Application().DestroyForms();
  frmPlanApurNegGrid = nullptr;
  boStCriado = false;
}

BENCHMARK(Worksheet_Simulacao)->Arg(1000)->Arg(20000)->Arg(500000)->Unit(benchmark::kMillisecond);

}  // namespace
