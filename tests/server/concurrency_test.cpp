// Writers that wait for their turn no longer than their caller, readers that never
// wait, and every read on one snapshot, on whichever storage the suite runs on.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "hooked_storage.h"
#include "rpc/call_deadline.h"
#include "server_fixture.h"

namespace apura::server::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class ConcurrencyTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    TallyDocument d = SmallTally();
    AddQuote(d, "N1", "C1", "F1", "M1", 10);
    AddQuote(d, "N1", "C1", "F2", "M2", 12);
    service_->Import(d);
  }
  static std::vector<CallArg> PriceArgs(const char* supplier, const char* brand, double price) {
    return {ByVal(Value("0001")), ByVal(Value("N1")),  ByVal(Value("C1")),  ByVal(Value(supplier)),
            ByVal(Value(brand)),  ByVal(Value("001")), ByVal(Value(price)), ByVal(Value("77"))};
  }
  // Unit prices as storage holds them, read by a server that kept nothing.
  std::pair<double, double> StoredPrices() {
    auto other = OpenAnotherStorage();
    TallyService fresh(*other);
    auto m = fresh.Model("0001", "77");
    return {m->quotes[0].VRPRECUNIAP, m->quotes[1].VRPRECUNIAP};
  }
  // Another server's write of choices, committed: `what` runs inside it.
  void CommitChoicesElsewhere(const std::function<void(IStorageSession&)>& what = {}) {
    auto s = storage_->OpenSession();
    Transaction tx(*s, true);
    s->Tally("77");
    if (what) what(*s);
    s->BumpVersion("77", Change::Choices);
    tx.Commit();
  }
  // A price edit of another caller, given 3 s; its failure text, empty if none.
  std::string EditPriceElsewhere() {
    rpc::CallDeadlineScope deadline(Clock::now() + 3s);
    Value env = Envelope("AtuaPrecEco", PriceArgs("F1", "M1", 11));
    return env.AsArray()[0].AsBoolean() ? "" : env.AsArray()[1].ToText();
  }
  // Every stored AF line is at `price`, and there is one.
  void ExpectAfLinesAt(double price) {
    auto afs = OpenAnotherStorage()->OpenSession()->Afs("77");
    ASSERT_FALSE(afs.empty());
    for (const AfRecord& af : afs) {
      for (const AfLine& l : af.lines) EXPECT_EQ(l.unitPrice, price);
    }
  }
  // A write of another caller in progress on the tally.
  std::unique_ptr<IStorageSession> HoldTally() {
    auto hold = storage_->OpenSession();
    hold->Begin(true);
    EXPECT_TRUE(hold->Tally("77"));
    return hold;
  }
};

TEST_F(ConcurrencyTest, AWriteQueuedPastItsCallersDeadlineTimesOutAndWritesNothing) {
  auto hold = HoldTally();
  auto started = Clock::now();
  std::string text;
  {
    rpc::CallDeadlineScope deadline(Clock::now() + 300ms);
    text = Failure("AtuaPrecEco", PriceArgs("F1", "M1", 11));
  }
  auto waited = Clock::now() - started;
  EXPECT_NE(text.find("Tempo esgotado"), std::string::npos) << text;
  EXPECT_NE(text.find("Nada foi gravado"), std::string::npos) << text;
  EXPECT_GE(waited, 250ms);
  EXPECT_LT(waited, 5s);
  hold->Rollback();
  hold.reset();
  EXPECT_EQ(StoredPrices().first, 10);
  // With the other write gone the same call goes through.
  Call("AtuaPrecEco", PriceArgs("F1", "M1", 11));
  EXPECT_EQ(StoredPrices().first, 11);
}

TEST_F(ConcurrencyTest, AQueuedWriteRunsWhenTheOneAheadCommitsAndLosesNothing) {
  auto hold = HoldTally();
  int64_t second = service_->Model("0001", "77")->quotes[1].id;
  hold->UpdateQuotePrices(second, 13, 13, 13);
  hold->BumpVersion("77", Change::Prices);
  std::string failure;
  std::thread writer([&] {
    rpc::CallDeadlineScope deadline(Clock::now() + 20s);
    Value env = Envelope("AtuaPrecEco", PriceArgs("F1", "M1", 11));
    if (!env.AsArray()[0].AsBoolean()) failure = env.AsArray()[1].ToText();
  });
  std::this_thread::sleep_for(200ms);
  hold->Commit();
  writer.join();
  EXPECT_EQ(failure, "");
  EXPECT_EQ(StoredPrices(), std::make_pair(11.0, 13.0));
  // This server kept its model after its own write: it must know the other one's too.
  EXPECT_EQ(Num(Get("GetApurNeg"), "VRPRECUNIAP", 1), 13);
}

// SQLite lets another process's writer wait only through its busy handler; that
// wait too ends at the deadline with the same answer, not with "database is locked".
TEST_F(ConcurrencyTest, AWriterOfAnotherProcessIsWaitedForUntilTheDeadline) {
  if (OnPostgres()) GTEST_SKIP() << "SQLite's file lock only";
  sql::Db other(db_);
  other.Exec("BEGIN IMMEDIATE");
  std::string text;
  {
    rpc::CallDeadlineScope deadline(Clock::now() + 300ms);
    text = Failure("AtuaPrecEco", PriceArgs("F1", "M1", 11));
  }
  EXPECT_NE(text.find("Tempo esgotado"), std::string::npos) << text;
  // Released within the deadline, the write waits for it and succeeds.
  std::thread release([&] {
    std::this_thread::sleep_for(200ms);
    other.Exec("COMMIT");
  });
  {
    rpc::CallDeadlineScope deadline(Clock::now() + 20s);
    Call("AtuaPrecEco", PriceArgs("F1", "M1", 11));
  }
  release.join();
  EXPECT_EQ(StoredPrices().first, 11);
}

TEST_F(ConcurrencyTest, ReadersDoNotWaitForAWriterAndSeeOnlyWhatIsCommitted) {
  int64_t first = service_->Model("0001", "77")->quotes[0].id;
  auto hold = HoldTally();
  hold->UpdateQuotePrices(first, 99, 99, 99);
  hold->BumpVersion("77", Change::Prices);
  auto other = OpenAnotherStorage();
  TallyService reader(*other);
  {
    rpc::CallDeadlineScope deadline(Clock::now() + 2s);
    auto started = Clock::now();
    auto m = reader.Model("0001", "77");
    EXPECT_LT(Clock::now() - started, 1s);
    EXPECT_EQ(m->quotes[0].VRPRECUNIAP, 10);
  }
  hold->Commit();
  EXPECT_EQ(reader.Model("0001", "77")->quotes[0].VRPRECUNIAP, 99);
}

// A load reads the delivery rows on a second connection: rows another caller
// chose after the reader's snapshot began must not be in what the reader gets.
TEST_F(ConcurrencyTest, ALoadHasTheDeliveryRowsOfItsOwnSnapshotWhateverCommitsMeanwhile) {
  std::vector<ItemUpdate> chosen;
  for (const Item& it : service_->Model("0001", "77")->items)
    chosen.push_back({it.id, true, 1, "", "escolhida em outra estação"});
  ASSERT_FALSE(chosen.empty());
  auto reader = storage_->OpenSession();
  reader->Begin(false);
  const TallyHeader seen = *reader->Tally("77");
  CommitChoicesElsewhere([&](IStorageSession& s) { s.UpdateItems(chosen); });

  const TallyModel old = reader->LoadTally(seen);
  reader->Commit();
  ASSERT_EQ(old.items.size(), chosen.size());
  for (const Item& it : old.items) {
    EXPECT_FALSE(it.selected);
    EXPECT_EQ(it.TXOBESCMANAP, "");
  }
  auto later = storage_->OpenSession();
  later->Begin(false);
  const TallyModel now = later->LoadTally(*later->Tally("77"));
  later->Commit();
  ASSERT_EQ(now.items.size(), chosen.size());
  for (const Item& it : now.items) EXPECT_EQ(it.TXOBESCMANAP, "escolhida em outra estação");
}

// Each write changes a quotation price and every delivery row together; a read
// that mixed two writes would show one without the other.
TEST_F(ConcurrencyTest, EveryReadSeesAWriteWholeOrNotAtAll) {
  auto m0 = service_->Model("0001", "77");
  const int64_t quote = m0->quotes[0].id;
  const size_t rows = m0->items.size();
  std::vector<Item> items(m0->items.begin(), m0->items.end());
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0}, reads{0};
  std::string writeFailure;
  std::thread writer([&] {
    try {
      for (int k = 0; k < 150; ++k) {
        bool select = k % 2 == 0;
        auto s = storage_->OpenSession();
        Transaction tx(*s, true);
        s->Tally("77");
        s->UpdateQuotePrices(quote, select ? 1 : 2, 1, 1);
        std::vector<ItemUpdate> updates;
        for (const Item& it : items) updates.push_back({it.id, select, it.QTACOMP, "", ""});
        s->UpdateItems(updates);
        s->BumpVersion("77", Change::Choices);
        tx.Commit();
      }
    } catch (const std::exception& e) {
      writeFailure = e.what();
    }
    stop = true;
  });
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      auto own = OpenAnotherStorage();
      TallyService server(*own);
      while (!stop) {
        auto m = server.Model("0001", "77");
        size_t chosen = 0;
        for (const Item& it : m->items) chosen += it.selected;
        double price = m->quotes[0].VRPRECUNIAP;
        bool whole = (price == 10 && chosen == 0) || (price == 1 && chosen == rows) ||
                     (price == 2 && chosen == 0);
        if (!whole) ++torn;
        ++reads;
      }
    });
  }
  writer.join();
  for (auto& t : readers) t.join();
  EXPECT_EQ(writeFailure, "");
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(reads.load(), 10);
}

TEST_F(ConcurrencyTest, ReadersAskingAtOnceShareOneLoadOfEachVersion) {
  auto own = OpenAnotherStorage();
  std::atomic<int> loads{0};
  // Each load slow, so that readers asking at once surely overlap.
  HookedStorage counting(*own, [&](const char* call) {
    if (std::string(call) != "LoadTally") return;
    ++loads;
    std::this_thread::sleep_for(150ms);
  });
  TallyService server(counting);
  auto readAtOnce = [&] {
    std::vector<std::shared_ptr<const TallyModel>> got(6);
    std::vector<std::thread> readers;
    for (size_t r = 0; r < got.size(); ++r) {
      readers.emplace_back([&, r] { got[r] = server.Model("0001", "77"); });
    }
    for (auto& t : readers) t.join();
    for (const auto& m : got) EXPECT_EQ(m.get(), got[0].get());
    return got[0];
  };
  auto first = readAtOnce();
  EXPECT_EQ(loads.load(), 1);
  // Another server's write: one new load for everyone, and the new price in it.
  Call("AtuaPrecEco", PriceArgs("F1", "M1", 11));
  auto second = readAtOnce();
  EXPECT_EQ(loads.load(), 2);
  EXPECT_EQ(first->quotes[0].VRPRECUNIAP, 10);
  EXPECT_EQ(second->quotes[0].VRPRECUNIAP, 11);
}

// Price edits and an effectuation that overlap are kept as if the effectuation
// had come first: its AFs at the prices it was asked at, the edit standing after.
TEST_F(ConcurrencyTest, APriceEditCommittedWhileAnEffectuationPlansComesAfterItAndBothStand) {
  service_->MelhorCotacao("0001", "77", "PRQ", "F");
  auto own = OpenAnotherStorage();
  bool edited = false;
  int loads = 0;
  std::unique_ptr<TallyService> server;
  // The price edit, through the same server, lands after the effectuation has
  // planned (the first commit is its read's), before it writes.
  HookedStorage racing(*own, [&](const char* call) {
    loads += std::string(call) == "LoadTally";
    if (std::string(call) != "Commit" || edited) return;
    edited = true;
    server->AtuaPrecEco("0001", "N1", "C1", "F1", "M1", "001", 11, "77");
  });
  server = std::make_unique<TallyService>(racing);
  ValueArray out = server->Gera_AF(SmallTallyEffectuation());
  ASSERT_TRUE(edited);
  EXPECT_EQ(out[1].ToText(), "ok");
  ExpectAfLinesAt(10);
  EXPECT_EQ(StoredPrices().first, 11);
  // The kept tally has both writes, without loading it again.
  auto m = server->Model("0001", "77");
  EXPECT_EQ(m->quotes[0].VRPRECUNIAP, 11);
  EXPECT_TRUE(m->header.effectuated);
  EXPECT_EQ(loads, 1);
}

TEST_F(ConcurrencyTest, AChoiceChangedWhileAnEffectuationPlansHasItPlannedAgain) {
  service_->MelhorCotacao("0001", "77", "PRQ", "F");
  std::vector<ItemUpdate> cleared;
  auto chosen = service_->Model("0001", "77");
  for (const Item& it : chosen->items)
    cleared.push_back({it.id, false, chosen->requests[it.request].QTSOLACOMP, "", ""});
  auto own = OpenAnotherStorage();
  bool unchosen = false;
  // Another server lets go of every chosen row after the effectuation read them.
  HookedStorage racing(*own, [&](const char* call) {
    if (std::string(call) != "OrderedAfs" || unchosen) return;
    unchosen = true;
    CommitChoicesElsewhere([&](IStorageSession& s) { s.UpdateItems(cleared); });
  });
  TallyService server(racing);
  ValueArray out = server.Gera_AF(SmallTallyEffectuation());
  ASSERT_TRUE(unchosen);
  EXPECT_EQ(out[1].ToText(), "") << "nothing is left chosen to order";
  EXPECT_TRUE(OpenAnotherStorage()->OpenSession()->Afs("77").empty());
}

// Choices changed again before every turn: after three the effectuation takes
// the tally's lock first, plans under it, and orders each row once.
TEST_F(ConcurrencyTest, AnEffectuationThatKeepsFindingChoicesChangedTakesTheLockFirst) {
  service_->MelhorCotacao("0001", "77", "PRQ", "F");
  auto own = OpenAnotherStorage();
  int bumps = 0;
  HookedStorage racing(*own, [&](const char* call) {
    if (std::string(call) != "Begin" || bumps == 6) return;
    ++bumps;
    CommitChoicesElsewhere();
  });
  TallyService server(racing);
  ValueArray out = server.Gera_AF(SmallTallyEffectuation());
  EXPECT_EQ(bumps, 6);
  EXPECT_EQ(out[1].ToText(), "ok");
  size_t lines = 0, chosen = 0;
  for (const AfRecord& af : OpenAnotherStorage()->OpenSession()->Afs("77"))
    lines += af.lines.size();
  for (const Item& it : service_->Model("0001", "77")->items) chosen += it.selected;
  EXPECT_GT(chosen, 0u);
  EXPECT_EQ(lines, chosen);
}

// Where the database locks rows, an effectuation storing its AFs holds back no
// price edit of its tally; SQLite has one writer at a time.
TEST_F(ConcurrencyTest, APriceEditGoesThroughWhileAnEffectuationStoresItsAfs) {
  if (!OnPostgres()) GTEST_SKIP() << "SQLite takes writes one at a time";
  service_->MelhorCotacao("0001", "77", "PRQ", "F");
  auto own = OpenAnotherStorage();
  std::string editFailure = "not tried";
  HookedStorage storing(*own, [&](const char* call) {
    if (std::string(call) != "InsertAfs" || editFailure != "not tried") return;
    std::thread edit([&] { editFailure = EditPriceElsewhere(); });
    edit.join();
  });
  TallyService server(storing);
  ValueArray out = server.Gera_AF(SmallTallyEffectuation());
  EXPECT_EQ(editFailure, "");
  EXPECT_EQ(out[1].ToText(), "ok");
  EXPECT_EQ(StoredPrices().first, 11);
  ExpectAfLinesAt(10);
}

// Effectuations of different tallies: the second one's AFs are numbered and
// committed while the first one's are stored and not yet committed, and no
// number is given twice.
TEST_F(ConcurrencyTest, AfNumbersOfAnotherTallyWaitForNoUncommittedEffectuation) {
  if (!OnPostgres()) GTEST_SKIP() << "SQLite takes writes one at a time";
  auto afsOf = [](const std::string& tally, int n) {
    std::vector<AfRecord> afs(static_cast<size_t>(n));
    for (AfRecord& af : afs) {
      af.tally = tally;
      af.centre = "0001";
      af.destBranch = af.launchBranch = "0101";
      af.supplier = "F1";
      af.buyer = "COMP01";
      af.status = "E";
    }
    return afs;
  };
  TallyDocument other = SmallTally("78");
  AddQuote(other, "N1", "C1", "F1", "M1", 10);
  service_->Import(other);
  auto second = OpenAnotherStorage();  // opened first: its schema check would wait
  auto first = storage_->OpenSession();
  Transaction holding(*first, true);
  first->Tally("77");
  std::vector<AfRecord> held = afsOf("77", 3);
  first->InsertAfs(held);

  std::vector<AfRecord> done = afsOf("78", 2);
  {
    rpc::CallDeadlineScope deadline(Clock::now() + 2s);
    auto s = second->OpenSession();
    Transaction tx(*s, true);
    s->Tally("78");
    EXPECT_NO_THROW(s->InsertAfs(done));
    tx.Commit();
  }
  holding.Commit();
  std::set<std::string> numbers;
  for (const auto* afs : {&held, &done})
    for (const AfRecord& af : *afs) EXPECT_TRUE(numbers.insert(af.number).second) << af.number;
  EXPECT_EQ(OpenAnotherStorage()->OpenSession()->Afs("78").size(), 2u);
}

// The same for undoing an effectuation; and an effectuation committed while the
// AFs are being deleted has the deletion done again, so that none is left.
TEST_F(ConcurrencyTest, ExcluiAFHoldsBackNoPriceEditAndLeavesNoAfCommittedMeanwhile) {
  if (!OnPostgres()) GTEST_SKIP() << "SQLite takes writes one at a time";
  service_->MelhorCotacao("0001", "77", "PRQ", "F");
  ASSERT_EQ(service_->Gera_AF(SmallTallyEffectuation())[1].ToText(), "ok");
  auto own = OpenAnotherStorage();
  int deletions = 0;
  std::string editFailure = "not tried", again;
  HookedStorage deleting(*own, [&](const char* call) {
    if (std::string(call) != "DeleteAfs" || deletions++ > 0) return;
    std::thread other([&] {
      editFailure = EditPriceElsewhere();
      // Another worksheet undoes and effectuates again before this deletion runs.
      CommitChoicesElsewhere([](IStorageSession& s) { s.DeleteAfs("77", "0101"); });
      again = service_->Gera_AF(SmallTallyEffectuation())[1].ToText();
    });
    other.join();
  });
  TallyService server(deleting);
  server.ExcluiAF("0101", "77");
  EXPECT_EQ(editFailure, "");
  EXPECT_EQ(again, "ok");
  EXPECT_EQ(deletions, 2) << "done again once";
  EXPECT_TRUE(OpenAnotherStorage()->OpenSession()->Afs("77").empty());
  EXPECT_FALSE(OpenAnotherStorage()->OpenSession()->Tally("77")->effectuated);
  EXPECT_EQ(StoredPrices().first, 11);
}

TEST_F(ConcurrencyTest, ATallyNobodyReadsForTheIdleTimeIsLetGoAndLoadedAgainWhenAsked) {
  TallyDocument other = SmallTally("78");
  AddQuote(other, "N1", "C1", "F1", "M1", 10);
  service_->Import(other);
  auto own = OpenAnotherStorage();
  int loads = 0;
  HookedStorage counting(*own,
                         [&](const char* call) { loads += std::string(call) == "LoadTally"; });
  auto now = std::chrono::steady_clock::now();
  TallyService server(counting, std::chrono::minutes(15), [&] { return now; });
  server.Model("0001", "77");
  auto held = server.Model("0001", "78");
  EXPECT_EQ(loads, 2);
  now += std::chrono::minutes(10);
  server.Model("0001", "77");
  server.Model("0001", "77");
  EXPECT_EQ(loads, 2) << "both are kept within the idle time";
  now += std::chrono::minutes(10);
  server.Model("0001", "77");  // 78 unread for 20 minutes: let go
  EXPECT_EQ(loads, 2);
  EXPECT_EQ(held->quotes[0].VRPRECUNIAP, 10) << "a caller still holding it keeps it whole";
  server.Model("0001", "78");
  EXPECT_EQ(loads, 3);
  now += std::chrono::minutes(20);
  server.ReleaseIdle();
  server.Model("0001", "77");
  EXPECT_EQ(loads, 4);
}

TEST(WriterQueueTest, WritersTakeTurnsInArrivalOrderAndOneOutOfTimeLeavesTheLine) {
  WriterQueue queue;
  auto far = Clock::now() + 30s;
  queue.Enter(far);
  std::mutex m;
  std::vector<int> order;
  bool late = false;
  std::vector<std::thread> writers;
  for (int i = 0; i < 3; ++i) {
    writers.emplace_back([&, i] {
      std::this_thread::sleep_for(100ms * i);
      queue.Enter(far);
      {
        std::lock_guard lock(m);
        order.push_back(i);
      }
      queue.Leave();
    });
  }
  // Second in line, but its caller stops waiting before the first one is done.
  std::thread impatient([&] {
    std::this_thread::sleep_for(50ms);
    try {
      queue.Enter(Clock::now() + 100ms);
      queue.Leave();
    } catch (const StorageBusy&) {
      late = true;
    }
  });
  std::this_thread::sleep_for(400ms);
  queue.Leave();
  for (auto& t : writers) t.join();
  impatient.join();
  EXPECT_TRUE(late);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

}  // namespace
}  // namespace apura::server::testing
