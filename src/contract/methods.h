#pragma once
// The methods of the server objects (objects.h), each with the names of its
// arguments in the order a caller sends them. The screens call by these
// names; the server reads each method's arguments by these lists, so a
// method renamed, or an argument added or moved, is changed here once.

#include <array>
#include <cstddef>

namespace apura::contract {

template <size_t N>
struct Method {
  const char* name;
  std::array<const char*, N> args;
};

// Prq05001.rdmPlanApurNegGrid: reads of one tally, (centre, tally).
inline constexpr Method<2> kGetProduto{"GetProduto", {"centro", "apuração"}};
inline constexpr Method<2> kGetDados{"GetDados", {"centro", "apuração"}};
inline constexpr Method<2> kGetRegiao{"GetRegiao", {"centro", "apuração"}};
inline constexpr Method<2> kGetProdItem{"GetProdItem", {"centro", "apuração"}};
inline constexpr Method<2> kGetApurNeg{"GetApurNeg", {"centro", "apuração"}};
inline constexpr Method<2> kGetPai_ItmApurPrec{"GetPai_ItmApurPrec", {"centro", "apuração"}};
inline constexpr Method<2> kGetItmApurPrec{"GetItmApurPrec", {"centro", "apuração"}};
// Both delivery packets' columns in one: the worksheet loads its two delivery
// tables from one answer instead of the same rows twice.
inline constexpr Method<2> kGetDados_ItmApurPrec{"GetDados_ItmApurPrec", {"centro", "apuração"}};
inline constexpr Method<2> kDelApuracao{"DelApuracao", {"centro", "apuração"}};
inline constexpr Method<4> kMelhorCotacao{"MelhorCotacao",
                                          {"centro", "apuração", "sistema", "tipo"}};
inline constexpr Method<8> kAtuaPrecEco{"AtuaPrecEco",
                                        {"CDCENTITMAP", "CDPRODITMAP", "NRCOLEITMAP", "CDFORNITMAP",
                                         "CDMARCITMAP", "CDREGITMAP", "VRPRECUNIAP", "NRSEQITMAP"}};
inline constexpr Method<7> kAtualiza_PrecoEco{
    "Atualiza_PrecoEco",
    {"CDCENTITMAP", "CDPRODITMAP", "NRCOLEITMAP", "CDFORNITMAP", "CDMARCITMAP", "CDREGITMAP",
     "NRSEQITMAP"}};
inline constexpr Method<5> kGetVd_EfetivaAF{
    "GetVd_EfetivaAF", {"comprador", "filial", "centro", "apuração", "operador"}};
// The last nine are the catalogue texts the outcome is built with.
inline constexpr Method<16> kGera_AF{
    "Gera_AF",
    {"pacote de alterações", "comprador", "data de processamento", "centro", "apuração", "filial",
     "IDBLOQUEAAF", "Dir_Vazio", "Dir_Inv", "N_GerAF_Orc", "AF_Ger_Sucesso", "N_GerAF_OrcN",
     "N_GerAF", "Preco_Uni", "Preco_Utilizado", "Msg_FornExtra"}};
inline constexpr Method<2> kExcluiAF{"ExcluiAF", {"filial", "apuração"}};

// Cmp.rdmCompras.
inline constexpr Method<2> kGetParamCmp{"GetParamCmp", {"centro", "sistema"}};

// Apura.Sessao.
inline constexpr Method<2> kLogin{"Login", {"operador", "senha"}};
inline constexpr Method<0> kLogout{"Logout", {}};

// Prq05100.rdmAnaliseAF, (centre, tally).
inline constexpr Method<2> kGetAutoForne{"GetAutoForne", {"centro", "apuração"}};
inline constexpr Method<2> kGetItmAutoForne{"GetItmAutoForne", {"centro", "apuração"}};
inline constexpr Method<2> kGetAFIncons{"GetAFIncons", {"centro", "apuração"}};

// Prq01802.rdmNegociacao and Prq01803.rdmInfPlanilha: a quotation line's key;
// the negotiation's price methods send the unit price before the tally.
inline constexpr Method<7> kGetCotacao{
    "GetCotacao", {"centro", "coleta", "fornecedor", "produto", "marca", "região", "apuração"}};
inline constexpr Method<7> kGetEntregas{
    "GetEntregas", {"centro", "coleta", "fornecedor", "produto", "marca", "região", "apuração"}};
inline constexpr Method<8> kSimulaPreco{
    "SimulaPreco",
    {"centro", "coleta", "fornecedor", "produto", "marca", "região", "preço unitário", "apuração"}};
inline constexpr Method<8> kGravaPreco{
    "GravaPreco",
    {"centro", "coleta", "fornecedor", "produto", "marca", "região", "preço unitário", "apuração"}};

}  // namespace apura::contract
