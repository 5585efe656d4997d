// Paged fixed-size record allocator and the transaction pool.
//
// A TMemoManager carves records of one size from pages taken from the run's
// private heap (GlobalHeap), one heap request per page, and keeps the records
// given back on a stack of pointers (dead pages) for last-in-first-out reuse.
// Add and Delete are constant time: they touch only the newest live page and
// the top dead page. Pages go back to the heap only when the manager dies.
// A manager made with a free list (the fast engine's pools) keeps the
// records given back on a list threaded through the records themselves
// instead (a pointer at FLinkOffset of each), which costs a load and a store
// per Add and Delete and no dead pages.
#pragma once

#include <cstdint>
#include <climits>
#include <memory>
#include <vector>

#include "quorin/detail/heap.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace quorin {

extern THeap GlobalHeap;   // the run's private heap, made and destroyed by the model
extern int32_t CountPages; // heap requests made by page construction (never decreases)

// One page: a block of FPageSize bytes cut into FCapacity slots of FItemSize.
class TMemoPage {
public:
  virtual ~TMemoPage();
  bool isFull() const { return FCount >= FCapacity; }
  bool HasMemory() const { return FMemory != nullptr; }
  uint16_t Count() const { return FCount; }
  uint16_t Capacity() const { return FCapacity; }

protected:
  TMemoPage() = default;
  // Requests the block from GlobalHeap; reports and stops the run on failure.
  void RequestBlock(uint16_t PageSize);

  void* FMemory = nullptr;
  uint16_t FCount = 0;
  uint16_t FCapacity = 0;
  uint16_t FItemSize = 0;
  uint16_t FPageSize = 0;
};

// Hands out its slots in ascending address order, each once.
class TLivePage : public TMemoPage {
public:
  TLivePage(uint16_t PageSize, uint16_t ItemSize);
  void* Add() {
    if (FCount >= FCapacity) return nullptr;
    return static_cast<char*>(FMemory) + std::size_t(FCount++) * FItemSize;
  }
  // The slot handed out Index-th.
  void* Item(uint16_t Index) const {
    return static_cast<char*>(FMemory) + std::size_t(Index) * FItemSize;
  }
};

// A stack of record pointers; one slot is one pointer.
class TDeadPage : public TMemoPage {
public:
  explicit TDeadPage(uint16_t PageSize);
  bool Add(void* Item) {
    if (FCount >= FCapacity) return false;
    static_cast<void**>(FMemory)[FCount++] = Item;
    return true;
  }
  void* TakeLast() {
    if (FCount == 0) return nullptr;
    return static_cast<void**>(FMemory)[--FCount];
  }
  bool IsEmpty() const { return FCount == 0; }
  void* Item(uint16_t Index) const { return static_cast<void* const*>(FMemory)[Index]; }
};

class TMemoManager {
public:
  // A record size of 0 is taken as 1, so every record still has its own
  // address. FreeList chooses the free list for the records given back; a
  // record too small for a link keeps to the dead pages all the same.
  TMemoManager(uint16_t PageSize, uint16_t ItemSize, bool FreeList = false);
  virtual ~TMemoManager();
  TMemoManager(const TMemoManager&) = delete;
  TMemoManager& operator=(const TMemoManager&) = delete;

  // One record of FItemSize bytes, uninitialised, or nullptr when no page
  // could be had (the failure has been reported).
  virtual void* Add() {
    bool Fresh;
    return Take(Fresh);
  }
  // Gives a record back; it is handed out again by a later Add.
  void Delete(void* Item) {
    if (FFreeList) {
      Link(Item) = FFree;
      FFree = Item;
      Poison(Item);
      return;
    }
    // The top dead page, or dead page 0 when every dead page has drained
    // (the steady state of a run that frees a record and soon takes it back).
    TDeadPage* Top = FDeadTop > 0         ? FDeadPages[std::size_t(FDeadTop - 1)].get()
                     : FDeadPages.empty() ? nullptr
                                          : FDeadPages[0].get();
    if (Top && Top->Add(Item)) {
      if (FDeadTop == 0) FDeadTop = 1;
      Poison(Item);
      return;
    }
    PushSlow(Item);
  }

  bool isDeadExist() const { return FDeadTop > 0 || FFree; }
  // Calls Visit with every record now waiting on the dead stack, for checks.
  template <class F> void ForEachDead(F&& Visit) const {
    // Bounded by the records carved: a record given back twice links the
    // list into a loop, which is walked round once only.
    int32_t Left = FItemCount;
    for (void* Item = FFree; Item && Left-- > 0;) {
      Unpoison(Item);
      void* Next = Link(Item);
      Poison(Item);
      Visit(Item);
      Item = Next;
    }
    for (int32_t P = 0; P < FDeadTop; ++P) {
      const TDeadPage& Page = *FDeadPages[std::size_t(P)];
      for (uint16_t i = 0; i < Page.Count(); ++i)
        Visit(Page.Item(i));
    }
  }
  // Calls Visit with every record ever carved from the live pages, in
  // order, whether in use or given back (made accessible again first); for
  // the owner of the records to end their lives before the pages go.
  template <class F> void ForEachCarved(F&& Visit) {
    for (auto& Page : FLivePages)
      for (uint16_t i = 0; i < Page->Count(); ++i) {
        void* Item = Page->Item(i);
        Unpoison(Item);
        Visit(Item);
      }
  }
  int32_t TotalMemoSize() const { return Bytes(FLivePages.size() + FDeadPages.size()); }
  // Bytes in 32 bits: a large heap's pool may hold more, so they saturate.
  int32_t LiveMemoSize() const { return Bytes(FLivePages.size()); }
  int32_t DeadMemoSize() const { return Bytes(FDeadPages.size()); }
  int32_t TotalItemCount() const { return FItemCount; }
  uint16_t ItemSize() const { return FItemSize; }
  uint16_t PageSize() const { return FPageSize; }

protected:
  // Shared by Add and TTransManager::Add; Fresh tells whether it was carved.
  // Freed records are reused first, except before the first live page exists.
  void* Take(bool& Fresh) {
    if (FFree) {
      void* Item = FFree;
      Unpoison(Item);
      FFree = Link(Item);
      Link(Item) = nullptr;
      Fresh = false;
      return Item;
    }
    if (FDeadTop > 0 && !FLivePages.empty()) {
      TDeadPage& Top = *FDeadPages[std::size_t(FDeadTop - 1)];
      void* Item = Top.TakeLast();
      if (Top.IsEmpty()) --FDeadTop;
      Unpoison(Item);
      Fresh = false;
      return Item;
    }
    Fresh = true;
    return Carve();
  }
  // In the sanitizer build a record on the dead stack is poisoned, so a use
  // of a transaction after it went back to the pool is caught, not hidden.
  void Poison([[maybe_unused]] void* Item) const {
#if defined(__SANITIZE_ADDRESS__)
    if (Item) ASAN_POISON_MEMORY_REGION(Item, FItemSize);
#endif
  }
  void Unpoison([[maybe_unused]] void* Item) const {
#if defined(__SANITIZE_ADDRESS__)
    if (Item) ASAN_UNPOISON_MEMORY_REGION(Item, FItemSize);
#endif
  }

  std::vector<std::unique_ptr<TLivePage>> FLivePages;
  std::vector<std::unique_ptr<TDeadPage>> FDeadPages;
  uint16_t FPageSize;
  uint16_t FItemSize;
  int32_t FItemCount = 0;
  int32_t FDeadTop = 0;
  // The free list: whether it is used, its first record,
  // and where in a record the link to the next one is kept.
  bool FFreeList = false;
  void* FFree = nullptr;
  uint16_t FLinkOffset = 0;

private:
  void*& Link(void* Item) const {
    return *reinterpret_cast<void**>(static_cast<char*>(Item) + FLinkOffset);
  }
  int32_t Bytes(std::size_t Pages) const {
    const std::size_t B = std::size_t(FPageSize) * Pages;
    return B > std::size_t(INT32_MAX) ? INT32_MAX : int32_t(B);
  }
  void* Carve();
  void PushSlow(void* Item);
};

// The transaction pool: a TMemoManager whose Add also tells, in NewItem(),
// whether the record it handed out was carved fresh or reused.
class TTransManager : public TMemoManager {
public:
  TTransManager(uint16_t PageSize, uint16_t ItemSize, bool FreeList = false);
  void* Add() override;
  bool NewItem() const { return FNewItem; }

private:
  bool FNewItem = true;
};

extern TTransManager* TransManager; // the run's transactions, made and dropped by the model

} // namespace quorin
