#pragma once
// The buyer's written reason for choosing a quotation by hand, asked for when
// the purchasing parameters demand one. The text goes onto the chosen
// delivery rows of the quotation's supplier, brand and collection.

#include "framework/forms.h"

namespace apura::worksheet {

class TfrmObservJust : public TfrmRotiGeral {
 public:
  static constexpr int kMaxJustificativa = 300;

  explicit TfrmObservJust(TComponent* owner = nullptr);
  ~TfrmObservJust() override;

  // Frames around the text box, left of the button column.
  TPanel panObservProd{this, "panObservProd", this};
  // Says what the box is for: the screen code alone does not.
  TLabel lblObserv{this, "lblObserv", &panObservProd};
  TPanel Panel2{this, "Panel2", &panObservProd};
  TPanel Panel10{this, "Panel10", &Panel2};
  TPanel ScrollBox7{this, "ScrollBox7", &Panel10};
  TMemo memObserv{this, "memObserv", &ScrollBox7};

  void FormCreate(TComponent& Sender);
  void FormActivate(TComponent& Sender);
  void FormKeyDown(TComponent& Sender, int& Key, TShiftState Shift);
  void FormKeyPress(TComponent& Sender, char32_t& Key);
  void FormClose(TComponent& Sender, TCloseAction& Action);
  void sbtConfirmaClick(TComponent& Sender);
  void sbtCancelClick(TComponent& Sender);

 private:
  // The stored justification is still to be shown in the box.
  bool boCarrega_ = true;
};

// The dialog on screen; null when none.
extern TfrmObservJust* frmObservJust;

// A fresh dialog for the worksheet's current quotation line, shown modally;
// returns once it has closed, the worksheet's boSemJust telling how.
void CriaObservJust();

}  // namespace apura::worksheet
