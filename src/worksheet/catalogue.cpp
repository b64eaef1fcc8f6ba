#include "worksheet/catalogue.h"

namespace apura::worksheet {

namespace {

// Line breaks inside texts are CR LF, as the dialogs of the host expect.
constexpr MessageLine kWorksheet[] = {
    {"Excl", "Confirma exclusão?"},
    {"Atu_Cot", "Deseja atualizar as cotações conforme novo preço informado?"},
    {"Nao", "Não"},
    {"Sim", "Sim"},
    {"AF_NGerada",
     "Ocorreram erros durante a geração das AF(s). Favor refazer a escolha dos preços desejados "
     "e, posteriormente, realizar a efetivação das AF(s)."},
    {"caption_F_C_R", "Fornecedor/Coleta/Região"},
    {"captionC_R", "Coleta/Região"},
    {"CGC_Pesq", "Jurídica"},
    {"CPF_Pesq", "Física"},
    {"OUTROS_Pesq", "Outros"},
    {"JUR_Pesq", "Insc. Jurídica"},
    {"Tit_Cot", "Cotação"},
    {"Forn_Vazio", "Nome fantasia do fornecedor deve ser informado."},
    {"Quant_Vazia", "Quantidade para entrega deve ser informada."},
    {"Quant_Zero", "Quantidade para entrega deve ser maior que zero."},
    {"Conf_apur", "Todas as cotações selecionadas serão desmarcadas. Confirma operação?"},
    {"N_dadosAF", "Não há dados para efetivação de AF(s)."},
    {"Conf_Oper", "Confirma operação?"},
    {"lblApur_Cot", "Apurando as Melhores Cotações no Servidor..."},
    {"lblGer_AF", "Gerando AF(s)..."},
    {"AF_Ger_Sucesso", "AF(s) efetivadas com sucesso."},
    {"Cot_Apur_Sucesso", "Cotações apuradas com sucesso."},
    {"Cot_N_Cad", "Não há cotação disponível para apuração do produto."},
    {"Atu_Dados", "Atualizando produtos apurados."},
    {"N_GerAF", "Não foi possível gerar AF's inconsistentes."},
    {"Pre_N_Inf", "Preço unitário deve ser informado."},
    {"Conf_Alter", "Confirma alteração do preço unitário?"},
    {"lblFech_AF", "Fechando AF(s)"},
    {"N_GerAF_Orc",
     "Não foi possível gerar todas as AF's porque foi ultrapassado o orçamento de fluxo de caixa."},
    {"N_GerAF_OrcN",
     "Não foi possível gerar as AF's porque foi ultrapassado o orçamento de fluxo de caixa."},
    {"Dir_Inv",
     "Não foi possível gerar arquivo de AF de produtos web.\r\n"
     "Diretório parametrizado para arquivo de AF não existe."},
    {"Dir_Vazio",
     "Não foi possível gerar arquivo de AF de produtos web.\r\n"
     "Diretório para arquivo de AF deve ser informado."},
    {"lblEmail_AF", "Enviando e-mail de confirmação da geração de AF(s)"},
    {"EscApur_PartFili", "Escolhido da particularidade da filial.\r\n"},
    {"EscApur_PartRest", "Particularidade restritiva para a filial.\r\n"},
    {"EncAF", "Concluindo efetivação de AF no servidor..."},
    {"Excl_AF", "Excluindo AF's no servidor..."},
    {"Cabecalho_LogAF", "Log de AF's gerado no diretório %s."},
    {"Linha_LogAF_OK",
     "AF nº %s da filial de destino %s, lançada na filial %s foi enviada pelo sistema."},
    {"Linha_LogAF_ERRO", "AF nº %s da filial de destino %s, lançada na filial %s não foi enviada."},
    {"LinhaOper_LogAF", "Hora: %s Operador : %s  %s "},
    {"Confirmacao_LogAF", "Foi gerado o arquivo %s, contendo o log de envio de e-mails."},
    {"EscApur_ProdPref", "Escolhido por Produto Preferencial.\r\n"},
    {"EscApur_MFO", "Escolhido por Fornecedor/Marca Obrigatórios.\r\n"},
    {"EscApur_MFP", "Escolhido por Fornecedor/Marca Preferenciais.\r\n"},
    {"EscApur_MFR", "Escolhido por Fornecedor/Marca Restritivos.\r\n"},
    {"EscApur_FO", "Escolhido por Fornecedor Obrigatório.\r\n"},
    {"EscApur_FP", "Escolhido por Fornecedor Preferencial.\r\n"},
    {"EscApur_FR", "Escolhido por Fornecedor Restritivo.\r\n"},
    {"EscApur_MO", "Escolhido por Marca Obrigatória.\r\n"},
    {"EscApur_MP", "Escolhido por Marca Preferencial.\r\n"},
    {"EscApur_MR", "Escolhido por Marca Restritiva.\r\n"},
    {"EscApur_LisPrec", "Escolhido da Lista de Preços.\r\n"},
    {"EscApur_Cotacao", "Escolhido da Cotação Fora da Lista.\r\n"},
    {"EscApur_Acordo", "Escolhido por Acordo.\r\n"},
    {"Preco_Uni", "Preço unitário (unidade de estoque) "},
    {"Msg_FornExtra", "Fornecedor não é extra."},
    {"Preco_Utilizado", " maior que o último preço utilizado (unidade de estoque) "},
    {"AF_Incons",
     "Existe(m) AF(s) inconsistente(s) ou fora do limite. Para visualizá-las verifique o "
     "relatório \"AF's &Inconsistentes/Fora do Limite\" na tela \"Análise de Autorização de "
     "Fornecimento\"."},
    {"ExistePrecEco_Inf", "Existe(m) preço(s) econômico zerado na escolha da melhor cotação."},
    {"Oper_Npermissao", "Operador sem permissão para escolha manual de preço."},
    {"EscApur_Manual", "Escolhido manualmente."},
    {"Erro_EfetivaAF",
     "Operação bloqueada. Não é possível efetivar a mesma apuração mais de uma vez."},
    // Asked before closing discards delivery choices that never reached the server.
    {"Conf_Fechar",
     "Existem escolhas não efetivadas nesta apuração. Deseja fechar e descartá-las?"},
};

constexpr MessageLine kObservJust[] = {
    {"Just_Inf", "Justificativa deve ser informada."},
};

}  // namespace

std::span<const MessageLine> PlanApurNegGridMessages() {
  return kWorksheet;
}
std::span<const MessageLine> ObservJustMessages() {
  return kObservJust;
}

std::vector<std::string> CatalogueLines(std::span<const MessageLine> lines) {
  std::vector<std::string> out;
  out.reserve(lines.size());
  for (const auto& l : lines) {
    std::string s;
    s.reserve(l.key.size() + 1 + l.text.size());
    s.append(l.key).append("|").append(l.text);
    out.push_back(std::move(s));
  }
  return out;
}

}  // namespace apura::worksheet
