// The client's linked list: order, unlinking, iteration, copies, release.
#include "kel/linked_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void *Item(uintptr_t v) { return reinterpret_cast<void *>(v); }

std::vector<uintptr_t> Items(const LinkedList *list) {
  std::vector<uintptr_t> out;
  for (LinkedListEntry *e = LinkedList_first_entry(list); e != nullptr; e = LinkedList_next_entry(e))
    out.push_back(reinterpret_cast<uintptr_t>(LinkedList_entry_data(e)));
  return out;
}

// Walks the links both ways: every previous link addresses the field that
// holds its entry and the last link addresses the final null forward link.
void ExpectConsistent(const LinkedList *list) {
  LinkedListEntry *const *field = &list->first;
  for (LinkedListEntry *e = list->first; e != nullptr; e = e->next) {
    EXPECT_EQ(e->prev, field);
    field = &e->next;
  }
  EXPECT_EQ(list->last, field);
  EXPECT_EQ(*list->last, nullptr);
}

std::vector<uintptr_t> gReleased;
void Record(void *item) { gReleased.push_back(reinterpret_cast<uintptr_t>(item)); }

TEST(LinkedList, EmptyAndNull) {
  LinkedList *list = LinkedList_create();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(LinkedList_length(list), 0u);
  EXPECT_EQ(LinkedList_is_not_empty(list), 0);
  EXPECT_EQ(LinkedList_poll(list), nullptr);
  EXPECT_EQ(LinkedList_first_entry(list), nullptr);
  EXPECT_EQ(LinkedList_get(list, 0), nullptr);
  ExpectConsistent(list);

  EXPECT_EQ(LinkedList_is_not_empty(nullptr), 0);
  EXPECT_EQ(LinkedList_length(nullptr), 0u);
  EXPECT_EQ(LinkedList_add(nullptr, Item(1)), nullptr);
  EXPECT_EQ(LinkedList_get_entry(nullptr, 0), nullptr);
  EXPECT_EQ(LinkedList_next_entry(nullptr), nullptr);
  EXPECT_EQ(LinkedList_entry_data(nullptr), nullptr);
  EXPECT_EQ(LinkedList_duplicate(nullptr, nullptr), nullptr);
  LinkedList_remove_entry(nullptr, nullptr);
  LinkedList_remove_entry(list, nullptr);
  LinkedList_free(nullptr, Record);
  LinkedList_free_buffers(nullptr);
  LinkedList_free(list, nullptr);
}

TEST(LinkedList, AddGetPollRemove) {
  LinkedList *list = LinkedList_create();
  LinkedListEntry *p = LinkedList_add(list, Item('P'));
  LinkedList_add(list, Item('Q'));
  LinkedListEntry *r = LinkedList_add(list, Item('R'));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(LinkedList_length(list), 3u);
  EXPECT_EQ(LinkedList_is_not_empty(list), 1);
  EXPECT_EQ(LinkedList_get(list, 1), Item('Q'));
  EXPECT_EQ(LinkedList_get(list, 3), nullptr);
  EXPECT_EQ(LinkedList_get_entry(list, 2), r);
  EXPECT_EQ(LinkedList_get_entry(list, 3), nullptr);

  EXPECT_EQ(LinkedList_poll(list), Item('P'));
  EXPECT_EQ(Items(list), (std::vector<uintptr_t>{'Q', 'R'}));
  ExpectConsistent(list);

  LinkedList_remove_entry(list, r);  // the last entry: the tail moves back
  ExpectConsistent(list);
  LinkedList_add(list, Item('S'));
  EXPECT_EQ(Items(list), (std::vector<uintptr_t>{'Q', 'S'}));
  ExpectConsistent(list);

  LinkedList_remove_entry(list, LinkedList_first_entry(list));  // the first one
  LinkedList_remove_entry(list, LinkedList_first_entry(list));
  EXPECT_EQ(LinkedList_length(list), 0u);
  ExpectConsistent(list);
  LinkedList_add(list, Item('T'));  // an emptied list appends at the head again
  EXPECT_EQ(Items(list), (std::vector<uintptr_t>{'T'}));
  LinkedList_free(list, nullptr);
}

TEST(LinkedList, RemoveFromTheMiddle) {
  LinkedList *list = LinkedList_create();
  for (uintptr_t v = 1; v <= 5; ++v) LinkedList_add(list, Item(v));
  LinkedList_remove_entry(list, LinkedList_get_entry(list, 2));
  LinkedList_remove_entry(list, LinkedList_get_entry(list, 1));
  EXPECT_EQ(Items(list), (std::vector<uintptr_t>{1, 4, 5}));
  ExpectConsistent(list);
  LinkedList_free(list, nullptr);
}

TEST(LinkedList, ForeachStopsAtTheFirstNonZero) {
  LinkedList *list = LinkedList_create();
  for (uintptr_t v = 1; v <= 4; ++v) LinkedList_add(list, Item(v));
  std::vector<uintptr_t> seen;
  auto visitor = [](void *item, void *ctx) -> int64_t {
    auto *s = static_cast<std::vector<uintptr_t> *>(ctx);
    s->push_back(reinterpret_cast<uintptr_t>(item));
    return s->size() == 2 ? 7 : 0;
  };
  EXPECT_EQ(LinkedList_foreach(list, visitor, &seen), 7);
  EXPECT_EQ(seen, (std::vector<uintptr_t>{1, 2}));

  // A 64-bit result comes back whole; when every call gives 0 all are visited.
  auto big = [](void *item, void *) -> int64_t { return item == Item(4) ? INT64_MIN + 5 : 0; };
  EXPECT_EQ(LinkedList_foreach(list, big, nullptr), INT64_MIN + 5);
  seen.clear();
  auto none = [](void *item, void *ctx) -> int64_t {
    static_cast<std::vector<uintptr_t> *>(ctx)->push_back(reinterpret_cast<uintptr_t>(item));
    return 0;
  };
  EXPECT_EQ(LinkedList_foreach(list, none, &seen), 0);
  EXPECT_EQ(seen.size(), 4u);
  EXPECT_EQ(LinkedList_foreach(nullptr, none, &seen), 0);
  EXPECT_EQ(LinkedList_foreach(list, nullptr, nullptr), 0);
  LinkedList_free(list, nullptr);
}

TEST(LinkedList, FreeReleasesFromLastToFirst) {
  LinkedList *list = LinkedList_create();
  for (uintptr_t v : {'P', 'Q', 'R'}) LinkedList_add(list, Item(v));
  gReleased.clear();
  LinkedList_free(list, Record);
  EXPECT_EQ(gReleased, (std::vector<uintptr_t>{'R', 'Q', 'P'}));
}

TEST(LinkedList, FreeBuffersReleasesHeapItems) {
  // Under AddressSanitizer a missed or doubled free() shows up here.
  LinkedList *list = LinkedList_create();
  for (int i = 0; i < 10; ++i) LinkedList_add(list, strdup("item"));
  LinkedList_add(list, nullptr);  // null items are skipped
  LinkedList_free_buffers(list);
}

TEST(LinkedList, ShuffleKeepsTheItems) {
  LinkedList *one = LinkedList_create();
  LinkedList_add(one, Item(9));
  LinkedList_shuffle(one);
  EXPECT_EQ(Items(one), (std::vector<uintptr_t>{9}));
  LinkedList_free(one, nullptr);
  LinkedList_shuffle(nullptr);

  LinkedList *list = LinkedList_create();
  std::vector<uintptr_t> in;
  for (uintptr_t v = 1; v <= 50; ++v) {
    LinkedList_add(list, Item(v));
    in.push_back(v);
  }
  bool moved = false;
  for (int round = 0; round < 4; ++round) {
    LinkedList_shuffle(list);
    ExpectConsistent(list);
    std::vector<uintptr_t> out = Items(list);
    moved = moved || out != in;
    std::sort(out.begin(), out.end());
    EXPECT_EQ(out, in);
  }
  EXPECT_TRUE(moved) << "four shuffles of 50 items never changed the order";
  LinkedList_free(list, nullptr);
}

TEST(LinkedList, ShuffleFollowsRand) {
  auto order = [] {
    LinkedList *list = LinkedList_create();
    for (uintptr_t v = 1; v <= 8; ++v) LinkedList_add(list, Item(v));
    std::srand(1234);
    LinkedList_shuffle(list);
    std::vector<uintptr_t> out = Items(list);
    LinkedList_free(list, nullptr);
    return out;
  };
  EXPECT_EQ(order(), order());
}

TEST(LinkedList, DuplicateWithoutCopierSharesItems) {
  LinkedList *list = LinkedList_create();
  for (int i = 0; i < 3; ++i) LinkedList_add(list, strdup("shared"));
  LinkedList *copy = LinkedList_duplicate(list, nullptr);
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(LinkedList_length(copy), 3u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(LinkedList_get(copy, i), LinkedList_get(list, i));
  ExpectConsistent(copy);
  LinkedList_free(copy, nullptr);  // the items belong to the source
  LinkedList_free_buffers(list);
}

TEST(LinkedList, DuplicateWithCopierOwnsItsItems) {
  LinkedList *list = LinkedList_create();
  for (const char *s : {"a", "bb", "ccc"}) LinkedList_add(list, strdup(s));
  LinkedList *copy = LinkedList_duplicate(list, [](void *item) -> void * {
    return strdup(static_cast<const char *>(item));
  });
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(LinkedList_length(copy), 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_NE(LinkedList_get(copy, i), LinkedList_get(list, i));
    EXPECT_STREQ(static_cast<char *>(LinkedList_get(copy, i)), static_cast<char *>(LinkedList_get(list, i)));
  }
  LinkedList_free_buffers(list);
  LinkedList_free_buffers(copy);

  LinkedList *empty = LinkedList_create();
  LinkedList *emptyCopy = LinkedList_duplicate(empty, nullptr);
  ASSERT_NE(emptyCopy, nullptr);
  EXPECT_EQ(LinkedList_length(emptyCopy), 0u);
  ExpectConsistent(emptyCopy);
  LinkedList_free(empty, nullptr);
  LinkedList_free(emptyCopy, nullptr);
}

}  // namespace
