// The catalogue's texts are the system's own words: accents, blanks and line
// breaks must reach the dialogs and the server exactly.

#include <gtest/gtest.h>

#include <set>

#include "worksheet/catalogue.h"

namespace apura::worksheet {
namespace {

struct Expected {
  const char* key;
  const char* text;
};

const Expected kExpected[] = {
    {"Excl", "Confirma exclus\u00e3o?"},
    {"Atu_Cot", "Deseja atualizar as cota\u00e7\u00f5es conforme novo pre\u00e7o informado?"},
    {"Nao", "N\u00e3o"},
    {"Sim", "Sim"},
    {"AF_NGerada",
     "Ocorreram erros durante a gera\u00e7\u00e3o das AF(s). Favor refazer a escolha dos "
     "pre\u00e7os desejados e, posteriormente, realizar a efetiva\u00e7\u00e3o das AF(s)."},
    {"caption_F_C_R", "Fornecedor/Coleta/Regi\u00e3o"},
    {"captionC_R", "Coleta/Regi\u00e3o"},
    {"CGC_Pesq", "Jur\u00eddica"},
    {"CPF_Pesq", "F\u00edsica"},
    {"OUTROS_Pesq", "Outros"},
    {"JUR_Pesq", "Insc. Jur\u00eddica"},
    {"Tit_Cot", "Cota\u00e7\u00e3o"},
    {"Forn_Vazio", "Nome fantasia do fornecedor deve ser informado."},
    {"Quant_Vazia", "Quantidade para entrega deve ser informada."},
    {"Quant_Zero", "Quantidade para entrega deve ser maior que zero."},
    {"Conf_apur",
     "Todas as cota\u00e7\u00f5es selecionadas ser\u00e3o desmarcadas. Confirma "
     "opera\u00e7\u00e3o?"},
    {"N_dadosAF", "N\u00e3o h\u00e1 dados para efetiva\u00e7\u00e3o de AF(s)."},
    {"Conf_Oper", "Confirma opera\u00e7\u00e3o?"},
    {"lblApur_Cot", "Apurando as Melhores Cota\u00e7\u00f5es no Servidor..."},
    {"lblGer_AF", "Gerando AF(s)..."},
    {"AF_Ger_Sucesso", "AF(s) efetivadas com sucesso."},
    {"Cot_Apur_Sucesso", "Cota\u00e7\u00f5es apuradas com sucesso."},
    {"Cot_N_Cad",
     "N\u00e3o h\u00e1 cota\u00e7\u00e3o dispon\u00edvel para apura\u00e7\u00e3o do produto."},
    {"Atu_Dados", "Atualizando produtos apurados."},
    {"N_GerAF", "N\u00e3o foi poss\u00edvel gerar AF's inconsistentes."},
    {"Pre_N_Inf", "Pre\u00e7o unit\u00e1rio deve ser informado."},
    {"Conf_Alter", "Confirma altera\u00e7\u00e3o do pre\u00e7o unit\u00e1rio?"},
    {"lblFech_AF", "Fechando AF(s)"},
    {"N_GerAF_Orc",
     "N\u00e3o foi poss\u00edvel gerar todas as AF's porque foi ultrapassado o or\u00e7amento de "
     "fluxo de caixa."},
    {"N_GerAF_OrcN",
     "N\u00e3o foi poss\u00edvel gerar as AF's porque foi ultrapassado o or\u00e7amento de fluxo "
     "de "
     "caixa."},
    {"Dir_Inv",
     "N\u00e3o foi poss\u00edvel gerar arquivo de AF de produtos web.\r\nDiret\u00f3rio "
     "parametrizado para arquivo de AF n\u00e3o existe."},
    {"Dir_Vazio",
     "N\u00e3o foi poss\u00edvel gerar arquivo de AF de produtos web.\r\nDiret\u00f3rio para "
     "arquivo de AF deve ser informado."},
    {"lblEmail_AF", "Enviando e-mail de confirma\u00e7\u00e3o da gera\u00e7\u00e3o de AF(s)"},
    {"EscApur_PartFili", "Escolhido da particularidade da filial.\r\n"},
    {"EscApur_PartRest", "Particularidade restritiva para a filial.\r\n"},
    {"EncAF", "Concluindo efetiva\u00e7\u00e3o de AF no servidor..."},
    {"Excl_AF", "Excluindo AF's no servidor..."},
    {"Cabecalho_LogAF", "Log de AF's gerado no diret\u00f3rio %s."},
    {"Linha_LogAF_OK",
     "AF n\u00ba %s da filial de destino %s, lan\u00e7ada na filial %s foi enviada pelo sistema."},
    {"Linha_LogAF_ERRO",
     "AF n\u00ba %s da filial de destino %s, lan\u00e7ada na filial %s n\u00e3o foi enviada."},
    {"LinhaOper_LogAF", "Hora: %s Operador : %s  %s "},
    {"Confirmacao_LogAF", "Foi gerado o arquivo %s, contendo o log de envio de e-mails."},
    {"EscApur_ProdPref", "Escolhido por Produto Preferencial.\r\n"},
    {"EscApur_MFO", "Escolhido por Fornecedor/Marca Obrigat\u00f3rios.\r\n"},
    {"EscApur_MFP", "Escolhido por Fornecedor/Marca Preferenciais.\r\n"},
    {"EscApur_MFR", "Escolhido por Fornecedor/Marca Restritivos.\r\n"},
    {"EscApur_FO", "Escolhido por Fornecedor Obrigat\u00f3rio.\r\n"},
    {"EscApur_FP", "Escolhido por Fornecedor Preferencial.\r\n"},
    {"EscApur_FR", "Escolhido por Fornecedor Restritivo.\r\n"},
    {"EscApur_MO", "Escolhido por Marca Obrigat\u00f3ria.\r\n"},
    {"EscApur_MP", "Escolhido por Marca Preferencial.\r\n"},
    {"EscApur_MR", "Escolhido por Marca Restritiva.\r\n"},
    {"EscApur_LisPrec", "Escolhido da Lista de Pre\u00e7os.\r\n"},
    {"EscApur_Cotacao", "Escolhido da Cota\u00e7\u00e3o Fora da Lista.\r\n"},
    {"EscApur_Acordo", "Escolhido por Acordo.\r\n"},
    {"Preco_Uni", "Pre\u00e7o unit\u00e1rio (unidade de estoque) "},
    {"Msg_FornExtra", "Fornecedor n\u00e3o \u00e9 extra."},
    {"Preco_Utilizado", " maior que o \u00faltimo pre\u00e7o utilizado (unidade de estoque) "},
    {"AF_Incons",
     "Existe(m) AF(s) inconsistente(s) ou fora do limite. Para visualiz\u00e1-las verifique o "
     "relat\u00f3rio \"AF's &Inconsistentes/Fora do Limite\" na tela \"An\u00e1lise de "
     "Autoriza\u00e7\u00e3o de Fornecimento\"."},
    {"ExistePrecEco_Inf",
     "Existe(m) pre\u00e7o(s) econ\u00f4mico zerado na escolha da melhor cota\u00e7\u00e3o."},
    {"Oper_Npermissao", "Operador sem permiss\u00e3o para escolha manual de pre\u00e7o."},
    {"EscApur_Manual", "Escolhido manualmente."},
    {"Erro_EfetivaAF",
     "Opera\u00e7\u00e3o bloqueada. N\u00e3o \u00e9 poss\u00edvel efetivar a mesma "
     "apura\u00e7\u00e3o "
     "mais de uma vez."},
    {"Conf_Fechar",
     "Existem escolhas n\u00e3o efetivadas nesta apura\u00e7\u00e3o. Deseja fechar e "
     "descart\u00e1-las?"},
};

TEST(Catalogue, EveryLineInOrderWithItsExactText) {
  auto lines = PlanApurNegGridMessages();
  ASSERT_EQ(lines.size(), std::size(kExpected));
  std::set<std::string_view> keys;
  for (size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(kExpected[i].key);
    EXPECT_EQ(lines[i].key, kExpected[i].key);
    EXPECT_EQ(lines[i].text, kExpected[i].text);
    EXPECT_TRUE(keys.insert(lines[i].key).second) << "duplicate key";
    EXPECT_EQ(lines[i].key.find('|'), std::string_view::npos);
  }
}

TEST(Catalogue, LineBreaksAreCrLfAndNeverBare) {
  for (const auto& l : PlanApurNegGridMessages()) {
    for (size_t i = 0; i < l.text.size(); ++i) {
      if (l.text[i] == '\n') {
        EXPECT_TRUE(i > 0 && l.text[i - 1] == '\r') << l.key;
      }
      if (l.text[i] == '\r') {
        EXPECT_TRUE(i + 1 < l.text.size() && l.text[i + 1] == '\n') << l.key;
      }
    }
  }
}

TEST(Catalogue, JustificationDialogHasItsOneLine) {
  auto lines = ObservJustMessages();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].key, "Just_Inf");
  EXPECT_EQ(lines[0].text, "Justificativa deve ser informada.");
}

TEST(Catalogue, LinesSplitAtTheFirstBar) {
  auto lines = CatalogueLines(PlanApurNegGridMessages());
  ASSERT_EQ(lines.size(), PlanApurNegGridMessages().size());
  EXPECT_EQ(lines[2], "Nao|N\u00e3o");
  EXPECT_EQ(lines.back().substr(0, 12), "Conf_Fechar|");
}

}  // namespace
}  // namespace apura::worksheet
