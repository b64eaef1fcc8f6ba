#include "worksheet/tables.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace apura::worksheet {

namespace {

constexpr FieldType T = FieldType::String;
constexpr FieldType F = FieldType::Float;
constexpr FieldType D = FieldType::DateTime;
constexpr bool H = true;  // hidden

constexpr const char* kPrice5 = "#,##0.00000";
constexpr const char* kQty3 = "#,##0.000";
constexpr const char* kPrice5Wide = "####,##0.00000";

// {name, type, size, label, display format, hidden, display width, edit format, fixed}
constexpr FieldLayout kProduto[] = {
    {"CDPRODUTO", T, 10, "Código", {}, H, 15},
    {"CDARVPROD", T, 20, "Código"},
    {"NMPRODUTO", T, 50, "Nome"},
};

constexpr FieldLayout kRegiao[] = {
    {"CDREGITMAP", T, 3, "Região"},
    {"NMREGIAO", T, 30, "Nome da Região"},
    {"CDPRODESTO", T, 10, {}, {}, H},
};

constexpr FieldLayout kProdItem[] = {
    {"CDPRODESTO", T, 10, {}, {}, H},  {"CDPRODITMAP", T, 10, "Produto", {}, H, 15},
    {"CDARVPROD", T, 20, "Produto"},   {"NMPRODUTO", T, 50, "Nome do Produto"},
    {"IDITMSELAPUR", T, 1, {}, {}, H}, {"CDREGITMAP", T, 3, {}, {}, H},
    {"QTESTOSEGU", F, 0, {}, {}, H},   {"CALC_ESTO", F, 0, {}, {}, H},
};

constexpr FieldLayout kApurNeg[] = {
    {"VRFATOCONV", F, 0, "Fator.Conv.", kPrice5, H},
    {"PRODUNDIVFATCO", F, 0, "Pr.Uni./Vr Conv.", kPrice5, H},
    {"CDFORNITMAP", T, 21, {}, {}, H},
    {"NMFANTFORN", T, 40, "Nome Fantasia"},
    {"NRSEQITMAP", T, 10, {}, {}, H},
    {"CDCENTITMAP", T, 4, {}, {}, H},
    {"NRCOLEITMAP", T, 10, "Coleta"},
    {"CDMARCITMAP", T, 5, "Marca", {}, H},
    {"NMMARCA", T, 20, "Nome da Marca"},
    {"VRPRECUNIAP", F, 0, "Pr. Unitário", kPrice5},
    {"PRECOECON", F, 0, "Pr.Econômico", kPrice5},
    {"QTACOMP", F, 0, "Qtde. Comprar", kQty3},
    {"IDITMSELAPUR", T, 1, {}, {}, H},
    {"CDREGITMAP", T, 3, {}, {}, H},
    {"CDPRODITMAP", T, 10, {}, {}, H},
    {"CDARVPROD", T, 20, {}, {}, H},
    {"PRECOECONPI", F, 0, "Pr.Econômico PI", kPrice5},
    {"QTMINAUTFOT", F, 0, "Quant. Min.", kQty3, H},
    {"IDQTMINFORN", T, 1, {}, {}, H},
    {"VRMINAUTFOR", F, 0, "Valor Min.", kPrice5, H},
    {"IDVRMINFORN", T, 1, {}, {}, H},
    {"SGUNIDADE", T, 10, "Unidade", {}, H},
};

constexpr FieldLayout kPai_ItmApurPrec[] = {
    {"CDFILIAP", T, 4, "Código"},      {"NMFILIAL", T, 30, "Filial"},
    {"DTENTRAPUT", D, 0, "Entrega"},   {"QTSOLACOMP", F, 0, "Qtde. a Comprar", "##0.000"},
    {"CDCENTITMAP", T, 4, {}, {}, H},  {"NRSEQITMAP", T, 10, {}, {}, H},
    {"CDPRODITMAP", T, 10, {}, {}, H}, {"CDREGITMAP", T, 3, {}, {}, H},
};

constexpr FieldLayout kItmApurPrec[] = {
    {"NMFANTFORN", T, 40, "Nome Fantasia do Fornecedor"},
    {"NMMARCA", T, 20, "Marca"},
    {"QTACOMP", F, 0, "Qtde. p/Entrega", "#0.000", false, 0, "#0.000"},
    {"NRCOLEITMAP", T, 10, "Nº Coleta", {}, H},
    {"VRPRECUNIAP", F, 0, "Pr. Unit.", kPrice5Wide, H},
    {"VRPRECECOAP", F, 0, "Pr. Econ.", kPrice5Wide, H},
    {"IDITMSELAPUR", T, 1, {}, {}, H},
    {"CDCENTITMAP", T, 4, {}, {}, H},
    {"CDPRODITMAP", T, 10, {}, {}, H},
    {"NRSEQITMAP", T, 10, {}, {}, H},
    {"CDFILIAP", T, 4, {}, {}, H},
    {"QTSOLACOMP", F, 0, {}, {}, H},
    {"CDFORNITMAP", T, 21, {}, {}, H},
    {"CDMARCITMAP", T, 5, {}, {}, H},
    {"CDREGITMAP", T, 3, {}, {}, H},
    {"DTENTRAPUT", D, 0, {}, {}, H},
    {"IDMOTIVPRESC", T, 10, {}, {}, H},
    {"VRPRECONPIAP", F, 0, "Pr. Econ.PI", kPrice5Wide},
};

constexpr FieldLayout kDados[] = {
    {"NMFANTFORN", T, 40},     {"NMMARCA", T, 20},     {"CDCENTITMAP", T, 4},
    {"DTENTRAPUT", D, 0},      {"CDPRODITMAP", T, 10}, {"CDPRODESTO", T, 10},
    {"NRCOLEITMAP", T, 10},    {"NRSEQITMAP", T, 10},  {"QTACOMP", F, 0},
    {"CDFILIAP", T, 4},        {"QTSOLACOMP", F, 0},   {"CDFORNITMAP", T, 21},
    {"CDMARCITMAP", T, 5},     {"CDREGITMAP", T, 3},   {"VRPRECUNIAP", F, 0},
    {"VRPRECECOAP", F, 0},     {"IDITMSELAPUR", T, 1}, {"VRPRECONPIAP", F, 0},
    {"TXOBESCMANAP", T, 2000},
};

constexpr FieldLayout kParaSupri[] = {
    {"IDTIPOAPUR", T, 1},
    {"IDBLOQUEAAF", T, 1},
    {"IDCONSPRSOL", T, 1},
    {"IDEXJUSTESCM", T, 1},
};

constexpr FieldLayout kPesqForn[] = {
    {"NRCOLEITMAP", T, 10, "Número", {}, false, 13},
    {"NMFANTFORN", T, 40, "Fornecedor"},
    {"NMMARCA", T, 20, "Marca"},
    {"VRPRECUNIAP", F, 0, "Preço Unit.", kPrice5Wide},
    {"VRPRECECOAP", F, 0, "Preço Econ.", kPrice5Wide},
    {"CDFORNITMAP", T, 21, {}, {}, H},
    {"CDMARCITMAP", T, 5, {}, {}, H},
    {"VRPRECONPIAP", F, 0, "Preço Econ.PI", kPrice5Wide},
};

// The quotation line's fields from CDFORNITMAP on, as the totals need them.
constexpr FieldLayout kVd_EfetivaAF[] = {
    {"NRSEQAPUR", T, 10},
};

constexpr FieldLayout kAutoForne[] = {
    {"CDFILDEST", T, 4},
    {"CDFILLANC", T, 4},
    {"NRAUTOFORN", T, 10},
    {"CDEMPRESA", T, 2},
    {"IDTPIJURTRAN", T, 1},
    {"NRINSJURTRAN", T, 20},
    {"CDOPERADOR", T, 12, {}, {}, false, 14},
    {"CDFORNECED", T, 21},
    {"CDTIPCOB", T, 2},
    {"DTAUTOFORN", D, 0},
    {"VRTOTALAF", F, 0},
    {"IDTIPOEMITAF", T, 1},
    {"IDSITUATUAAF", T, 1},
    {"IDIMAUTOFORN", T, 1},
    {"IDTIPOFRETAF", T, 1},
    {"IDAUTOFORNEX", T, 1},
    {"IDTIPOLANCAF", T, 1},
    {"IDAFFORALIM", T, 1},
    {"IDBAIXAAF", T, 1},
    {"CDFORMPGTO", T, 2},
    {"IDTPFORPGTAF", T, 1},
    {"NRPARCPGTOAF", F, 0},
    {"NRDIAPGFIXAF", F, 0},
    {"IDUTDIAPGTAF", T, 1},
    {"IDERRO", T, 1, {}, {}, false, 0, {}, true},
    {"IDAFPRODWEB", T, 1, {}, {}, H},
    {"NMFANTFORN", T, 40},
    {"DSEMAILCOT", T, 100},
    {"NMFILIAL", T, 30},
};

// The working copies carry their sources' definitions; derived here so the
// two can never drift apart.
const FieldLayout& Named(std::span<const FieldLayout> fields, std::string_view name) {
  for (const FieldLayout& f : fields)
    if (f.name == name) return f;
  throw std::logic_error("no field " + std::string(name) + " to copy");
}

// The quotation-line fields the totals need, by name: a field added to or
// moved in the quotation lines changes nothing here.
const std::vector<FieldLayout>& AuxApurNeg() {
  static const std::vector<FieldLayout> v = [] {
    std::vector<FieldLayout> out;
    for (std::string_view name :
         {"CDFORNITMAP", "NMFANTFORN", "NRSEQITMAP", "CDCENTITMAP", "NRCOLEITMAP", "CDMARCITMAP",
          "NMMARCA", "VRPRECUNIAP", "PRECOECON", "QTACOMP", "IDITMSELAPUR", "CDREGITMAP",
          "CDPRODITMAP"})
      out.push_back(Named(kApurNeg, name));
    return out;
  }();
  return v;
}

const std::vector<FieldLayout>& AuxApur() {
  static const std::vector<FieldLayout> v = [] {
    std::vector<FieldLayout> out = AuxApurNeg();
    out.push_back(Named(kApurNeg, "CDARVPROD"));
    out.push_back(Named(kApurNeg, "PRECOECONPI"));
    return out;
  }();
  return v;
}

// The delivery-line fields without the reason code, the PI price hidden.
const std::vector<FieldLayout>& AuxItmApurPrec() {
  static const std::vector<FieldLayout> v = [] {
    std::vector<FieldLayout> out;
    for (FieldLayout f : kItmApurPrec) {
      if (f.name == "IDMOTIVPRESC") continue;
      if (f.name == "VRPRECONPIAP") f.hidden = true;
      out.push_back(f);
    }
    return out;
  }();
  return v;
}

}  // namespace

void DefineFields(TClientDataSet& table, std::span<const FieldLayout> fields) {
  for (const FieldLayout& s : fields) {
    FieldDef def{std::string(s.name), s.type, s.type == FieldType::String ? s.size : 0,
                 s.fixedChar};
    TField& f = table.AddField(std::move(def));
    if (!s.label.empty()) f.SetDisplayLabel(std::string(s.label));
    if (!s.displayFormat.empty()) f.SetDisplayFormat(std::string(s.displayFormat));
    if (!s.editFormat.empty()) f.SetEditFormat(std::string(s.editFormat));
    if (s.displayWidth > 0) f.SetDisplayWidth(s.displayWidth);
    f.SetVisible(!s.hidden);
  }
}

std::span<const FieldLayout> WorksheetTables::ProdutoFields() {
  return kProduto;
}
std::span<const FieldLayout> WorksheetTables::RegiaoFields() {
  return kRegiao;
}
std::span<const FieldLayout> WorksheetTables::ProdItemFields() {
  return kProdItem;
}
std::span<const FieldLayout> WorksheetTables::ApurNegFields() {
  return kApurNeg;
}
std::span<const FieldLayout> WorksheetTables::Pai_ItmApurPrecFields() {
  return kPai_ItmApurPrec;
}
std::span<const FieldLayout> WorksheetTables::ItmApurPrecFields() {
  return kItmApurPrec;
}
std::span<const FieldLayout> WorksheetTables::DadosFields() {
  return kDados;
}
std::span<const FieldLayout> WorksheetTables::ParaSupriFields() {
  return kParaSupri;
}
std::span<const FieldLayout> WorksheetTables::PesqFornFields() {
  return kPesqForn;
}
std::span<const FieldLayout> WorksheetTables::AuxApurNegFields() {
  return AuxApurNeg();
}
std::span<const FieldLayout> WorksheetTables::AuxApurFields() {
  return AuxApur();
}
std::span<const FieldLayout> WorksheetTables::AuxItmApurPrecFields() {
  return AuxItmApurPrec();
}
std::span<const FieldLayout> WorksheetTables::Vd_EfetivaAFFields() {
  return kVd_EfetivaAF;
}
std::span<const FieldLayout> WorksheetTables::AutoForneFields() {
  return kAutoForne;
}

WorksheetTables::WorksheetTables() {
  DefineFields(cdsProduto, kProduto);
  DefineFields(cdsRegiao, kRegiao);
  DefineFields(cdsProdItem, kProdItem);
  DefineFields(cdsApurNeg, kApurNeg);
  DefineFields(cdsPai_ItmApurPrec, kPai_ItmApurPrec);
  DefineFields(cdsItmApurPrec, kItmApurPrec);
  DefineFields(cdsDados, kDados);
  DefineFields(cdsParaSupri, kParaSupri);
  DefineFields(cdsPesqForn, kPesqForn);
  DefineFields(cdsAuxApurNeg, AuxApurNeg());
  DefineFields(cdsAuxItmApurPrec, AuxItmApurPrec());
  DefineFields(cdsAuxApur, AuxApur());
  DefineFields(cdsVd_EfetivaAF, kVd_EfetivaAF);
  DefineFields(cdsAutoForne, kAutoForne);

  dtsProduto.SetDataSet(&cdsProduto);
  dtsRegiao.SetDataSet(&cdsRegiao);
  dtsProdItem.SetDataSet(&cdsProdItem);
  dtsApurNeg.SetDataSet(&cdsApurNeg);
  dtsPai_ItmApurPrec.SetDataSet(&cdsPai_ItmApurPrec);
  dtsPesqForn.SetDataSet(&cdsPesqForn);
  dtsAutoForne.SetDataSet(&cdsAutoForne);

  cdsProdutoCDARVPROD = &cdsProduto.FieldByName("CDARVPROD");
  cdsProdItemCDARVPROD = &cdsProdItem.FieldByName("CDARVPROD");
  cdsParaSupriIDTIPOAPUR = &cdsParaSupri.FieldByName("IDTIPOAPUR");
  cdsParaSupriIDBLOQUEAAF = &cdsParaSupri.FieldByName("IDBLOQUEAAF");
  cdsParaSupriIDCONSPRSOL = &cdsParaSupri.FieldByName("IDCONSPRSOL");
  cdsParaSupriIDEXJUSTESCM = &cdsParaSupri.FieldByName("IDEXJUSTESCM");
  cdsItmApurPrecIDMOTIVPRESC = &cdsItmApurPrec.FieldByName("IDMOTIVPRESC");
}

}  // namespace apura::worksheet
