// The buyer's delivery gestures and the price edit on a worksheet over a
// generated tally of about 50,000 or 500,000 delivery rows, headless against
// the scripted host and server. Each gesture is undone outside the timing so
// every iteration starts from the same tally.

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "generated_tally.h"
#include "support/fake_database.h"
#include "support/fake_host.h"
#include "support/fake_server.h"
#include "worksheet/form.h"

namespace apura::testing {
namespace {

using worksheet::TfrmPlanApurNegGrid;

// Every branch of one region, as real tallies have them, so a delivery key
// names one twin; the delivery rows carry their quotation's prices.
void OneRegionABranch(GeneratedTally& t) {
  std::map<std::string, const Row*> quote;
  for (const Row& q : t.apurNeg)
    quote[Text(q, "CDPRODITMAP") + "|" + Text(q, "CDREGITMAP") + "|" + Text(q, "CDFORNITMAP")] = &q;
  for (size_t i = 0; i < t.itm.size(); ++i) {
    for (Row* r : {&t.itm[i], &t.dados[i]}) {
      const Row& q = *quote.at(Text(*r, "CDPRODITMAP") + "|" + Text(*r, "CDREGITMAP") + "|" +
                               Text(*r, "CDFORNITMAP"));
      (*r)["VRPRECUNIAP"] = q.at("VRPRECUNIAP");
      (*r)["VRPRECECOAP"] = q.at("PRECOECON");
      (*r)["VRPRECONPIAP"] = q.at("PRECOECONPI");
      (*r)["CDFILIAP"] = Text(*r, "CDFILIAP") + Text(*r, "CDREGITMAP").substr(0, 1);
    }
  }
  for (Row& p : t.pai) p["CDFILIAP"] = Text(p, "CDFILIAP") + Text(p, "CDREGITMAP").substr(0, 1);
}

// One worksheet per size, kept between figures: loading half a million rows
// is not what is measured.
struct Bench {
  explicit Bench(int64_t rows) {
    GeneratedTally::Options o;
    // Rows ≈ products * 3 regions * items * 6 branch lines * (suppliers + 1).
    o.suppliers = 9;
    o.products = rows >= 500000 ? 50 : 20;
    o.itemsPerProduct = rows >= 500000 ? 56 : 14;
    tally = std::make_unique<GeneratedTally>(o);
    OneRegionABranch(*tally);
    stCentCmp = tally->centCmp;
    stCdComprador = "COMP01";
    stNmComprador = "Comprador";
    stDtInicial = "09/03/2026";
    stDtFinal = "20/03/2026";
    stNrSeq_Rows = "123";
    stIdQtFrac = std::string("N");
    boStCriado = false;
    PacketBuilder none(
        {{"IDAUTGRUPOP", FieldType::String, 4}, {"CDOPERADOR", FieldType::String, 12}});
    db->Answer("FROM AUTGRUPOP", none.Build());
    db->Answer("FROM REGIAO", PacketBuilder({{"NMREGIAO", FieldType::String, 30}}).Build());
    auto ok = [](DataPacket p) {
      return [p](const test::RecordedCall&) { return ResultOk(Value(p)); };
    };
    server.Handle("GetParamCmp", ok(tally->ParaSupriPacket()));
    server.Handle("DelApuracao", [](const test::RecordedCall&) { return ResultOk(Value()); });
    server.Handle("GetProduto", ok(tally->ProdutoPacket()));
    server.Handle("GetDados", ok(tally->DadosPacket()));
    server.Handle("GetRegiao", ok(tally->RegiaoPacket()));
    server.Handle("GetProdItem", ok(tally->ProdItemPacket()));
    server.Handle("GetApurNeg", ok(tally->ApurNegPacket()));
    server.Handle("GetPai_ItmApurPrec", ok(tally->PaiPacket()));
    server.Handle("GetItmApurPrec", ok(tally->ItmPacket()));
    server.Handle("GetDados_ItmApurPrec", ok(tally->DadosItmApurPrecPacket()));
    server.Handle("AtuaPrecEco", [](const test::RecordedCall&) {
      return ResultOk(Value(ValueArray{Value(1.5), Value(1.25)}));
    });
    host.moduloAtiv = 34;
    f = &CreateForm(frmPlanApurNegGrid);
    boStCriado = true;
    f->Activate();
    f->mnuGeralClick(f->mnuGeral);
    for (f->cdsProdItem.First(); !f->cdsProdItem.Eof(); f->cdsProdItem.Next())
      if (f->cdsApurNeg.Locate("IDITMSELAPUR", Value("S"))) break;
    f->mnuPadraoClick(f->mnuPadrao);
    for (f->cdsPai_ItmApurPrec.First(); !f->cdsPai_ItmApurPrec.Eof(); f->cdsPai_ItmApurPrec.Next())
      if (!f->cdsItmApurPrec.IsEmpty()) break;
  }
  ~Bench() {
    Application().DestroyForms();
    frmPlanApurNegGrid = nullptr;
    boStCriado = false;
  }

  test::FakeHost host;
  test::FakeServer server;
  std::shared_ptr<test::FakeDatabase> db = std::make_shared<test::FakeDatabase>();
  test::ScopedDatabase scopedDb{db};
  std::unique_ptr<GeneratedTally> tally;
  TfrmPlanApurNegGrid* f = nullptr;
};

// One worksheet at a time: each installs its own host and server. The figures
// are registered size by size, so each size is loaded once.
Bench& At(int64_t rows) {
  // The application first, so that it outlives the worksheet kept here.
  Application();
  // The last one is left to the end of the program: the process-wide host and
  // database it installed are gone by the time statics would release it.
  static Bench* bench = nullptr;
  static int64_t size = 0;
  if (!bench || size != rows) {
    delete bench;
    bench = new Bench(rows);
    size = rows;
  }
  return *bench;
}

// A gesture the rules refused may leave the line in edit or insert state.
void Browse(TClientDataSet& t) {
  if (t.State() != TDataSetState::dsBrowse) GuardedCall([&] { t.Cancel(); });
}

void Report(benchmark::State& state, Bench& b) {
  state.counters["delivery_rows"] = static_cast<double>(b.f->cdsDados.RecordCount());
  // A gesture the rules refused is no figure of the gesture.
  std::string error = b.host.exceptions.empty() ? std::string() : b.host.exceptions.front();
  for (const auto& m : b.host.messages)
    if (error.empty() && m.kind == TMsgDlgType::mtError) error = m.text;
  if (!error.empty()) state.SkipWithError(error.c_str());
  b.host.ClearRecords();
}

void Worksheet_DeliveryInsert(benchmark::State& state) {
  Bench& b = At(state.range(0));
  TClientDataSet& itm = b.f->cdsItmApurPrec;
  for (auto _ : state) {
    GuardedCall([&] {
      itm.Insert();
      itm.FieldByName("QTACOMP").SetAsFloat(3);
      itm.Post();
    });
    state.PauseTiming();
    GuardedCall([&] { itm.Delete(); });  // the new line is current
    Browse(itm);
    state.ResumeTiming();
  }
  Report(state, b);
}

void Worksheet_QuantityChange(benchmark::State& state) {
  Bench& b = At(state.range(0));
  TClientDataSet& itm = b.f->cdsItmApurPrec;
  double q = 1;
  for (auto _ : state) {
    GuardedCall([&] {
      itm.First();
      itm.Edit();
      itm.FieldByName("QTACOMP").SetAsFloat(q);
      itm.Post();
    });
    Browse(itm);
    q = q == 1 ? 2 : 1;
  }
  Report(state, b);
}

void Worksheet_SupplierChange(benchmark::State& state) {
  Bench& b = At(state.range(0));
  TfrmPlanApurNegGrid& f = *b.f;
  TClientDataSet& itm = f.cdsItmApurPrec;
  for (auto _ : state) {
    state.PauseTiming();
    Browse(itm);
    GuardedCall([&] {
      itm.First();
      f.Monta_PesqForn();
      f.cdsPesqForn.Last();
      itm.Edit();
      f.Copia_PesqForn();
    });
    state.ResumeTiming();
    GuardedCall([&] { itm.Post(); });
  }
  Report(state, b);
}

void Worksheet_DeliveryRelease(benchmark::State& state) {
  Bench& b = At(state.range(0));
  TClientDataSet& itm = b.f->cdsItmApurPrec;
  for (auto _ : state) {
    state.PauseTiming();
    Browse(itm);
    GuardedCall([&] {
      itm.Insert();
      itm.FieldByName("QTACOMP").SetAsFloat(3);
      itm.Post();
    });
    Browse(itm);
    state.ResumeTiming();
    GuardedCall([&] { itm.Delete(); });
  }
  Report(state, b);
}

void Worksheet_PickList(benchmark::State& state) {
  Bench& b = At(state.range(0));
  for (auto _ : state) b.f->Monta_PesqForn();
  Report(state, b);
}

void Worksheet_PriceEdit(benchmark::State& state) {
  Bench& b = At(state.range(0));
  TfrmPlanApurNegGrid& f = *b.f;
  f.mnuGeralClick(f.mnuGeral);
  TClientDataSet& a = f.cdsApurNeg;
  const double price = a.FieldByName("VRPRECUNIAP").AsFloat();
  double step = 1;
  for (auto _ : state) {
    b.host.Answer(mrFirstCaption);
    GuardedCall([&] {
      a.Edit();
      a.FieldByName("VRPRECUNIAP").SetAsFloat(price + step);
      a.Post();
    });
    Browse(a);
    step = step == 1 ? 2 : 1;
  }
  f.mnuPadraoClick(f.mnuPadrao);
  Report(state, b);
}

const bool registered = [] {
  const std::pair<const char*, void (*)(benchmark::State&)> gestures[] = {
      {"Worksheet_DeliveryInsert", Worksheet_DeliveryInsert},
      {"Worksheet_SupplierChange", Worksheet_SupplierChange},
      {"Worksheet_QuantityChange", Worksheet_QuantityChange},
      {"Worksheet_DeliveryRelease", Worksheet_DeliveryRelease},
      {"Worksheet_PickList", Worksheet_PickList},
      {"Worksheet_PriceEdit", Worksheet_PriceEdit}};
  for (int64_t rows : {50000, 500000})
    for (const auto& [name, fn] : gestures)
      benchmark::RegisterBenchmark(name, fn)->Arg(rows)->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
}  // namespace apura::testing
