// The module entry: launch values, the one worksheet instance, and the names
// the host resolves after loading the module.

#include <dlfcn.h>

#include "module/entry.h"
#include "worksheet_fixture.h"

namespace apura::testing {
namespace {

ValueArray LaunchValues() {
  return {Value("0001"),       Value("COMP01"),     Value("Comprador Um"),
          Value("09/03/2026"), Value("20/03/2026"), Value("123"),
          Value("N")};
}

class ModuleTest : public WorksheetTest {
 protected:
  ModuleTest() {
    ScriptTally();
    stCentCmp = stCdComprador = stNmComprador = stDtInicial = stDtFinal = stNrSeq_Rows =
        stIdQtFrac = "antes";
  }
  std::vector<std::string> Settings() {
    return {stCentCmp, stCdComprador, stNmComprador, stDtInicial,
            stDtFinal, stNrSeq_Rows,  stIdQtFrac};
  }
};

TEST_F(ModuleTest, ValuesAreReadInTheirOrderBeforeAnySettingChanges) {
  const Value packet{PacketBuilder({{"X", FieldType::String, 1}}).Build()};
  struct Case {
    std::vector<size_t> bad;
    size_t named;
  };
  // 3, 4, 5, 6, 2, 1, 0: the first bad one in that order is the one reported.
  for (const Case& c :
       {Case{{0, 3}, 3}, Case{{1, 2}, 2}, Case{{0, 6}, 6}, Case{{0, 1}, 1}, Case{{4, 5}, 4}}) {
    ValueArray values = LaunchValues();
    for (size_t i : c.bad) values[i] = packet;
    try {
      IniProc(Value(values));
      FAIL() << "launch accepted";
    } catch (const ConversionError& e) {
      EXPECT_NE(std::string(e.what()).find("launch value " + std::to_string(c.named)),
                std::string::npos)
          << e.what();
    }
    EXPECT_EQ(Settings(), std::vector<std::string>(7, "antes"));
  }
  ValueArray shortList = LaunchValues();
  shortList.pop_back();
  EXPECT_THROW(IniProc(Value(shortList)), ConversionError);
  EXPECT_THROW(IniProc(Value("0001")), ConversionError);
  EXPECT_EQ(Settings(), std::vector<std::string>(7, "antes"));
  EXPECT_EQ(frmPlanApurNegGrid, nullptr);
  EXPECT_TRUE(server.Calls().empty());
}

TEST_F(ModuleTest, NumbersDatesAndNullsArriveAsTheirText) {
  ValueArray values = LaunchValues();
  values[0] = Value(int64_t{1});
  values[3] = Value(DateTime::FromDate(2026, 3, 9));
  values[5] = Value();
  values[6] = Value(2.5);
  IniProc(Value(values));
  EXPECT_EQ(Settings(), (std::vector<std::string>{"1", "COMP01", "Comprador Um", "09/03/2026",
                                                  "20/03/2026", "", "2,5"}));
  // An empty tally number reaches the server as such.
  EXPECT_EQ(server.LastCall("GetProduto")->ArgsText(), "&'1', &''");
}

TEST_F(ModuleTest, ALaunchCreatesTheWorksheetOnceAndShowsIt) {
  IniProc(Value(LaunchValues()));
  ASSERT_NE(frmPlanApurNegGrid, nullptr);
  TfrmPlanApurNegGrid* first = frmPlanApurNegGrid;
  EXPECT_TRUE(boStCriado);
  EXPECT_TRUE(Application().Owns(*first));
  EXPECT_TRUE(first->Visible());
  EXPECT_TRUE(host.Logged("ShowForm(frmPlanApurNegGrid)"));
  EXPECT_EQ(host.cursors, (std::vector<int>{crHourGlass, crDefault}));
  EXPECT_TRUE(first->cdsItmApurPrec.Active());
  EXPECT_EQ(first->stPrxApurPreco, "123");

  // A second launch overwrites the settings but only brings the form forward.
  server.ClearRecords();
  ValueArray other = LaunchValues();
  other[0] = Value("0002");
  other[2] = Value("Outro Comprador");
  IniProc(Value(other));
  EXPECT_EQ(frmPlanApurNegGrid, first);
  EXPECT_EQ(Application().Forms().size(), 1u);
  EXPECT_TRUE(host.Logged("BringToFront(frmPlanApurNegGrid)"));
  EXPECT_TRUE(server.Calls().empty());
  EXPECT_EQ(first->edtComprador.Text(), "Comprador Um");
  EXPECT_EQ(stCentCmp, "0002");
  first->Srv_GetRegiao();
  EXPECT_EQ(server.LastCall("GetRegiao")->ArgsText(), "&'0002', &'123'");
}

TEST_F(ModuleTest, ALaunchAfterClosingCreatesAFreshWorksheet) {
  IniProc(Value(LaunchValues()));
  frmPlanApurNegGrid->Close();
  EXPECT_FALSE(boStCriado);
  Application().ProcessReleases();
  EXPECT_EQ(frmPlanApurNegGrid, nullptr);

  server.ClearRecords();
  ValueArray other = LaunchValues();
  other[5] = Value("200");
  other[2] = Value("Outro Comprador");
  IniProc(Value(other));
  ASSERT_NE(frmPlanApurNegGrid, nullptr);
  EXPECT_EQ(frmPlanApurNegGrid->edtComprador.Text(), "Outro Comprador");
  EXPECT_EQ(server.LastCall("GetProduto")->ArgsText(), "&'0001', &'200'");
  // The new worksheet knows no tally before this one.
  EXPECT_EQ(server.LastCall("DelApuracao")->ArgsText(), "&'0001', &''");
}

TEST_F(ModuleTest, AFailureWhileCreatingIsReportedAndTheWorksheetStillShows) {
  Application().DestroyForms();
  server.ReplyFailure("GetParamCmp", "Servidor indispon\u00edvel");
  IniProc(Value(LaunchValues()));
  ASSERT_NE(frmPlanApurNegGrid, nullptr);
  EXPECT_TRUE(boStCriado);
  EXPECT_TRUE(frmPlanApurNegGrid->Visible());
  EXPECT_EQ(host.Texts(), std::vector<std::string>{"Servidor indispon\u00edvel"});
  EXPECT_FALSE(frmPlanApurNegGrid->cdsProduto.Active());
  EXPECT_EQ(host.cursors.back(), crDefault);
  // The exported reload opens the tally into that worksheet.
  server.ClearRecords();
  MontaApur("321");
  EXPECT_EQ(server.Methods().front(), "DelApuracao");
  EXPECT_EQ(frmPlanApurNegGrid->stPrxApurPreco, "321");
}

TEST_F(ModuleTest, UnloadingEmptiesTheSettingsOnceTheLastLoadIsUndone) {
  PackageLoad();
  PackageLoad();
  PackageUnload();
  EXPECT_EQ(stCentCmp, "antes");
  PackageUnload();
  EXPECT_EQ(Settings(), std::vector<std::string>(7, ""));
  PackageUnload();  // more unloads than loads change nothing
  EXPECT_FALSE(boStCriado);
  EXPECT_STREQ(GetPackageInfoTable()->name, "PRQ05001");
}

TEST(ModuleFile, ExportsItsEntriesAndSettingsByName) {
  void* handle = dlopen(APURA_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  for (const char* name : {"IniProc", "CriaPlanApurNegGrid", "MontaApur", "GetPackageInfoTable",
                           "PackageLoad", "PackageUnload"})
    EXPECT_NE(dlsym(handle, name), nullptr) << name;
  for (const char* name :
       {"frmPlanApurNegGrid", "boStCriado", "stCentCmp", "stCdComprador", "stNmComprador",
        "stDtInicial", "stDtFinal", "stNrSeq_Rows", "stIdQtFrac"})
    EXPECT_NE(dlsym(handle, name), nullptr) << name;
  auto ini = reinterpret_cast<module::IniProcProc>(dlsym(handle, "IniProc"));
  EXPECT_EQ(ini, &IniProc);
  dlclose(handle);
}

}  // namespace
}  // namespace apura::testing
