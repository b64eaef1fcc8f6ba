#include "server/objects/negotiation_service.h"

#include <cmath>

#include "contract/methods.h"
#include "framework/packet.h"
#include "server/objects/args.h"
#include "server/objects/server_objects.h"
#include "server/services/pricing.h"

namespace apura::server {

namespace {

using Args = std::vector<CallArg>;

// A quotation line's key in the screens' order, the tally last; SimulaPreco
// and GravaPreco have the unit price before it.
struct Key {
  std::string centre, collection, supplier, product, brand, region;
  double price = 0;
  std::string tally;
};

Key ReadKey(const contract::Method<7>& m, const Args& a) {
  return args::Read<Key>(m, a, &Key::centre, &Key::collection, &Key::supplier, &Key::product,
                         &Key::brand, &Key::region, &Key::tally);
}
Key ReadKey(const contract::Method<8>& m, const Args& a) {
  return args::Read<Key>(m, a, &Key::centre, &Key::collection, &Key::supplier, &Key::product,
                         &Key::brand, &Key::region, &Key::price, &Key::tally);
}

const QuoteLine& Find(const TallyModel& m, const Key& k) {
  for (const QuoteLine& q : m.quotes)
    if (q.CDPRODITMAP == k.product && q.NRCOLEITMAP == k.collection &&
        q.CDFORNITMAP == k.supplier && q.CDMARCITMAP == k.brand && q.CDREGITMAP == k.region)
      return q;
  throw ServerError(ErrorCode::NotFound, "Cotação não encontrada (produto " + k.product +
                                             ", coleta " + k.collection + ", fornecedor " +
                                             k.supplier + ", marca " + k.brand + ", região " +
                                             k.region + ").");
}

DataPacket Cotacao(TallyService& s, const Key& k) {
  auto m = s.Model(k.centre, k.tally);
  const QuoteLine& q = Find(*m, k);
  const ProductInfo& p = m->products[static_cast<size_t>(q.product)];
  const FieldType T = FieldType::String, F = FieldType::Float;
  PacketBuilder b({{"CDFORNITMAP", T, 21}, {"NMFANTFORN", T, 40},  {"CDPRODITMAP", T, 10},
                   {"CDARVPROD", T, 20},   {"NMPRODUTO", T, 50},   {"CDMARCITMAP", T, 5},
                   {"NMMARCA", T, 20},     {"NRCOLEITMAP", T, 10}, {"CDREGITMAP", T, 3},
                   {"SGUNIDADE", T, 10},   {"VRFATOCONV", F, 0},   {"VRPRECUNIAP", F, 0},
                   {"PRECOECON", F, 0},    {"PRECOECONPI", F, 0},  {"TXFRETEENC", F, 0},
                   {"NRPRAZOPGTO", F, 0},  {"TXIMPRECUP", F, 0},   {"IDLISTAPREC", T, 1},
                   {"QTMINAUTFOT", F, 0},  {"IDQTMINFORN", T, 1},  {"VRMINAUTFOR", F, 0},
                   {"IDVRMINFORN", T, 1}});
  b.Add({Value(q.CDFORNITMAP), Value(q.NMFANTFORN),  Value(q.CDPRODITMAP),
         Value(p.CDARVPROD),   Value(p.NMPRODUTO),   Value(q.CDMARCITMAP),
         Value(q.NMMARCA),     Value(q.NRCOLEITMAP), Value(q.CDREGITMAP),
         Value(q.SGUNIDADE),   Value(p.VRFATOCONV),  Value(q.VRPRECUNIAP),
         Value(q.PRECOECON),   Value(q.PRECOECONPI), Value(q.freightRate),
         Value(q.paymentDays), Value(q.taxRate),     Value(q.priceList ? "S" : "N"),
         Value(q.QTMINAUTFOT), Value(q.IDQTMINFORN), Value(q.VRMINAUTFOR),
         Value(q.IDVRMINFORN)});
  return b.Build();
}

// The delivery requests of the line's product and region, with what the line
// covers of each.
DataPacket Entregas(TallyService& s, const Key& k) {
  auto m = s.Model(k.centre, k.tally);
  const QuoteLine& q = Find(*m, k);
  const auto quoteIndex = static_cast<int32_t>(&q - m->quotes.data());
  std::vector<double> covered(m->requests.size(), 0);
  for (const Item& it : m->items)
    if (it.quote == quoteIndex && it.selected)
      covered[static_cast<size_t>(it.request)] += it.QTACOMP;
  const FieldType T = FieldType::String, F = FieldType::Float;
  PacketBuilder b({{"CDFILIAP", T, 4},
                   {"NMFILIAL", T, 30},
                   {"DTENTRAPUT", FieldType::DateTime, 0},
                   {"QTSOLACOMP", F, 0},
                   {"QTACOMP", F, 0}});
  for (size_t r = 0; r < m->requests.size(); ++r) {
    const RequestLine& rq = m->requests[r];
    if (rq.CDPRODITMAP != q.CDPRODITMAP || rq.CDREGITMAP != q.CDREGITMAP) continue;
    b.Add({Value(rq.CDFILIAP), Value(rq.NMFILIAL), Value(DateTime{rq.DTENTRAPUT}),
           Value(rq.QTSOLACOMP), Value(covered[r])});
  }
  return b.Build();
}

using Ctx = rpc::CallContext;
using CM = rpc::MethodTable::ContextMethod;

// The line's key, its centre one the caller works in (with sessions; the
// objects alone check nothing).
template <size_t N>
Key CheckedKey(Sessions* sessions, const Ctx& ctx, const Args& a, const contract::Method<N>& m) {
  Key k = ReadKey(m, a);
  if (sessions) CheckCentre(Caller(*sessions, ctx), k.centre, m.name);
  return k;
}

Key PricedKey(Sessions* sessions, const Ctx& ctx, const Args& a, const contract::Method<8>& m) {
  Key k = CheckedKey(sessions, ctx, a, m);
  CheckUnitPrice(k.price);
  return k;
}

void AddReads(rpc::MethodTable& t, TallyService& s, Sessions* sessions) {
  t.Add(contract::kGetCotacao.name, CM([&s, sessions](const Args& a, const Ctx& ctx) {
          return Value(Cotacao(s, CheckedKey(sessions, ctx, a, contract::kGetCotacao)));
        }));
  t.Add(contract::kGetEntregas.name, CM([&s, sessions](const Args& a, const Ctx& ctx) {
          return Value(Entregas(s, CheckedKey(sessions, ctx, a, contract::kGetEntregas)));
        }));
}

}  // namespace

void RegisterCompanionObjects(rpc::ServerRegistry& registry, TallyService& s, Sessions* sessions) {
  auto neg = std::make_shared<rpc::MethodTable>(kNegotiationObject);
  AddReads(*neg, s, sessions);
  neg->Add(contract::kSimulaPreco.name, CM([&s, sessions](const Args& a, const Ctx& ctx) {
             const Key k = PricedKey(sessions, ctx, a, contract::kSimulaPreco);
             auto model = s.Model(k.centre, k.tally);
             const QuoteLine& q = Find(*model, k);
             const EconomicPrices e = ComputeEconomicPrices(
                 k.price, model->products[static_cast<size_t>(q.product)].VRFATOCONV, q.freightRate,
                 q.paymentDays, model->centre.monthlyRate, q.taxRate);
             return Value(ValueArray{Value(e.econ), Value(e.econPi)});
           }));
  neg->Add(contract::kGravaPreco.name, CM([&s, sessions](const Args& a, const Ctx& ctx) {
             const Key k = PricedKey(sessions, ctx, a, contract::kGravaPreco);
             return Value(s.AtuaPrecEco(k.centre, k.product, k.collection, k.supplier, k.brand,
                                        k.region, k.price, k.tally));
           }));
  registry.Register(kNegotiationObject, RequiringSession(neg, sessions));

  auto sheet = std::make_shared<rpc::MethodTable>(kSpreadsheetObject);
  AddReads(*sheet, s, sessions);
  registry.Register(kSpreadsheetObject, RequiringSession(sheet, sessions));
}

}  // namespace apura::server
