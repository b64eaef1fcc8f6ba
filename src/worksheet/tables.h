#pragma once
// The worksheet's in-memory tables and the data links that show them.

#include <span>
#include <string_view>

#include "framework/dataset/dataset.h"

namespace apura::worksheet {

// One persistent field as the worksheet defines it.
struct FieldLayout {
  std::string_view name;
  FieldType type = FieldType::String;
  int size = 0;
  std::string_view label = {};
  std::string_view displayFormat = {};
  bool hidden = false;
  int displayWidth = 0;
  std::string_view editFormat = {};
  bool fixedChar = false;
};

// Adds the fields to a table that has none yet.
void DefineFields(TClientDataSet& table, std::span<const FieldLayout> fields);

struct WorksheetTables {
  WorksheetTables();
  WorksheetTables(const WorksheetTables&) = delete;
  WorksheetTables& operator=(const WorksheetTables&) = delete;

  TClientDataSet cdsProduto{"cdsProduto"};
  TClientDataSet cdsRegiao{"cdsRegiao"};
  TClientDataSet cdsProdItem{"cdsProdItem"};
  TClientDataSet cdsApurNeg{"cdsApurNeg"};
  TClientDataSet cdsPai_ItmApurPrec{"cdsPai_ItmApurPrec"};
  TClientDataSet cdsItmApurPrec{"cdsItmApurPrec"};
  TClientDataSet cdsDados{"cdsDados"};
  TClientDataSet cdsParaSupri{"cdsParaSupri"};
  TClientDataSet cdsPesqForn{"cdsPesqForn"};
  TClientDataSet cdsAuxiliar{"cdsAuxiliar"};  // no fixed fields
  TClientDataSet cdsAuxApurNeg{"cdsAuxApurNeg"};
  TClientDataSet cdsAuxItmApurPrec{"cdsAuxItmApurPrec"};
  TClientDataSet cdsAuxApur{"cdsAuxApur"};
  TClientDataSet cdsVd_EfetivaAF{"cdsVd_EfetivaAF"};
  TClientDataSet cdsAutoForne{"cdsAutoForne"};

  TDataSource dtsProduto{"dtsProduto"};
  TDataSource dtsRegiao{"dtsRegiao"};
  TDataSource dtsProdItem{"dtsProdItem"};
  TDataSource dtsApurNeg{"dtsApurNeg"};
  TDataSource dtsPai_ItmApurPrec{"dtsPai_ItmApurPrec"};
  TDataSource dtsPesqForn{"dtsPesqForn"};
  TDataSource dtsAutoForne{"dtsAutoForne"};

  // Field components the worksheet's code reaches by name.
  TField* cdsProdutoCDARVPROD = nullptr;
  TField* cdsProdItemCDARVPROD = nullptr;
  TField* cdsParaSupriIDTIPOAPUR = nullptr;
  TField* cdsParaSupriIDBLOQUEAAF = nullptr;
  TField* cdsParaSupriIDCONSPRSOL = nullptr;
  TField* cdsParaSupriIDEXJUSTESCM = nullptr;
  TField* cdsItmApurPrecIDMOTIVPRESC = nullptr;

  // The tables loaded from the server, in loading order.
  static std::span<const FieldLayout> ProdutoFields();
  static std::span<const FieldLayout> RegiaoFields();
  static std::span<const FieldLayout> ProdItemFields();
  static std::span<const FieldLayout> ApurNegFields();
  static std::span<const FieldLayout> Pai_ItmApurPrecFields();
  static std::span<const FieldLayout> ItmApurPrecFields();
  static std::span<const FieldLayout> DadosFields();
  static std::span<const FieldLayout> ParaSupriFields();
  static std::span<const FieldLayout> PesqFornFields();
  static std::span<const FieldLayout> AuxApurNegFields();
  static std::span<const FieldLayout> AuxApurFields();
  static std::span<const FieldLayout> AuxItmApurPrecFields();
  static std::span<const FieldLayout> Vd_EfetivaAFFields();
  static std::span<const FieldLayout> AutoForneFields();
};

}  // namespace apura::worksheet
