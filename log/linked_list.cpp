// The client's tail queue of untyped items. Every entry remembers the forward
// link that points at it, so unlinking never walks the list.
#include "kel/linked_list.h"

#include <cstddef>
#include <cstdlib>

namespace kel::list {
namespace {

LinkedListEntry *new_entry(void *item) {
  auto *e = static_cast<LinkedListEntry *>(std::malloc(sizeof(LinkedListEntry)));
  if (e != nullptr) *e = LinkedListEntry{item, nullptr, nullptr};
  return e;
}

void append(LinkedList *list, LinkedListEntry *e) {
  e->next = nullptr;
  e->prev = list->last;
  *list->last = e;
  list->last = &e->next;
}

// Takes the entry out of the list without freeing it.
void detach(LinkedList *list, LinkedListEntry *e) {
  if (e->next != nullptr)
    e->next->prev = e->prev;
  else
    list->last = e->prev;
  *e->prev = e->next;
}

// Unlinks and frees the entry; its item stays with the caller.
void unlink(LinkedList *list, LinkedListEntry *e) {
  detach(list, e);
  std::free(e);
}

void release_all(LinkedList *list, void (*releaser)(void *), bool skipNull) {
  if (list == nullptr) return;
  // From the end: the last link addresses the last entry's own next field.
  while (list->first != nullptr) {
    LinkedListEntry **nextField = list->last;
    LinkedListEntry *last = reinterpret_cast<LinkedListEntry *>(
        reinterpret_cast<char *>(nextField) - offsetof(LinkedListEntry, next));
    void *item = last->data;
    unlink(list, last);
    if (releaser != nullptr && !(skipNull && item == nullptr)) releaser(item);
  }
  std::free(list);
}

}  // namespace
}  // namespace kel::list

using namespace kel::list;

LinkedList *LinkedList_create(void) {
  auto *list = static_cast<LinkedList *>(std::malloc(sizeof(LinkedList)));
  if (list == nullptr) return nullptr;
  list->first = nullptr;
  list->last = &list->first;
  return list;
}

int32_t LinkedList_is_not_empty(const LinkedList *list) { return list != nullptr && list->first != nullptr ? 1 : 0; }

LinkedListEntry *LinkedList_add(LinkedList *list, void *item) {
  if (list == nullptr) return nullptr;
  LinkedListEntry *e = new_entry(item);
  if (e != nullptr) append(list, e);
  return e;
}

uint64_t LinkedList_length(const LinkedList *list) {
  uint64_t n = 0;
  if (list != nullptr)
    for (const LinkedListEntry *e = list->first; e != nullptr; e = e->next) ++n;
  return n;
}

LinkedListEntry *LinkedList_get_entry(const LinkedList *list, uint32_t index) {
  if (list == nullptr) return nullptr;
  LinkedListEntry *e = list->first;
  for (uint32_t i = 0; e != nullptr && i < index; ++i) e = e->next;
  return e;
}

void *LinkedList_get(const LinkedList *list, uint32_t index) {
  return LinkedList_entry_data(LinkedList_get_entry(list, index));
}

LinkedListEntry *LinkedList_first_entry(const LinkedList *list) { return list != nullptr ? list->first : nullptr; }

LinkedListEntry *LinkedList_next_entry(const LinkedListEntry *entry) { return entry != nullptr ? entry->next : nullptr; }

void *LinkedList_entry_data(const LinkedListEntry *entry) { return entry != nullptr ? entry->data : nullptr; }

void *LinkedList_poll(LinkedList *list) {
  LinkedListEntry *e = list != nullptr ? list->first : nullptr;
  if (e == nullptr) return nullptr;
  void *item = e->data;
  unlink(list, e);
  return item;
}

void LinkedList_remove_entry(LinkedList *list, LinkedListEntry *entry) {
  if (list == nullptr || entry == nullptr) return;
  unlink(list, entry);
}

int64_t LinkedList_foreach(LinkedList *list, LinkedListVisitor visitor, void *context) {
  if (list == nullptr || visitor == nullptr) return 0;
  for (LinkedListEntry *e = list->first; e != nullptr; e = e->next)
    if (int64_t r = visitor(e->data, context); r != 0) return r;
  return 0;
}

void LinkedList_shuffle(LinkedList *list) {
  if (LinkedList_length(list) < 2) return;
  LinkedList *pool = LinkedList_create();
  if (pool == nullptr) return;
  // Move the items over by polling; the entries are reused, so nothing here
  // can run out of memory and lose an item.
  while (LinkedListEntry *e = list->first) {
    if (e->data == nullptr) break;  // a null item ends the poll, as documented
    detach(list, e);
    append(pool, e);
  }
  for (uint64_t n = LinkedList_length(pool); n > 0; --n) {
    LinkedListEntry *e = LinkedList_get_entry(pool, static_cast<uint32_t>(static_cast<uint64_t>(std::rand()) % n));
    detach(pool, e);
    append(list, e);
  }
  std::free(pool);
}

LinkedList *LinkedList_duplicate(const LinkedList *list, LinkedListCopier copier) {
  if (list == nullptr) return nullptr;
  LinkedList *copy = LinkedList_create();
  if (copy == nullptr) return nullptr;
  for (const LinkedListEntry *e = list->first; e != nullptr; e = e->next) {
    LinkedListEntry *n = new_entry(nullptr);
    if (n == nullptr) {
      LinkedList_free(copy, nullptr);
      return nullptr;
    }
    n->data = copier != nullptr ? copier(e->data) : e->data;
    append(copy, n);
  }
  return copy;
}

void LinkedList_free(LinkedList *list, LinkedListReleaser releaser) { release_all(list, releaser, false); }

void LinkedList_free_buffers(LinkedList *list) { release_all(list, std::free, true); }
