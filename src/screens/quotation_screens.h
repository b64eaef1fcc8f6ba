#pragma once
// The two screens the worksheet opens on a quotation line, each a module of
// its own: "PRQ01802" negotiation and simulation (the buyer tries unit prices,
// sees the economic prices each would give and records the negotiated one)
// and "PRQ01803" spreadsheet information (the line's details and its delivery
// requests, read only). Both run modally inside the host's LoadBPL.

#include <string>

#include "framework/controls.h"
#include "framework/dataset/dataset.h"
#include "framework/forms.h"
#include "framework/netconnection.h"
#include "framework/value.h"

namespace apura::screens {

// The quotation line a screen was opened on.
struct ChaveCotacao {
  std::string centro, coleta, fornecedor, produto, arvore, marca, regiao, apuracao;
  // From the worksheet's array: 8 values from the centre on, `skip` leading
  // ones before them. A missing value is an error naming the screen.
  static ChaveCotacao FromParams(const ValueArray& params, size_t skip, const char* screen);
  std::vector<CallArg> Args() const;  // centre, collection, supplier, product, brand, region, tally
};

// What both screens show of the line.
class TfrmCotacaoBase : public TfrmRotiGeral {
 public:
  TfrmCotacaoBase(std::string name, const char* serverObject, ChaveCotacao chave);

  ChaveCotacao chave;
  TNetConnection netCotacao{this, "netCotacao"};
  TClientDataSet cdsCotacao{"cdsCotacao"};
  // One line each, down the form.
  TLabel lblFornecedor{this, "lblFornecedor", this};
  TLabel lblProduto{this, "lblProduto", this};
  TLabel lblMarca{this, "lblMarca", this};
  TLabel lblColeta{this, "lblColeta", this};
  TLabel lblPrecos{this, "lblPrecos", this};

  // Reads the line (GetCotacao) and shows it.
  void Carrega();
  // A call on the screen's object, the connection open only around it.
  Value Chama(const std::string& method, std::vector<CallArg> args);

 protected:
  virtual void Mostra();
};

class TfrmNegociacao : public TfrmCotacaoBase {
 public:
  static constexpr const char* kCodTela = "PRQ01802";
  explicit TfrmNegociacao(ChaveCotacao chave);

  TPanel panNegociacao{this, "panNegociacao", this};
  TLabel lblPrecoNeg{this, "lblPrecoNeg", &panNegociacao};
  TEdit edtPrecoNeg{this, "edtPrecoNeg", &panNegociacao};
  TButtonFlat sbtSimular{this, "sbtSimular", &panBotoes};
  TLabel lblSimulacao{this, "lblSimulacao", this};

  // Shows what the typed price would give; stores nothing.
  void sbtSimularClick(TComponent& Sender);
  // Records the typed price and closes.
  void sbtConfirmaClick(TComponent& Sender);

 private:
  // The typed price; an error message and a silent stop when it is no
  // positive number.
  double PrecoDigitado();
};

class TfrmInfPlanilha : public TfrmCotacaoBase {
 public:
  static constexpr const char* kCodTela = "PRQ01803";
  explicit TfrmInfPlanilha(ChaveCotacao chave);

  TLabel lblMinimos{this, "lblMinimos", this};
  TClientDataSet cdsEntregas{"cdsEntregas"};
  TDataSource dtsEntregas{"dtsEntregas"};
  TDBGrid dbgEntregas{this, "dbgEntregas", this};

 protected:
  void Mostra() override;
};

// The screens' entries: create the form, load the line, run it modally.
void AbreNegociacao(const ValueArray& params);
void AbreInfPlanilha(const ValueArray& params);

}  // namespace apura::screens
