// The pointer map and its iterator, the rectangle list, the class list and
// the copier of published properties.
#include "raster_containers.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

// ---- TPointerMap ---------------------------------------------------------------

TPointerMap::~TPointerMap() { Clear(); }

int32_t TPointerMap::BucketOf(const void* Key) {
  return static_cast<int32_t>((reinterpret_cast<uintptr_t>(Key) >> 8) & 0xFF);
}

void** TPointerMap::Add(void* Key, void* Data) {
  bool isNew;
  return Add(Key, Data, isNew);
}

void** TPointerMap::Add(void* Key, void* Data, bool& IsNew) {
  int32_t bi, ii;
  IsNew = !Exists(Key, bi, ii);
  if (!IsNew) return &FBuckets[bi].Items[ii].Data;
  TPointerBucket& b = FBuckets[BucketOf(Key)];
  const int32_t capacity = static_cast<int32_t>(b.Items.size());
  if (b.Count == capacity) {
    const int32_t delta = capacity > 64 ? capacity / 4 : (capacity > 8 ? 16 : 4);
    b.Items.resize(static_cast<size_t>(capacity) + delta);
  }
  b.Items[b.Count] = TPointerBucketItem{Key, Data};
  void** result = &b.Items[b.Count].Data;
  ++b.Count;
  ++FCount;
  return result;
}

bool TPointerMap::Exists(void* Key, int32_t& BucketIndex, int32_t& ItemIndex) const {
  BucketIndex = BucketOf(Key);
  const TPointerBucket& b = FBuckets[BucketIndex];
  for (int32_t i = 0; i < b.Count; ++i)
    if (b.Items[i].Key == Key) {
      ItemIndex = i;
      return true;
    }
  ItemIndex = -1;
  return false;
}

bool TPointerMap::Exists(void* Key) const {
  int32_t bi, ii;
  return Exists(Key, bi, ii);
}

void* TPointerMap::GetData(void* Key) const {
  int32_t bi, ii;
  if (!Exists(Key, bi, ii)) {
    char text[64];
    std::snprintf(text, sizeof text, "Item not found ($0%" PRIXPTR ")", reinterpret_cast<uintptr_t>(Key));
    throw EListError(text);
  }
  return FBuckets[bi].Items[ii].Data;
}

void* TPointerMap::Remove(void* Key) {
  int32_t bi, ii;
  if (!Exists(Key, bi, ii)) return nullptr;
  return Delete(bi, ii);
}

void* TPointerMap::Delete(int32_t BucketIndex, int32_t ItemIndex) {
  if (BucketIndex < 0 || BucketIndex > 255) return nullptr;
  TPointerBucket& b = FBuckets[BucketIndex];
  if (ItemIndex < 0 || ItemIndex >= b.Count) return nullptr;
  void* data = b.Items[ItemIndex].Data;
  if (FCount == 0) return data;
  if (b.Count == 1) {
    TPointerBucketItemArray().swap(b.Items);
  } else {
    std::copy(b.Items.begin() + ItemIndex + 1, b.Items.begin() + b.Count, b.Items.begin() + ItemIndex);
  }
  --b.Count;
  --FCount;
  return data;
}

void TPointerMap::Clear() {
  FCount = 0;
  for (int32_t bi = 0; bi < 256; ++bi) {
    for (int32_t ii = FBuckets[bi].Count - 1; ii >= 0; --ii) Delete(bi, ii);
    FBuckets[bi].Count = 0;
    TPointerBucketItemArray().swap(FBuckets[bi].Items);
  }
}

bool TPointerMapIterator::Next() {
  if (itemIndex_ > 0) {
    --itemIndex_;
  } else {
    itemIndex_ = -1;
    while (itemIndex_ < 0 && bucketIndex_ < 255) {
      ++bucketIndex_;
      itemIndex_ = map_.FBuckets[bucketIndex_].Count - 1;
    }
    if (itemIndex_ < 0) return false;
  }
  const TPointerBucketItem& item = map_.FBuckets[bucketIndex_].Items[itemIndex_];
  key_ = item.Key;
  data_ = item.Data;
  return true;
}

// ---- TRectList -------------------------------------------------------------------

TRectList::~TRectList() {
  SetCount(0);
  SetCapacity(0);
}

int32_t TRectList::Add(const TRect& R) {
  if (FCount == Capacity()) Grow();
  FList[FCount] = R;
  return FCount++;
}

void TRectList::Delete(int32_t Index) {
  if (Index < 0 || Index >= FCount) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  std::copy(FList.begin() + Index + 1, FList.begin() + FCount, FList.begin() + Index);
  --FCount;
}

TRect* TRectList::GetItem(int32_t Index) {
  return (Index < 0 || Index >= FCount) ? nullptr : &FList[Index];
}

const TRect* TRectList::GetItem(int32_t Index) const {
  return (Index < 0 || Index >= FCount) ? nullptr : &FList[Index];
}

void TRectList::Grow() {
  const int32_t c = Capacity();
  const int32_t delta = c > 128 ? c / 4 : (c > 8 ? 32 : 8);
  SetCapacity(c + delta);
}

void TRectList::SetCapacity(int32_t N) {
  // Never below Count: the rectangles in use stay valid.
  N = std::max(N, FCount);
  if (N == Capacity()) return;
  FList.resize(static_cast<size_t>(N));
  FList.shrink_to_fit();
}

void TRectList::SetCount(int32_t N) {
  if (N < 0) N = 0;
  if (N > Capacity()) SetCapacity(N);
  for (int32_t i = FCount; i < N; ++i) FList[i] = TRect{};
  FCount = N;
}

void TRectList::Clear() {
  SetCount(0);
  SetCapacity(10);
}

// ---- TClassList ------------------------------------------------------------------

int32_t TClassList::Add(TClass Class) {
  FList.push_back(Class);
  return Count() - 1;
}

TClass TClassList::Find(const std::string& ClassName) const {
  for (TClass c : FList)
    if (c != nullptr && ClassName == c->Name) return c;
  return nullptr;
}

int32_t TClassList::IndexOf(TClass Class) const {
  auto it = std::find(FList.begin(), FList.end(), Class);
  return it == FList.end() ? -1 : static_cast<int32_t>(it - FList.begin());
}

void TClassList::Remove(TClass Class) {
  auto it = std::find(FList.begin(), FList.end(), Class);
  if (it != FList.end()) FList.erase(it);
}

// ---- Property copier -------------------------------------------------------------

void CopyPublishedProperties(const TObject* Src, TObject* Dst, TTypeKinds Kinds) {
  if (Src == nullptr || Dst == nullptr) return;
  const TPropList srcProps = Src->PublishedProperties();
  const TPropList dstProps = Dst->PublishedProperties();
  for (const TPropInfo& sp : srcProps) {
    if ((Kinds & TypeKindBit(sp.Kind)) == 0 || !sp.Get) continue;
    auto dp = std::find_if(dstProps.begin(), dstProps.end(), [&](const TPropInfo& p) { return p.Name == sp.Name; });
    if (dp == dstProps.end()) continue;
    if (sp.Kind == tkClass) {
      if (dp->Kind != tkClass || !dp->Get) continue;
      const TPropValue sv = sp.Get(*Src);
      const TPropValue dv = dp->Get(*Dst);
      auto* so = std::get_if<TObject*>(&sv);
      auto* dobj = std::get_if<TObject*>(&dv);
      if (!so || !dobj || !*so || !*dobj) continue;
      auto* sPers = dynamic_cast<TPersistent*>(*so);
      auto* dPers = dynamic_cast<TPersistent*>(*dobj);
      if (sPers && dPers) dPers->Assign(sPers);
    } else if (dp->Set) {
      dp->Set(*Dst, sp.Get(*Src));
    }
  }
}
