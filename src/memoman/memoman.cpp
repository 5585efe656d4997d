#include "quorin/detail/memoman.h"

#include <cstddef>

#include "quorin/detail/run.h"

namespace quorin {

THeap GlobalHeap = nullptr;
int32_t CountPages = 0;
TTransManager* TransManager = nullptr;

namespace {

// The model shows one exhaustion once per run; without a model every
// refusal is shown.
void ReportAndStop(const char* Text) {
  const std::string Message = std::string(Text) + FormatFloat("0.000", ModelTime());
  if (GlobalModel) {
    GlobalModel->StopOnExhaustion(Message);
  } else {
    MessageDlg(Message);
  }
}

} // namespace

TMemoPage::~TMemoPage() {
  if (FMemory) HeapFree(GlobalHeap, 0, FMemory);
}

void TMemoPage::RequestBlock(uint16_t PageSize) {
  FMemory = HeapAlloc(GlobalHeap, HEAP_NO_SERIALIZE, PageSize);
  ++CountPages;
  if (!FMemory) {
    ReportAndStop("Quorin Error: Not enough memory in private heap at model time ");
    return;
  }
  FPageSize = PageSize;
  FCount = 0;
}

TLivePage::TLivePage(uint16_t PageSize, uint16_t ItemSize) {
  if (ItemSize > PageSize) {
    MessageDlg("Quorin Error: Too small PageSize");
  } else {
    RequestBlock(PageSize);
  }
  FCapacity = ItemSize > PageSize ? 0 : uint16_t(PageSize / ItemSize);
  FItemSize = ItemSize;
}

TDeadPage::TDeadPage(uint16_t PageSize) {
  if (PageSize < sizeof(void*)) {
    MessageDlg("Quorin Error: Too small PageSize");
    return;
  }
  RequestBlock(PageSize);
  FCapacity = uint16_t(PageSize / sizeof(void*));
  FItemSize = uint16_t(sizeof(void*));
}

TMemoManager::TMemoManager(uint16_t PageSize, uint16_t ItemSize, bool FreeList)
    : FPageSize(PageSize), FItemSize(ItemSize == 0 ? 1 : ItemSize),
      // A record too small for a link keeps to the dead pages.
      FFreeList(FreeList && FItemSize >= sizeof(void*)) {}

TMemoManager::~TMemoManager() {
  // Live pages first, then dead pages, each in creation order.
  FLivePages.clear();
  FDeadPages.clear();
}

void* TMemoManager::Carve() {
  if (FLivePages.empty() || FLivePages.back()->isFull()) {
    auto Page = std::make_unique<TLivePage>(FPageSize, FItemSize);
    if (!Page->HasMemory()) return nullptr;
    FLivePages.push_back(std::move(Page));
  }
  ++FItemCount;
  return FLivePages.back()->Add();
}

// Delete when the top dead page is full or no page holds a pointer: reuse a
// kept empty page, else make a new one.
void TMemoManager::PushSlow(void* Item) {
  if (std::size_t(FDeadTop) < FDeadPages.size()) {
    ++FDeadTop;
    FDeadPages[std::size_t(FDeadTop - 1)]->Add(Item);
    Poison(Item);
    return;
  }
  auto Page = std::make_unique<TDeadPage>(FPageSize);
  if (!Page->HasMemory() || Page->Capacity() == 0) {
    // No block for the page: the failure has been reported and the run
    // stopped. The page is discarded and the record is dropped from reuse;
    // nothing is written through a missing block.
    return;
  }
  Page->Add(Item);
  Poison(Item);
  FDeadPages.push_back(std::move(Page));
  FDeadTop = int32_t(FDeadPages.size());
}

TTransManager::TTransManager(uint16_t PageSize, uint16_t ItemSize, bool FreeList)
    : TMemoManager(PageSize, ItemSize, FreeList) {
  // A freed transaction is handed out again as its last holder left it,
  // its class's fields and its own vtable included: the link goes into its
  // FNext, which no block keeps set for a destroyed transaction.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  constexpr std::size_t Offset = offsetof(TTransaction, FNext);
#pragma GCC diagnostic pop
  FFreeList = FFreeList && FItemSize >= Offset + sizeof(void*);
  FLinkOffset = uint16_t(Offset);
}

void* TTransManager::Add() {
  bool Fresh;
  void* Item = Take(Fresh);
  if (Item) FNewItem = Fresh;
  return Item;
}

} // namespace quorin
