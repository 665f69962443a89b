// The FITS header held in memory exactly as a file holds it: 80-byte cards,
// 36 to a 2880-byte block. Reading fills it card by card; writing rebuilds,
// rewrites or synthesises it and writes it out ahead of the samples.
#pragma once

#include <cstdint>
#include <string_view>

#include "header/merge_plan.h"
#include "header/fits_units.h"

namespace nebulite {

// A new buffer of one block of spaces. False when it cannot be had; the old
// buffer (if any) is released either way.
bool allocateCardBuffer();
// Stores one card at slot cardPos (reading only): drops it beyond the last
// slot of the block being read, and puts the identification card in front
// of END when END falls in slots 1 to 34 of a header without one. False
// only when the buffer could not grow to hold the card.
bool appendCard(const char* card);
// Replaces the buffer by one of `newSize` bytes (whole blocks) keeping the
// first `keep` bytes; the rest are spaces. False (buffer unchanged) when the
// new buffer cannot be had.
bool resizeCardBuffer(uint32_t keep, uint32_t newSize);
// Grows the buffer, by whole blocks, until it holds `bytes`. False when it cannot.
bool reserveCardBuffer(uint64_t bytes);
void releaseCardBuffer();

// Card `index` of the buffer, or null when the buffer does not reach it.
char* cardAt(uint32_t index);

}  // namespace nebulite
