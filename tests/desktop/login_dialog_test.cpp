#include "login_dialog_test.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <stdexcept>

#include "desktop/app/login_dialog.h"
#include "desktop/app/session_renewal.h"
#include "dialogs.h"

namespace apura::desktop::test {

namespace {

struct Attempts {
  std::vector<std::pair<std::string, std::string>> seen;
  LoginDialog::Attempt Fn() {
    return [this](const std::string& code, const std::string& password) -> std::string {
      seen.emplace_back(code, password);
      if (password == "unreachable") throw std::runtime_error("cannot reach 127.0.0.1:1");
      return password == "certa" ? "" : "Operador ou senha inválidos.";
    };
  }
};

// A server whose sessions are tokens: a call in any but the live one is
// answered as the guarded objects answer it.
struct SessionServer : ITransport {
  std::string live = "novo", sent = "velho";
  bool forgetting = false;         // every session expires at once
  std::vector<std::string> calls;  // token of each call
  void Connect(const std::string&, int) override {}
  void Disconnect() override {}
  bool IsConnected() const override { return true; }
  Value Invoke(const std::string& object, const std::string& method,
               const std::vector<CallArg>&) override {
    calls.push_back(sent);
    if (sent != live || forgetting)
      return ResultFailure(object + "." + method + ": " + kSessionExpiredText,
                           ErrorCode::Unauthenticated);
    return ResultOk(Value("feito"));
  }
};

// The transport the host makes, on that server; a login with "certa" makes the
// live token the one sent.
struct Renewal {
  std::shared_ptr<SessionServer> server = std::make_shared<SessionServer>();
  Attempts attempts;
  int asked = 0;
  RenewingTransport transport{
      server, [this] {
        ++asked;
        auto tried = attempts.Fn();
        return LoginAgain("MARIA", [this, tried](const std::string& code, const std::string& pw) {
          std::string failure = tried(code, pw);
          if (failure.empty()) server->sent = server->live;
          return failure;
        });
      }};
  Value Call() { return transport.Invoke("Prq05100.rdmAnaliseAF", "GetAutoForne", {}); }
};

}  // namespace

void LoginDialogTest::wrongPasswordKeepsTheDialogOpenWithTheServersText() {
  Attempts a;
  LoginDialog dlg("MARIA", a.Fn());
  auto* cancel = dlg.findChild<QAbstractButton*>("btnCancelar");
  QVERIFY(cancel);
  QCOMPARE(cancel->text(), QString("Cancelar"));
  dlg.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  QTest::keyClicks(dlg.PasswordEdit(), "errada");
  QTest::keyClick(dlg.PasswordEdit(), Qt::Key_Return);
  QVERIFY(dlg.isVisible());
  QCOMPARE(dlg.result(), int(QDialog::Rejected));
  QCOMPARE(dlg.Message()->text(), QString("Operador ou senha inválidos."));
  QVERIFY(dlg.Message()->isVisible());
  QVERIFY(dlg.PasswordEdit()->text().isEmpty());
  QCOMPARE(a.seen.size(), size_t(1));
  QCOMPARE(a.seen[0].first, std::string("MARIA"));

  // A server that cannot be reached is said so, not a crash.
  QTest::keyClicks(dlg.PasswordEdit(), "unreachable");
  QTest::keyClick(dlg.PasswordEdit(), Qt::Key_Return);
  QVERIFY(dlg.isVisible());
  QVERIFY(dlg.Message()->text().contains("cannot reach"));

  // No operator: nothing is sent.
  dlg.OperatorEdit()->clear();
  QTest::keyClicks(dlg.PasswordEdit(), "certa");
  dlg.accept();
  QCOMPARE(a.seen.size(), size_t(2));
  QCOMPARE(dlg.Message()->text(), QString("Informe o operador."));
}

void LoginDialogTest::rightPasswordClosesItWithTheOperator() {
  Attempts a;
  LoginDialog dlg("", a.Fn());
  dlg.SetReason("Sessão expirada: faça login de novo.");
  dlg.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  QVERIFY(dlg.Message()->isVisible());
  QTest::keyClicks(dlg.OperatorEdit(), "  JOAO ");
  QTest::keyClicks(dlg.PasswordEdit(), "certa");
  QTest::keyClick(dlg.PasswordEdit(), Qt::Key_Return);
  QCOMPARE(dlg.result(), int(QDialog::Accepted));
  QVERIFY(!dlg.isVisible());
  QCOMPARE(dlg.OperatorCode(), std::string("JOAO"));
  QCOMPARE(a.seen.back(), (std::pair<std::string, std::string>("JOAO", "certa")));
}

void LoginDialogTest::anExpiredSessionAsksAgainAndTheCallIsMadeInTheNewOne() {
  Renewal r;
  bool readOnly = false;
  QString reason;
  auto answer = AnswerNextDialog("btnOk", [&](QWidget* dialog) {
    auto* login = qobject_cast<LoginDialog*>(dialog);
    QVERIFY(login);
    readOnly = login->OperatorEdit()->isReadOnly();
    reason = login->Message()->text();
    login->PasswordEdit()->setText("certa");
  });
  Value env = r.Call();
  QVERIFY(answer->seen);
  QCOMPARE(answer->text, QString("Apura - Login"));
  QCOMPARE(reason, QString(kSessionExpiredText));
  QVERIFY2(readOnly, "the screens open are the same operator's");
  QCOMPARE(r.attempts.seen.back(), (std::pair<std::string, std::string>("MARIA", "certa")));
  QVERIFY(env.AsArray()[0].AsBoolean());
  QCOMPARE(env.AsArray()[1].ToText(), std::string("feito"));
  QCOMPARE(r.server->calls, (std::vector<std::string>{"velho", "novo"}));

  // In the live session nothing is asked.
  QVERIFY(r.Call().AsArray()[0].AsBoolean());
  QCOMPARE(r.asked, 1);
  QCOMPARE(r.server->calls.size(), size_t(3));
}

void LoginDialogTest::aCancelledLoginLeavesTheExpiredAnswer() {
  Renewal r;
  auto answer = AnswerNextDialog("btnCancelar");
  Value env = r.Call();
  QVERIFY(answer->seen);
  QVERIFY(!env.AsArray()[0].AsBoolean());
  QCOMPARE(env.AsArray()[1].ToText(),
           "Prq05100.rdmAnaliseAF.GetAutoForne: " + std::string(kSessionExpiredText));
  QCOMPARE(r.server->calls.size(), size_t(1));
  QVERIFY(r.attempts.seen.empty());

  // A login the server takes but whose session is gone again by the time the
  // call repeats: the call goes once more, not in a loop.
  r.server->forgetting = true;
  answer = AnswerNextDialog("btnOk", [](QWidget* dialog) {
    qobject_cast<LoginDialog*>(dialog)->PasswordEdit()->setText("certa");
  });
  env = r.Call();
  QVERIFY(answer->seen);
  QCOMPARE(r.asked, 2);
  QCOMPARE(r.server->calls.size(), size_t(3));
  QVERIFY(!env.AsArray()[0].AsBoolean());
  QVERIFY(IsSessionExpired(env));
}

// The host acts on the failure's code: a text that merely reads like an
// expired session asks nothing, any session refusal asks (an unknown one after
// a server restart too), and a refused login is never answered by a login.
void LoginDialogTest::renewalFollowsTheCodeNotTheWords() {
  struct Scripted : ITransport {
    Value next;
    int calls = 0;
    void Connect(const std::string&, int) override {}
    void Disconnect() override {}
    bool IsConnected() const override { return true; }
    Value Invoke(const std::string&, const std::string&, const std::vector<CallArg>&) override {
      ++calls;
      return next;
    }
  };
  auto server = std::make_shared<Scripted>();
  int asked = 0;
  RenewingTransport transport(server, [&] {
    ++asked;
    return true;
  });

  server->next = ResultFailure(std::string("GetAutoForne: ") + kSessionExpiredText);
  transport.Invoke("Prq05100.rdmAnaliseAF", "GetAutoForne", {});
  QCOMPARE(asked, 0);
  QCOMPARE(server->calls, 1);

  server->next = ResultFailure("Sessão desconhecida: faça login.", ErrorCode::Unauthenticated);
  transport.Invoke("Prq05100.rdmAnaliseAF", "GetAutoForne", {});
  QCOMPARE(asked, 1);
  QCOMPARE(server->calls, 3);

  server->next = ResultFailure("Operador ou senha inválidos.", ErrorCode::Unauthenticated);
  Value refused = transport.Invoke("Apura.Sessao", "Login", {});
  QCOMPARE(asked, 1);
  QCOMPARE(server->calls, 4);
  QVERIFY(IsSessionExpired(refused));
  QVERIFY(!IsSessionExpired(ResultFailure("x", ErrorCode::Forbidden)));
  QVERIFY(!IsSessionExpired(ResultOk(Value())));
}

}  // namespace apura::desktop::test
