#pragma once
// The scripted host every layer's tests run against.
//
// Constructing a FakeHost installs it as the process's host; destroying it
// deletes the forms the application still owns and puts the previous host
// back. Message boxes with only an OK button are answered OK by themselves;
// every other dialog (confirmations, MsgAlertEx, pick lists, search dialogs,
// modal forms) takes the next queued answer, and a dialog nobody queued an
// answer for fails the test, naming its text.

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "framework/forms.h"
#include "framework/host.h"

namespace apura::test {

struct ShownMessage {
  enum class Source { MessageBox, MsgAlertEx };
  Source source = Source::MessageBox;
  std::string text;
  std::string caption;
  TMsgDlgType kind = TMsgDlgType::mtInformation;
  TMsgDlgButtons buttons = 0;         // MessageBox
  std::vector<std::string> captions;  // MsgAlertEx
  std::vector<int> numbers;           // MsgAlertEx: default, cancel, help; MessageBox: help
  int answer = 0;
};

class FakeHost : public IHostServices {
 public:
  FakeHost();
  ~FakeHost() override;
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // --- Configuration -----------------------------------------------------------
  int moduloAtiv = 4;
  std::string operador = "OPER01";
  std::string filiProc = "001";
  DateTime dataProc = DateTime::FromDate(2026, 12, 7);
  std::string webURL = "localhost";
  int webPort = 211;
  bool keepConnected = false;
  std::map<int, std::string> dbPict{{0, "9.99.999.9999;0;_"}};
  int screenHeight = 768;
  std::map<std::string, std::vector<std::string>> reportParams;  // report code → parameter names
  // Runs inside LoadBPL, as the other screen would.
  std::function<void(const std::string& screenCode, const ValueArray& params)> onLoadBPL;

  // --- Answers, consumed in order --------------------------------------------------
  // The next message box that needs an answer (or MsgAlertEx) answers
  // `modalResult`. With `expectText`, the dialog's text must contain it.
  FakeHost& Answer(int modalResult, std::string expectText = {});
  // The next pick list: `pick` moves the cursor and answers whether a row
  // was confirmed.
  FakeHost& AnswerPick(std::function<bool(TDataSource&, const std::string& caption)> pick);
  FakeHost& AnswerSearch(std::function<void(TClientDataSet&)> search);
  // The next modal form: `run` acts on it (e.g. types and presses confirm).
  FakeHost& AnswerModal(std::function<void(TForm&)> run);
  size_t PendingAnswers() const { return answers_.size(); }

  // --- What happened --------------------------------------------------------------
  std::vector<ShownMessage> messages;
  std::vector<std::string> exceptions;  // what() of each error shown
  // Everything the host was asked to do, in order: "MessageBox(error): text",
  // "MsgAlertEx(confirmation): text", "ShowException: text",
  // "ActiveShowAvi(1): caption", "DeactiveShowAvi", "LoadBPL(code)",
  // "Pesquisar(caption)", "Procura(table)", "ShowModal(form)",
  // "ShowForm(form)", "BringToFront(form)", "PostClose(form)",
  // "ProcessMessages", "SetCursor(-11)", "MsgEventForm(set)",
  // "MsgEventForm(clear)", "ShowReport(code)".
  std::vector<std::string> log;
  std::vector<std::pair<std::string, ValueArray>> loadBPLCalls;
  std::vector<std::string> dataProcBranches;
  std::vector<int> cursors;
  std::vector<std::pair<int, std::string>> aviShown;
  int aviHidden = 0;
  bool aviActive = false;
  int processMessagesCount = 0;
  std::vector<std::pair<std::string, TReportParams>> reportsShown;

  std::vector<std::string> Texts() const;   // texts of the messages, in order
  const ShownMessage& LastMessage() const;  // fails the test when none
  bool Logged(const std::string& entry) const;
  void ClearRecords();

  // --- Messages and close requests ------------------------------------------------------
  bool HasMessageHook() const { return static_cast<bool>(hook_); }
  // Passes a message to the installed hook; answers `handled`. No hook: false.
  bool SendMessage(HostMessage& msg);
  // Runs the queued close requests of forms that still exist.
  void RunPostedCloses();
  size_t PendingCloses() const { return posted_.size(); }

  // --- IHostServices ----------------------------------------------------------------
  int MessageBox(const std::string& text, const std::string& caption, TMsgDlgType kind,
                 TMsgDlgButtons buttons, int helpContext) override;
  int MsgAlertEx(const std::string& text, TMsgDlgType kind,
                 const std::vector<std::string>& captions, int defaultButton, int cancelButton,
                 int helpContext) override;
  void ShowException(const std::exception& e) override;
  int ModuloAtiv() override { return moduloAtiv; }
  std::string Operador() override { return operador; }
  std::string FiliProc() override { return filiProc; }
  DateTime DataProc(const std::string& branch) override;
  std::string WebURL() override { return webURL; }
  int WebPort() override { return webPort; }
  bool KeepConnected() override { return keepConnected; }
  std::string DBPict(int kind) override;
  void ActiveShowAvi(int kind, const std::string& caption) override;
  void DeactiveShowAvi() override;
  void LoadBPL(const std::string& screenCode, const ValueArray& params) override;
  bool Pesquisar(TDataSource& source, const std::string& caption, bool flag1, bool flag2) override;
  void Procura(TClientDataSet& table) override;
  void MsgEventForm(MessageHook hook) override;
  void ShowForm(TForm& form) override;
  void BringToFront(TForm& form) override;
  int ShowModal(TForm& form) override;
  void PostClose(TForm& form) override;
  void ProcessMessages() override;  // counts, and runs the queued close requests
  int ScreenHeight() override { return screenHeight; }
  void SetCursor(int cursor) override;
  std::vector<std::string> ReportQueryParams(const std::string& reportCode) override;
  void ShowReport(const std::string& reportCode, const TReportParams& params) override;

 private:
  struct QueuedAnswer {
    enum class Type { Button, Pick, Search, Modal } type = Type::Button;
    int result = 0;
    std::string expectText;
    std::function<bool(TDataSource&, const std::string&)> pick;
    std::function<void(TClientDataSet&)> search;
    std::function<void(TForm&)> modal;
  };
  // The next answer when it is of `type`; otherwise fails the test describing
  // the dialog and answers null.
  const QueuedAnswer* Take(QueuedAnswer::Type type, const std::string& what);
  std::deque<QueuedAnswer> answers_;
  QueuedAnswer taken_;
  MessageHook hook_;
  struct Posted {
    TForm* form;
    int token;
  };
  std::vector<Posted> posted_;
  IHostServices* previous_ = nullptr;
  bool hadPrevious_ = false;
};

}  // namespace apura::test
