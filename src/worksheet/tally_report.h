#pragma once
// The tally report form: the report base form running "LIB050" for the tally
// on screen. A unit of its own, with its own instance and created flag.

#include "framework/forms.h"

namespace apura::worksheet {

class TfrmRelApuracao : public TfrmDadosGerRel {
 public:
  static constexpr const char* kCodTela = "PRQ05004";
  static constexpr const char* kCodRel = "LIB050";

  explicit TfrmRelApuracao(TComponent* owner = nullptr);

  // Shown when the worksheet holds choices the server does not have yet:
  // the report runs on the server's data and leaves them out.
  TLabel lblAviso{this, "lblAviso", this};

  void FormClose(TComponent& Sender, TCloseAction& Action);
  void FormActivate(TComponent& Sender);
  // Ties the report's queries to the worksheet's current quotation line.
  void rpddPadraoBeforeGetQueryParams(TReportParams& Params, bool& DoCancel);
};

namespace rel_apuracao {
// The report form instance, and whether it exists. Not the worksheet's flag of
// the same name: each unit knows only its own form.
extern TfrmRelApuracao* frmRelApuracao;
extern bool boStCriado;
// The unit's initialisation, run once when the module is loaded.
void Inicializa();
}  // namespace rel_apuracao

// Opens the report form modally; returns once it has been closed.
void CriaRelApuracao();

}  // namespace apura::worksheet
