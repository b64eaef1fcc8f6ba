#pragma once
// A worksheet on the quotation page over a generated tally whose choices the
// test sets itself, with the keys the buyer presses and the rows the choice
// must reach.

#include <functional>
#include <string>
#include <vector>

#include "worksheet/justification.h"
#include "worksheet_fixture.h"

namespace apura::testing {

// One quotation line of the generated tally: negotiated product, region and
// supplier number (0-based); collection and brand follow the supplier.
struct Linha {
  std::string item, regiao;
  int fornecedor = 0;
  std::string CDFORNITMAP() const;
  std::string CDMARCITMAP() const;
  std::string NRCOLEITMAP() const;
};

class QuoteTallyTest : public WorksheetTest {
 public:
  struct Entrega {
    std::string filial, sel, motivo, just;
    double qt = 0, sol = 0;
  };

 protected:
  // Nothing chosen anywhere: quotation lines, product items, deliveries.
  void SemEscolhas();
  // Chooses a line in the model as the server would have, for the given
  // branches (all when empty).
  void EscolheNoModelo(const Linha& l, const std::vector<std::string>& filiais = {});
  void Parametro(const std::string& campo, const std::string& valor);

  // Scripts the tally, launches and shows the quotation page with the unit
  // price as the selected column.
  TfrmPlanApurNegGrid& Abre();
  // Moves the lists to the line (stock product, region, item, line).
  void VaiPara(const Linha& l);
  // The space bar on the quotation grid; answers the key as left.
  int Espaco();
  int Tecla(int key, TShiftState shift = 0);
  char32_t Caractere(char32_t ch);

  // Rows of a table with the line's key, whatever the filters.
  static std::vector<Entrega> Entregas(TClientDataSet& t, const Linha& l);
  std::string SelDaLinha(const Linha& l);
  double QtDaLinha(const Linha& l);
  std::string SelDoItem(const std::string& item, const std::string& regiao);
  std::string CDPRODESTO(const std::string& item) const;

  // Asserts the choice left nothing of its own behind: display links on,
  // markers off, the program's filter expressions gone.
  void EsperaNadaPendente();
};

}  // namespace apura::testing
