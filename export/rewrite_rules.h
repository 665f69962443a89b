// The rewrite of one kept header card for the image being saved: which
// cards change and how. Pure: the walk over the header and the cards it
// adds are export/rewrite.cpp's.
#pragma once

#include <cstdint>

namespace nebulite {

// What the save writes, as the rewrite needs it.
struct SavedImage {
    int16_t depth = 8;
    // The BITPIX written: the depth for 8- and 16-bit documents; a 32-bit
    // document's is its plan's (export/save_plan.h).
    int16_t bitpix = 8;
    // A 32-bit document written back with the kept header's own BITPIX,
    // BZERO and BSCALE: those cards stay as they are.
    bool keepScaling = false;
    // The document was demosaiced on open: the cards that named its colour
    // filter become HISTORY saying so, with the method (`demosaicMethod`),
    // so that no other program demosaics it again.
    bool demosaiced = false;
    const char* demosaicMethod = "";
    int32_t rows = 0;
    int32_t columns = 0;
    int16_t planes = 1;
    // The header came from 'hist' records, which cut most cards short: a
    // string whose closing quote was cut gets one back.
    bool mendCutStrings = false;
};

// What a card turned out to be, for the steps after the walk.
struct CardRole {
    bool end = false;          // the header's END (the card now reads END alone)
    bool naxis2 = false;       // NAXIS2, after which a missing NAXIS3 goes
    bool naxis3 = false;       // a NAXIS3 card that stays (a colour image)
    bool offsetSamples = false;  // begins with BZERO: samples written with 32768 taken off
    bool bzero = false;        // the keyword is exactly BZERO
    bool rangeLow = false;     // a 32-bit document's DATAMIN-like card, set from the data written
    bool rangeHigh = false;    // and its DATAMAX-like card
};

// Rewrites card `slot` of a header whose END has not been met yet.
CardRole rewriteCard(char* card, const SavedImage& image, uint32_t slot);

}  // namespace nebulite
