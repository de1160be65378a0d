// The pointer map, the rectangle list, the class list, the integer map and
// the published-property copier.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "raster_containers.h"
#include "raster_ordinalmaps.h"

namespace {

void* P(uintptr_t v) { return reinterpret_cast<void*>(v); }

TEST(PointerMap, AddExistsGetRemove) {
  TPointerMap m;
  int a = 1, b = 2;
  bool isNew = false;
  void** slot = m.Add(P(0x1000), &a, isNew);
  EXPECT_TRUE(isNew);
  EXPECT_EQ(*slot, &a);
  // A present key keeps its data and reports IsNew false.
  slot = m.Add(P(0x1000), &b, isNew);
  EXPECT_FALSE(isNew);
  EXPECT_EQ(*slot, &a);
  EXPECT_EQ(m.Count(), 1);
  *slot = &b;  // the returned address is the stored data
  EXPECT_EQ(m.GetData(P(0x1000)), &b);

  int32_t bi = -7, ii = -7;
  EXPECT_TRUE(m.Exists(P(0x1000), bi, ii));
  EXPECT_EQ(bi, 0x10);
  EXPECT_EQ(ii, 0);
  EXPECT_FALSE(m.Exists(P(0x2000)));
  EXPECT_EQ(m.Remove(P(0x2000)), nullptr);
  EXPECT_EQ(m.Remove(P(0x1000)), &b);
  EXPECT_EQ(m.Count(), 0);
  EXPECT_FALSE(m.Exists(P(0x1000)));
}

TEST(PointerMap, GetDataOfAbsentKeyNamesTheKey) {
  TPointerMap m;
  try {
    m.GetData(P(0x1234FF00));
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.ClassName(), "EListError");
    EXPECT_STREQ(e.what(), "Item not found ($01234FF00)");
  }
}

TEST(PointerMap, ManyKeysInOneBucketAndIterationOrder) {
  TPointerMap m;
  // 100 keys whose bits 8..15 are 255 share the last bucket; a few more in bucket 1.
  std::vector<uintptr_t> last, first;
  for (uintptr_t i = 1; i <= 100; ++i) last.push_back((i << 16) | 0xFF00 | i);
  for (uintptr_t i = 1; i <= 3; ++i) first.push_back((i << 16) | 0x0100);
  for (uintptr_t k : last) m.Add(P(k), P(k + 1));
  for (uintptr_t k : first) m.Add(P(k), P(k + 1));
  EXPECT_EQ(m.Count(), 103);
  for (uintptr_t k : last) ASSERT_EQ(m.GetData(P(k)), P(k + 1));

  // Buckets ascending, each bucket from its last item to its first.
  std::vector<uintptr_t> expected(first.rbegin(), first.rend());
  expected.insert(expected.end(), last.rbegin(), last.rend());
  std::vector<uintptr_t> seen;
  TPointerMapIterator it(m);
  while (it.Next()) {
    seen.push_back(reinterpret_cast<uintptr_t>(it.Key()));
    EXPECT_EQ(it.Data(), P(seen.back() + 1));
  }
  EXPECT_EQ(seen, expected);
  EXPECT_FALSE(it.Next());  // stays exhausted

  // Removing from the middle keeps the rest findable.
  EXPECT_EQ(m.Remove(P(last[50])), P(last[50] + 1));
  for (size_t i = 0; i < last.size(); ++i)
    if (i != 50) {
      ASSERT_EQ(m.GetData(P(last[i])), P(last[i] + 1));
    }
  m.Clear();
  EXPECT_EQ(m.Count(), 0);
  TPointerMapIterator empty(m);
  EXPECT_FALSE(empty.Next());
}

// A map that owns its data, as the micro-tile map does.
class TOwningMap : public TPointerMap {
 public:
  std::vector<void*>* Released;
  explicit TOwningMap(std::vector<void*>* R) : Released(R) {}
  ~TOwningMap() override { Clear(); }

  void* Delete(int32_t BucketIndex, int32_t ItemIndex) override {
    void* d = TPointerMap::Delete(BucketIndex, ItemIndex);
    Released->push_back(d);
    return d;
  }
};

TEST(PointerMap, SubclassSeesEveryDeletion) {
  std::vector<void*> released;
  {
    TOwningMap m(&released);
    m.Add(P(0x100), P(1));
    m.Add(P(0x200), P(2));
    m.Add(P(0x10100), P(3));
    EXPECT_EQ(m.Remove(P(0x200)), P(2));  // Remove goes through the virtual Delete
    EXPECT_EQ(released, (std::vector<void*>{P(2)}));
    EXPECT_EQ(m.Delete(1, 5), nullptr);   // out-of-range indices are refused
    EXPECT_EQ(m.Delete(300, 0), nullptr);
    EXPECT_EQ(m.Count(), 2);
  }
  // The destructor's Clear handed the remaining data over, last item of a bucket first.
  EXPECT_EQ(released, (std::vector<void*>{P(2), nullptr, nullptr, P(3), P(1)}));
}

TEST(RectList, GrowthSequence) {
  TRectList l;
  std::vector<int32_t> capacities{l.Capacity()};
  for (int i = 0; i < 150; ++i) {
    l.Add(MakeRect(i, 0, i + 1, 1));
    if (l.Capacity() != capacities.back()) capacities.push_back(l.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{0, 8, 16, 48, 80, 112, 144, 180}));
  EXPECT_EQ(l.Count(), 150);
  for (int i = 0; i < 150; ++i) ASSERT_EQ(*l.GetItem(i), MakeRect(i, 0, i + 1, 1));
}

TEST(RectList, DeleteSetCountAndClear) {
  TRectList l;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(l.Add(MakeRect(i, i, i, i)), i);
  l.Delete(1);
  EXPECT_EQ(l.Count(), 4);
  EXPECT_EQ(*l.GetItem(1), MakeRect(2, 2, 2, 2));
  EXPECT_EQ(*l.GetItem(3), MakeRect(4, 4, 4, 4));
  EXPECT_EQ(l.GetItem(4), nullptr);
  EXPECT_EQ(l.GetItem(-1), nullptr);
  EXPECT_THROW(l.Delete(4), EListError);
  EXPECT_THROW(l.Delete(-1), EListError);
  EXPECT_EQ(l.Count(), 4);

  l.SetCount(20);  // grows the capacity; new rectangles are zeroed
  EXPECT_EQ(l.Count(), 20);
  EXPECT_GE(l.Capacity(), 20);
  EXPECT_EQ(*l.GetItem(19), TRect{});
  EXPECT_EQ(*l.GetItem(0), MakeRect(0, 0, 0, 0));
  l.SetCount(2);
  EXPECT_EQ(l.Count(), 2);
  EXPECT_EQ(*l.GetItem(1), MakeRect(2, 2, 2, 2));
  l.SetCapacity(0);  // never below Count
  EXPECT_EQ(l.Capacity(), 2);
  int n = 0;
  for (const TRect& r : l) n += r.Left;
  EXPECT_EQ(n, 2);
  l.Clear();
  EXPECT_EQ(l.Count(), 0);
  EXPECT_EQ(l.Capacity(), 10);
}

class TAlpha : public TPersistent {
  VEMRA_CLASS(TAlpha, TPersistent)
};
class TBeta : public TAlpha {
  VEMRA_CLASS(TBeta, TAlpha)
};

TEST(ClassList, FindsExactNames) {
  TClassList l;
  EXPECT_EQ(l.Add(TAlpha::StaticClass()), 0);
  EXPECT_EQ(l.Add(TBeta::StaticClass()), 1);
  EXPECT_EQ(l.Find("TBeta"), TBeta::StaticClass());
  EXPECT_EQ(l.Find("TAlpha"), TAlpha::StaticClass());
  EXPECT_EQ(l.Find("tbeta"), nullptr);
  EXPECT_EQ(l.Find("TGamma"), nullptr);
  EXPECT_EQ(l.IndexOf(TBeta::StaticClass()), 1);
  l.Remove(TAlpha::StaticClass());
  EXPECT_EQ(l.Count(), 1);
  EXPECT_EQ(l[0], TBeta::StaticClass());
  EXPECT_TRUE(TBeta::StaticClass()->InheritsFrom(TAlpha::StaticClass()));
  EXPECT_FALSE(TAlpha::StaticClass()->InheritsFrom(TBeta::StaticClass()));
}

TEST(IntegerMap, ResizeKeepsLinearPositions) {
  TIntegerMap m;
  EXPECT_TRUE(m.Empty());
  m.SetSize(3, 2);
  EXPECT_FALSE(m.Empty());
  for (int i = 0; i < 6; ++i) m.Bits()[i] = i + 1;
  EXPECT_EQ(m.Value(2, 1), 6);
  EXPECT_EQ(m.ValPtr(1, 1), m.Bits() + 4);
  m.SetSize(4, 2);  // linear positions kept, new elements zero
  EXPECT_EQ(std::vector<int32_t>(m.Bits(), m.Bits() + 8), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 0, 0}));
  EXPECT_EQ(m.Value(0, 1), 5);
  int changes = 0;
  m.OnChange = [&](void*) { ++changes; };
  m.Clear(-3);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(m.Value(3, 1), -3);
  TIntegerMap copy;
  copy.Assign(&m);
  EXPECT_EQ(copy.Width(), 4);
  EXPECT_EQ(copy.Value(2, 0), -3);
  m.Delete();
  EXPECT_TRUE(m.Empty());
  EXPECT_EQ(m.ClassName(), "TIntegerMap");
}

// ---- Published-property copier -----------------------------------------------------

enum TMode : uint8_t { mdOne, mdTwo, mdThree };

class TSubject : public TPersistent {
  VEMRA_CLASS(TSubject, TPersistent)
 public:
  int32_t Payload = 0;
  int AssignCalls = 0;
  void Assign(const TPersistent* Source) override {
    if (auto* s = dynamic_cast<const TSubject*>(Source)) {
      Payload = s->Payload;
      ++AssignCalls;
      return;
    }
    TPersistent::Assign(Source);
  }
};

class TShape : public TPersistent {
  VEMRA_CLASS(TShape, TPersistent)
 public:
  float Width() const { return width_; }
  void SetWidth(float V) { width_ = V; }
  int32_t Count() const { return count_; }
  void SetCount(int32_t V) { count_ = V; }
  TMode Mode() const { return mode_; }
  void SetMode(TMode V) { mode_ = V; }
  std::string Caption() const { return caption_; }
  void SetCaption(const std::string& V) { caption_ = V; }
  TSubject* Subject() const { return subject_; }
  int32_t Serial() const { return serial_; }
  TNotifyEvent OnShapeChange;

  TSubject* subject_ = nullptr;
  int32_t serial_ = 0;

  void GetPublishedProperties(TPropList& L) const override {
    TPersistent::GetPublishedProperties(L);
    L.push_back(PublishedProperty("Width", &TShape::Width, &TShape::SetWidth));
    L.push_back(PublishedProperty("Count", &TShape::Count, &TShape::SetCount));
    L.push_back(PublishedProperty("Mode", &TShape::Mode, &TShape::SetMode));
    L.push_back(PublishedProperty("Caption", &TShape::Caption, &TShape::SetCaption));
    L.push_back(PublishedProperty("Subject", &TShape::Subject));
    L.push_back(PublishedProperty("Serial", &TShape::Serial));  // read-only
    L.push_back(PublishedField("OnShapeChange", &TShape::OnShapeChange));
  }

 private:
  float width_ = 0;
  int32_t count_ = 0;
  TMode mode_ = mdOne;
  std::string caption_;
};

// Publishes only Width, and as an integer.
class TNarrow : public TPersistent {
  VEMRA_CLASS(TNarrow, TPersistent)
 public:
  int32_t Width() const { return width_; }
  void SetWidth(int32_t V) { width_ = V; }
  int32_t width_ = -1;
  void GetPublishedProperties(TPropList& L) const override {
    L.push_back(PublishedProperty("Width", &TNarrow::Width, &TNarrow::SetWidth));
  }
};

TEST(CopyPublishedProperties, CopiesPlainPropertiesAndAssignsObjects) {
  TSubject s1, s2;
  s1.Payload = 42;
  TShape src, dst;
  src.SetWidth(2.5f);
  src.SetCount(-7);
  src.SetMode(mdThree);
  src.SetCaption("edge");
  src.subject_ = &s1;
  src.serial_ = 9;
  int fired = 0;
  src.OnShapeChange = [&](void*) { ++fired; };
  dst.subject_ = &s2;

  const TPropList props = src.PublishedProperties();
  ASSERT_EQ(props.size(), 7u);
  EXPECT_EQ(props[0].Kind, tkFloat);
  EXPECT_EQ(props[1].Kind, tkInteger);
  EXPECT_EQ(props[2].Kind, tkEnumeration);
  EXPECT_EQ(props[3].Kind, tkString);
  EXPECT_EQ(props[4].Kind, tkClass);
  EXPECT_EQ(props[6].Kind, tkMethod);

  CopyPublishedProperties(&src, &dst, tkProperties);
  EXPECT_EQ(dst.Width(), 2.5f);
  EXPECT_EQ(dst.Count(), -7);
  EXPECT_EQ(dst.Mode(), mdThree);
  EXPECT_EQ(dst.Caption(), "edge");
  EXPECT_EQ(dst.Subject(), &s2);  // the object is assigned into, not replaced
  EXPECT_EQ(s2.Payload, 42);
  EXPECT_EQ(s2.AssignCalls, 1);
  EXPECT_EQ(dst.Serial(), 0);      // read-only: skipped
  EXPECT_FALSE(dst.OnShapeChange);  // events are not plain properties

  CopyPublishedProperties(&src, &dst, tkAny);
  ASSERT_TRUE(dst.OnShapeChange);
  dst.OnShapeChange(&dst);
  EXPECT_EQ(fired, 1);
}

TEST(CopyPublishedProperties, FiltersKindsAndSkipsWhatTheTargetLacks) {
  TShape src, dst;
  src.SetWidth(3.75f);
  src.SetCount(5);
  CopyPublishedProperties(&src, &dst, TypeKindBit(tkInteger));
  EXPECT_EQ(dst.Count(), 5);
  EXPECT_EQ(dst.Width(), 0.0f);

  // A missing object on either side skips the object property.
  TSubject s;
  src.subject_ = &s;
  dst.subject_ = nullptr;
  CopyPublishedProperties(&src, &dst, tkAny);
  EXPECT_EQ(dst.Subject(), nullptr);

  // A target that publishes fewer properties, of another type, takes what it can.
  TNarrow narrow;
  CopyPublishedProperties(&src, &narrow, tkProperties);
  EXPECT_EQ(narrow.Width(), -1);  // a float does not silently become an integer here
  TNarrow from;
  from.SetWidth(12);
  CopyPublishedProperties(&from, &dst, tkProperties);
  EXPECT_EQ(dst.Width(), 12.0f);  // integer to float widens
  CopyPublishedProperties(nullptr, &dst, tkAny);
}

}  // namespace
