#pragma once
// Effectuation on screen: the worksheet against the demo server over gRPC,
// "Efetivar" pressed, the outcome read, the analysis screen opened.

#include <QObject>
#include <memory>

#include "desktop_session.h"

namespace apura::desktop::test {

class EffectuationViewTest : public ViewSuite {
  Q_OBJECT
 public:
  EffectuationViewTest();
  ~EffectuationViewTest() override;

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void efetivarClosesTheWorksheetAndOpensTheAnalysisOnTheNewAfs();
  void aSecondEffectuationOfTheSameTallyIsRefused();
};

}  // namespace apura::desktop::test
