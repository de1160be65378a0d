#pragma once
// Containers of the raster engine: a pointer map hashed by address with an
// iterator, a growable rectangle list, a class list searched by name, and the
// copier of published properties.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "raster_core.h"

struct TPointerBucketItem {
  void* Key = nullptr;
  void* Data = nullptr;
};
using TPointerBucketItemArray = std::vector<TPointerBucketItem>;
// Items.size() is the bucket's capacity; the first Count entries are used.
struct TPointerBucket {
  int32_t Count = 0;
  TPointerBucketItemArray Items;
};

// Maps pointers to pointers in 256 buckets chosen by bits 8..15 of the key,
// which spreads heap addresses of objects well.
class TPointerMap {
 public:
  TPointerMap() = default;
  // A subclass that releases its data in Delete must call Clear in its own
  // destructor: by the time this one runs, the override is gone.
  virtual ~TPointerMap();
  TPointerMap(const TPointerMap&) = delete;
  TPointerMap& operator=(const TPointerMap&) = delete;

  // Adds (Key, Data) unless Key is present; returns the address of the stored
  // Data (the existing one for a present key, whose Data is left unchanged).
  void** Add(void* Key, void* Data);
  void** Add(void* Key, void* Data, bool& IsNew);
  bool Exists(void* Key, int32_t& BucketIndex, int32_t& ItemIndex) const;
  bool Exists(void* Key) const;
  // The data of Key; EListError "Item not found ($0<key in upper-case hex>)" when absent.
  void* GetData(void* Key) const;
  // Removes Key and returns its data, or null when absent.
  void* Remove(void* Key);
  // Count := 0, then every item is handed to Delete (last to first in each
  // bucket, so a subclass can release the data), then the buckets are emptied.
  void Clear();
  int32_t Count() const { return FCount; }
  static int32_t BucketOf(const void* Key);

 protected:
  // Removes one item and returns its data; while Count is 0 (inside Clear)
  // it only returns the data. Out-of-range indices return null.
  virtual void* Delete(int32_t BucketIndex, int32_t ItemIndex);

 private:
  friend class TPointerMapIterator;
  std::array<TPointerBucket, 256> FBuckets;
  int32_t FCount = 0;
};

// Visits every item of a map once: buckets in ascending order, the items of
// a bucket from the last to the first. The map must not change meanwhile.
class TPointerMapIterator {
 public:
  explicit TPointerMapIterator(const TPointerMap& Map) : map_(Map) {}
  // Moves to the next item; false when none is left.
  bool Next();
  void* Key() const { return key_; }
  void* Data() const { return data_; }

 private:
  const TPointerMap& map_;
  void* key_ = nullptr;
  void* data_ = nullptr;
  int32_t bucketIndex_ = -1;
  int32_t itemIndex_ = -1;
};

// A growable list of integer rectangles (the paint box's invalid areas).
class TRectList {
 public:
  TRectList() = default;
  virtual ~TRectList();
  TRectList(const TRectList&) = delete;
  TRectList& operator=(const TRectList&) = delete;

  // Appends R and returns its index.
  int32_t Add(const TRect& R);
  // Removes the rectangle at Index; EListError for an index out of range.
  void Delete(int32_t Index);
  // The rectangle at Index, or null when Index is out of range.
  TRect* GetItem(int32_t Index);
  const TRect* GetItem(int32_t Index) const;
  int32_t Count() const { return FCount; }
  int32_t Capacity() const { return static_cast<int32_t>(FList.size()); }
  // Reallocates to N rectangles (never below Count; negative counts as 0).
  void SetCapacity(int32_t N);
  // Grows the capacity as needed (new rectangles are zeroed) or drops the
  // rectangles from N on.
  void SetCount(int32_t N);
  // Empties the list and leaves room for 10.
  virtual void Clear();
  const TRect* begin() const { return FList.data(); }
  const TRect* end() const { return FList.data() + FCount; }

 protected:
  // Capacity += Capacity div 4 above 128, += 32 above 8, else += 8.
  virtual void Grow();

 private:
  std::vector<TRect> FList;  // size() is the capacity
  int32_t FCount = 0;
};

// A list of class references.
class TClassList {
 public:
  int32_t Add(TClass Class);
  // The first class whose name equals ClassName exactly (case-sensitive), or null.
  TClass Find(const std::string& ClassName) const;
  int32_t IndexOf(TClass Class) const;
  void Remove(TClass Class);
  void Clear() { FList.clear(); }
  int32_t Count() const { return static_cast<int32_t>(FList.size()); }
  TClass operator[](int32_t Index) const { return FList.at(static_cast<size_t>(Index)); }
  auto begin() const { return FList.begin(); }
  auto end() const { return FList.end(); }

 private:
  std::vector<TClass> FList;
};

// For every published property of Src whose kind is in Kinds and that Dst
// publishes under the same name: an object property is copied with
// Dst's object .Assign(Src's object) when both objects exist; any other
// property by reading it from Src and writing it to Dst. Properties Dst lacks,
// or cannot write, are skipped.
void CopyPublishedProperties(const TObject* Src, TObject* Dst, TTypeKinds Kinds = tkProperties);
