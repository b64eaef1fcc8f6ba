#include "server/services/change_packets.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>

#include "framework/format.h"
#include "server/errors.h"
#include "server/services/tally_service.h"

namespace apura::server {

namespace {

// Key of a stored delivery row as the change packet names it.
std::string DeliveryKey(std::string_view product, std::string_view region, std::string_view branch,
                        double date, std::string_view collection, std::string_view supplier,
                        std::string_view brand) {
  std::string k;
  k.reserve(64);
  for (std::string_view part : {product, region, branch}) {
    k.append(part);
    k += '\x1f';
  }
  char bits[sizeof(double)];
  std::memcpy(bits, &date, sizeof bits);
  k.append(bits, sizeof bits);
  for (std::string_view part : {collection, supplier, brand}) {
    k += '\x1f';
    k.append(part);
  }
  return k;
}

// What the buyer decides on a delivery row: chosen, quantity, justification.
std::tuple<bool, double, std::string> RowState(const Item& it) {
  return {it.selected, it.QTACOMP, it.TXOBESCMANAP};
}

// The same, as a row of the change packet's originals says it was loaded; a
// field the originals do not carry is taken as stored.
std::tuple<bool, double, std::string> RowState(const DataPacket& o, size_t row,
                                               const Item& stored) {
  auto [sel, qt, just] = RowState(stored);
  const int cSel = o.FieldIndex("IDITMSELAPUR"), cQt = o.FieldIndex("QTACOMP"),
            cJust = o.FieldIndex("TXOBESCMANAP");
  auto text = [&](int c) {
    return c >= 0 && o.fields()[static_cast<size_t>(c)].type == FieldType::String &&
           !o.IsNull(static_cast<size_t>(c), row);
  };
  if (text(cSel)) sel = o.Text(static_cast<size_t>(cSel), row) == "S";
  if (cQt >= 0 && o.fields()[static_cast<size_t>(cQt)].type != FieldType::String &&
      !o.IsNull(static_cast<size_t>(cQt), row))
    qt = o.Number(static_cast<size_t>(cQt), row);
  if (text(cJust)) just = o.Text(static_cast<size_t>(cJust), row);
  return {sel, qt, just};
}

size_t Utf8Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

using RowIndex = std::unordered_map<std::string, size_t>;

// The delivery rows of a tally by the key a change packet names them with; built
// once for all the versions of a loaded tally, since no write changes a key.
const RowIndex& DeliveryRows(const TallyModel& m, std::shared_ptr<const RowIndex>& hold) {
  hold = m.stable->Get<RowIndex>(DerivedCache::RowIndex, [&] {
    RowIndex index;
    index.reserve(m.items.size());
    for (size_t i = 0; i < m.items.size(); ++i) {
      const QuoteLine& q = m.quotes[m.items[i].quote];
      const RequestLine& r = m.requests[m.items[i].request];
      index.emplace(DeliveryKey(q.CDPRODITMAP, q.CDREGITMAP, r.CDFILIAP, r.DTENTRAPUT,
                                q.NRCOLEITMAP, q.CDFORNITMAP, q.CDMARCITMAP),
                    i);
    }
    return index;
  });
  return *hold;
}

}  // namespace

// Applies the worksheet's change packet of cdsDados to the items of the model:
// selection, quantity and justification of each changed delivery row, kept in
// `changed` by row (the model itself is shared with its readers). Returns the
// updates; refuses the whole packet when a row cannot be applied.
std::vector<ItemUpdate> ApplyChanges(const TallyModel& m, const DataPacket& p,
                                     std::map<size_t, Item>& changed) {
  auto need = [&](const char* name) {
    int i = p.FieldIndex(name);
    if (i < 0)
      throw ServerError(std::string("O pacote de alterações não tem o campo ") + name + ".");
    return static_cast<size_t>(i);
  };
  const size_t cProd = need("CDPRODITMAP"), cReg = need("CDREGITMAP"), cFil = need("CDFILIAP"),
               cDate = need("DTENTRAPUT"), cCol = need("NRCOLEITMAP"), cForn = need("CDFORNITMAP"),
               cMarc = need("CDMARCITMAP");
  const int cCent = p.FieldIndex("CDCENTITMAP"), cSeq = p.FieldIndex("NRSEQITMAP");
  const int cSel = p.FieldIndex("IDITMSELAPUR"), cQt = p.FieldIndex("QTACOMP"),
            cJust = p.FieldIndex("TXOBESCMANAP");
  // The packet comes off the wire: a text read from a number column (or the
  // reverse) would read past the column's buffers.
  auto typed = [&](int col, bool text) {
    if (col < 0) return;
    const FieldDef& f = p.fields()[static_cast<size_t>(col)];
    if ((f.type == FieldType::String) != text) {
      throw ServerError("O campo " + f.name + " do pacote de alterações deve ser " +
                        (text ? "um texto" : "um número ou uma data") + ", não " +
                        FieldTypeName(f.type) + ".");
    }
  };
  for (size_t col : {cProd, cReg, cFil, cCol, cForn, cMarc}) typed(static_cast<int>(col), true);
  for (int col : {cCent, cSeq, cSel, cJust}) typed(col, true);
  typed(static_cast<int>(cDate), false);
  typed(cQt, false);

  std::shared_ptr<const RowIndex> hold;
  const RowIndex& index = DeliveryRows(m, hold);
  // Rows of the originals, by the row of the packet they belong to.
  std::unordered_map<size_t, size_t> originalRow;
  const DataPacket* originals = p.originals();
  if (originals) {
    for (size_t k = 0; k < p.originalOf().size(); ++k) originalRow[p.originalOf()[k]] = k;
  }

  for (size_t r = 0; r < p.RowCount(); ++r) {
    const std::string where = "Linha " + std::to_string(r + 1) + " do pacote de alterações";
    RowStatus st = p.status().empty() ? RowStatus::Modified : p.status()[r];
    if (st == RowStatus::Inserted || st == RowStatus::Deleted) {
      throw ServerError(where + ": linhas de entrega não podem ser incluídas nem excluídas.");
    }
    if (st == RowStatus::Unmodified) continue;
    // Keys as they were loaded: from the originals when the row carries them.
    const DataPacket* kp = &p;
    size_t kr = r;
    size_t kc[7] = {cProd, cReg, cFil, cDate, cCol, cForn, cMarc};
    if (auto it = originalRow.find(r); it != originalRow.end()) {
      static const char* kNames[7] = {"CDPRODITMAP", "CDREGITMAP",  "CDFILIAP",   "DTENTRAPUT",
                                      "NRCOLEITMAP", "CDFORNITMAP", "CDMARCITMAP"};
      size_t oc[7];
      bool all = true;
      for (int k = 0; k < 7 && all; ++k) {
        int i = originals->FieldIndex(kNames[k]);
        all = i >= 0;
        if (all) oc[k] = static_cast<size_t>(i);
      }
      if (all) {
        kp = originals;
        kr = it->second;
        std::copy(oc, oc + 7, kc);
      }
    }
    if (cCent >= 0 && !p.IsNull(cCent, r) && p.Text(cCent, r) != m.header.centre) {
      throw ServerError(ErrorCode::Forbidden, where + " pertence ao centro de compras " +
                                                  std::string(p.Text(cCent, r)) + ".");
    }
    if (cSeq >= 0 && !p.IsNull(cSeq, r) && p.Text(cSeq, r) != m.header.number) {
      throw ServerError(ErrorCode::Forbidden,
                        where + " pertence à apuração " + std::string(p.Text(cSeq, r)) + ".");
    }
    std::string product(kp->Text(kc[0], kr)), region(kp->Text(kc[1], kr)),
        branch(kp->Text(kc[2], kr)), collection(kp->Text(kc[4], kr)), supplier(kp->Text(kc[5], kr)),
        brand(kp->Text(kc[6], kr));
    double date = kp->Number(kc[3], kr);
    auto found =
        index.find(DeliveryKey(product, region, branch, date, collection, supplier, brand));
    if (found == index.end()) {
      throw ServerError(ErrorCode::NotFound,
                        where + ": linha de entrega não encontrada (produto " + product +
                            ", região " + region + ", filial " + branch + ", entrega " +
                            DateTimeToText(DateTime{date}) + ", coleta " + collection +
                            ", fornecedor " + supplier + ", marca " + brand + ").");
    }
    const Item& stored = m.items[found->second];
    Item& it = changed.try_emplace(found->second, stored).first->second;
    if (cSel >= 0 && !p.IsNull(cSel, r)) {
      std::string_view sel = p.Text(cSel, r);
      if (sel != "S" && sel != "N") {
        throw ServerError(where + ": IDITMSELAPUR deve ser \"S\" ou \"N\", não \"" +
                          std::string(sel) + "\".");
      }
      it.selected = sel == "S";
    }
    if (cQt >= 0 && !p.IsNull(cQt, r)) {
      double q = p.Number(cQt, r);
      if (!std::isfinite(q) || q < 0 || q > kMaxQuantity) {
        throw ServerError(where + ": quantidade QTACOMP inválida (" + FloatToText(q) + ").");
      }
      it.QTACOMP = q;
    }
    if (cJust >= 0 && !p.IsNull(cJust, r)) {
      std::string_view just = p.Text(cJust, r);
      if (Utf8Length(just) > 2000) {
        throw ServerError(where + ": a justificativa passa de 2000 caracteres.");
      }
      it.TXOBESCMANAP = just;
    }
    // Another buyer may have changed the row since this worksheet loaded it:
    // what it was then must still be what is stored, unless the stored row
    // already holds this very change (a retried call).
    if (kp == originals) {
      if (RowState(*originals, kr, stored) != RowState(stored) &&
          RowState(it) != RowState(stored)) {
        throw ServerError(where +
                          ": a linha de entrega foi alterada por outro usuário depois de "
                          "carregada (produto " +
                          product + ", região " + region + ", filial " + branch + ", entrega " +
                          DateTimeToText(DateTime{date}) + ", coleta " + collection +
                          ", fornecedor " + supplier + ", marca " + brand +
                          "). Nada foi gravado; carregue a apuração novamente.");
      }
    }
  }
  std::vector<ItemUpdate> updates;
  for (auto& [i, it] : changed) {
    // A manual change carries no reason code of the server's tally.
    if (it.selected != m.items[i].selected) it.IDMOTIVPRESC.clear();
    updates.push_back({it.id, it.selected, it.QTACOMP, it.IDMOTIVPRESC, it.TXOBESCMANAP});
  }
  return updates;
}

}  // namespace apura::server
