#include "worksheet/justification.h"

#include <stdexcept>
#include <string>

#include "worksheet/catalogue.h"
#include "worksheet/form.h"

namespace apura::worksheet {

TfrmObservJust* frmObservJust = nullptr;

namespace {

TfrmPlanApurNegGrid& Planilha() {
  if (!frmPlanApurNegGrid) throw std::logic_error("Justificativa: the worksheet is not open");
  return *frmPlanApurNegGrid;
}

std::string Campo(const TClientDataSet& t, const char* nome) {
  return t.FieldByName(nome).AsString();
}

}  // namespace

TfrmObservJust::TfrmObservJust(TComponent* owner) : TfrmRotiGeral("frmObservJust", owner) {
  SetCaption("Justificativa");
  SetBounds(0, 0, 447, 227);
  HelpFile = "Cmphelp.hlp";
  HelpContext = 10403109;
  lblCodTela.SetCaption("PRQ05006");
  msgPadrao.SetLines(CatalogueLines(ObservJustMessages()));
  memObserv.SetMaxLength(kMaxJustificativa);
  lblObserv.SetCaption("Por que esta cotação foi escolhida (até " +
                       std::to_string(kMaxJustificativa) + " caracteres):");

  using S = TComponent;
  OnCreate = [this](S& s) { FormCreate(s); };
  OnActivate = [this](S& s) { FormActivate(s); };
  OnKeyDown = [this](S& s, int& k, TShiftState sh) { FormKeyDown(s, k, sh); };
  OnKeyPress = [this](S& s, char32_t& k) { FormKeyPress(s, k); };
  OnClose = [this](S& s, TCloseAction& a) { FormClose(s, a); };
  sbtConfirma.OnClick = [this](S& s) { sbtConfirmaClick(s); };
  sbtCancel.OnClick = [this](S& s) { sbtCancelClick(s); };
}

TfrmObservJust::~TfrmObservJust() {
  BeginDestroy();
  if (frmObservJust == this) frmObservJust = nullptr;
}

void TfrmObservJust::FormCreate(TComponent& Sender) {
  // No form's message handling runs while the dialog is up.
  MsgEventForm(nullptr);
  TfrmRotiGeral::FormCreate(Sender);
  boCarrega_ = true;
  Planilha().boSemJust = false;
}

void TfrmObservJust::FormActivate(TComponent&) {
  Repaint();
  // Loaded on the first activation only: coming back to the dialog from
  // another window keeps what the buyer has typed.
  if (!boCarrega_) return;
  boCarrega_ = false;
  TfrmPlanApurNegGrid& f = Planilha();
  const TClientDataSet& apur = f.cdsApurNeg;
  if (!apur.Active() || apur.IsEmpty() || !f.cdsDados.Active()) return;
  if (f.cdsDados.Locate("CDFORNITMAP;CDREGITMAP;NRCOLEITMAP;CDPRODITMAP;CDMARCITMAP;IDITMSELAPUR",
                        {Value(Campo(apur, "CDFORNITMAP")), Value(Campo(apur, "CDREGITMAP")),
                         Value(Campo(apur, "NRCOLEITMAP")), Value(Campo(apur, "CDPRODITMAP")),
                         Value(Campo(apur, "CDMARCITMAP")), Value("S")},
                        {true})) {
    // The stored text may be longer than the buyer may type (it can come
    // from elsewhere): shown whole, so that confirming it unchanged does not
    // write a cut copy over the rows. The buyer may shorten it or edit
    // within it, only not make it longer.
    const std::string guardado = f.cdsDados.FieldByName("TXOBESCMANAP").AsString();
    int tamanho = 0;
    for (unsigned char c : guardado) tamanho += (c & 0xC0) != 0x80;
    if (tamanho > kMaxJustificativa) memObserv.SetMaxLength(tamanho);
    memObserv.SetText(guardado);
  }
}

void TfrmObservJust::FormKeyDown(TComponent&, int& Key, TShiftState Shift) {
  if (Key == VK_RETURN && (Shift & ssCtrl)) {
    // Consumed: the text box must not take a line break as well.
    Key = 0;
    sbtConfirma.Click();
  } else if (Key == VK_ESCAPE && Shift == 0) {
    Key = 0;
    Close();
  }
}

void TfrmObservJust::FormKeyPress(TComponent& Sender, char32_t& Key) {
  // Typing does not have the stored text loaded again over it on the next
  // activation: what the buyer typed stays until confirmed or cancelled.
  TfrmRotiGeral::FormKeyPress(Sender, Key);
}

void TfrmObservJust::FormClose(TComponent& Sender, TCloseAction& Action) {
  TfrmRotiGeral::FormClose(Sender, Action);
  // Only the confirm button leaves the choice standing: the close box and
  // Esc count as a cancel, so no choice stays without its justification.
  if (ModalResult() != mrOk) Planilha().boSemJust = true;
}

void TfrmObservJust::sbtConfirmaClick(TComponent& Sender) {
  if (EmptyString(memObserv.Text())) MensErro(msgPadrao.Msg("Just_Inf"), true);

  TfrmPlanApurNegGrid& f = Planilha();
  const TClientDataSet& apur = f.cdsApurNeg;
  TClientDataSet& dados = f.cdsDados;
  const std::string texto = memObserv.Text();
  dados.SetFilter("[NRCOLEITMAP] = " + QuotedStr(Campo(apur, "NRCOLEITMAP")) +
                  " and [CDFORNITMAP] = " + QuotedStr(Campo(apur, "CDFORNITMAP")) +
                  " and [CDMARCITMAP] = " + QuotedStr(Campo(apur, "CDMARCITMAP")) +
                  " and [IDITMSELAPUR] = 'S'");
  auto semFiltro = [&dados] {
    if (dados.State() != TDataSetState::dsBrowse && dados.Active()) dados.Cancel();
    dados.SetFiltered(false);
    dados.SetFilter({});
  };
  try {
    dados.SetFiltered(true);
    TField& obs = dados.FieldByName("TXOBESCMANAP");
    for (dados.First(); !dados.Eof(); dados.Next()) {
      if (dados.State() != TDataSetState::dsBrowse || obs.TextEquals(texto)) continue;
      dados.Edit();
      obs.SetAsString(texto);
      dados.Post();
    }
  } catch (...) {
    try {
      semFiltro();
    } catch (...) {
      // The write's own error is the one the buyer sees.
    }
    throw;
  }
  semFiltro();
  TfrmRotiGeral::sbtConfirmaClick(Sender);
}

void TfrmObservJust::sbtCancelClick(TComponent& Sender) {
  TfrmRotiGeral::sbtCancelClick(Sender);
  Planilha().boSemJust = true;
}

void CriaObservJust() {
  TfrmObservJust& dlg = CreateForm(frmObservJust);
  dlg.ShowModal();
}

}  // namespace apura::worksheet
