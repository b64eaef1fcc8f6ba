#include "server/objects/af_analysis.h"

#include <map>

#include "contract/methods.h"
#include "server/objects/args.h"
#include "server/objects/server_objects.h"
#include "server/services/packets.h"

namespace apura::server {

namespace {

FieldDef S(const char* name, int size) {
  return {name, FieldType::String, size, false};
}
FieldDef F(const char* name) {
  return {name, FieldType::Float, 0, false};
}
FieldDef D(const char* name) {
  return {name, FieldType::DateTime, 0, false};
}

// What the three answers name besides codes, from the loaded tally.
struct Names {
  std::map<std::string, std::string> supplier, branch, product;
};

Names NamesOf(const TallyModel& m) {
  Names n;
  for (const QuoteLine& q : m.quotes) n.supplier.emplace(q.CDFORNITMAP, q.NMFANTFORN);
  for (const RequestLine& r : m.requests) n.branch.emplace(r.CDFILIAP, r.NMFILIAL);
  for (const ProductInfo& p : m.products) n.product.emplace(p.CDPRODITMAP, p.NMPRODUTO);
  return n;
}

std::string Of(const std::map<std::string, std::string>& names, const std::string& code) {
  auto it = names.find(code);
  return it == names.end() ? std::string() : it->second;
}

// The tally's AFs after the centre check the model load makes.
std::vector<AfRecord> AfsOf(TallyService& service, const std::string& centre,
                            const std::string& tally, Names& names) {
  if (centre.empty()) throw ServerError("Centro de compras não informado.");
  names = NamesOf(*service.Model(centre, tally));
  return service.Afs(tally);
}

using Args = std::vector<CallArg>;

struct TallyKey {
  std::string centre, tally;
};

}  // namespace

const std::vector<FieldDef>& AutoForneFields() {
  static const std::vector<FieldDef> f{
      S("NRAUTOFORN", 10),  S("CDFORNECED", 21),  S("NMFANTFORN", 40), S("CDFILDEST", 4),
      S("NMFILIAL", 30),    D("DTAUTOFORN"),      F("VRTOTALAF"),      F("QTTOTALAF"),
      S("IDSITUATUAAF", 1), S("DSSITUATUAAF", 20)};
  return f;
}

const std::vector<FieldDef>& ItmAutoForneFields() {
  static const std::vector<FieldDef> f{S("NRAUTOFORN", 10), F("NRITEM"),      S("CDPRODITMAP", 10),
                                       S("NMPRODUTO", 50),  S("CDMARCA", 10), S("NRCOLEITMAP", 10),
                                       D("DTENTRAPUT"),     F("QTACOMP"),     F("VRPRECUNIAP"),
                                       F("VRTOTITEM")};
  return f;
}

const std::vector<FieldDef>& AFInconsFields() {
  static const std::vector<FieldDef> f{
      S("NRAUTOFORN", 10), S("CDFORNECED", 21), S("NMFANTFORN", 40), S("CDFILDEST", 4),
      S("NMFILIAL", 30),   F("VRTOTALAF"),      F("QTTOTALAF"),      S("DSINCONS", 200)};
  return f;
}

std::string AfStateText(const std::string& status) {
  if (status == "E") return "Efetivada";
  if (status == "B") return "Aguardando liberação";
  if (status == "I") return "Inconsistente";
  return status;
}

DataPacket GetAutoForne(TallyService& service, const std::string& centre,
                        const std::string& tally) {
  Names n;
  std::vector<AfRecord> afs = AfsOf(service, centre, tally, n);
  ColumnBuilder b(AutoForneFields(), afs.size());
  for (const AfRecord& af : afs) {
    b.Text(0, af.number);
    b.Text(1, af.supplier);
    b.Text(2, Of(n.supplier, af.supplier));
    b.Text(3, af.destBranch);
    b.Text(4, Of(n.branch, af.destBranch));
    b.Number(5, af.date);
    b.Number(6, af.total);
    b.Number(7, af.quantity);
    b.Text(8, af.status);
    b.Text(9, AfStateText(af.status));
  }
  return b.Build();
}

DataPacket GetItmAutoForne(TallyService& service, const std::string& centre,
                           const std::string& tally) {
  Names n;
  std::vector<AfRecord> afs = AfsOf(service, centre, tally, n);
  size_t rows = 0;
  for (const AfRecord& af : afs) rows += af.lines.size();
  ColumnBuilder b(ItmAutoForneFields(), rows);
  for (const AfRecord& af : afs) {
    double item = 0;
    for (const AfLine& l : af.lines) {
      b.Text(0, af.number);
      b.Number(1, ++item);
      b.Text(2, l.product);
      b.Text(3, Of(n.product, l.product));
      b.Text(4, l.brand);
      b.Text(5, l.collection);
      b.Number(6, l.date);
      b.Number(7, l.quantity);
      b.Number(8, l.unitPrice);
      b.Number(9, l.quantity * l.unitPrice);
    }
  }
  return b.Build();
}

DataPacket GetAFIncons(TallyService& service, const std::string& centre, const std::string& tally) {
  Names n;
  std::vector<AfRecord> afs = AfsOf(service, centre, tally, n);
  std::vector<const AfRecord*> kept;
  for (const AfRecord& af : afs)
    if (af.inconsistent) kept.push_back(&af);
  ColumnBuilder b(AFInconsFields(), kept.size());
  for (const AfRecord* af : kept) {
    b.Text(0, af->number);
    b.Text(1, af->supplier);
    b.Text(2, Of(n.supplier, af->supplier));
    b.Text(3, af->destBranch);
    b.Text(4, Of(n.branch, af->destBranch));
    b.Number(5, af->total);
    b.Number(6, af->quantity);
    b.Text(7, af->error);
  }
  return b.Build();
}

std::shared_ptr<rpc::IServerObject> MakeAfAnalysisObject(TallyService& s, Sessions* sessions) {
  auto t = std::make_shared<rpc::MethodTable>(kAfAnalysisObject);
  using Fn = DataPacket (*)(TallyService&, const std::string&, const std::string&);
  for (const auto& [method, fn] :
       {std::pair<const contract::Method<2>*, Fn>{&contract::kGetAutoForne, &GetAutoForne},
        std::pair<const contract::Method<2>*, Fn>{&contract::kGetItmAutoForne, &GetItmAutoForne},
        std::pair<const contract::Method<2>*, Fn>{&contract::kGetAFIncons, &GetAFIncons}}) {
    // Plain copies: clang 14 refuses to capture structured bindings.
    const contract::Method<2>* m = method;
    Fn read = fn;
    t->Add(m->name, rpc::MethodTable::ContextMethod(
                        [&s, sessions, m, read](const Args& a, const rpc::CallContext& ctx) {
                          const auto k =
                              args::Read<TallyKey>(*m, a, &TallyKey::centre, &TallyKey::tally);
                          if (sessions) CheckCentre(Caller(*sessions, ctx), k.centre, m->name);
                          return Value(read(s, k.centre, k.tally));
                        }));
  }
  return t;
}

}  // namespace apura::server
