#pragma once
// Effectuation on screen: the worksheet against the demo server over gRPC,
// "Efetivar" pressed, the outcome read, the analysis screen opened.

#include <QObject>
#include <QTemporaryDir>
#include <memory>

namespace apura {
class TForm;
}

namespace apura::desktop {
class QtHost;
class MainWindow;
class ModuleLoader;
class DemoEnvironment;
}  // namespace apura::desktop

namespace apura::desktop::test {

class EffectuationViewTest : public QObject {
  Q_OBJECT
 public:
  EffectuationViewTest();
  ~EffectuationViewTest() override;

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void efetivarClosesTheWorksheetAndOpensTheAnalysisOnTheNewAfs();
  void aSecondEffectuationOfTheSameTallyIsRefused();

 private:
  QTemporaryDir dir_;
  std::unique_ptr<DemoEnvironment> demo_;
  std::unique_ptr<QtHost> host_;
  std::unique_ptr<ModuleLoader> loader_;
  std::unique_ptr<MainWindow> window_;
  std::vector<std::string> launch_;
};

}  // namespace apura::desktop::test
