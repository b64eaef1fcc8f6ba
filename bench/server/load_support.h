#pragma once
// What the two mixes of bench_server_load (load.cpp, team.cpp) share.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "framework/packet.h"
#include "framework/transport.h"

namespace apura::bench {

using apura::ByRef;
using apura::ByVal;
using apura::CallArg;
using apura::Value;
using Clock = std::chrono::steady_clock;

// A buyer's pause between two calls: exponential around the mean, so that the
// clients do not fall into step with one another.
class Pause {
 public:
  Pause(double meanMs, unsigned seed) : mean_(meanMs), rng_(seed) {}
  void operator()(const std::atomic<bool>& stop) {
    if (!(mean_ > 0)) return;
    auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double, std::milli>(
                                        std::exponential_distribution<double>(1 / mean_)(rng_)));
    while (!stop && Clock::now() < until)
      std::this_thread::sleep_for(
          std::min<Clock::duration>(std::chrono::milliseconds(50), until - Clock::now()));
  }

 private:
  double mean_;
  std::mt19937 rng_;
};

// Gera_AF of a tally of centre 0001 by the demo buyer from branch 0101.
inline std::vector<CallArg> GeraArgs(const std::string& tally, Value changes = Value()) {
  std::vector<CallArg> a{ByRef(std::move(changes)),
                         ByRef(Value("COMP01")),
                         ByVal(Value(apura::DateTime::FromDate(2026, 12, 8))),
                         ByRef(Value("0001")),
                         ByRef(Value(tally)),
                         ByVal(Value("0101")),
                         ByVal(Value("N"))};
  for (const char* t :
       {"Dir_Vazio", "Dir_Inv", "N_GerAF_Orc", "AF(s) efetivadas com sucesso.", "N_GerAF_OrcN",
        "N_GerAF", "Preco_Uni", "Preco_Utilizado", "Msg_FornExtra"}) {
    a.push_back(ByVal(Value(t)));
  }
  return a;
}

// The worksheet's change packet of up to `rows` chosen delivery rows of cdsDados,
// each with its quantity raised by `extra` over what was asked for.
inline Value ChangePacket(const apura::DataPacket& dados, size_t rows, double extra) {
  const char* keys[] = {"CDPRODITMAP", "CDREGITMAP",  "CDFILIAP",   "DTENTRAPUT",
                        "NRCOLEITMAP", "CDFORNITMAP", "CDMARCITMAP"};
  std::vector<apura::FieldDef> fields;
  std::vector<size_t> cols;
  for (const char* k : keys) {
    cols.push_back(static_cast<size_t>(dados.FieldIndex(k)));
    fields.push_back(dados.fields()[cols.back()]);
  }
  const auto qty = static_cast<size_t>(dados.FieldIndex("QTACOMP"));
  const auto asked = static_cast<size_t>(dados.FieldIndex("QTSOLACOMP"));
  const auto sel = static_cast<size_t>(dados.FieldIndex("IDITMSELAPUR"));
  fields.push_back(dados.fields()[qty]);
  apura::PacketBuilder b(fields);
  size_t n = 0;
  for (size_t r = 0; r < dados.RowCount() && n < rows; ++r) {
    if (dados.Text(sel, r) != "S") continue;
    std::vector<Value> row;
    for (size_t c : cols) row.push_back(dados.Cell(c, r));
    row.push_back(Value(dados.Number(asked, r) + extra));
    b.Add(std::move(row)).Status(apura::RowStatus::Modified);
    ++n;
  }
  return Value(b.Build());
}

inline double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t k = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(k, v.size() - 1)];
}

}  // namespace apura::bench
