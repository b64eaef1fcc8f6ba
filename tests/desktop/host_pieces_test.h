#pragma once
// The host's pieces that need no screen module: settings, local database,
// module loader, grid model and view, canvas, control bindings, message hook.

#include <QObject>
#include <memory>

namespace apura::desktop {
class QtHost;
}

namespace apura::desktop::test {

class HostPiecesTest : public QObject {
  Q_OBJECT
 public:
  HostPiecesTest();
  ~HostPiecesTest() override;

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void commandLineAndSettingsFile();
  void localDatabaseAnswersTheScreensQueries();
  void missingModuleIsAMessageNamingTheCode();
  void gridShowsVisibleRowsAndFollowsTheCursorBothWays();
  void gridHoldsBackWhileControlsAreDisabled();
  void gridEditsThroughTheTableAndItsGuards();
  void halfAMillionRowsCostOnlyWhatIsShown();
  void cellPainterSeesThePaintedRow();
  void canvasFillsCopiesWithTransparencyAndClips();
  void controlsFollowTheModelAndClicksReachIt();
  void messageHookRewritesKeysOnlyWhileInstalled();
  void dialogsAnswerWhatWasPressed();
  void pickListMovesTheCursorOnlyWhenConfirmed();
  void modalFormRunsUntilItClosesWithItsResult();
  void formWindowFollowsShowCloseRequestAndRelease();
  void qtsOwnTextsAndDatesSpeakPortuguese();

 private:
  std::unique_ptr<QtHost> host_;
};

}  // namespace apura::desktop::test
