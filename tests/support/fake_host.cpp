#include "support/fake_host.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace apura::test {

namespace {
const char* AnswerTypeName(int t) {
  static const char* const names[] = {"message answer", "pick-list answer", "search answer",
                                      "modal-form answer"};
  return names[t];
}
}  // namespace

FakeHost::FakeHost() {
  previous_ = HasHost() ? &Host() : nullptr;
  SetHost(this);
}

FakeHost::~FakeHost() {
  // Forms may still call the host while they go away.
  Application().DestroyForms();
  posted_.clear();
  hook_ = nullptr;
  SetHost(previous_);
  if (!answers_.empty())
    ADD_FAILURE() << answers_.size() << " queued dialog answer(s) were never used; the first is a "
                  << AnswerTypeName(static_cast<int>(answers_.front().type))
                  << (answers_.front().expectText.empty()
                          ? std::string()
                          : " for \"" + answers_.front().expectText + "\"");
}

FakeHost& FakeHost::Answer(int modalResult, std::string expectText) {
  QueuedAnswer a;
  a.type = QueuedAnswer::Type::Button;
  a.result = modalResult;
  a.expectText = std::move(expectText);
  answers_.push_back(std::move(a));
  return *this;
}

FakeHost& FakeHost::AnswerPick(std::function<bool(TDataSource&, const std::string&)> pick) {
  QueuedAnswer a;
  a.type = QueuedAnswer::Type::Pick;
  a.pick = std::move(pick);
  answers_.push_back(std::move(a));
  return *this;
}

FakeHost& FakeHost::AnswerSearch(std::function<void(TClientDataSet&)> search) {
  QueuedAnswer a;
  a.type = QueuedAnswer::Type::Search;
  a.search = std::move(search);
  answers_.push_back(std::move(a));
  return *this;
}

FakeHost& FakeHost::AnswerModal(std::function<void(TForm&)> run) {
  QueuedAnswer a;
  a.type = QueuedAnswer::Type::Modal;
  a.modal = std::move(run);
  answers_.push_back(std::move(a));
  return *this;
}

const FakeHost::QueuedAnswer* FakeHost::Take(QueuedAnswer::Type type, const std::string& what) {
  if (answers_.empty()) {
    ADD_FAILURE() << "Unexpected dialog, no answer queued: " << what;
    return nullptr;
  }
  if (answers_.front().type != type) {
    ADD_FAILURE() << "Dialog " << what << " appeared while the next queued answer is a "
                  << AnswerTypeName(static_cast<int>(answers_.front().type));
    return nullptr;
  }
  taken_ = std::move(answers_.front());
  answers_.pop_front();
  return &taken_;
}

int FakeHost::MessageBox(const std::string& text, const std::string& caption, TMsgDlgType kind,
                         TMsgDlgButtons buttons, int helpContext) {
  ShownMessage m;
  m.source = ShownMessage::Source::MessageBox;
  m.text = text;
  m.caption = caption;
  m.kind = kind;
  m.buttons = buttons;
  m.numbers = {helpContext};
  log.push_back(std::string("MessageBox(") + MsgDlgTypeName(kind) + "): " + text);
  if ((buttons & ~mbOK) == 0) {
    m.answer = mrOk;
  } else {
    const QueuedAnswer* a =
        Take(QueuedAnswer::Type::Button, std::string(MsgDlgTypeName(kind)) + " box [" +
                                             MsgDlgButtonsText(buttons) + "] \"" + text + "\"");
    m.answer = a ? a->result : mrNone;
    if (a && !a->expectText.empty() && text.find(a->expectText) == std::string::npos)
      ADD_FAILURE() << "Dialog \"" << text << "\" answered with the answer queued for \""
                    << a->expectText << "\"";
  }
  messages.push_back(m);
  return m.answer;
}

int FakeHost::MsgAlertEx(const std::string& text, TMsgDlgType kind,
                         const std::vector<std::string>& captions, int defaultButton,
                         int cancelButton, int helpContext) {
  ShownMessage m;
  m.source = ShownMessage::Source::MsgAlertEx;
  m.text = text;
  m.kind = kind;
  m.captions = captions;
  m.numbers = {defaultButton, cancelButton, helpContext};
  log.push_back(std::string("MsgAlertEx(") + MsgDlgTypeName(kind) + "): " + text);
  std::string buttons;
  for (const auto& c : captions) buttons += (buttons.empty() ? "" : ", ") + c;
  const QueuedAnswer* a =
      Take(QueuedAnswer::Type::Button,
           std::string(MsgDlgTypeName(kind)) + " alert [" + buttons + "] \"" + text + "\"");
  m.answer = a ? a->result : mrNone;
  if (a && !a->expectText.empty() && text.find(a->expectText) == std::string::npos)
    ADD_FAILURE() << "Dialog \"" << text << "\" answered with the answer queued for \""
                  << a->expectText << "\"";
  messages.push_back(m);
  return m.answer;
}

void FakeHost::ShowException(const std::exception& e) {
  exceptions.push_back(e.what());
  log.push_back(std::string("ShowException: ") + e.what());
}

DateTime FakeHost::DataProc(const std::string& branch) {
  dataProcBranches.push_back(branch);
  return dataProc;
}

std::string FakeHost::DBPict(int kind) {
  auto it = dbPict.find(kind);
  return it == dbPict.end() ? std::string() : it->second;
}

void FakeHost::ActiveShowAvi(int kind, const std::string& caption) {
  aviShown.emplace_back(kind, caption);
  aviActive = true;
  log.push_back("ActiveShowAvi(" + std::to_string(kind) + "): " + caption);
}

void FakeHost::DeactiveShowAvi() {
  ++aviHidden;
  aviActive = false;
  log.push_back("DeactiveShowAvi");
}

void FakeHost::LoadBPL(const std::string& screenCode, const ValueArray& params) {
  loadBPLCalls.emplace_back(screenCode, params);
  log.push_back("LoadBPL(" + screenCode + ")");
  if (onLoadBPL) onLoadBPL(screenCode, params);
}

bool FakeHost::Pesquisar(TDataSource& source, const std::string& caption, bool, bool) {
  log.push_back("Pesquisar(" + caption + ")");
  const QueuedAnswer* a =
      Take(QueuedAnswer::Type::Pick, "pick list \"" + caption + "\" on " + source.Name);
  return a && a->pick ? a->pick(source, caption) : false;
}

void FakeHost::Procura(TClientDataSet& table) {
  log.push_back("Procura(" + table.Name + ")");
  const QueuedAnswer* a = Take(QueuedAnswer::Type::Search, "search dialog on " + table.Name);
  if (a && a->search) a->search(table);
}

void FakeHost::MsgEventForm(MessageHook hook) {
  log.push_back(hook ? "MsgEventForm(set)" : "MsgEventForm(clear)");
  hook_ = std::move(hook);
}

void FakeHost::ShowForm(TForm& form) {
  log.push_back("ShowForm(" + form.Name + ")");
}

void FakeHost::BringToFront(TForm& form) {
  log.push_back("BringToFront(" + form.Name + ")");
}

int FakeHost::ShowModal(TForm& form) {
  log.push_back("ShowModal(" + form.Name + ")");
  const QueuedAnswer* a = Take(QueuedAnswer::Type::Modal, "modal form " + form.Name);
  if (a && a->modal) {
    auto run = a->modal;  // the form may open further dialogs that take answers
    run(form);
  }
  return form.ModalResult();
}

void FakeHost::PostClose(TForm& form) {
  log.push_back("PostClose(" + form.Name + ")");
  TForm* f = &form;
  int token = form.Subscribe([this, f](TComponent&, std::string_view property) {
    if (property != "Destroying") return;
    std::erase_if(posted_, [f](const Posted& p) { return p.form == f; });
  });
  posted_.push_back({f, token});
}

void FakeHost::RunPostedCloses() {
  while (!posted_.empty()) {
    Posted p = posted_.front();
    posted_.erase(posted_.begin());
    p.form->Unsubscribe(p.token);
    p.form->Close();
  }
}

void FakeHost::ProcessMessages() {
  ++processMessagesCount;
  log.push_back("ProcessMessages");
  RunPostedCloses();
}

void FakeHost::SetCursor(int cursor) {
  cursors.push_back(cursor);
  log.push_back("SetCursor(" + std::to_string(cursor) + ")");
}

std::vector<std::string> FakeHost::ReportQueryParams(const std::string& reportCode) {
  auto it = reportParams.find(reportCode);
  return it == reportParams.end() ? std::vector<std::string>{} : it->second;
}

void FakeHost::ShowReport(const std::string& reportCode, const TReportParams& params) {
  log.push_back("ShowReport(" + reportCode + ")");
  reportsShown.emplace_back(reportCode, params);
}

bool FakeHost::SendMessage(HostMessage& msg) {
  if (!hook_) return false;
  bool handled = false;
  MessageHook hook = hook_;  // the hook may replace itself
  hook(msg, handled);
  return handled;
}

std::vector<std::string> FakeHost::Texts() const {
  std::vector<std::string> out;
  for (const auto& m : messages) out.push_back(m.text);
  return out;
}

const ShownMessage& FakeHost::LastMessage() const {
  static const ShownMessage none;
  if (messages.empty()) {
    ADD_FAILURE() << "No message was shown";
    return none;
  }
  return messages.back();
}

bool FakeHost::Logged(const std::string& entry) const {
  return std::find(log.begin(), log.end(), entry) != log.end();
}

void FakeHost::ClearRecords() {
  messages.clear();
  exceptions.clear();
  log.clear();
  loadBPLCalls.clear();
  dataProcBranches.clear();
  cursors.clear();
  aviShown.clear();
  aviHidden = 0;
  processMessagesCount = 0;
  reportsShown.clear();
}

}  // namespace apura::test
