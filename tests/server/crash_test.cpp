// A server killed at any point inside a write: after the restart the database
// holds that write whole or not at all, and the restarted server goes on.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "hooked_storage.h"
#include "server_fixture.h"

namespace apura::server::testing {
namespace {

class CrashTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    TallyDocument d = SmallTally();
    AddQuote(d, "N1", "C1", "F1", "M1", 10);
    AddQuote(d, "N1", "C1", "F2", "M2", 12);
    service_->Import(d);
    service_->MelhorCotacao("0001", "77", "PRQ", "F");
  }

  // Runs `write` in a child server process that is killed (SIGKILL) when it
  // reaches its `stopAt`-th storage call. True when it was killed, false when the
  // write finished first.
  bool KilledAt(int stopAt, const std::function<void(TallyService&)>& write) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
      try {
        auto own = OpenStorage(db_);
        int calls = 0;
        HookedStorage hooked(*own, [&](const char*) {
          if (++calls == stopAt) ::kill(::getpid(), SIGKILL);
        });
        TallyService server(hooked);
        write(server);
        ::_exit(0);
      } catch (...) {
        ::_exit(4);
      }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return true;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write failed";
    return false;
  }

  // What a restarted server reads.
  struct Seen {
    size_t afs = 0, afLines = 0;
    bool effectuated = false;
    double price = 0, econ = 0;
  };
  Seen AfterRestart() {
    auto restarted = OpenAnotherStorage();
    TallyService server(*restarted);
    auto m = server.Model("0001", "77");
    Seen seen;
    for (const AfRecord& af : restarted->OpenSession()->Afs("77")) {
      ++seen.afs;
      seen.afLines += af.lines.size();
    }
    seen.effectuated = m->header.effectuated;
    seen.price = m->quotes[0].VRPRECUNIAP;
    seen.econ = m->quotes[0].PRECOECON;
    return seen;
  }

  static GeraAfRequest Effectuation() { return SmallTallyEffectuation(); }
};

TEST_F(CrashTest, AnEffectuationAndItsUndoingAreWholeOrAbsentAfterAKill) {
  int killed = 0;
  for (int at = 1;; ++at) {
    ASSERT_LT(at, 100) << "the effectuation never finished";
    bool died = KilledAt(at, [](TallyService& s) { s.Gera_AF(Effectuation()); });
    Seen seen = AfterRestart();
    if (died) {
      ++killed;
      EXPECT_EQ(seen.afs, 0u) << "killed at call " << at;
      EXPECT_FALSE(seen.effectuated) << "killed at call " << at;
      continue;
    }
    EXPECT_EQ(seen.afs, 2u);
    EXPECT_EQ(seen.afLines, 2u);
    EXPECT_TRUE(seen.effectuated);
    break;
  }
  EXPECT_GT(killed, 3);
  for (int at = 1;; ++at) {
    ASSERT_LT(at, 100) << "the undoing never finished";
    bool died = KilledAt(at, [](TallyService& s) { s.ExcluiAF("0101", "77"); });
    Seen seen = AfterRestart();
    if (died) {
      EXPECT_EQ(seen.afs, 2u) << "killed at call " << at;
      EXPECT_TRUE(seen.effectuated) << "killed at call " << at;
      continue;
    }
    EXPECT_EQ(seen.afs, 0u);
    EXPECT_FALSE(seen.effectuated);
    break;
  }
}

TEST_F(CrashTest, APriceEditIsWholeOrAbsentAfterAKill) {
  const double econBefore = AfterRestart().econ;
  for (int at = 1;; ++at) {
    ASSERT_LT(at, 100) << "the price edit never finished";
    bool died = KilledAt(at, [](TallyService& s) {
      s.AtuaPrecEco("0001", "N1", "C1", "F1", "M1", "001", 11, "77");
    });
    Seen seen = AfterRestart();
    if (died) {
      EXPECT_EQ(seen.price, 10) << "killed at call " << at;
      EXPECT_EQ(seen.econ, econBefore) << "killed at call " << at;
      continue;
    }
    EXPECT_EQ(seen.price, 11);
    EXPECT_NE(seen.econ, econBefore);
    break;
  }
  // The server that was running all along learns of the restarted one's write.
  EXPECT_EQ(Num(Get("GetApurNeg"), "VRPRECUNIAP", 0), 11);
}

}  // namespace
}  // namespace apura::server::testing
