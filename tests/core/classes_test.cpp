#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/core/Classes.h"

namespace {

std::vector<std::string> g_events;

class Recorder : public TComponent {
 public:
  Recorder(TComponent* owner, std::string name) : TComponent(owner) { SetName(std::move(name)); }
  ~Recorder() override { g_events.push_back("destroy " + Name()); }
  bool loading_seen_in_loaded = true;

 protected:
  void Loaded() override {
    loading_seen_in_loaded = IsLoading();
    g_events.push_back("loaded " + Name());
  }
};

class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override { g_events.clear(); }
};

TEST_F(ComponentTest, OwnerDestroysWhatItOwnsLastCreatedFirst) {
  auto* owner = new Recorder(nullptr, "owner");
  new Recorder(owner, "a");
  auto* b = new Recorder(owner, "b");
  new Recorder(b, "b1");
  new Recorder(owner, "c");
  EXPECT_EQ(owner->ComponentCount(), 3);
  delete owner;
  EXPECT_EQ(g_events,
            (std::vector<std::string>{"destroy owner", "destroy c", "destroy b", "destroy b1",
                                      "destroy a"}));
}

TEST_F(ComponentTest, DestroyingAnOwnedComponentTakesItOutOfItsOwner) {
  Recorder owner(nullptr, "owner");
  auto* a = new Recorder(&owner, "a");
  new Recorder(&owner, "b");
  delete a;
  ASSERT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0)->Name(), "b");
}

TEST_F(ComponentTest, EndOfLoadingReachesOwnerThenComponentsInOrderWithLoadingCleared) {
  Recorder owner(nullptr, "form");
  owner.BeginLoading();
  auto* a = new Recorder(&owner, "a");
  auto* b = new Recorder(&owner, "b");
  EXPECT_TRUE(a->IsLoading());
  EXPECT_TRUE(b->IsLoading());
  owner.EndLoading();
  EXPECT_EQ(g_events, (std::vector<std::string>{"loaded form", "loaded a", "loaded b"}));
  EXPECT_FALSE(a->loading_seen_in_loaded);
  EXPECT_FALSE(owner.IsLoading());
  g_events.clear();
}

class Item : public TCollectionItem {
 public:
  explicit Item(TCollection* collection) : TCollectionItem(collection) {}
  std::string value;
  void Assign(const TPersistent* source) override {
    if (const auto* other = dynamic_cast<const Item*>(source)) {
      value = other->value;
      return;
    }
    TCollectionItem::Assign(source);
  }
};

TCollection::ItemFactory ItemFactory() {
  return [](TCollection* c) { return new Item(c); };
}

TEST(CollectionTest, ItemsJoinAndLeaveTheirCollection) {
  TOwnedCollection items(nullptr, ItemFactory());
  auto* first = static_cast<Item*>(items.Add());
  auto* second = static_cast<Item*>(items.Add());
  EXPECT_EQ(items.Count(), 2);
  EXPECT_EQ(second->Index(), 1);
  EXPECT_NE(first->ID(), second->ID());
  delete first;
  EXPECT_EQ(items.Count(), 1);
  EXPECT_EQ(second->Index(), 0);
  Item loose(nullptr);
  EXPECT_EQ(loose.Index(), -1);
}

TEST(CollectionTest, AssignEmptiesAndRefillsWithCopies) {
  TOwnedCollection source(nullptr, ItemFactory());
  static_cast<Item*>(source.Add())->value = "x";
  static_cast<Item*>(source.Add())->value = "y";
  TOwnedCollection target(nullptr, ItemFactory());
  static_cast<Item*>(target.Add())->value = "old";
  target.Assign(&source);
  ASSERT_EQ(target.Count(), 2);
  EXPECT_EQ(static_cast<Item*>(target.Items(0))->value, "x");
  EXPECT_EQ(static_cast<Item*>(target.Items(1))->value, "y");
  EXPECT_NE(target.Items(0), source.Items(0));
}

TEST(CollectionTest, AssigningAnUnrelatedObjectIsAConversionError) {
  Item item(nullptr);
  TStringList list;
  try {
    item.Assign(&list);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TStringList to a Item");
  }
}

TEST(StreamTest, CopyFromWithCountZeroCopiesWholeSourceFromItsStart) {
  TMemoryStream source;
  source.WriteBuffer("hello", 5);
  EXPECT_EQ(source.Position(), 5);
  TStringStream target;
  EXPECT_EQ(target.CopyFrom(source, 0), 5);
  EXPECT_EQ(target.DataString(), "hello");
}

TEST(StreamTest, CopyFromAnEmptySourceCopiesNothing) {
  TMemoryStream empty;
  TStringStream target;
  EXPECT_EQ(target.CopyFrom(empty, empty.Size()), 0);
  EXPECT_EQ(target.DataString(), "");
}

TEST(StreamTest, CopyFromWithACountCopiesFromThePosition) {
  TStringStream source(std::string("abc\0def", 7));
  source.SetPosition(2);
  TMemoryStream target;
  target.CopyFrom(source, 4);
  EXPECT_EQ(std::string(target.Memory(), 4), std::string("c\0de", 4));
  EXPECT_THROW(target.CopyFrom(source, 5), EStreamError);  // only 1 byte left
}

TEST(StreamTest, MemoryStreamSizeAndPosition) {
  TMemoryStream stream;
  stream.SetSize(8192);
  EXPECT_EQ(stream.Size(), 8192);
  std::memset(stream.Memory(), 'x', 3);
  stream.SetSize(3);
  stream.SetPosition(0);
  char buffer[8] = {};
  EXPECT_EQ(stream.Read(buffer, 8), 3);
  EXPECT_STREQ(buffer, "xxx");
  stream.SetPosition(10);
  stream.WriteBuffer("y", 1);
  EXPECT_EQ(stream.Size(), 11);
}

TEST(StringListTest, IndexOutOfBoundsRaises) {
  TStringList list;
  list.Add("a");
  list.Insert(0, "b");
  EXPECT_EQ(list.Text(), "b\r\na\r\n");
  EXPECT_THROW(list.Strings(2), EStringListError);
  EXPECT_THROW(list.Delete(-1), EStringListError);
  list.Delete(0);
  EXPECT_EQ(list[0], "a");
}

TEST(SysUtilsTest, IntegerReadingFollowsTheRuntimeRules) {
  struct Case {
    const char* text;
    bool ok;
    std::int64_t value;
  } cases[] = {
      {"12", true, 12},       {"012", true, 12},      {"  7", true, 7},     {"7 ", false, 0},
      {"+5", true, 5},        {"-5", true, -5},       {"$7f", true, 127},   {"x10", true, 16},
      {"0X1F", true, 31},     {"-$10", true, -16},    {"", false, 0},       {"+", false, 0},
      {"$", false, 0},        {"0x", false, 0},       {"1a", false, 0},     {" ", false, 0},
      {"9223372036854775807", true, INT64_MAX},       {"9223372036854775808", false, 0},
      {"-9223372036854775808", true, INT64_MIN},
  };
  for (const Case& c : cases) {
    std::int64_t value = 0;
    EXPECT_EQ(TryReadInteger(c.text, value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(SysUtilsTest, ExceptionKnowsItsClassAndModule) {
  EAbort abort("quiet");
  EXPECT_EQ(abort.ClassName(), "EAbort");
  EXPECT_EQ(abort.Message(), "quiet");
  EXPECT_EQ(abort.ModuleName(), KV_TEST_EXECUTABLE_NAME);  // core_tests, or core_tests.exe
  EXPECT_GT(abort.RelativeAddress(), 0u);
}

TEST(SysUtilsTest, OSErrorMessage) {
  EXPECT_EQ(EOSError(0).Message(), "A call to an OS function failed");
  // The system's own text for "file not found", without its full stop.
  const std::string text = SystemErrorText(2);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '.');
  // Every letter of it arrives, also where the system's ANSI code page is not
  // 1251 (the Windows suite runs this once more with a Russian user interface
  // on code page 1252).
  EXPECT_EQ(text.find('?'), std::string::npos) << text;
  EXPECT_EQ(EOSError(2).Message(), "System Error.  Code: 2.\r\n" + text);
}

}  // namespace
