#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "framework/host.h"
#include "framework/messages.h"
#include "framework/netconnection.h"
#include "framework/packet.h"
#include "support/fake_host.h"

using namespace apura;
using apura::test::FakeHost;

namespace {

TEST(HostCheckResultServ, OkEnvelopeGivesThePayloadAndShowsNothing) {
  FakeHost host;
  DataPacket rows = PacketBuilder({{"CD", FieldType::String, 3}}).Add({Value("001")}).Build();
  Value payload = CheckResultServ(ResultOk(Value(rows)), true, 0);
  ASSERT_EQ(payload.kind(), Value::Kind::Packet);
  EXPECT_EQ(payload.AsPacket().RowCount(), 1u);
  EXPECT_TRUE(CheckResultServ(ResultOk(Value()), true, 0).IsNull());
  EXPECT_TRUE(host.messages.empty());
}

TEST(HostCheckResultServ, FailureShowsTheServerTextAsAnErrorAndAbortsSilently) {
  FakeHost host;
  EXPECT_THROW(CheckResultServ(ResultFailure("Apuração inexistente."), true, 0), EAbort);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text, "Apuração inexistente.");
  EXPECT_EQ(host.messages[0].kind, TMsgDlgType::mtError);
  EXPECT_TRUE(host.exceptions.empty());
}

TEST(HostCheckResultServ, FailureWithoutShowRaisesTheTextAndShowsNothing) {
  FakeHost host;
  try {
    CheckResultServ(ResultFailure("sem conexão"), false, 0);
    FAIL() << "no exception";
  } catch (const EServerFailure& e) {
    EXPECT_STREQ(e.what(), "sem conexão");
  }
  EXPECT_TRUE(host.messages.empty());
}

TEST(HostCheckResultServ, MalformedEnvelopesAreClearErrorsNotAborts) {
  FakeHost host;
  auto message = [](const Value& v) {
    try {
      CheckResultServ(v, true, 0);
    } catch (const EAbort&) {
      return std::string("aborted");
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_NE(message(Value("texto")).find("Malformed server result"), std::string::npos);
  EXPECT_NE(message(Value()).find("Malformed"), std::string::npos);
  EXPECT_NE(message(Value(ValueArray{Value(true)})).find("2 elements"), std::string::npos);
  EXPECT_NE(message(Value(ValueArray{Value("S"), Value(1)})).find("not a boolean"),
            std::string::npos);
  EXPECT_NE(message(Value(ValueArray{Value(false), Value(ValueArray{})})).find("failure text"),
            std::string::npos);
  EXPECT_TRUE(host.messages.empty());
}

TEST(HostMensErro, StopShowsTheErrorThenAbortsAndWithoutStopTheCallerGoesOn) {
  FakeHost host;
  EXPECT_THROW(MensErro("Quantidade para entrega deve ser informada.", true), EAbort);
  bool after = false;
  MensErro("aviso", false);
  after = true;
  EXPECT_TRUE(after);
  ASSERT_EQ(host.messages.size(), 2u);
  EXPECT_EQ(host.messages[0].text, "Quantidade para entrega deve ser informada.");
  EXPECT_EQ(host.messages[0].kind, TMsgDlgType::mtError);
  EXPECT_EQ(host.messages[0].buttons, mbOK);
  EXPECT_EQ(host.messages[1].text, "aviso");
}

TEST(HostHelpers, EmptyStringWeekAndDayNames) {
  EXPECT_TRUE(EmptyString(""));
  EXPECT_TRUE(EmptyString(" \t\r\n "));
  EXPECT_FALSE(EmptyString("  x "));

  // 2026-01-01 is a Thursday: its week (from Sunday 2025-12-28) is week 1.
  EXPECT_EQ(WeekNumber(DateTime::FromDate(2026, 1, 1)), 1);
  EXPECT_EQ(WeekNumber(DateTime::FromDate(2026, 1, 3)), 1);
  EXPECT_EQ(WeekNumber(DateTime::FromDate(2026, 1, 4)), 2);  // Sunday starts week 2
  EXPECT_EQ(WeekNumber(DateTime::FromDateTime(2026, 12, 31, 23, 0, 0)), 53);
  EXPECT_EQ(DayName(DateTime::FromDate(2026, 12, 6)), "Domingo");
  EXPECT_EQ(DayName(DateTime::FromDate(2026, 12, 12)), "Sábado");
  // Three characters, not three bytes, of an accented name.
  EXPECT_EQ(LeftChars(DayName(DateTime::FromDate(2026, 12, 12)), 3), "Sáb");
  EXPECT_EQ(LeftChars("ab", 3), "ab");

  FakeHost host;  // the default rules reach the screens through the host
  EXPECT_EQ(NumeroSemana(DateTime::FromDate(2026, 1, 4)), 2);
  EXPECT_EQ(NomeSemana(DateTime::FromDate(2026, 12, 8)), "Terça-feira");
}

TEST(HostGuardedCall, AbortIsSilentOtherErrorsReachTheErrorDisplay) {
  FakeHost host;
  EXPECT_TRUE(GuardedCall([] {}));
  EXPECT_FALSE(GuardedCall([] { Abort(); }));
  EXPECT_TRUE(host.exceptions.empty());
  EXPECT_FALSE(GuardedCall([] { throw std::runtime_error("falhou"); }));
  EXPECT_EQ(host.exceptions, std::vector<std::string>{"falhou"});
  // Something that is no standard error still stops here, shown as an error.
  EXPECT_FALSE(GuardedCall([] { throw 42; }));
  ASSERT_EQ(host.exceptions.size(), 2u);
  EXPECT_NE(host.exceptions[1].find("Unexpected error"), std::string::npos);
}

TEST(HostServices, ForwardersReachTheInstalledHost) {
  FakeHost host;
  host.moduloAtiv = 34;
  host.operador = "JOAO";
  host.webURL = "srv";
  host.webPort = 9000;
  EXPECT_EQ(ModuloAtiv(), 34);
  EXPECT_EQ(Operador(), "JOAO");
  EXPECT_EQ(WebURL(), "srv");
  EXPECT_EQ(WebPort(), 9000);
  EXPECT_EQ(DBPict(0), "9.99.999.9999;0;_");
  EXPECT_EQ(DataProc("002"), host.dataProc);
  EXPECT_EQ(host.dataProcBranches, std::vector<std::string>{"002"});
  ActiveShowAvi(1, "Gerando AF(s)...");
  EXPECT_TRUE(host.aviActive);
  DeactiveShowAvi();
  EXPECT_FALSE(host.aviActive);
  LoadBPL("PRQ05100", {Value("001"), Value("123")});
  ASSERT_EQ(host.loadBPLCalls.size(), 1u);
  EXPECT_EQ(host.loadBPLCalls[0].first, "PRQ05100");
  EXPECT_EQ(host.log, (std::vector<std::string>{"ActiveShowAvi(1): Gerando AF(s)...",
                                                "DeactiveShowAvi", "LoadBPL(PRQ05100)"}));
}

TEST(HostServices, NoHostIsAClearError) {
  EXPECT_FALSE(HasHost());
  EXPECT_THROW(Host(), std::logic_error);
}

TEST(FakeHostDialogs, QueuedAnswersAreUsedInOrderAndOkBoxesNeedNone) {
  FakeHost host;
  host.Answer(mrYes, "Confirma").Answer(mrNo);
  EXPECT_EQ(MessageDlg("aviso", TMsgDlgType::mtWarning, mbOK), mrOk);  // takes no answer
  EXPECT_EQ(MessageDlg("Confirma exclusão?", TMsgDlgType::mtConfirmation, mbYesNo), mrYes);
  EXPECT_EQ(MessageDlg("De novo?", TMsgDlgType::mtConfirmation, mbYesNo), mrNo);
  EXPECT_EQ(host.PendingAnswers(), 0u);
  EXPECT_EQ(host.Texts(), (std::vector<std::string>{"aviso", "Confirma exclusão?", "De novo?"}));
}

TEST(FakeHostDialogs, AnUnexpectedDialogFailsTheTestNamingItsText) {
  EXPECT_NONFATAL_FAILURE(
      {
        FakeHost host;
        int answer = MessageDlg("Confirma operação?", TMsgDlgType::mtConfirmation, mbYesNo);
        EXPECT_EQ(answer, mrNone);  // neither Yes nor OK: the caller does not go on
      },
      "Confirma operação?");
  EXPECT_NONFATAL_FAILURE(
      {
        FakeHost host;
        MsgAlertEx("Deseja atualizar?", TMsgDlgType::mtConfirmation, {"Sim", "Não"}, 2, 0, 0);
      },
      "Deseja atualizar?");
  EXPECT_NONFATAL_FAILURE(
      {
        FakeHost host;
        TDataSource dts("dtsPesqForn");
        EXPECT_FALSE(Pesquisar(dts, "Cotação", false, true));
      },
      "Cotação");
}

TEST(FakeHostDialogs, AnswersOfTheWrongKindOrTextOrLeftUnusedFail) {
  EXPECT_NONFATAL_FAILURE(
      {
        FakeHost host;
        host.AnswerPick([](TDataSource&, const std::string&) { return true; });
        MessageDlg("Confirma?", TMsgDlgType::mtConfirmation, mbYesNo);
        host.ClearRecords();
        TDataSource dts("dts");
        Pesquisar(dts, "x", false, true);  // uses the pick answer: no leftover
      },
      "next queued answer is a pick-list answer");
  EXPECT_NONFATAL_FAILURE(
      {
        FakeHost host;
        host.Answer(mrYes, "Canc");
        MessageDlg("Confirma exclusão?", TMsgDlgType::mtConfirmation, mbYesNo);
      },
      "answered with the answer queued for \"Canc\"");
  EXPECT_NONFATAL_FAILURE(
      {
        FakeHost host;
        host.Answer(mrYes);
      },
      "never used");
}

TEST(HostMessages, CatalogueLinesKeysAndShowMsg) {
  FakeHost host;
  TMessages msg(nullptr, "msgPadrao");
  msg.SetLines({"Excl|Confirma exclusão?", "Nao|Não", "Dir_Vazio|linha 1\r\nlinha|2",
                "Preco_Uni|Preço unitário (unidade de estoque) "});
  EXPECT_EQ(msg.Count(), 4);
  EXPECT_EQ(msg.Msg("Nao"), "Não");
  EXPECT_EQ(msg.Msg("Dir_Vazio"), "linha 1\r\nlinha|2");  // only the first '|' splits
  EXPECT_EQ(msg.Msg("Preco_Uni"), "Preço unitário (unidade de estoque) ");
  EXPECT_FALSE(msg.Has("nao"));  // keys match exactly, case included
  try {
    msg.Msg("Canc");
    FAIL() << "no error";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("'Canc'"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("msgPadrao"), std::string::npos);
  }
  EXPECT_THROW(msg.SetLines({"a|1", "a|2"}), std::invalid_argument);
  EXPECT_THROW(msg.SetLines({"sem barra"}), std::invalid_argument);
  EXPECT_EQ(msg.Count(), 4);  // a refused list leaves the catalogue as it was
  EXPECT_THROW(msg.Add("Excl", "outra"), std::invalid_argument);

  host.Answer(mrYes, "Confirma exclusão?");
  EXPECT_EQ(msg.ShowMsg("Excl", TMsgDlgType::mtConfirmation, mbYesNo, 0), mrYes);
  EXPECT_EQ(host.LastMessage().kind, TMsgDlgType::mtConfirmation);
  EXPECT_EQ(host.LastMessage().buttons, mbYesNo);
  EXPECT_THROW(msg.ShowMsg("Nada", TMsgDlgType::mtConfirmation, mbYesNo, 0), std::out_of_range);
}

TEST(HostMessages, FormatMsgFillsPlaceholdersInOrder) {
  EXPECT_EQ(FormatMsg("Hora: %s Operador : %s  %s ", {"10:00", "JOAO", "Silva"}),
            "Hora: 10:00 Operador : JOAO  Silva ");
  EXPECT_EQ(FormatMsg("%s de %s", {"1"}), "1 de %s");
  EXPECT_EQ(FormatMsg("100%% %s", {"ok"}), "100% ok");
}

}  // namespace
