#pragma once
// The AF analysis screen: the AFs a tally's effectuation generated, the items
// of the AF under the cursor, and the AFs kept aside as inconsistent or below
// a supplier's limit.

#include <string>

#include "contract/objects.h"
#include "framework/controls.h"
#include "framework/forms.h"
#include "framework/netconnection.h"

namespace apura::analysis {

class TfrmAnaliseAF : public TfrmPadraoGrid {
 public:
  static constexpr const char* kServerObject = contract::kAfAnalysisObject;

  explicit TfrmAnaliseAF(TComponent* owner = nullptr);
  ~TfrmAnaliseAF() override;

  TPanel panInfo{this, "panInfo", this};
  TLabel lblCentro{this, "lblCentro", &panInfo};
  TEdit edtCentro{this, "edtCentro", &panInfo};
  TLabel lblApuracao{this, "lblApuracao", &panInfo};
  TEdit edtApuracao{this, "edtApuracao", &panInfo};

  // "AF's": the AFs (dbgPadrao) over the items of the current one.
  TDBGrid dbgItens{this, "dbgItens", &tshPadrao};
  // "AF's Inconsistentes/Fora do Limite".
  TTabSheet tshIncons{this, "tshIncons", pgcPadrao, "AF's &Inconsistentes/Fora do Limite"};
  TDBGrid dbgIncons{this, "dbgIncons", &tshIncons};

  TClientDataSet cdsAutoForne{"cdsAutoForne"};
  TClientDataSet cdsItmAutoForne{"cdsItmAutoForne"};
  TClientDataSet cdsAFIncons{"cdsAFIncons"};
  TDataSource dtsItens{"dtsItens"};
  TDataSource dtsIncons{"dtsIncons"};

  TNetConnection netAnaliseAF{this, "netAnaliseAF"};

  std::string stCentCmp, stNrApuracao;

  // Shows the AFs of the tally; an empty centre or tally is refused by name.
  void Carrega(const std::string& centro, const std::string& apuracao);

  void FormCreate(TComponent& Sender);
  void netAnaliseAFBeforeConnect(TComponent& Sender);
  void cdsAutoForneAfterScroll(TClientDataSet& DataSet);
  void cdsItmAutoForneFilterRecord(TClientDataSet& DataSet, bool& Accept);
  void dtsPadraoStateChange(TDataSource& Sender);

 private:
  void DefineTabelas();
  Value Chama(const std::string& method);
  TField* itmNRAUTOFORN_ = nullptr;
  TField* afNRAUTOFORN_ = nullptr;
};

}  // namespace apura::analysis

// The screen's one form; null while it is not open.
extern apura::analysis::TfrmAnaliseAF* frmAnaliseAF;
