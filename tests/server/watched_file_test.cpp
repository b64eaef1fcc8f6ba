// The SQLite file under a running server: deleted, moved or replaced, it takes
// no write the server would then lose; a read-only episode heals without a
// restart.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>

#include "server_fixture.h"

namespace apura::server::testing {
namespace {

namespace fs = std::filesystem;

class WatchedFileTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (OnPostgres()) GTEST_SKIP() << "a SQLite file only";
    TallyDocument d = SmallTally();
    AddQuote(d, "N1", "C1", "F1", "M1", 10);
    service_->Import(d);
  }
  Value EditPrice(double price) {
    return Envelope("AtuaPrecEco", {ByVal(Value("0001")), ByVal(Value("N1")), ByVal(Value("C1")),
                                    ByVal(Value("F1")), ByVal(Value("M1")), ByVal(Value("001")),
                                    ByVal(Value(price)), ByVal(Value("77"))});
  }
  // The write is refused, saying why, and the log names the file.
  void ExpectWriteRefused(const char* what) {
    ::testing::internal::CaptureStderr();
    Value env = EditPrice(13);
    const std::string log = ::testing::internal::GetCapturedStderr();
    ASSERT_FALSE(env.AsArray()[0].AsBoolean()) << "a write to a file " << what << " was taken";
    EXPECT_NE(env.AsArray()[1].ToText().find("removido ou substituído"), std::string::npos)
        << env.AsArray()[1].ToText();
    EXPECT_NE(log.find(db_), std::string::npos) << log;
    EXPECT_NE(log.find(what), std::string::npos) << log;
  }
  // A copy of the database as it is now, WAL included.
  void CopyTo(const fs::path& to) {
    sql::Db raw(db_, false);
    raw.Exec(("VACUUM INTO '" + to.string() + "'").c_str());
  }
};

TEST_F(WatchedFileTest, AWriteAfterTheFileIsDeletedMovedOrReplacedIsRefused) {
  ASSERT_TRUE(EditPrice(11).AsArray()[0].AsBoolean());
  const fs::path copy = dir_ / "copy.db";
  CopyTo(copy);
  // Replaced: a copy put in its place would take writes a restart on the right
  // file would not see.
  fs::rename(copy, db_);
  ExpectWriteRefused("was replaced");
  // Deleted, with its WAL and shared memory.
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(db_ + suffix);
  ExpectWriteRefused("was deleted or moved");
}

TEST_F(WatchedFileTest, AMovedFileTakesNoWrite) {
  fs::rename(db_, dir_ / "elsewhere.db");
  ExpectWriteRefused("was deleted or moved");
  // Reads go on from what the server has open.
  EXPECT_EQ(Get("GetDados").RowCount(), 2u);
}

// The file may not be written for a while: as root a mode of 0444 changes
// nothing, so the file is made immutable instead.
class Unwritable {
 public:
  explicit Unwritable(const std::string& path) : path_(path) {
    if (::geteuid() != 0) {
      ok_ = ::chmod(path.c_str(), 0444) == 0;
      return;
    }
    int fd = ::open(path.c_str(), O_RDONLY);
    long flags = 0;
    ok_ = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags |= FS_IMMUTABLE_FL;
    ok_ = ok_ && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) ::close(fd);
  }
  ~Unwritable() { Heal(); }
  bool ok() const { return ok_; }
  void Heal() {
    if (!ok_) return;
    ok_ = false;
    if (::geteuid() != 0) {
      ::chmod(path_.c_str(), 0644);
      return;
    }
    int fd = ::open(path_.c_str(), O_RDONLY);
    long flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~static_cast<long>(FS_IMMUTABLE_FL);
      ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0) ::close(fd);
  }

 private:
  std::string path_;
  bool ok_ = false;
};

TEST_F(WatchedFileTest, AReadOnlyEpisodeHealsWithoutARestart) {
  {
    Unwritable episode(db_);
    if (!episode.ok()) GTEST_SKIP() << "cannot make " << db_ << " unwritable here";
    // More readers at once than the pool keeps: the connections opened now
    // are read-only.
    std::vector<std::unique_ptr<IStorageSession>> readers;
    for (int i = 0; i < 12; ++i) {
      readers.push_back(storage_->OpenSession());
      readers.back()->Tally("77");
    }
  }
  // Every connection the pool hands out from now on writes.
  for (int i = 0; i < 12; ++i) {
    std::vector<std::unique_ptr<IStorageSession>> writers;
    for (int k = 0; k <= i % 9; ++k) writers.push_back(storage_->OpenSession());
    for (auto& s : writers) {
      Transaction tx(*s, true);
      s->BumpVersion("77", Change::Prices);
      tx.Commit();
    }
  }
  EXPECT_TRUE(EditPrice(12).AsArray()[0].AsBoolean());
}

}  // namespace
}  // namespace apura::server::testing
