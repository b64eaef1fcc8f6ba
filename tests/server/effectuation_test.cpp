// Gera_AF, GetVd_EfetivaAF and ExcluiAF: the buyer's change packet applied and the
// AFs generated in one transaction, or nothing at all.

#include <algorithm>
#include <fstream>
#include <limits>
#include <thread>

#include "framework/dataset/dataset.h"
#include "hooked_storage.h"
#include "server_fixture.h"

namespace apura::server::testing {
namespace {

const char* kSuccess = "AF(s) efetivadas com sucesso.";
const char* kRefused = "Não foi possível gerar AF's inconsistentes.";
const char* kDirEmpty = "Diretório para arquivo de AF deve ser informado.";

class EffectuationTest : public ServerTest {
 protected:
  // Three quotations, three branches: choosing F1 for 0101 and 0102 and F2 for
  // 0102 gives three AFs (supplier x destination branch).
  TallyDocument Doc() {
    TallyDocument d = SmallTally();
    d.branches.push_back({"0103", "Filial Boa Vista", "001"});
    d.requests.push_back({"N1", "001", "0103", DateTime::FromDate(2026, 12, 5), 5});
    d.requests.push_back({"N1", "001", "0102", DateTime::FromDate(2026, 12, 20), 4});
    AddQuote(d, "N1", "C1", "F1", "M1", 10);
    AddQuote(d, "N1", "C1", "F2", "M1", 11);
    return d;
  }

  // The worksheet's cdsDados with some rows chosen, and its change packet.
  Value Choose(const std::vector<std::tuple<std::string, std::string, DateTime>>& rows,
               const std::string& tally = "77") {
    dados_ = std::make_unique<TClientDataSet>("cdsDados");
    dados_->SetData(Get("GetDados", tally));
    for (const auto& [supplier, branch, date] : rows) {
      EXPECT_TRUE(dados_->Locate("CDFORNITMAP;CDFILIAP;DTENTRAPUT",
                                 {Value(supplier), Value(branch), Value(date)}))
          << supplier << " " << branch;
      dados_->Edit();
      dados_->FieldByName("IDITMSELAPUR").SetAsString("S");
      dados_->FieldByName("QTACOMP").SetAsFloat(dados_->FieldByName("QTSOLACOMP").AsFloat());
      dados_->FieldByName("TXOBESCMANAP").SetAsString("menor prazo de entrega");
      dados_->Post();
    }
    return Value(dados_->Delta());
  }

  std::vector<CallArg> GeraArgs(Value changes, const std::string& tally = "77",
                                const std::string& block = "N") {
    std::vector<CallArg> a{ByRef(std::move(changes)),
                           ByRef(Value("COMP01")),
                           ByVal(Value(DateTime::FromDate(2026, 12, 8))),
                           ByRef(Value("0001")),
                           ByRef(Value(tally)),
                           ByVal(Value("0101")),
                           ByVal(Value(block))};
    const std::string texts[] = {
        "Não foi possível gerar arquivo de AF de produtos web.\r\n" + std::string(kDirEmpty),
        "Diretório parametrizado para arquivo de AF não existe.",
        "N_GerAF_Orc",
        kSuccess,
        "N_GerAF_OrcN",
        kRefused,
        "Preço unitário (unidade de estoque) ",
        " maior que o último preço utilizado (unidade de estoque) ",
        "Fornecedor não é extra."};
    for (const std::string& t : texts) a.push_back(ByVal(Value(t)));
    return a;
  }

  std::string Effectuated(const std::string& tally = "77") {
    DataPacket p =
        Call("GetVd_EfetivaAF", {ByRef(Value("COMP01")), ByVal(Value("0101")), ByRef(Value("0001")),
                                 ByRef(Value(tally)), ByRef(Value("OPER"))})
            .AsPacket();
    EXPECT_EQ(p.RowCount(), 1u);
    return std::string(p.Text(0, 0));
  }

  std::vector<AfRecord> Afs(const std::string& tally = "77") {
    return storage_->OpenSession()->Afs(tally);
  }

  GeraAfRequest Request(Value changes, const std::string& tally) {
    GeraAfRequest r;
    r.changes = std::move(changes);
    r.buyer = "COMP01";
    r.processingDate = DateTime::FromDate(2026, 12, 8);
    r.centre = "0001";
    r.tally = tally;
    r.branch = "0101";
    r.blockAf = "N";
    r.texts.success = kSuccess;
    r.texts.inconsistentRefused = kRefused;
    return r;
  }

  std::unique_ptr<TClientDataSet> dados_;
  DateTime d5_ = DateTime::FromDate(2026, 12, 5);
};

TEST_F(EffectuationTest, GeneratesOneAfPerSupplierAndBranchAndIsDetectedAfterwards) {
  service_->Import(Doc());
  EXPECT_EQ(Effectuated(), "");
  Value changes = Choose({{"F1", "0101", d5_}, {"F1", "0102", d5_}, {"F2", "0102", d5_}});
  ValueArray out = Call("Gera_AF", GeraArgs(changes)).AsArray();
  ASSERT_EQ(out.size(), 6u);
  EXPECT_EQ(out[0].AsPacket().RowCount(), 0u);
  EXPECT_EQ(out[1].ToText(), kSuccess);
  EXPECT_FALSE(out[2].AsBoolean());
  EXPECT_EQ(out[3].ToText(), "");
  EXPECT_EQ(out[5].ToText(), "");

  std::vector<AfRecord> afs = Afs();
  ASSERT_EQ(afs.size(), 3u);
  std::map<std::pair<std::string, std::string>, double> totals;
  for (const AfRecord& af : afs) {
    totals[{af.destBranch, af.supplier}] = af.total;
    EXPECT_EQ(af.status, "E");
    EXPECT_EQ(af.launchBranch, "0101");
  }
  EXPECT_EQ(totals[std::make_pair(std::string("0101"), std::string("F1"))], 100);
  EXPECT_EQ(totals[std::make_pair(std::string("0102"), std::string("F1"))], 200);
  EXPECT_EQ(totals[std::make_pair(std::string("0102"), std::string("F2"))], 220);
  // What an effectuation plans with: the same AFs, each with its delivery rows.
  std::vector<AfRecord> ordered = storage_->OpenSession()->OrderedAfs("77");
  ASSERT_EQ(ordered.size(), afs.size());
  for (size_t k = 0; k < afs.size(); ++k) {
    EXPECT_EQ(ordered[k].number, afs[k].number);
    EXPECT_EQ(ordered[k].supplier, afs[k].supplier);
    EXPECT_EQ(ordered[k].total, afs[k].total);
    std::vector<int64_t> a, b;
    for (const AfLine& l : afs[k].lines) a.push_back(l.item);
    for (const AfLine& l : ordered[k].lines) b.push_back(l.item);
    std::sort(b.begin(), b.end());
    std::sort(a.begin(), a.end());
    EXPECT_EQ(a, b) << afs[k].number;
    EXPECT_FALSE(a.empty());
  }

  // The applied changes are what the worksheet loads next.
  DataPacket dados = Get("GetDados");
  auto chosen = RowsWhere(dados, "IDITMSELAPUR", "S");
  ASSERT_EQ(chosen.size(), 3u);
  EXPECT_EQ(At(dados, "TXOBESCMANAP", chosen[0]), "menor prazo de entrega");

  // A second effectuation is what the worksheet refuses on this answer.
  EXPECT_EQ(Effectuated(), "77");
  // Asked anyway (the re-effectuation flag), the server orders nothing twice
  // and answers with the AFs that hold the rows.
  ValueArray again = Call("Gera_AF", GeraArgs(Value())).AsArray();
  EXPECT_FALSE(again[2].AsBoolean());
  EXPECT_NE(again[3].ToText().find("3 linha(s) de entrega"), std::string::npos)
      << again[3].ToText();
  EXPECT_EQ(Afs().size(), 3u);

  Call("ExcluiAF", {ByVal(Value("0101")), ByRef(Value("77"))});
  EXPECT_TRUE(Afs().empty());
  EXPECT_EQ(Effectuated(), "");
}

TEST_F(EffectuationTest, FailureMidwayLeavesNoAfAndNoAppliedChange) {
  service_->Import(Doc());
  // The second store of AFs fails, as a full disk would, after the first went in.
  int stores = 0;
  HookedStorage failing(*storage_, [&](const char* call) {
    if (std::string(call) == "InsertAfs" && ++stores == 2) throw std::runtime_error("disk full");
  });
  TallyService service(failing);
  rpc::ServerRegistry registry;
  RegisterServerObjects(registry, service, *sessions_);
  InProcessTransport transport(registry);
  transport.Connect("127.0.0.1", 1);
  transport.SetSessionToken(sessions_->Open(TestOperator()).token);

  Value changes = Choose({{"F1", "0101", d5_}, {"F2", "0102", d5_}});
  Value env = transport.Invoke(kWorksheetObject, "Gera_AF", GeraArgs(changes));
  ASSERT_FALSE(env.AsArray()[0].AsBoolean());
  EXPECT_NE(env.AsArray()[1].ToText().find("disk full"), std::string::npos);
  EXPECT_TRUE(Afs().empty());
  EXPECT_EQ(Effectuated(), "");
  EXPECT_TRUE(RowsWhere(Get("GetDados"), "IDITMSELAPUR", "S").empty());
}

TEST_F(EffectuationTest, AChangeRowThatMatchesNothingRefusesThePacket) {
  service_->Import(Doc());
  DataPacket all = Get("GetDados");
  PacketBuilder b(all.fields());
  // First a genuine row, then one naming a branch the tally does not have.
  for (int k = 0; k < 2; ++k) {
    std::vector<Value> row;
    for (size_t c = 0; c < all.fields().size(); ++c) row.push_back(all.Cell(c, 0));
    row[static_cast<size_t>(all.FieldIndex("IDITMSELAPUR"))] = Value("S");
    if (k == 1) row[static_cast<size_t>(all.FieldIndex("CDFILIAP"))] = Value("9999");
    b.Add(row).Status(RowStatus::Modified);
  }
  std::string text = Failure("Gera_AF", GeraArgs(Value(b.Build())));
  EXPECT_NE(text.find("Linha 2"), std::string::npos) << text;
  EXPECT_NE(text.find("9999"), std::string::npos) << text;
  EXPECT_TRUE(RowsWhere(Get("GetDados"), "IDITMSELAPUR", "S").empty());
  EXPECT_TRUE(Afs().empty());
}

TEST_F(EffectuationTest, AChangePacketWithoutAKeyFieldNamesIt) {
  service_->Import(Doc());
  DataPacket all = Get("GetDados");
  std::vector<FieldDef> fields;
  for (const FieldDef& f : all.fields()) {
    if (f.name != "CDFILIAP") fields.push_back(f);
  }
  PacketBuilder b(fields);
  std::vector<Value> row;
  for (size_t c = 0; c < all.fields().size(); ++c) {
    if (all.fields()[c].name != "CDFILIAP") row.push_back(all.Cell(c, 0));
  }
  b.Add(row).Status(RowStatus::Modified);
  EXPECT_NE(Failure("Gera_AF", GeraArgs(Value(b.Build()))).find("CDFILIAP"), std::string::npos);
  EXPECT_NE(Failure("Gera_AF", GeraArgs(Value("not a packet"))).find("argumento 1"),
            std::string::npos);
}

// The change packet comes off the wire: a field of another type than the
// delivery table's must be refused by name, not read as if it were text.
TEST_F(EffectuationTest, AChangePacketFieldOfTheWrongTypeIsRefusedByName) {
  service_->Import(Doc());
  DataPacket all = Get("GetDados");
  for (const char* wrong : {"CDFILIAP", "DTENTRAPUT", "IDITMSELAPUR", "QTACOMP"}) {
    std::vector<FieldDef> fields = all.fields();
    const auto col = static_cast<size_t>(all.FieldIndex(wrong));
    const bool wasText = fields[col].type == FieldType::String;
    fields[col].type = wasText ? FieldType::Float : FieldType::String;
    PacketBuilder b(fields);
    std::vector<Value> row;
    for (size_t c = 0; c < fields.size(); ++c) row.push_back(all.Cell(c, 0));
    row[col] = wasText ? Value(1.0) : Value("1");
    b.Add(row).Status(RowStatus::Modified);
    std::string text = Failure("Gera_AF", GeraArgs(Value(b.Build())));
    EXPECT_NE(text.find(wrong), std::string::npos) << text;
  }
  EXPECT_TRUE(Afs().empty());
}

TEST_F(EffectuationTest, AProcessingDateThatIsNoDateIsRefusedByName) {
  service_->Import(Doc());
  std::vector<CallArg> args = GeraArgs(Choose({{"F1", "0101", d5_}}));
  args[2] = ByVal(Value(DateTime{std::numeric_limits<double>::quiet_NaN()}));
  EXPECT_NE(Failure("Gera_AF", args).find("data de processamento"), std::string::npos);
  args[2] = ByVal(Value(1e12));
  EXPECT_NE(Failure("Gera_AF", args).find("data de processamento"), std::string::npos);
  EXPECT_TRUE(Afs().empty());
}

TEST_F(EffectuationTest, BudgetAndLastPriceShapeTheOutcome) {
  TallyDocument d = Doc();
  d.centre.budget = 150;  // AFs of 100, 200 and 220: only the first fits
  d.stockProducts[0].lastPrice = 9;
  service_->Import(d);
  auto three = [&] {
    return Choose({{"F1", "0101", d5_}, {"F1", "0102", d5_}, {"F2", "0102", d5_}});
  };
  ValueArray out = Call("Gera_AF", GeraArgs(three())).AsArray();
  EXPECT_FALSE(out[2].AsBoolean());
  EXPECT_EQ(out[1].ToText(), kSuccess);
  std::string warning = out[3].ToText();
  EXPECT_EQ(warning.rfind("N_GerAF_Orc\r\n", 0), 0u) << warning;
  EXPECT_NE(warning.find("Arroz Tipo 1 Pacote 1 kg: Preço unitário (unidade de estoque) 10,00000 "
                         "maior que o último preço utilizado (unidade de estoque) 9,00000"),
            std::string::npos)
      << warning;
  std::vector<AfRecord> afs = Afs();
  ASSERT_EQ(afs.size(), 1u);
  EXPECT_EQ(afs[0].total, 100);

  TallyDocument poor = Doc();
  poor.number = "79";
  poor.centre.code = "0002";
  poor.centre.budget = 40;  // the smallest AF is 50
  service_->Import(poor);
  std::vector<CallArg> args = GeraArgs(Value(), "79");
  args[3] = ByRef(Value("0002"));
  Call("MelhorCotacao",
       {ByRef(Value("0002")), ByRef(Value("79")), ByRef(Value("PRQ")), ByRef(Value("F"))});
  ValueArray none = Call("Gera_AF", args).AsArray();
  EXPECT_TRUE(none[2].AsBoolean());
  EXPECT_EQ(none[1].ToText(), "N_GerAF_OrcN");
  EXPECT_TRUE(Afs("79").empty());
}

TEST_F(EffectuationTest, AfsBelowTheSuppliersMinimumAreInconsistent) {
  TallyDocument d = Doc();
  d.quotations[1].minValue = 1000;  // F2 refuses AFs under 1000
  d.quotations[1].minValueFlag = "R";
  service_->Import(d);

  // Only F2 chosen: nothing can be ordered, and nothing stays.
  ValueArray refused = Call("Gera_AF", GeraArgs(Choose({{"F2", "0102", d5_}}))).AsArray();
  EXPECT_TRUE(refused[2].AsBoolean());
  EXPECT_EQ(refused[1].ToText(), kRefused);
  EXPECT_EQ(refused[0].AsPacket().RowCount(), 1u);
  EXPECT_TRUE(Afs().empty());
  EXPECT_EQ(Effectuated(), "");
  EXPECT_TRUE(RowsWhere(Get("GetDados"), "IDITMSELAPUR", "S").empty());

  // With F1 as well, F1's AF goes out and F2's is kept aside as inconsistent.
  ValueArray out =
      Call("Gera_AF", GeraArgs(Choose({{"F2", "0102", d5_}, {"F1", "0101", d5_}}))).AsArray();
  EXPECT_FALSE(out[2].AsBoolean());
  EXPECT_EQ(out[1].ToText(), kSuccess);
  DataPacket incons = out[0].AsPacket();
  ASSERT_EQ(incons.RowCount(), 1u);
  EXPECT_EQ(At(incons, "CDFORNECED", 0), "F2");
  EXPECT_EQ(Num(incons, "VRMINAUTFOR", 0), 1000);
  EXPECT_FALSE(At(incons, "NRAUTOFORN", 0).empty());
  std::vector<AfRecord> afs = Afs();
  ASSERT_EQ(afs.size(), 2u);
  int bad = 0;
  for (const AfRecord& af : afs) bad += af.inconsistent;
  EXPECT_EQ(bad, 1);
  EXPECT_EQ(Effectuated(), "77");
}

TEST_F(EffectuationTest, WebProductsNeedTheAfDirectory) {
  TallyDocument d = Doc();
  d.negotiatedProducts[0].web = true;
  service_->Import(d);
  ValueArray out = Call("Gera_AF", GeraArgs(Choose({{"F1", "0101", d5_}}))).AsArray();
  EXPECT_NE(out[5].ToText().find(kDirEmpty), std::string::npos);
  // The worksheet answers a fatal report by deleting the AFs again.
  ASSERT_EQ(Afs().size(), 1u);
  Call("ExcluiAF", {ByVal(Value("0101")), ByRef(Value("77"))});
  EXPECT_TRUE(Afs().empty());

  TallyDocument w = Doc();
  w.number = "78";
  w.negotiatedProducts[0].web = true;
  w.centre.afDirectory = dir_.string();
  service_->Import(w);
  ValueArray ok = Call("Gera_AF", GeraArgs(Choose({{"F1", "0101", d5_}}, "78"), "78")).AsArray();
  EXPECT_EQ(ok[5].ToText(), "");
  std::vector<AfRecord> afs = Afs("78");
  ASSERT_EQ(afs.size(), 1u);
  std::ifstream file(dir_ / ("AF_" + afs[0].number + ".txt"));
  std::string first;
  std::getline(file, first);
  EXPECT_EQ(first.rfind("AF;" + afs[0].number + ";0101;F1;", 0), 0u) << first;
}

TEST_F(EffectuationTest, NullChangePacketOrdersTheStoredSelections) {
  service_->Import(Doc());
  Call("MelhorCotacao",
       {ByRef(Value("0001")), ByRef(Value("77")), ByRef(Value("PRQ")), ByRef(Value("F"))});
  ValueArray out = Call("Gera_AF", GeraArgs(Value(), "77", "S")).AsArray();
  EXPECT_EQ(out[1].ToText(), kSuccess);
  std::vector<AfRecord> afs = Afs();
  ASSERT_EQ(afs.size(), 3u);  // F1 wins every branch: 0101, 0102, 0103
  for (const AfRecord& af : afs) {
    EXPECT_EQ(af.supplier, "F1");
    EXPECT_EQ(af.status, "B");  // IDBLOQUEAAF "S": waiting for release
  }
}

// A retried call, or a second worksheet on the same tally, must never order a
// delivery row twice; the rows already on order are named in the outcome.
TEST_F(EffectuationTest, ARepeatedEffectuationOrdersOnlyWhatIsNotOnOrderYet) {
  service_->Import(Doc());
  Value first = Choose({{"F1", "0101", d5_}});
  ValueArray out = Call("Gera_AF", GeraArgs(first)).AsArray();
  ASSERT_EQ(out[1].ToText(), kSuccess);
  const std::string firstAf = Afs().at(0).number;

  // The same packet again, as a retry after a lost answer: nothing new is
  // ordered, and the AFs of the first call are the outcome, not a failure.
  ValueArray retry = Call("Gera_AF", GeraArgs(first)).AsArray();
  EXPECT_FALSE(retry[2].AsBoolean());
  EXPECT_EQ(retry[1].ToText(), kSuccess);
  EXPECT_NE(retry[3].ToText().find("(" + firstAf + ")"), std::string::npos) << retry[3].ToText();
  EXPECT_EQ(Afs().size(), 1u);

  // With one more row chosen, only that row is ordered, and a warning says
  // why the other is not.
  ValueArray more =
      Call("Gera_AF", GeraArgs(Choose({{"F1", "0101", d5_}, {"F2", "0102", d5_}}))).AsArray();
  EXPECT_FALSE(more[2].AsBoolean());
  EXPECT_EQ(more[1].ToText(), kSuccess);
  EXPECT_NE(more[3].ToText().find("1 linha(s) de entrega"), std::string::npos) << more[3].ToText();
  std::vector<AfRecord> afs = Afs();
  ASSERT_EQ(afs.size(), 2u);
  std::map<int64_t, int> perRow;
  for (const AfRecord& af : afs)
    for (const AfLine& l : af.lines) ++perRow[l.item];
  EXPECT_EQ(perRow.size(), 2u);
  for (const auto& [row, n] : perRow) EXPECT_EQ(n, 1) << row;
}

TEST_F(EffectuationTest, TwoConcurrentEffectuationsOrderEachRowOnce) {
  for (int round = 0; round < 4; ++round) {
    TallyDocument d = Doc();
    d.number = std::to_string(80 + round);
    service_->Import(d);
    // Two worksheets that loaded the tally and chose the same rows.
    const auto rows = std::vector<std::tuple<std::string, std::string, DateTime>>{
        {"F1", "0101", d5_}, {"F1", "0102", d5_}, {"F2", "0103", d5_}};
    Value a = Choose(rows, d.number), b = Choose(rows, d.number);
    std::vector<ValueArray> outcomes(2);
    std::vector<std::string> errors(2);
    auto run = [&](int k, Value changes) {
      try {
        outcomes[k] = service_->Gera_AF(Request(changes, d.number));
      } catch (const std::exception& e) {
        errors[k] = e.what();
      }
    };
    std::thread t1(run, 0, a), t2(run, 1, b);
    t1.join();
    t2.join();
    ASSERT_EQ(errors, (std::vector<std::string>{"", ""}));
    // Both succeed; the one that came second found every row on order and
    // says which AFs hold them.
    int second = 0;
    for (const ValueArray& o : outcomes) {
      ASSERT_EQ(o.size(), 6u);
      EXPECT_FALSE(o[2].AsBoolean());
      EXPECT_EQ(o[1].ToText(), kSuccess);
      if (o[3].ToText().find("3 linha(s) de entrega") != std::string::npos) ++second;
    }
    EXPECT_EQ(second, 1);
    size_t lines = 0;
    std::set<int64_t> rowsOrdered;
    for (const AfRecord& af : Afs(d.number))
      for (const AfLine& l : af.lines) {
        ++lines;
        rowsOrdered.insert(l.item);
      }
    EXPECT_EQ(lines, 3u);
    EXPECT_EQ(rowsOrdered.size(), 3u);
  }
}

// Another buyer effectuated a row in between: the worksheet's packet still
// says what the row was when it loaded it, so it is refused by name and none
// of its other changes are applied.
TEST_F(EffectuationTest, AStaleChangePacketIsRefusedNamingTheRowWithNothingApplied) {
  service_->Import(Doc());
  TClientDataSet late("cdsDados");
  late.SetData(Get("GetDados"));

  ASSERT_EQ(Call("Gera_AF", GeraArgs(Choose({{"F1", "0101", d5_}}))).AsArray()[1].ToText(),
            kSuccess);

  auto choose = [&late](const std::string& supplier, const std::string& branch, double qt) {
    ASSERT_TRUE(
        late.Locate("CDFORNITMAP;CDFILIAP;DTENTRAPUT",
                    {Value(supplier), Value(branch), Value(DateTime::FromDate(2026, 12, 5))}));
    late.Edit();
    late.FieldByName("IDITMSELAPUR").SetAsString("S");
    late.FieldByName("QTACOMP").SetAsFloat(qt);
    late.Post();
  };
  choose("F2", "0102", 20);
  choose("F1", "0101", 4);  // the row the other buyer ordered with 10
  std::string text = Failure("Gera_AF", GeraArgs(Value(late.Delta())));
  EXPECT_NE(text.find("alterada por outro usuário"), std::string::npos) << text;
  EXPECT_NE(text.find("filial 0101"), std::string::npos) << text;
  EXPECT_NE(text.find("fornecedor F1"), std::string::npos) << text;

  EXPECT_EQ(Afs().size(), 1u);
  DataPacket dados = Get("GetDados");
  auto chosen = RowsWhere(dados, "IDITMSELAPUR", "S");
  ASSERT_EQ(chosen.size(), 1u);
  EXPECT_EQ(At(dados, "CDFILIAP", chosen[0]), "0101");
  EXPECT_EQ(Num(dados, "QTACOMP", chosen[0]), 10);
}

TEST_F(EffectuationTest, ExcluiAFRemovesExactlyThatTallysAndBranchsAfs) {
  service_->Import(Doc());
  TallyDocument other = Doc();
  other.number = "78";
  service_->Import(other);

  // Tally 77 effectuated from two branches, tally 78 from the first.
  Call("Gera_AF", GeraArgs(Choose({{"F1", "0101", d5_}})));
  std::vector<CallArg> fromOther = GeraArgs(Choose({{"F2", "0102", d5_}}));
  fromOther[5] = ByVal(Value("0201"));
  Call("Gera_AF", fromOther);
  Call("Gera_AF", GeraArgs(Choose({{"F1", "0101", d5_}}, "78"), "78"));
  ASSERT_EQ(Afs().size(), 2u);
  ASSERT_EQ(Afs("78").size(), 1u);

  Call("ExcluiAF", {ByVal(Value("0101")), ByRef(Value("77"))});
  std::vector<AfRecord> left = Afs();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].launchBranch, "0201");
  EXPECT_EQ(Afs("78").size(), 1u);
  EXPECT_EQ(Effectuated(), "77") << "the other branch's AF is still on order";
  EXPECT_EQ(Effectuated("78"), "78");

  // The rows freed can be ordered again.
  ValueArray again = Call("Gera_AF", GeraArgs(Value())).AsArray();
  EXPECT_EQ(again[1].ToText(), kSuccess);
  EXPECT_EQ(Afs().size(), 2u);

  Call("ExcluiAF", {ByVal(Value("0101")), ByRef(Value("77"))});
  Call("ExcluiAF", {ByVal(Value("0201")), ByRef(Value("77"))});
  EXPECT_TRUE(Afs().empty());
  EXPECT_EQ(Effectuated(), "");
  EXPECT_NE(Failure("ExcluiAF", {ByVal(Value("")), ByRef(Value("77"))}).find("Filial"),
            std::string::npos);
}

// Who may effectuate: the session's centres and branches, the tally's buyer.
TEST_F(EffectuationTest, EffectuationActsOnlyWithinTheSessionsCentresAndBranches) {
  service_->Import(Doc());
  TallyDocument foreign = SmallTally("88", "0002");
  AddQuote(foreign, "N1", "C1", "F1", "M1", 10);
  service_->Import(foreign);
  Call("Gera_AF", GeraArgs(Choose({{"F1", "0101", d5_}})));
  Call("MelhorCotacao",
       {ByRef(Value("0002")), ByRef(Value("88")), ByRef(Value("PRQ")), ByRef(Value("F"))});
  std::vector<CallArg> foreignArgs = GeraArgs(Value(), "88");
  foreignArgs[3] = ByRef(Value("0002"));
  Call("Gera_AF", foreignArgs);
  ASSERT_EQ(Afs("88").size(), 2u);
  const size_t ours = Afs().size();
  ASSERT_GT(ours, 0u);

  LoginAs(Operator{"OPER", "Operador", {"0001"}, {"0101", "0102"}, {}});
  // ExcluiAF names no centre: the tally's own decides, and nothing goes.
  EXPECT_NE(Failure("ExcluiAF", {ByVal(Value("0101")), ByRef(Value("88"))})
                .find("não trabalha no centro de compras 0002"),
            std::string::npos);
  EXPECT_EQ(Afs("88").size(), 2u);
  EXPECT_NE(Failure("ExcluiAF", {ByVal(Value("ZZZZ")), ByRef(Value("77"))}).find("filial ZZZZ"),
            std::string::npos);
  EXPECT_EQ(Afs().size(), ours);

  // Gera_AF: another branch, another buyer, another centre; nothing changes.
  Call("ExcluiAF", {ByVal(Value("0101")), ByRef(Value("77"))});
  const auto chosen = RowsWhere(Get("GetDados"), "IDITMSELAPUR", "S");
  std::vector<CallArg> a = GeraArgs(Choose({{"F1", "0101", d5_}, {"F1", "0102", d5_}}));
  a[5] = ByVal(Value("ZZZZ"));
  EXPECT_NE(Failure("Gera_AF", a).find("não trabalha na filial ZZZZ"), std::string::npos);
  a = GeraArgs(Choose({{"F1", "0101", d5_}, {"F1", "0102", d5_}}));
  a[1] = ByRef(Value("NOBODY"));
  EXPECT_NE(Failure("Gera_AF", a).find("comprador NOBODY"), std::string::npos);
  EXPECT_NE(Failure("Gera_AF", foreignArgs).find("centro de compras 0002"), std::string::npos);
  EXPECT_TRUE(Afs().empty());
  EXPECT_EQ(RowsWhere(Get("GetDados"), "IDITMSELAPUR", "S"), chosen);

  // GetVd_EfetivaAF: the operator named is the session's.
  EXPECT_NE(
      Failure("GetVd_EfetivaAF", {ByRef(Value("COMP01")), ByVal(Value("0101")),
                                  ByRef(Value("0001")), ByRef(Value("77")), ByRef(Value("OUTRO"))})
          .find("operador OUTRO não é o operador da sessão"),
      std::string::npos);
  // Within its rights the same session effectuates.
  EXPECT_EQ(Call("Gera_AF", GeraArgs(Choose({{"F1", "0101", d5_}}))).AsArray()[1].ToText(),
            kSuccess);
}

// The effectuation check names the same buyer, branch and centre Gera_AF
// will, and the operator: each is the session's, or the check is refused.
TEST_F(EffectuationTest, TheEffectuationCheckTakesOnlyTheSessionsBuyerBranchCentreAndOperator) {
  service_->Import(Doc());
  service_->Import(SmallTally("88", "0002"));
  Call("Gera_AF", GeraArgs(Choose({{"F1", "0101", d5_}})));
  auto check = [](const char* buyer, const char* branch, const char* centre, const char* tally,
                  const char* op) {
    return std::vector<CallArg>{ByRef(Value(buyer)), ByVal(Value(branch)), ByRef(Value(centre)),
                                ByRef(Value(tally)), ByRef(Value(op))};
  };
  const char* m = "GetVd_EfetivaAF";
  // An operator of every branch still names one.
  EXPECT_EQ(Failure(m, check("COMP01", "", "0001", "77", "OPER")), "Filial não informada.");

  LoginAs(Operator{"OPER", "Operador", {"0001"}, {"0101", "0102"}, {}});
  EXPECT_EQ(Failure(m, check("COMP01", "0201", "0001", "77", "OPER")),
            "GetVd_EfetivaAF: o operador OPER não trabalha na filial 0201.");
  EXPECT_EQ(Failure(m, check("COMP01", "0101", "0002", "88", "OPER")),
            "GetVd_EfetivaAF: o operador OPER não trabalha no centro de compras 0002.");
  EXPECT_EQ(Failure(m, check("NOBODY", "0101", "0001", "77", "OPER")),
            "GetVd_EfetivaAF: o comprador NOBODY não é o comprador da apuração nem o operador "
            "da sessão (OPER).");
  EXPECT_EQ(Failure(m, check("COMP01", "0101", "0001", "77", "COMP01")),
            "GetVd_EfetivaAF: o operador COMP01 não é o operador da sessão (OPER).");

  // The tally's buyer, or the operator buying for it, from any of the session's branches.
  for (const char* buyer : {"COMP01", "OPER"}) {
    for (const char* branch : {"0101", "0102"}) {
      DataPacket p = Call(m, check(buyer, branch, "0001", "77", "OPER")).AsPacket();
      ASSERT_EQ(p.RowCount(), 1u);
      EXPECT_EQ(std::string(p.Text(0, 0)), "77") << buyer << " " << branch;
    }
  }
}

TEST_F(EffectuationTest, BlockFlagOtherThanSOrNIsRefused) {
  service_->Import(Doc());
  for (const char* flag : {"", "s", "X", "SS"}) {
    std::string text = Failure("Gera_AF", GeraArgs(Choose({{"F1", "0101", d5_}}), "77", flag));
    EXPECT_NE(text.find("IDBLOQUEAAF deve ser \"S\" ou \"N\""), std::string::npos) << text;
  }
  EXPECT_TRUE(Afs().empty());
}

// Every cell of every packet, as text: what the worksheet would load.
std::vector<std::string> Cells(const DataPacket& p) {
  std::vector<std::string> out;
  for (size_t r = 0; r < p.RowCount(); ++r)
    for (size_t c = 0; c < p.fields().size(); ++c)
      out.push_back(p.fields()[c].name + "=" + p.Cell(c, r).ToText());
  return out;
}

// The server keeps the tally it loaded and patches it with each write instead
// of reading it back; what it then answers must be what storage holds.
TEST_F(EffectuationTest, AfterEveryWriteTheKeptTallyAnswersWhatStorageHolds) {
  service_->Import(Doc());
  const char* reads[] = {"GetProduto",         "GetRegiao",      "GetProdItem", "GetApurNeg",
                         "GetPai_ItmApurPrec", "GetItmApurPrec", "GetDados"};
  auto same = [&](const std::string& after) {
    auto other = OpenAnotherStorage();
    TallyService fresh(*other);
    for (const char* method : reads) {
      auto fn = std::string(method) == "GetDados"             ? &TallyService::GetDados
                : std::string(method) == "GetItmApurPrec"     ? &TallyService::GetItmApurPrec
                : std::string(method) == "GetPai_ItmApurPrec" ? &TallyService::GetPai_ItmApurPrec
                : std::string(method) == "GetApurNeg"         ? &TallyService::GetApurNeg
                : std::string(method) == "GetProdItem"        ? &TallyService::GetProdItem
                : std::string(method) == "GetRegiao"          ? &TallyService::GetRegiao
                                                              : &TallyService::GetProduto;
      EXPECT_EQ(Cells(Get(method)), Cells((fresh.*fn)("0001", "77")))
          << method << " after " << after;
    }
    EXPECT_EQ(service_->Model("0001", "77")->header.effectuated,
              fresh.Model("0001", "77")->header.effectuated)
        << after;
  };
  Get("GetDados");  // loaded before the first write
  service_->MelhorCotacao("0001", "77", "PRQ", "F");
  same("MelhorCotacao");
  auto before = service_->Model("0001", "77");
  Call("AtuaPrecEco",
       {ByVal(Value("0001")), ByVal(Value("N1")), ByVal(Value("C1")), ByVal(Value("F2")),
        ByVal(Value("M1")), ByVal(Value("001")), ByVal(Value(9.5)), ByVal(Value("77"))});
  same("AtuaPrecEco");
  // A price edit copies the quotation lines, never the delivery rows.
  auto after = service_->Model("0001", "77");
  EXPECT_EQ(after->header.version, before->header.version + 1);
  EXPECT_TRUE(after->items.SameAs(before->items));
  EXPECT_FALSE(after->quotes.SameAs(before->quotes));
  // Edits of two lines that nobody reads in between, and one that changes no price.
  auto price = [&](const char* supplier, double value) {
    Call("AtuaPrecEco",
         {ByVal(Value("0001")), ByVal(Value("N1")), ByVal(Value("C1")), ByVal(Value(supplier)),
          ByVal(Value("M1")), ByVal(Value("001")), ByVal(Value(value)), ByVal(Value("77"))});
  };
  price("F1", 10.25);
  price("F2", 9.75);
  same("two price edits read together");
  const DataPacket unchanged = Get("GetDados");
  price("F2", 9.75);
  EXPECT_EQ(&Get("GetDados").body(), &unchanged.body()) << "the same prices, the same packet";

  Value changes = Choose({{"F2", "0101", d5_}, {"F1", "0103", d5_}});
  ASSERT_EQ(Call("Gera_AF", GeraArgs(changes)).AsArray()[1].ToText(), kSuccess);
  same("Gera_AF with changes");
  ASSERT_FALSE(Call("Gera_AF", GeraArgs(changes)).AsArray()[2].AsBoolean());
  same("a retried Gera_AF");
  Call("ExcluiAF", {ByVal(Value("0101")), ByRef(Value("77"))});
  same("ExcluiAF");
  ASSERT_EQ(Call("Gera_AF", GeraArgs(Value())).AsArray()[1].ToText(), kSuccess);
  same("Gera_AF without changes");
  // A new tally over the buyer's own choices and edited prices clears them first.
  Call("ExcluiAF", {ByVal(Value("0101")), ByRef(Value("77"))});
  service_->MelhorCotacao("0001", "77", "PRQ", "F");
  same("MelhorCotacao over manual choices");
}

// Readers of one version share one packet: a large tally is built and held
// once however many ask for it.
TEST_F(EffectuationTest, ReadersOfOneVersionShareOnePacket) {
  service_->Import(Doc());
  DataPacket a = Get("GetDados"), b = Get("GetDados");
  EXPECT_EQ(&a.body(), &b.body());
  service_->MelhorCotacao("0001", "77", "PRQ", "F");
  DataPacket c = Get("GetDados");
  EXPECT_NE(&a.body(), &c.body());
  EXPECT_NE(Cells(a), Cells(c));
}

}  // namespace
}  // namespace apura::server::testing
