// The client's linked list: order, unlinking, iteration, copies, release.
#include "kel/linked_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Items = std::vector<uintptr_t>;

void *Item(uintptr_t v) { return reinterpret_cast<void *>(v); }

// The items from first to last, after checking every link: each previous
// link addresses the field holding its entry, the last link the final null.
Items Walk(const LinkedList *list) {
  Items out;
  LinkedListEntry *const *field = &list->first;
  for (LinkedListEntry *e = LinkedList_first_entry(list); e != nullptr; e = LinkedList_next_entry(e)) {
    EXPECT_EQ(e->prev, field);
    field = &e->next;
    out.push_back(reinterpret_cast<uintptr_t>(LinkedList_entry_data(e)));
  }
  EXPECT_EQ(list->last, field);
  return out;
}

LinkedList *ListOf(const Items &items) {
  LinkedList *list = LinkedList_create();
  for (uintptr_t v : items) EXPECT_NE(LinkedList_add(list, Item(v)), nullptr);
  return list;
}

TEST(LinkedList, AddGetPollRemoveAndNull) {
  EXPECT_EQ(LinkedList_length(nullptr), 0u);
  EXPECT_EQ(LinkedList_add(nullptr, Item(1)), nullptr);
  EXPECT_EQ(LinkedList_poll(nullptr), nullptr);
  LinkedList_remove_entry(nullptr, nullptr);
  LinkedList_free(nullptr, nullptr);

  LinkedList *list = ListOf({1, 2, 3, 4, 5});
  EXPECT_EQ(LinkedList_length(list), 5u);
  EXPECT_EQ(LinkedList_get(list, 1), Item(2));
  EXPECT_EQ(LinkedList_get(list, 5), nullptr);
  EXPECT_EQ(LinkedList_poll(list), Item(1));
  LinkedList_remove_entry(list, LinkedList_get_entry(list, 3));  // the tail moves back
  LinkedList_add(list, Item(6));
  LinkedList_remove_entry(list, LinkedList_get_entry(list, 1));
  EXPECT_EQ(Walk(list), (Items{2, 4, 6}));
  while (LinkedList_poll(list) != nullptr) {
  }
  EXPECT_EQ(LinkedList_is_not_empty(list), 0);
  EXPECT_EQ(Walk(list), Items{});
  LinkedList_add(list, Item(7));  // an emptied list appends at the head again
  EXPECT_EQ(Walk(list), Items{7});
  LinkedList_free(list, nullptr);
}

TEST(LinkedList, ForeachStopsAtTheFirstNonZero) {
  LinkedList *list = ListOf({1, 2, 3, 4});
  Items seen;
  auto visitor = [](void *item, void *ctx) -> int64_t {
    auto *s = static_cast<Items *>(ctx);
    s->push_back(reinterpret_cast<uintptr_t>(item));
    return s->size() == 2 ? 7 : 0;
  };
  EXPECT_EQ(LinkedList_foreach(list, visitor, &seen), 7);
  EXPECT_EQ(seen, (Items{1, 2}));
  auto last = [](void *item, void *) -> int64_t { return item == Item(4) ? INT64_MIN + 5 : 0; };
  EXPECT_EQ(LinkedList_foreach(list, last, nullptr), INT64_MIN + 5) << "the whole 64-bit result";
  EXPECT_EQ(LinkedList_foreach(list, nullptr, nullptr), 0);
  LinkedList_free(list, nullptr);
}

Items gReleased;

TEST(LinkedList, ReleaseRunsFromLastToFirst) {
  gReleased.clear();
  LinkedList_free(ListOf({'P', 'Q', 'R'}), [](void *item) { gReleased.push_back(reinterpret_cast<uintptr_t>(item)); });
  EXPECT_EQ(gReleased, (Items{'R', 'Q', 'P'}));
}

TEST(LinkedList, ShuffleKeepsTheItems) {
  Items in;
  for (uintptr_t v = 1; v <= 50; ++v) in.push_back(v);
  LinkedList *list = ListOf(in);
  bool moved = false;
  for (int round = 0; round < 4; ++round) {
    LinkedList_shuffle(list);
    Items out = Walk(list);
    moved = moved || out != in;
    std::sort(out.begin(), out.end());
    EXPECT_EQ(out, in);
  }
  EXPECT_TRUE(moved) << "four shuffles of 50 items never changed the order";
  LinkedList_free(list, nullptr);
}

// Heap items: a missed or doubled free() shows under AddressSanitizer.
TEST(LinkedList, DuplicateWithAndWithoutCopier) {
  LinkedList *list = LinkedList_create();
  for (const char *s : {"a", "bb", "ccc"}) LinkedList_add(list, strdup(s));
  LinkedList *shared = LinkedList_duplicate(list, nullptr);
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(Walk(shared), Walk(list)) << "the same items, in order";
  LinkedList_free(shared, nullptr);  // the items stay with the source

  LinkedList *copy = LinkedList_duplicate(list, [](void *item) -> void * { return strdup(static_cast<char *>(item)); });
  ASSERT_EQ(LinkedList_length(copy), 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_NE(LinkedList_get(copy, i), LinkedList_get(list, i));
    EXPECT_STREQ(static_cast<char *>(LinkedList_get(copy, i)), static_cast<char *>(LinkedList_get(list, i)));
  }
  LinkedList_free_buffers(list);
  LinkedList_free_buffers(copy);  // each copy released once
}

}  // namespace
