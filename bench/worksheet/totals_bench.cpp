// The totals panels shown once over a generated tally of N delivery rows,
// headless over the scripted host and server.

#include <benchmark/benchmark.h>

#include <memory>

#include "framework/format.h"
#include "generated_tally.h"
#include "support/fake_database.h"
#include "support/fake_host.h"
#include "support/fake_server.h"
#include "worksheet/form.h"
#include "worksheet/launch.h"

namespace {

using apura::testing::GeneratedTally;
using apura::worksheet::TfrmPlanApurNegGrid;

// Products for about `rows` delivery rows: each product carries about 144
// (three regions, two items, three branches, two dates, four rows each).
GeneratedTally::Options Tamanho(int64_t rows) {
  GeneratedTally::Options o;
  o.products = static_cast<int>(std::max<int64_t>(1, rows / 144));
  return o;
}

struct Planilha {
  explicit Planilha(int64_t rows) : tally(Tamanho(rows)) {
    using namespace apura;
    CurrentFormat() = FormatSettings{};
    stCentCmp = tally.centCmp;
    stCdComprador = "COMP01";
    stNrSeq_Rows = "123";
    stIdQtFrac = std::string("N");
    boStCriado = false;
    host.moduloAtiv = 34;
    db->Answer("FROM AUTGRUPOP", PacketBuilder({{"IDAUTGRUPOP", FieldType::String, 4},
                                                {"CDOPERADOR", FieldType::String, 12}})
                                     .Build());
    db->Answer("FROM REGIAO", PacketBuilder({{"NMREGIAO", FieldType::String, 30}}).Build());
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
    form = &CreateForm(frmPlanApurNegGrid);
    boStCriado = true;
    form->Activate();
    form->mnuGeralClick(form->mnuGeral);
  }
  ~Planilha() {
    apura::Application().DestroyForms();
    frmPlanApurNegGrid = nullptr;
    boStCriado = false;
  }
  GeneratedTally tally;
  apura::test::FakeHost host;
  apura::test::FakeServer server;
  std::shared_ptr<apura::test::FakeDatabase> db = std::make_shared<apura::test::FakeDatabase>();
  apura::test::ScopedDatabase scoped{db};
  TfrmPlanApurNegGrid* form = nullptr;
};

void Worksheet_TotalsQuotation(benchmark::State& state) {
  Planilha p(state.range(0));
  for (auto _ : state) {
    p.form->sbtTotais.Click();  // shown: every total worked out
    state.PauseTiming();
    p.form->sbtTotais.Click();
    state.ResumeTiming();
  }
  state.counters["rows"] = static_cast<double>(p.tally.itm.size());
}

void Worksheet_TotalsDelivery(benchmark::State& state) {
  Planilha p(state.range(0));
  p.form->mnuPadraoClick(p.form->mnuPadrao);
  for (auto _ : state) {
    p.form->sbtTotais.Click();
    state.PauseTiming();
    p.form->sbtTotais.Click();
    state.ResumeTiming();
  }
  state.counters["rows"] = static_cast<double>(p.tally.itm.size());
}

}  // namespace

BENCHMARK(Worksheet_TotalsQuotation)->Arg(50000)->Arg(500000)->Unit(benchmark::kMillisecond);
BENCHMARK(Worksheet_TotalsDelivery)->Arg(50000)->Arg(500000)->Unit(benchmark::kMillisecond);
