/* The client's list of untyped items: a doubly linked tail queue. The head
 * knows its first entry and where the last entry's forward link lives, so
 * appending and unlinking take constant time. The list never looks at the
 * items; a null item may be stored, but LinkedList_poll also answers null for
 * an empty list, so lists that are polled or shuffled hold no null items. */
#ifndef KEL_LINKED_LIST_H
#define KEL_LINKED_LIST_H

#include <stdint.h>

#include "kel/export.h"

KEL_BEGIN_DECLS

typedef struct LinkedListEntry {
  void *data;                     /* the item, owned as the caller decides */
  struct LinkedListEntry *next;   /* following entry, or NULL */
  struct LinkedListEntry **prev;  /* the forward link that points at this entry */
} LinkedListEntry;

typedef struct LinkedList {
  LinkedListEntry *first;   /* NULL when empty */
  LinkedListEntry **last;   /* the last entry's next field, or &first when empty */
} LinkedList;

/* Visitor of LinkedList_foreach: a non-zero result stops the walk. */
typedef int64_t (*LinkedListVisitor)(void *item, void *context);
/* Item copier of LinkedList_duplicate and item releaser of LinkedList_free. */
typedef void *(*LinkedListCopier)(void *item);
typedef void (*LinkedListReleaser)(void *item);

/* LinkedList_create: a new empty list (malloc), or NULL when memory is short. */
KEL_API LinkedList *LinkedList_create(void);
/* LinkedList_is_not_empty: 1 when the list has an entry, 0 when empty or NULL. */
KEL_API int32_t LinkedList_is_not_empty(const LinkedList *list);
/* LinkedList_add: appends the item; returns the new entry, or NULL (NULL list,
 * or no memory: the list is unchanged). */
KEL_API LinkedListEntry *LinkedList_add(LinkedList *list, void *item);
/* LinkedList_length: number of entries; 0 for NULL. */
KEL_API uint64_t LinkedList_length(const LinkedList *list);
/* LinkedList_get: the item at the index (from 0), or NULL past the end. */
KEL_API void *LinkedList_get(const LinkedList *list, uint32_t index);
/* LinkedList_get_entry: the entry at the index, or NULL (NULL list, past the end). */
KEL_API LinkedListEntry *LinkedList_get_entry(const LinkedList *list, uint32_t index);
/* LinkedList_first_entry: the first entry, or NULL. */
KEL_API LinkedListEntry *LinkedList_first_entry(const LinkedList *list);
/* LinkedList_next_entry: the following entry, or NULL (also for a NULL entry). */
KEL_API LinkedListEntry *LinkedList_next_entry(const LinkedListEntry *entry);
/* LinkedList_entry_data: the entry's item, or NULL for a NULL entry. */
KEL_API void *LinkedList_entry_data(const LinkedListEntry *entry);
/* LinkedList_poll: removes the first entry and returns its item; NULL when the
 * list is empty (or NULL). */
KEL_API void *LinkedList_poll(LinkedList *list);
/* LinkedList_remove_entry: unlinks and frees the entry (not its item); does
 * nothing if either argument is NULL. */
KEL_API void LinkedList_remove_entry(LinkedList *list, LinkedListEntry *entry);
/* LinkedList_foreach: calls the visitor on each item, first to last, until one
 * returns non-zero, and returns that value; 0 when all returned 0, and 0 for a
 * NULL list or visitor. */
KEL_API int64_t LinkedList_foreach(LinkedList *list, LinkedListVisitor visitor, void *context);
/* LinkedList_shuffle: reorders the entries with rand() (never seeded here);
 * fewer than 2 entries, or no memory for the work list, leave the list as it is. */
KEL_API void LinkedList_shuffle(LinkedList *list);
/* LinkedList_duplicate: a new list of the same length and order holding the
 * copier's result for each item, or the item itself when the copier is NULL.
 * NULL for a NULL list or when memory is short (items already copied are not
 * released then). */
KEL_API LinkedList *LinkedList_duplicate(const LinkedList *list, LinkedListCopier copier);
/* LinkedList_free: frees every entry from last to first, calling the releaser
 * (when not NULL) on each item first, then the head. Nothing for NULL. */
KEL_API void LinkedList_free(LinkedList *list, LinkedListReleaser releaser);
/* LinkedList_free_buffers: as LinkedList_free with free() as the releaser of
 * every non-null item. */
KEL_API void LinkedList_free_buffers(LinkedList *list);

KEL_END_DECLS

#endif /* KEL_LINKED_LIST_H */
