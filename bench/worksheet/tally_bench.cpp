// The buyer's tally gestures on a demo tally served by the reference server on
// loopback: one space bar choosing or dropping a quotation line (with its
// justification), the distinct branches of the whole delivery data, and the
// server's best-quote tally with the reload that follows it.
//   Worksheet_ManualChoose/<rows>, Worksheet_ManualDrop/<rows>,
//   Worksheet_DegRegistros/<rows>, Worksheet_ServerTally/<rows>,
//   Worksheet_Effectuate/<rows> ("Efetivar" on the server's tally)

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "rpc/grpc_transport.h"
#include "server/app/embedded_server.h"
#include "support/fake_database.h"
#include "support/fake_host.h"
#include "worksheet/form.h"
#include "worksheet/justification.h"

namespace {

using namespace apura;
using worksheet::TfrmObservJust;
using worksheet::TfrmPlanApurNegGrid;

// One worksheet open on a tally of about `rows` delivery rows, after a first
// server tally, on the unit price of a chosen line whose stock product has a
// single negotiated product (so dropping and choosing it again always works);
// or, not `tallied`, just open on the tally as stored.
class Bancada {
 public:
  explicit Bancada(size_t rows, bool tallied = true) {
    std::string nome = "apura-tally-bench-";
    nome += std::to_string(::getpid());
    nome += '-';
    nome += std::to_string(rows);
    dir_ = std::filesystem::temp_directory_path() / nome;
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    server::EmbeddedServerOptions o;
    o.dbPath = (dir_ / "server.db").string();
    o.demoOptions = server::DemoOptions::ForDeliveryRows(rows);
    server_ = std::make_unique<server::EmbeddedServer>(o);
    rpc::SetClientSessionToken(server_->token());
    host_.webURL = "127.0.0.1";
    host_.webPort = server_->port();
    previous_ = DefaultTransportFactory();
    SetDefaultTransportFactory([](const TNetConnection&) -> std::shared_ptr<ITransport> {
      return rpc::MakeGrpcTransport();
    });
    db_->Answer("FROM AUTGRUPOP", PacketBuilder({{"IDAUTGRUPOP", FieldType::String, 4},
                                                 {"CDOPERADOR", FieldType::String, 12}})
                                      .Build());
    db_->Answer(
        "FROM REGIAO",
        PacketBuilder({{"NMREGIAO", FieldType::String, 30}}).Add({Value("Região")}).Build());
    const server::DemoOptions& d = server_->demo();
    stCentCmp = d.centre;
    stCdComprador = d.buyer;
    // The session's operator is the demo's buyer, and the server checks it.
    host_.operador = d.buyer;
    stNmComprador = "Comprador";
    stDtInicial = "01/12/2026";
    stDtFinal = "31/12/2026";
    stNrSeq_Rows = d.tally;
    stIdQtFrac = std::string("N");
    boStCriado = false;
    frmPlanApurNegGrid = nullptr;

    TfrmPlanApurNegGrid& f = CreateForm(frmPlanApurNegGrid);
    f.Activate();
    if (!tallied) return;
    ServerTally();
    Check(f.cdsAuxApur.Active(), "the server tally did not run");
    bool found = false;
    for (f.cdsProduto.First(); !f.cdsProduto.Eof() && !found; f.cdsProduto.Next()) {
      if (f.cdsProdItem.RecordCount() != 1) continue;
      found = f.cdsApurNeg.Locate("IDITMSELAPUR", Value("S"));
      if (found) break;
    }
    Check(found, "no chosen line of a single negotiated product");
    f.dbgFornecedor.SetSelectedField("VRPRECUNIAP");
    Check(Chosen(), "the line is not chosen");
  }
  ~Bancada() {
    Application().DestroyForms();
    frmPlanApurNegGrid = nullptr;
    SetDefaultTransportFactory(previous_);
    server_.reset();
    std::filesystem::remove_all(dir_);
  }

  TfrmPlanApurNegGrid& form() { return *frmPlanApurNegGrid; }
  bool Chosen() { return form().cdsApurNeg.FieldByName("IDITMSELAPUR").AsString() == "S"; }

  // One space bar on the price; a choice answers its justification.
  void Space() {
    if (!Chosen()) {
      host_.AnswerModal([](TForm& d) {
        auto& j = dynamic_cast<TfrmObservJust&>(d);
        j.memObserv.SetText("Melhor prazo de entrega");
        j.sbtConfirma.Click();
      });
    }
    TfrmPlanApurNegGrid& f = form();
    int key = VK_SPACE;
    f.dbgFornecedorKeyDown(f.dbgFornecedor, key, 0);
    Application().ProcessReleases();
    host_.ClearRecords();
  }

  void ServerTally() {
    host_.Answer(mrYes);
    TfrmPlanApurNegGrid& f = form();
    Check(GuardedCall([&] { f.sbtApurar.Click(); }), "the server tally failed");
    Check(host_.exceptions.empty(), "an error was shown");
    host_.ClearRecords();
  }

  // "Efetivar" on the server's tally: the choices sent, the AFs made and the
  // AF analysis asked for; whether it all ran without an error shown.
  bool Effectuate() {
    // The inconsistent AFs, when the server refuses any, are not listed.
    host_.Answer(mrNo);
    TfrmPlanApurNegGrid& f = form();
    const bool ran = GuardedCall([&] { f.sbtGerarAFClick(f.sbtGerarAF); });
    return ran && host_.exceptions.empty() && !host_.loadBPLCalls.empty();
  }

  static void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(what);
  }

 private:
  test::FakeHost host_;
  std::shared_ptr<test::FakeDatabase> db_ = std::make_shared<test::FakeDatabase>();
  test::ScopedDatabase scoped_{db_};
  std::filesystem::path dir_;
  std::unique_ptr<server::EmbeddedServer> server_;
  TransportFactory previous_;
};

// One bench at a time: the larger tally is built only once the smaller one's
// figures are done.
Bancada* bench = nullptr;
size_t benchRows = 0;

Bancada& Para(size_t rows) {
  if (bench && benchRows == rows) return *bench;
  const bool first = !bench;
  delete bench;
  bench = nullptr;
  bench = new Bancada(rows);
  benchRows = rows;
  // Registered once the statics the bench uses exist, so it goes before
  // them: it closes its worksheet and server while they are still there.
  if (first)
    std::atexit([] {
      delete bench;
      bench = nullptr;
    });
  return *bench;
}

void Manual(benchmark::State& state, size_t rows, bool choose) {
  try {
    Bancada& b = Para(rows);
    for (auto _ : state) {
      // Put the line where the gesture starts from, untimed.
      if (b.Chosen() == choose) {
        state.PauseTiming();
        b.Space();
        state.ResumeTiming();
      }
      b.Space();
      if (b.Chosen() != choose) state.SkipWithError("the space bar did not toggle the line");
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

void DegRegistros(benchmark::State& state, size_t rows) {
  try {
    TfrmPlanApurNegGrid& f = Para(rows).form();
    size_t branches = 0;
    for (auto _ : state) {
      DataPacket p = TfrmPlanApurNegGrid::DegRegistros({"CDFILIAP"}, f.cdsDados.Data());
      branches = p.RowCount();
      benchmark::DoNotOptimize(branches);
    }
    state.counters["branches"] = double(branches);
    state.counters["rows"] = f.cdsDados.RecordCount();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

// The first tally of a tally as stored, as a buyer's first "Apurar": every
// measurement starts on a fresh server, database and worksheet. Tallied again,
// choices that come out as they were leave nothing to store.
void ServerTally(benchmark::State& state, size_t rows) {
  try {
    for (auto _ : state) {
      state.PauseTiming();
      delete bench;
      bench = nullptr;
      bench = new Bancada(rows, false);
      benchRows = rows;
      state.ResumeTiming();
      bench->ServerTally();
    }
    if (bench) state.counters["rows"] = bench->form().cdsDados.RecordCount();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
  // Later figures find a tallied worksheet.
  delete bench;
  bench = nullptr;
}

// A tally is effectuated once: every measurement starts on a fresh server,
// database and worksheet, tallied, and only "Efetivar" is timed.
void Effectuate(benchmark::State& state, size_t rows) {
  try {
    for (auto _ : state) {
      state.PauseTiming();
      delete bench;
      bench = nullptr;
      Bancada& b = Para(rows);
      state.ResumeTiming();
      if (!b.Effectuate()) {
        state.SkipWithError("the effectuation did not reach the AF analysis");
        break;
      }
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
  // The worksheet closed itself: nothing is left for other figures.
  delete bench;
  bench = nullptr;
}

const bool registered = [] {
  for (size_t rows : {size_t(50000), size_t(500000)}) {
    // Appended, not concatenated: GCC 12 at -O3 reports a false overlap in
    // the inlined short copies (-Werror=restrict).
    auto n = [rows](const char* gesto) {
      std::string nome = gesto;
      nome += '/';
      nome += std::to_string(rows);
      return nome;
    };
    benchmark::RegisterBenchmark(n("Worksheet_ManualChoose").c_str(), Manual, rows, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(n("Worksheet_ManualDrop").c_str(), Manual, rows, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(n("Worksheet_DegRegistros").c_str(), DegRegistros, rows)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(n("Worksheet_ServerTally").c_str(), ServerTally, rows)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(n("Worksheet_Effectuate").c_str(), Effectuate, rows)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(rows >= 500000 ? 2 : 3);
  }
  return true;
}();

}  // namespace
