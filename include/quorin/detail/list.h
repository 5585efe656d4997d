// The doubly linked lists of the kernel and the blocks, written once.
//
// A list is threaded through two link members of its nodes (Next toward the
// back, Prev toward the front) and held by a pointer to its first and one to
// its last node; both are null when it is empty, the first node's Prev and
// the last node's Next are null. The nodes are documented records (a
// transaction's FNext and FPrev, a priority class's Next and Prev, the
// entries of the current events chain), so a list here is a view on the two
// head pointers that its owner keeps, not a container of its own. Every
// operation is constant time and allocates nothing; a removed node keeps
// its links as they were, for its owner to clear or reuse.
#pragma once

#include <cstdint>

#include "quorin/kernel/transaction.h"

namespace quorin::detail {

template <class T, T* T::*Next, T* T::*Prev> class TListView {
public:
  TListView(T*& First, T*& Last) : FFirst(First), FLast(Last) {}

  void PushBack(T* Node) {
    Node->*Next = nullptr;
    Node->*Prev = FLast;
    if (FLast)
      FLast->*Next = Node;
    else
      FFirst = Node;
    FLast = Node;
  }
  void PushFront(T* Node) {
    Node->*Prev = nullptr;
    Node->*Next = FFirst;
    if (FFirst)
      FFirst->*Prev = Node;
    else
      FLast = Node;
    FFirst = Node;
  }
  // Links Node in after After, or at the front when After is null.
  void InsertAfter(T* Node, T* After) {
    T* Before = After ? After->*Next : FFirst;
    Link(Node, After, Before);
  }
  // Links Node in before Before, or at the back when Before is null.
  void InsertBefore(T* Node, T* Before) {
    T* After = Before ? Before->*Prev : FLast;
    Link(Node, After, Before);
  }
  // Unlinks Node, which must be in this list.
  void Remove(T* Node) {
    // Both links are read before the first store, which the compiler cannot
    // tell apart from a store to them: each is read once.
    T* P = Node->*Prev;
    T* N = Node->*Next;
    if (P)
      P->*Next = N;
    else
      FFirst = N;
    if (N)
      N->*Prev = P;
    else
      FLast = P;
  }

private:
  // Links Node in between After and Before, neighbours in this list (or
  // null at its ends).
  void Link(T* Node, T* After, T* Before) {
    Node->*Prev = After;
    Node->*Next = Before;
    if (Before)
      Before->*Prev = Node;
    else
      FLast = Node;
    if (After)
      After->*Next = Node;
    else
      FFirst = Node;
  }

  T*& FFirst;
  T*& FLast;
};

// A first-in, first-out list threaded through one link member (Next), held
// by a pointer to its first and one to its last node and by a count; both
// pointers are null when the count is 0, and the last node's Next is null.
// Constant time; a node taken off has its Next cleared.
template <class T, T* T::*Next> class TFifoView {
public:
  TFifoView(T*& First, T*& Last, int32_t& Count) : FFirst(First), FLast(Last), FCount(Count) {}

  // Appends Node; answers whether the list was empty.
  bool PushBack(T* Node) {
    Node->*Next = nullptr;
    if (FCount == 0)
      FFirst = Node;
    else
      FLast->*Next = Node;
    FLast = Node;
    return ++FCount == 1;
  }
  // Takes the first node off; the list must not be empty.
  T* PopFront() {
    T* Node = FFirst;
    if (--FCount == 0) {
      FFirst = nullptr;
      FLast = nullptr;
    } else {
      FFirst = Node->*Next;
    }
    Node->*Next = nullptr;
    return Node;
  }

private:
  T*& FFirst;
  T*& FLast;
  int32_t& FCount;
};

// Transactions linked through FNext and FPrev, as the blocks keep them, and
// through FNext alone, as in the storages' finished lists.
using TTransList = TListView<TTransaction, &TTransaction::FNext, &TTransaction::FPrev>;
using TTransFifo = TFifoView<TTransaction, &TTransaction::FNext>;

} // namespace quorin::detail
