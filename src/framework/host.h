#pragma once
// Everything the host application provides to a module: dialogs, the
// session's operator, branch and dates, the application-server address,
// busy animation, other screens, search dialogs, the message hook, modal
// forms and the screen. The desktop implements it; tests use a scripted fake.

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/controls.h"
#include "framework/errors.h"
#include "framework/value.h"

namespace apura {

class TForm;
class TDataSource;
class TClientDataSet;
class TDBGrid;
struct TReportParams;

// ---------------------------------------------------------------------------
// Dialog kinds, buttons and what a dialog answers.

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
const char* MsgDlgTypeName(TMsgDlgType t);

enum TMsgDlgBtn : uint32_t {
  mbYes = 1u << 0,
  mbNo = 1u << 1,
  mbOK = 1u << 2,
  mbCancel = 1u << 3,
  mbAbort = 1u << 4,
  mbRetry = 1u << 5,
  mbIgnore = 1u << 6,
  mbAll = 1u << 7,
  mbNoToAll = 1u << 8,
  mbYesToAll = 1u << 9,
  mbHelp = 1u << 10,
};
using TMsgDlgButtons = uint32_t;
constexpr TMsgDlgButtons mbYesNo = mbYes | mbNo;
constexpr TMsgDlgButtons mbYesNoCancel = mbYes | mbNo | mbCancel;
constexpr TMsgDlgButtons mbOKCancel = mbOK | mbCancel;
// "Yes, No" etc., for messages and test failures.
std::string MsgDlgButtonsText(TMsgDlgButtons b);

// Modal results: the button a dialog was closed with.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrAbort = 3;
constexpr int mrRetry = 4;
constexpr int mrIgnore = 5;
constexpr int mrYes = 6;
constexpr int mrNo = 7;
constexpr int mrAll = 8;
constexpr int mrNoToAll = 9;
constexpr int mrYesToAll = 10;
// MsgAlertEx answers mrFirstCaption + i for its i-th caption button, mrNone
// when the box is dismissed without one.
constexpr int mrFirstCaption = 10;

// Screen cursors.
constexpr int crDefault = 0;
constexpr int crHourGlass = -11;

// ---------------------------------------------------------------------------
// A message the host pre-processes, as the form's message hook sees it. The
// hook may rewrite `key`; for a key-down the host then types the character of
// the rewritten key (a period key turned into the comma key types ',').
struct HostMessage {
  enum class Kind { KeyDown, KeyUp, Char, Other };
  Kind kind = Kind::Other;
  int key = 0;      // virtual key code (the message's first parameter)
  char32_t ch = 0;  // the typed character, for Char
  TShiftState shift = 0;
};
// (message, handled): setting handled stops the message there.
using MessageHook = std::function<void(HostMessage& msg, bool& handled)>;

// ---------------------------------------------------------------------------
class IHostServices {
 public:
  virtual ~IHostServices() = default;

  // --- Dialogs --------------------------------------------------------------
  // A message box; answers the modal result of the button pressed.
  virtual int MessageBox(const std::string& text, const std::string& caption, TMsgDlgType kind,
                         TMsgDlgButtons buttons, int helpContext) = 0;
  // A message box whose buttons carry the given captions, in order;
  // answers mrFirstCaption + index of the button pressed, mrNone when
  // dismissed. defaultButton, cancelButton and helpContext are passed through.
  virtual int MsgAlertEx(const std::string& text, TMsgDlgType kind,
                         const std::vector<std::string>& captions, int defaultButton,
                         int cancelButton, int helpContext) = 0;
  // The standard error display. Never called for the silent abort.
  virtual void ShowException(const std::exception& e) = 0;

  // --- Session ---------------------------------------------------------------
  virtual int ModuloAtiv() = 0;                              // active module: 4, 34, 77, ...
  virtual std::string Operador() = 0;                        // operator code
  virtual std::string FiliProc() = 0;                        // current branch code
  virtual DateTime DataProc(const std::string& branch) = 0;  // its processing date
  virtual std::string WebURL() = 0;                          // application-server host
  virtual int WebPort() = 0;                                 // and port
  virtual bool KeepConnected() = 0;                          // open connections at creation
  // Edit mask of a code picture; kind 0 is the product-tree code.
  virtual std::string DBPict(int kind) = 0;
  // Week number and day name; the framework's rules (WeekNumber, DayName)
  // unless the host has its own.
  virtual int NumeroSemana(DateTime d);
  virtual std::string NomeSemana(DateTime d);

  // --- Busy animation, other screens, search dialogs --------------------------
  virtual void ActiveShowAvi(int kind, const std::string& caption) = 0;
  virtual void DeactiveShowAvi() = 0;
  // Opens another screen module with the values; returns when it is done.
  virtual void LoadBPL(const std::string& screenCode, const ValueArray& params) = 0;
  // Modal pick list over the data link's table; leaves the cursor on the row
  // picked and answers true, or false when dismissed.
  virtual bool Pesquisar(TDataSource& source, const std::string& caption, bool flag1,
                         bool flag2) = 0;
  // Search dialog on a table; leaves the cursor on the row found.
  virtual void Procura(TClientDataSet& table) = 0;

  // --- Windows and messages -----------------------------------------------
  // Installs the hook every pre-processed message goes through while the
  // active form wants it; an empty function removes it.
  virtual void MsgEventForm(MessageHook hook) = 0;
  // A form was shown (first time: the host makes a window for it) or asked to
  // come to the front.
  virtual void ShowForm(TForm& form) = 0;
  virtual void BringToFront(TForm& form) = 0;
  // Runs the form modally until it is closed; answers its ModalResult.
  virtual int ShowModal(TForm& form) = 0;
  // Queues a close request to the form, handled by the host's message
  // processing (not at once).
  virtual void PostClose(TForm& form) = 0;
  // Lets pending messages run.
  virtual void ProcessMessages() = 0;
  virtual int ScreenHeight() = 0;
  virtual void SetCursor(int cursor) = 0;  // crHourGlass, crDefault

  // --- Reports ---------------------------------------------------------------
  // The query parameters of a report definition, by name.
  virtual std::vector<std::string> ReportQueryParams(const std::string& reportCode) = 0;
  // Runs the report with the parameter values and shows it.
  virtual void ShowReport(const std::string& reportCode, const TReportParams& params) = 0;
};

// The process-wide host. Host() throws std::logic_error when none is set.
IHostServices& Host();
void SetHost(IHostServices* host);
bool HasHost();

// ---------------------------------------------------------------------------
// The framework's calls, as the screens call them.

// Shows the text as an error; with stop the operation under way then ends
// silently (EAbort), otherwise the caller goes on.
void MensErro(const std::string& text, bool stop);
// Empty or only blanks (spaces, tabs, line breaks).
bool EmptyString(std::string_view text);
// A message box with the host's caption.
int MessageDlg(const std::string& text, TMsgDlgType kind, TMsgDlgButtons buttons,
               int helpContext = 0);
int MsgAlertEx(const std::string& text, TMsgDlgType kind, const std::vector<std::string>& captions,
               int defaultButton = 0, int cancelButton = 0, int helpContext = 0);

int ModuloAtiv();
std::string Operador();
std::string FiliProc();
DateTime DataProc(const std::string& branch);
std::string WebURL();
int WebPort();
bool KeepConnected();
std::string DBPict(int kind);
int NumeroSemana(DateTime d);
std::string NomeSemana(DateTime d);
void ActiveShowAvi(int kind, const std::string& caption);
void DeactiveShowAvi();
void LoadBPL(const std::string& screenCode, const ValueArray& params);
bool Pesquisar(TDataSource& source, const std::string& caption, bool flag1, bool flag2);
void Procura(TClientDataSet& table);
void MsgEventForm(MessageHook hook);

// The framework's rules behind NumeroSemana and NomeSemana: weeks run Sunday
// to Saturday, week 1 being the week that holds 1 January; day names in
// Portuguese ("Domingo", "Segunda-feira", ..., "Sábado").
int WeekNumber(DateTime d);
std::string DayName(DateTime d);
// The first `count` characters (not bytes) of a UTF-8 text.
std::string LeftChars(std::string_view text, size_t count);

// Runs a user event the way the host does: the silent abort ends it without a
// word, any other exception goes to the standard error display. Answers
// whether the event ran to its end.
bool GuardedCall(const std::function<void()>& event);

// Sets the cursor for a scope and puts the default back on every path.
class ScopedCursor {
 public:
  explicit ScopedCursor(int cursor = crHourGlass) { Host().SetCursor(cursor); }
  ~ScopedCursor() {
    if (HasHost()) Host().SetCursor(crDefault);
  }
  ScopedCursor(const ScopedCursor&) = delete;
  ScopedCursor& operator=(const ScopedCursor&) = delete;
};

}  // namespace apura
