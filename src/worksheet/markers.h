#pragma once
// The integer Tag markers through which code that edits tables on the
// program's behalf tells the tables' event handlers to stand aside. One home
// for the values, so the manual choice, the delivery-line rules, the price
// edit and the AF lock agree on them.

namespace apura::worksheet {

// Tag of dbgFornecedor while the program itself edits a quotation line: the
// quotation-line edit guard lets that edit through.
inline constexpr int kTagEdicaoInterna = 1;
// Tag of cdsItmApurPrec while the program posts delivery rows itself: the
// delivery-line rules of the next post step aside.
inline constexpr int kTagAtualizacaoInterna = 99;
// Tag of cdsApurNeg once a delivery row has been posted: leaving the delivery
// page rebuilds the quotation lists.
inline constexpr int kTagEntregaAlterada = 99;
// Tag of sbtGerarAF (and mnuGerarAF) while AF generation runs or is blocked.
inline constexpr int kTagBloqueioAF = 99;

// Sets an integer marker for a scope and puts 0 back on every path, so an
// exception inside the edit never leaves the marker set.
class MarcadorTemporario {
 public:
  MarcadorTemporario(int& tag, int value) : tag_(tag) { tag_ = value; }
  ~MarcadorTemporario() { tag_ = 0; }
  MarcadorTemporario(const MarcadorTemporario&) = delete;
  MarcadorTemporario& operator=(const MarcadorTemporario&) = delete;

 private:
  int& tag_;
};

}  // namespace apura::worksheet
