// The string module: the string heap, each thread's string block for string
// results, private copies of string arguments and UTF-8 conversion.
//
// Strings are UTF-16 unless a name says UTF-8. A string block holds a buffer
// of `capacity` bytes plus 10 spare bytes, and a position where the next
// string result begins; each thread has its own, reached through a
// thread-local slot.
#pragma once

#include <cstdint>

#include "platform/heaps.h"

namespace oct {

// First start step: creates the string heap and the thread-local slot, and
// gives the calling thread its string block (without a thread-exit clean-up:
// it goes with the heap). Safe to call when already started.
void strStart();
// Next-to-last stop step: frees the slot and destroys the string heap, and
// with it every string block and string copy still allocated.
void strStop();
plat::Heap* strHeap();

// Makes sure the calling thread has its string block (starting the module
// first if it has not started); a block made here is freed after the thread
// ends. False when the module cannot start or the block cannot be allocated:
// the export that called it must then fail.
[[nodiscard]] bool strThreadEnter();

// Number of string blocks made and not yet freed: the threads' blocks still
// alive or awaiting their thread-exit clean-up (a diagnostic for tests). The
// stop step starts it again from 0, as the heap takes every block with it.
std::int64_t strLiveBlocks();

// Stores in `destination` a new copy of the zero-terminated UTF-16 `source`
// from the string heap (length + 5 units). A null source leaves `destination`
// as it was; when the copy cannot be allocated `destination` becomes null.
void strCopyArg(char16_t*& destination, const char16_t* source);

// Frees a copy made by strCopyArg. Null does nothing.
void strFreeArg(char16_t* copy);

// Reserves room for a string result of `characters` UTF-16 units at byte
// offset `position` of the calling thread's buffer (-1: the current position)
// and returns where to write it. The buffer grows first when the result would
// end within 4 bytes of its capacity: the capacity becomes end + 16,384 bytes.
// Room for a terminating zero behind the result is always there; the next
// result begins on it (the position becomes position + 2 * characters).
// Null, with the block unchanged, when the thread has no block, an argument is
// negative (other than position -1) or the position odd, the end lies past
// 2 GiB, or the buffer cannot grow.
char16_t* strReserve(std::int64_t characters, std::int64_t position);

// The calling thread's string block; null pointers and a position of -1 when
// the thread has none.
char16_t* strBufferStart();
char16_t* strBufferEnd();             // buffer + position
std::int64_t strBufferPosition();     // leaves the thread's last-error value as it was
std::int64_t strBufferCapacity();
// Moves the position to `offset` bytes and returns buffer + offset; null, with
// the position unchanged, for an odd offset or one outside 0 .. capacity.
char16_t* strSetPosition(std::int64_t offset);
// Advances the position by one character (2 bytes).
void strAdvance();

// A new UTF-8 copy of `text`, allocated with malloc (free it with free). A null
// text, or a conversion that fails, gives a new empty string; null only when
// not even that can be allocated.
char* strToUtf8(const char16_t* text);

// Converts UTF-8 `text` (null: the empty string) into a zero-terminated string
// result of the calling thread at byte offset `position` (-1: the current
// position) and returns it. Null when the result cannot be reserved.
char16_t* strFromUtf8(const char* text, std::int64_t position);

// A new zero-terminated UTF-16 copy of UTF-8 `text` (null: the empty string),
// allocated with malloc. Null when it cannot be allocated.
char16_t* strFromUtf8Alloc(const char* text);

}  // namespace oct
