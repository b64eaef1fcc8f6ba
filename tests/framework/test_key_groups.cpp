// Rows found by key, and record filters that ask about their key's rows only:
// both must give exactly what a walk over every row gives, also after the
// rows change under them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/dataset/dataset.h"

using namespace apura;

namespace {

struct Deliveries : TClientDataSet {
  Deliveries() : TClientDataSet("cdsD") {
    AddStringField("PROD", 10);
    AddStringField("BRANCH", 4);
    AddStringField("SEL", 1);
    AddFloatField("QT");
  }
  // PROD, BRANCH (null when empty), SEL, QT.
  void Load(const std::vector<std::tuple<std::string, std::string, std::string, double>>& rows) {
    PacketBuilder b(FieldDefs());
    for (auto& [prod, branch, sel, qt] : rows)
      b.Add({Value(prod), branch.empty() ? Value() : Value(branch), Value(sel), Value(qt)});
    SetData(b.Build());
  }
  std::vector<double> Visible() {
    std::vector<double> out;
    for (First(); !Eof(); Next()) out.push_back(FieldByName("QT").AsFloat());
    return out;
  }
};

std::vector<int64_t> Bookmarks(std::initializer_list<int64_t> b) {
  return b;
}

}  // namespace

TEST(KeyGroups, RowsWithKeyFollowWritesInsertsDeletesAndLoads) {
  Deliveries t;
  t.Load({{"P1", "B1", "S", 1}, {"P2", "B1", "N", 2}, {"P1", "B2", "S", 3}, {"P1", "B1", "N", 4}});
  EXPECT_EQ(t.RowsWithKey("PROD;BRANCH", {"P1", "B1"}), Bookmarks({0, 3}));
  EXPECT_EQ(t.RowsWithKey("prod", {"P1"}), Bookmarks({0, 2, 3}));  // names as FieldByName
  EXPECT_TRUE(t.RowsWithKey("PROD", {"P9"}).empty());
  EXPECT_THROW(t.RowsWithKey("QT", {"1"}), EDatabaseError);
  EXPECT_THROW(t.RowsWithKey("PROD;BRANCH", {"P1"}), EDatabaseError);

  // A row moved to another key leaves its old group; a write elsewhere keeps
  // the groups.
  t.SetRecNo(4);
  t.Edit();
  t.FieldByName("PROD").SetAsString("P2");
  t.Post();
  EXPECT_EQ(t.RowsWithKey("PROD;BRANCH", {"P1", "B1"}), Bookmarks({0}));
  EXPECT_EQ(t.RowsWithKey("PROD;BRANCH", {"P2", "B1"}), Bookmarks({1, 3}));

  t.Append();
  t.FieldByName("PROD").SetAsString("P1");
  t.FieldByName("BRANCH").SetAsString("B1");
  t.Post();
  EXPECT_EQ(t.RowsWithKey("PROD;BRANCH", {"P1", "B1"}), Bookmarks({0, 4}));

  t.First();
  t.Delete();
  EXPECT_EQ(t.RowsWithKey("PROD;BRANCH", {"P1", "B1"}), Bookmarks({4}));

  t.Load({{"P1", "B1", "S", 5}});
  EXPECT_EQ(t.RowsWithKey("PROD;BRANCH", {"P1", "B1"}), Bookmarks({0}));
}

TEST(KeyGroups, NullAndEmptyTextAreOneKeyAsAsStringReadsThem) {
  Deliveries t;
  t.Load({{"P1", "", "S", 1}, {"P1", "B1", "S", 2}});
  t.Last();
  t.Edit();
  t.FieldByName("BRANCH").SetAsString("");
  t.Post();
  EXPECT_EQ(t.RowsWithKey("PROD;BRANCH", {"P1", ""}), Bookmarks({0, 1}));
}

TEST(KeyGroups, AKeyedRecordFilterShowsWhatTheUnkeyedOneShows) {
  Deliveries keyed, plain;
  const std::vector<std::tuple<std::string, std::string, std::string, double>> rows = {
      {"P1", "B1", "S", 1}, {"P2", "B1", "S", 2}, {"P1", "B1", "N", 3},
      {"P1", "B2", "S", 4}, {"P1", "B1", "S", 5}, {"P2", "B2", "S", 6}};
  std::string prod = "P1", branch = "B1";
  int asked = 0;
  for (Deliveries* t : {&keyed, &plain}) {
    t->Load(rows);
    t->OnFilterRecord = [&, t](TClientDataSet&, bool& accept) {
      ++asked;
      accept = t->FieldByName("SEL").AsString() == "S" &&
               t->FieldByName("PROD").AsString() == prod &&
               t->FieldByName("BRANCH").AsString() == branch;
    };
  }
  bool useKey = true;
  keyed.SetFilterKey("PROD;BRANCH", [&](std::vector<std::string>& k) {
    k = {prod, branch};
    return useKey;
  });
  for (Deliveries* t : {&keyed, &plain}) t->SetFiltered(true);
  EXPECT_EQ(keyed.Visible(), (std::vector<double>{1, 5}));
  EXPECT_EQ(plain.Visible(), keyed.Visible());

  // Only the key's rows are asked about.
  asked = 0;
  keyed.SetFiltered(false);
  keyed.SetFiltered(true);
  EXPECT_EQ(asked, 3);

  // An index orders the key's rows as it orders the whole table.
  for (Deliveries* t : {&keyed, &plain}) {
    t->AddIndex("ByQt", "QT", false, true);
    t->SetIndexName("ByQt");
  }
  EXPECT_EQ(keyed.Visible(), (std::vector<double>{5, 1}));
  EXPECT_EQ(plain.Visible(), keyed.Visible());

  // A row whose key is written into the master's key joins it.
  prod = "P2";
  branch = "B2";
  for (Deliveries* t : {&keyed, &plain}) {
    t->SetFiltered(false);
    t->SetIndexName("");
    t->SetRecNo(1);
    t->Edit();
    t->FieldByName("PROD").SetAsString("P2");
    t->FieldByName("BRANCH").SetAsString("B2");
    t->Post();
    t->SetFiltered(true);
  }
  EXPECT_EQ(keyed.Visible(), (std::vector<double>{1, 6}));
  EXPECT_EQ(plain.Visible(), keyed.Visible());

  // A key no row holds shows nothing; no key asks about every row.
  prod = "P9";
  keyed.SetFiltered(false);
  keyed.SetFiltered(true);
  EXPECT_TRUE(keyed.Visible().empty());
  useKey = false;
  asked = 0;
  keyed.SetFiltered(false);
  keyed.SetFiltered(true);
  EXPECT_EQ(asked, 6);
}

TEST(KeyGroups, RowsDataCarriesTheRowsGivenWithTheirOwnTextsOnly) {
  Deliveries t;
  t.Load({{"P1", "B1", "S", 1}, {"P2", "", "N", 2}, {"P3", "B3", "S", 3}});
  t.SetRecNo(2);
  t.Edit();
  t.FieldByName("QT").Clear();
  t.Post();
  const DataPacket p = t.RowsData({2, 1});
  ASSERT_EQ(p.RowCount(), 2u);
  EXPECT_EQ(p.Text(0, 0), "P3");
  EXPECT_EQ(p.Text(0, 1), "P2");
  EXPECT_TRUE(p.IsNull(1, 1));
  EXPECT_TRUE(p.IsNull(3, 1));
  EXPECT_EQ(p.Number(3, 0), 3);
  EXPECT_EQ(p.column(0).DictSize(), 2u);  // not P1
  EXPECT_TRUE(p.status().empty());
  EXPECT_THROW(t.RowsData({3}), EDatabaseError);
  EXPECT_EQ(t.RowsData({}).RowCount(), 0u);
}

TEST(KeyGroups, APeekAtABookmarkReadsHiddenRowsAndTheEditBufferOfTheEditedRow) {
  Deliveries t;
  t.Load({{"P1", "B1", "S", 1}, {"P2", "B1", "N", 2}});
  t.SetFilter("[SEL] = 'S'");
  t.SetFiltered(true);
  const TField& qt = t.FieldByName("QT");
  {
    TClientDataSet::RowPeek peek(t, TClientDataSet::RowPeek::AtBookmark{1});
    EXPECT_TRUE(peek.valid());
    EXPECT_EQ(qt.AsFloat(), 2);
  }
  t.Edit();
  t.FieldByName("QT").SetAsFloat(9);
  {
    TClientDataSet::RowPeek peek(t, TClientDataSet::RowPeek::AtBookmark{0});
    EXPECT_EQ(qt.AsFloat(), 9);
  }
  t.Cancel();
  t.Delete();
  TClientDataSet::RowPeek gone(t, TClientDataSet::RowPeek::AtBookmark{0});
  EXPECT_FALSE(gone.valid());
  TClientDataSet::RowPeek none(t, TClientDataSet::RowPeek::AtBookmark{7});
  EXPECT_FALSE(none.valid());
}

TEST(KeyGroups, KeysTooWideToPackStillFindTheirRows) {
  // Four fields of 70,000 distinct texts each: their codes do not fit one
  // 64-bit number together.
  TClientDataSet t("cdsWide");
  for (const char* f : {"A", "B", "C", "D"}) t.AddStringField(f, 8);
  PacketBuilder b(t.FieldDefs());
  constexpr int kRows = 70000;
  for (int r = 0; r < kRows; ++r) {
    const std::string s = std::to_string(r);
    b.Add({Value("a" + s), Value("b" + s), Value("c" + s), Value("d" + s)});
  }
  t.SetData(b.Build());
  EXPECT_EQ(t.RowsWithKey("A;B;C;D", {"a69999", "b69999", "c69999", "d69999"}), Bookmarks({69999}));
  EXPECT_TRUE(t.RowsWithKey("A;B;C;D", {"a1", "b2", "c1", "d1"}).empty());
  EXPECT_EQ(t.RowsWithKey("B;A", {"b7", "a7"}), Bookmarks({7}));
}
