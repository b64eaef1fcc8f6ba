#pragma once
// The fields of the data packets the server answers, in their order, with
// their types and text sizes: the server builds each packet with exactly
// these, and the worksheet's tables that receive them are checked against
// them (their own layouts add only what the screen shows).

namespace apura::contract {

enum class FieldKind { Text, Number, Date };

struct PacketField {
  const char* name;
  FieldKind kind;
  int size;  // texts only
};

namespace detail {
constexpr PacketField S(const char* name, int size) {
  return {name, FieldKind::Text, size};
}
constexpr PacketField F(const char* name) {
  return {name, FieldKind::Number, 0};
}
constexpr PacketField D(const char* name) {
  return {name, FieldKind::Date, 0};
}
}  // namespace detail

using detail::D;
using detail::F;
using detail::S;

// GetProduto → cdsProduto.
inline constexpr PacketField kProdutoPacket[] = {S("CDPRODUTO", 10), S("CDARVPROD", 20),
                                                 S("NMPRODUTO", 50)};
// GetRegiao → cdsRegiao.
inline constexpr PacketField kRegiaoPacket[] = {S("CDREGITMAP", 3), S("NMREGIAO", 30),
                                                S("CDPRODESTO", 10)};
// GetProdItem → cdsProdItem.
inline constexpr PacketField kProdItemPacket[] = {
    S("CDPRODESTO", 10),  S("CDPRODITMAP", 10), S("CDARVPROD", 20), S("NMPRODUTO", 50),
    S("IDITMSELAPUR", 1), S("CDREGITMAP", 3),   F("QTESTOSEGU"),    F("CALC_ESTO")};
// GetApurNeg → cdsApurNeg: the quotation lines.
inline constexpr PacketField kApurNegPacket[] = {
    F("VRFATOCONV"),      F("PRODUNDIVFATCO"), S("CDFORNITMAP", 21), S("NMFANTFORN", 40),
    S("NRSEQITMAP", 10),  S("CDCENTITMAP", 4), S("NRCOLEITMAP", 10), S("CDMARCITMAP", 5),
    S("NMMARCA", 20),     F("VRPRECUNIAP"),    F("PRECOECON"),       F("QTACOMP"),
    S("IDITMSELAPUR", 1), S("CDREGITMAP", 3),  S("CDPRODITMAP", 10), S("CDARVPROD", 20),
    F("PRECOECONPI"),     F("QTMINAUTFOT"),    S("IDQTMINFORN", 1),  F("VRMINAUTFOR"),
    S("IDVRMINFORN", 1),  S("SGUNIDADE", 10)};
// GetPai_ItmApurPrec → cdsPai_ItmApurPrec: the branches' requests.
inline constexpr PacketField kPai_ItmApurPrecPacket[] = {
    S("CDFILIAP", 4),    S("NMFILIAL", 30),   D("DTENTRAPUT"),      F("QTSOLACOMP"),
    S("CDCENTITMAP", 4), S("NRSEQITMAP", 10), S("CDPRODITMAP", 10), S("CDREGITMAP", 3)};
// GetItmApurPrec → cdsItmApurPrec: the delivery rows as the grid shows them.
inline constexpr PacketField kItmApurPrecPacket[] = {
    S("NMFANTFORN", 40),   S("NMMARCA", 20),    F("QTACOMP"),         S("NRCOLEITMAP", 10),
    F("VRPRECUNIAP"),      F("VRPRECECOAP"),    S("IDITMSELAPUR", 1), S("CDCENTITMAP", 4),
    S("CDPRODITMAP", 10),  S("NRSEQITMAP", 10), S("CDFILIAP", 4),     F("QTSOLACOMP"),
    S("CDFORNITMAP", 21),  S("CDMARCITMAP", 5), S("CDREGITMAP", 3),   D("DTENTRAPUT"),
    S("IDMOTIVPRESC", 10), F("VRPRECONPIAP")};
// GetDados → cdsDados: the delivery rows the worksheet edits and sends back.
inline constexpr PacketField kDadosPacket[] = {
    S("NMFANTFORN", 40),  S("NMMARCA", 20),    S("CDCENTITMAP", 4),    D("DTENTRAPUT"),
    S("CDPRODITMAP", 10), S("CDPRODESTO", 10), S("NRCOLEITMAP", 10),   S("NRSEQITMAP", 10),
    F("QTACOMP"),         S("CDFILIAP", 4),    F("QTSOLACOMP"),        S("CDFORNITMAP", 21),
    S("CDMARCITMAP", 5),  S("CDREGITMAP", 3),  F("VRPRECUNIAP"),       F("VRPRECECOAP"),
    S("IDITMSELAPUR", 1), F("VRPRECONPIAP"),   S("TXOBESCMANAP", 2000)};
// GetDados_ItmApurPrec → cdsDados and cdsItmApurPrec: the delivery rows with the
// columns of both.
inline constexpr PacketField kDados_ItmApurPrecPacket[] = {
    S("NMFANTFORN", 40),  S("NMMARCA", 20),    S("CDCENTITMAP", 4),     D("DTENTRAPUT"),
    S("CDPRODITMAP", 10), S("CDPRODESTO", 10), S("NRCOLEITMAP", 10),    S("NRSEQITMAP", 10),
    F("QTACOMP"),         S("CDFILIAP", 4),    F("QTSOLACOMP"),         S("CDFORNITMAP", 21),
    S("CDMARCITMAP", 5),  S("CDREGITMAP", 3),  F("VRPRECUNIAP"),        F("VRPRECECOAP"),
    S("IDITMSELAPUR", 1), F("VRPRECONPIAP"),   S("TXOBESCMANAP", 2000), S("IDMOTIVPRESC", 10)};
// GetParamCmp → cdsParaSupri.
inline constexpr PacketField kParaSupriPacket[] = {S("IDTIPOAPUR", 1), S("IDBLOQUEAAF", 1),
                                                   S("IDCONSPRSOL", 1), S("IDEXJUSTESCM", 1)};
// GetVd_EfetivaAF → cdsVd_EfetivaAF.
inline constexpr PacketField kVd_EfetivaAFPacket[] = {S("NRSEQAPUR", 10)};
// The first element of Gera_AF's outcome: the AFs refused as inconsistent.
inline constexpr PacketField kRelInconsPacket[] = {
    S("NRAUTOFORN", 10), S("CDFILDEST", 4), S("NMFILIAL", 30), S("CDFORNECED", 21),
    S("NMFANTFORN", 40), F("VRTOTALAF"),    F("QTTOTALAF"),    F("VRMINAUTFOR"),
    F("QTMINAUTFOT"),    S("DSINCONS", 200)};

}  // namespace apura::contract
