#pragma once
// A worksheet launched against the scripted host, server and local database,
// with a generated tally behind the server's methods.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "generated_tally.h"
#include "support/fake_database.h"
#include "support/fake_host.h"
#include "support/fake_server.h"
#include "worksheet/form.h"

namespace apura::testing {

using test::FakeDatabase;
using test::FakeHost;
using test::FakeServer;
using worksheet::TfrmPlanApurNegGrid;

class WorksheetTest : public ::testing::Test {
 protected:
  WorksheetTest();
  ~WorksheetTest() override;

  // Every tally method answers from `tally`, as often as it is called.
  void ScriptTally();
  // Operators allowed to choose prices by hand; none means nobody is restricted.
  void ScriptPermission(const std::vector<std::string>& operators);
  // Region names the local database knows.
  std::map<std::string, std::string> regionNames;

  // Creates the worksheet through the form factory, as the module does.
  TfrmPlanApurNegGrid& Launch();
  TfrmPlanApurNegGrid& form() { return *frmPlanApurNegGrid; }

  // The visible rows of a table, each as its fields' texts joined by "|",
  // read without moving the cursor.
  static std::vector<std::string> Visible(TClientDataSet& table, const std::string& fields);
  static std::string Current(TClientDataSet& table, const std::string& fields);
  // Model rows as Visible shows them.
  static std::vector<std::string> Texts(const std::vector<const Row*>& rows,
                                        const std::string& fields);

  FakeHost host;
  FakeServer server;
  std::shared_ptr<FakeDatabase> db = std::make_shared<FakeDatabase>();
  test::ScopedDatabase scopedDb{db};
  GeneratedTally tally;
};

}  // namespace apura::testing
