// Save options against the document: HCOMPRESS tiles as fpack settles them
// (fpack_tiles.inc, made by fpack_tiles.py from fpack's own output), the
// BITPIX written, the rows' order, and what cfitsio can keep exactly.
#include <gtest/gtest.h>

#include <string>

#include "options/resolve_save.h"

using namespace nebulite::options;

namespace {

struct FpackTile {
    uint32_t rows, columns, askedRows, askedColumns, ztile2, ztile1;
};

constexpr FpackTile kFpackTiles[] = {
#include "fpack_tiles.inc"
};

SaveFacts document(uint32_t rows, uint32_t columns, uint8_t depth = 16) {
    SaveFacts d;
    d.rows = rows;
    d.columns = columns;
    d.depth = depth;
    return d;
}

SaveOptions compressed(Compression c, std::optional<TileSize> tile = {}, double quantize = 0.0) {
    SaveOptions o;
    o.compression = c;
    o.tile = tile;
    o.quantize = quantize;
    return o;
}

}  // namespace

TEST(ResolveSave, HcompressTilesAsFpackSettlesThem) {
    for (const FpackTile& t : kFpackTiles) {
        std::optional<TileSize> asked;
        if (t.askedRows != 0) asked = TileSize{t.askedRows, t.askedColumns};
        SaveResolution r = resolve(compressed(Compression::hcompress, asked), document(t.rows, t.columns));
        std::string which = std::to_string(t.rows) + "x" + std::to_string(t.columns) + " asking " +
                            std::to_string(t.askedRows) + "x" + std::to_string(t.askedColumns);
        if (t.ztile2 == 0) {
            EXPECT_FALSE(r.ok()) << which << " gave " << r.resolved.tileRows << "x" << r.resolved.tileColumns;
            continue;
        }
        ASSERT_TRUE(r.ok()) << which << ": " << r.message.view();
        EXPECT_EQ(r.resolved.tileRows, t.ztile2) << which;
        EXPECT_EQ(r.resolved.tileColumns, t.ztile1) << which;
        // Spelled out, the tile replays to itself.
        SaveResolution again = resolve(r.resolved.chosen, document(t.rows, t.columns));
        EXPECT_EQ(again.resolved.tileRows, t.ztile2) << which;
    }
}

TEST(ResolveSave, TilesOfTheOtherAlgorithms) {
    SaveResolution r = resolve(compressed(Compression::rice), document(100, 640));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.resolved.tileRows, 1u);  // row by row, as fpack's default
    EXPECT_EQ(r.resolved.tileColumns, 640u);
    r = resolve(compressed(Compression::gzip2, TileSize{32, 32}), document(100, 640));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.resolved.tileRows, 32u);
    r = resolve(compressed(Compression::hcompress), document(3, 640));
    EXPECT_EQ(r.message.view(), "HCOMPRESS needs an image of at least 4x4 pixels, not 3x640");
    r = resolve(compressed(Compression::hcompress, TileSize{2, 100}), document(100, 640));
    EXPECT_EQ(r.message.view(), "HCOMPRESS needs tiles of at least 4x4 pixels, not 2x100");
    // Uncompressed, a tile means nothing and is not kept.
    r = resolve(SaveOptions{.tile = TileSize{0, 0}}, document(10, 10));
    ASSERT_TRUE(r.ok());
    EXPECT_FALSE(r.resolved.chosen.tile);
}

TEST(ResolveSave, BitpixAndRowOrder) {
    struct Case {
        uint8_t depth;
        FloatBitpix choice;
        std::optional<int16_t> kept;
        int16_t bitpix;
    } cases[] = {
        {8, FloatBitpix::minus32, -64, 8},       {16, FloatBitpix::minus32, -64, 16},
        {32, FloatBitpix::original, -64, -64},   {32, FloatBitpix::original, 16, 16},
        {32, FloatBitpix::original, {}, -32},    {32, FloatBitpix::minus32, 32, -32},
    };
    for (const Case& c : cases) {
        SaveFacts d = document(10, 10, c.depth);
        d.keptBitpix = c.kept;
        SaveResolution r = resolve(SaveOptions{.floatBitpix = c.choice}, d);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r.resolved.bitpix, c.bitpix) << int(c.depth);
    }
    for (bool kept : {false, true}) {
        for (bool flipped : {false, true}) {
            for (Orientation o : {Orientation::stored, Orientation::sky}) {
                SaveFacts d = document(10, 10);
                d.keptHeader = kept;
                d.openedFlipped = flipped;
                SaveResolution r = resolve(SaveOptions{.orientation = o}, d);
                // A document opened from FITS goes back the way it came.
                EXPECT_EQ(r.resolved.flipRows, kept ? flipped : o == Orientation::sky);
            }
        }
    }
}

TEST(ResolveSave, FloatsAreKeptExactlyByGzipAlone) {
    // fpack: "-q 0 only allowed with GZIP".
    struct Case {
        Compression compression;
        uint8_t depth;
        double quantize;
        bool ok;
        double resolvedQuantize;
    } cases[] = {
        {Compression::rice, 32, 0.0, false, 0.0},     {Compression::hcompress, 32, 0.0, false, 0.0},
        {Compression::gzip1, 32, 0.0, true, 0.0},     {Compression::gzip2, 32, 0.0, true, 0.0},
        {Compression::rice, 32, 4.0, true, 4.0},      {Compression::rice, 16, 0.0, true, 0.0},
        {Compression::rice, 16, 4.0, true, 0.0},      // integers are not quantized
    };
    for (const Case& c : cases) {
        SaveFacts d = document(64, 64, c.depth);
        SaveResolution r = resolve(compressed(c.compression, {}, c.quantize), d);
        EXPECT_EQ(r.ok(), c.ok) << r.message.view();
        if (r.ok()) {
            EXPECT_EQ(r.resolved.quantize, c.resolvedQuantize);
        }
    }
    SaveResolution r = resolve(compressed(Compression::rice), document(64, 64, 32));
    EXPECT_EQ(r.message.view(),
              "floating-point samples are compressed exactly by GZIP_1 or GZIP_2 only: give a quantize level above 0 "
              "to use RICE_1");
}
