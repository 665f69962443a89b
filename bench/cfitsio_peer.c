/* The benchmark's peer: the jobs `nebulite open` and `nebulite save` do, done
 * with cfitsio, so that the module and its host have a yardstick.
 *
 *   cfitsio_peer open IN.fits OUT.pgm|OUT.ppm
 *   cfitsio_peer openreal IN.fits OUT.pfm
 *   cfitsio_peer save IN.pgm|IN.ppm OUT.fits
 *   cfitsio_peer stretch IN.fits OUT.pgm BLACK WHITE
 *
 * open: reads the primary image (8 or 16 bit or float32, grey or the first
 * three planes as RGB), turns it into the host's samples by the module's
 * rules (8-bit bytes unchanged; 16-bit v = s*BSCALE + BZERO, s unsigned when
 * BZERO is 0 or absent, clamped to 0..65535, truncated, then (t+1)/2;
 * float32 without range cards: v = f*BSCALE + BZERO mapped linearly from
 * the smallest to the largest finite v onto 0..32768, rounded, NaN and
 * infinities 0) and writes the PGM/PPM the CLI writes (maxval 255, or 32768
 * big-endian).
 *
 * save: reads a binary PGM/PPM whose samples are host samples (maxval 255,
 * or 32768) and writes them as FITS: 8-bit unchanged, 16-bit as physical
 * 2*h (at most 65535) stored with BZERO 32768, in planes for RGB.
 *
 * stretch: a grey image's physical values (BSCALE and BZERO applied, NaN
 * and infinities undefined) through asinh(x / 0.1) / asinh(10) between the
 * given black and white points, x clamped to 0..1, onto 0..32768 rounded
 * half up, undefined samples 0: the module's asinh stretch over explicit
 * points, which the benchmark takes from what `nebulite open --record`
 * wrote for a measured interval. One pass over the data, rows read as
 * doubles.
 *
 * Like the editor, the peer holds the whole image in memory once, as the
 * host holds it, so its peak memory is a fair floor for a host that keeps
 * the document. It reads 8- and 16-bit images whole; a float image, whose
 * range must be known first, is read a row at a time in two passes. */
#include <fitsio.h>
#include <float.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void die_fits(int status, const char* what) {
    char text[FLEN_STATUS];
    fits_get_errstatus(status, text);
    fprintf(stderr, "cfitsio_peer: %s: %s (%d)\n", what, text, status);
    exit(1);
}

static void die(const char* what) {
    fprintf(stderr, "cfitsio_peer: %s\n", what);
    exit(1);
}

static void* must_malloc(size_t n) {
    void* p = malloc(n ? n : 1);
    if (!p) die("out of memory");
    return p;
}

/* ---- open ------------------------------------------------------------------ */

static void write_host16(FILE* o, const uint16_t* host, size_t columns, size_t rows, int planes) {
    size_t plane = columns * rows, n = plane * (size_t)planes;
    fprintf(o, "%s\n%zu %zu\n32768\n", planes == 3 ? "P6" : "P5", columns, rows);
    if (planes == 1) {
        fwrite(host, 2, n, o);
        return;
    }
    uint16_t* row = must_malloc(columns * 3 * 2);
    for (size_t r = 0; r < rows; ++r) {
        for (size_t c = 0; c < columns; ++c)
            for (int p = 0; p < 3; ++p) row[3 * c + (size_t)p] = host[(size_t)p * plane + r * columns + c];
        fwrite(row, 2, columns * 3, o);
    }
    free(row);
}

static void scaling_keys(fitsfile* f, double* bscale, double* bzero) {
    int s1 = 0, s2 = 0;
    *bscale = 1.0;
    *bzero = 0.0;
    fits_read_key(f, TDOUBLE, "BSCALE", bscale, NULL, &s1);
    fits_read_key(f, TDOUBLE, "BZERO", bzero, NULL, &s2);
    if (s1) *bscale = 1.0;
    if (s2) *bzero = 0.0;
    if (*bscale == 0.0) *bscale = 1.0;
}

/* NaN for an undefined sample. */
static double physical32(double stored, double bscale, double bzero) {
    if (!isfinite(stored)) return NAN;
    double p = (double)stored * bscale + bzero;
    return isfinite(p) ? p : NAN;
}

static uint16_t scale_to_host(double v, double lo, double hi) {
    if (!(hi > lo) || isnan(v)) return 0;
    double x = (v - lo) / (hi - lo) * 32768.0;
    if (!(x > 0.0)) return 0;
    if (x >= 32768.0) return 32768;
    return (uint16_t)floor(x + 0.5);
}

/* One row of `columns` samples as doubles, NaN for a null. A float32 image is
 * read as floats: cfitsio unquantizes a tile-compressed one straight into
 * doubles when asked for TDOUBLE, skipping the rounding to float32 the
 * image's own samples have (and the module's rows, as funpack's, keep). The
 * null value matters there too: without one, a quantized tile's nulls come
 * back as numbers. */
static void read_row(fitsfile* f, int bitpix, size_t r, size_t columns, double* row, float* narrow, int* status) {
    int anynul = 0;
    float nanf = NAN;
    double nand = NAN;
    if (bitpix == -32) {
        if (fits_read_img(f, TFLOAT, (LONGLONG)(r * columns + 1), (LONGLONG)columns, &nanf, narrow, &anynul, status))
            die_fits(*status, "reading");
        for (size_t c = 0; c < columns; ++c) row[c] = narrow[c];
    } else if (fits_read_img(f, TDOUBLE, (LONGLONG)(r * columns + 1), (LONGLONG)columns, &nand, row, &anynul,
                             status)) {
        die_fits(*status, "reading");
    }
}

static void open_float(fitsfile* f, FILE* o, int bitpix, size_t columns, size_t rows, int planes) {
    static const char* const range_cards[] = {"DATAMIN", "DATAMAX", "BACKGRND", "RANGE",
                                              "AVISUMIN", "AVISUMAX", "CBLACK", "CWHITE"};
    int status = 0;
    for (size_t k = 0; k < sizeof range_cards / sizeof range_cards[0]; ++k) {
        char value[FLEN_VALUE];
        int missing = 0;
        if (fits_read_keyword(f, range_cards[k], value, NULL, &missing) == 0)
            die("the peer maps float images by the data's own range only (no range cards)");
    }
    double bscale, bzero;
    scaling_keys(f, &bscale, &bzero);
    fits_set_bscale(f, 1.0, 0.0, &status);
    size_t n = columns * rows * (size_t)planes;
    /* Doubles hold float32 and float64 samples exactly. */
    double* row = must_malloc(columns * sizeof(double));
    float* narrow = must_malloc(columns * sizeof(float));
    double lo = INFINITY, hi = -INFINITY;
    for (size_t r = 0; r < rows * (size_t)planes; ++r) {
        read_row(f, bitpix, r, columns, row, narrow, &status);
        for (size_t c = 0; c < columns; ++c) {
            double v = physical32(row[c], bscale, bzero);
            if (isnan(v)) continue;
            if (v < lo) lo = v;
            if (v > hi) hi = v;
        }
    }
    uint16_t* host = must_malloc(n * 2);
    for (size_t r = 0; r < rows * (size_t)planes; ++r) {
        read_row(f, bitpix, r, columns, row, narrow, &status);
        for (size_t c = 0; c < columns; ++c) {
            uint16_t h = scale_to_host(physical32(row[c], bscale, bzero), lo, hi);
            host[r * columns + c] = (uint16_t)((h >> 8) | (h << 8)); /* big-endian, as the PGM */
        }
    }
    free(row);
    free(narrow);
    write_host16(o, host, columns, rows, planes);
    free(host);
}

static int run_open(const char* in, const char* out) {
    fitsfile* f = NULL;
    int status = 0, bitpix = 0, naxis = 0, anynul = 0;
    long axes[3] = {1, 1, 1};
    if (fits_open_image(&f, in, READONLY, &status)) die_fits(status, in);
    if (fits_get_img_param(f, 3, &bitpix, &naxis, axes, &status)) die_fits(status, "image size");
    if (bitpix != 8 && bitpix != 16 && bitpix != -32 && bitpix != -64)
        die("the peer reads BITPIX 8, 16, -32 and -64 only");
    size_t columns = (size_t)axes[0], rows = (size_t)axes[1];
    int planes = naxis == 3 && axes[2] >= 3 ? 3 : 1;
    size_t plane = columns * rows, n = plane * (size_t)planes;

    FILE* o = fopen(out, "wb");
    if (!o) die("cannot create the output");
    if (bitpix == -32 || bitpix == -64) {
        open_float(f, o, bitpix, columns, rows, planes);
    } else if (bitpix == 8) {
        unsigned char* img = must_malloc(n);
        /* The stored bytes: BSCALE/BZERO do not apply to 8-bit data here. */
        fits_set_bscale(f, 1.0, 0.0, &status);
        if (fits_read_img(f, TBYTE, 1, (LONGLONG)n, NULL, img, &anynul, &status)) die_fits(status, "reading");
        fprintf(o, "%s\n%zu %zu\n255\n", planes == 3 ? "P6" : "P5", columns, rows);
        if (planes == 1) {
            fwrite(img, 1, n, o);
        } else {
            unsigned char* row = must_malloc(columns * 3);
            for (size_t r = 0; r < rows; ++r) {
                for (size_t c = 0; c < columns; ++c)
                    for (int p = 0; p < 3; ++p) row[3 * c + (size_t)p] = img[(size_t)p * plane + r * columns + c];
                fwrite(row, 1, columns * 3, o);
            }
            free(row);
        }
        free(img);
    } else {
        double bscale, bzero;
        scaling_keys(f, &bscale, &bzero);
        /* Every stored value maps through one table of 65536 host samples. */
        static uint16_t table[65536];
        for (uint32_t raw = 0; raw < 65536; ++raw) {
            double s = bzero == 0.0 ? (double)raw : (double)(int16_t)(uint16_t)raw;
            double v = s * bscale + bzero;
            if (!(v >= 0.0)) v = 0.0;
            if (v > 65535.0) v = 65535.0;
            uint32_t t = (uint32_t)v;
            uint16_t h = (uint16_t)((t + 1) / 2);
            /* Stored big-endian, the PGM's byte order. */
            table[raw] = (uint16_t)((h >> 8) | (h << 8));
        }
        short* img = must_malloc(n * sizeof(short));
        fits_set_bscale(f, 1.0, 0.0, &status);
        if (fits_read_img(f, TSHORT, 1, (LONGLONG)n, NULL, img, &anynul, &status)) die_fits(status, "reading");
        uint16_t* host = (uint16_t*)img; /* converted in place */
        for (size_t i = 0; i < n; ++i) host[i] = table[(uint16_t)img[i]];
        write_host16(o, host, columns, rows, planes);
        free(img);
    }
    if (fclose(o) != 0) die("writing the output");
    fits_close_file(f, &status);
    return 0;
}

/* ---- stretch --------------------------------------------------------------- */

static uint16_t asinh_level(double v, double black, double white) {
    if (isnan(v) || !(white > black)) return 0;
    double x = (v - black) / (white - black);
    x = x < 0.0 ? 0.0 : x > 1.0 ? 1.0 : x;
    double y = asinh(x / 0.1) / asinh(1.0 / 0.1);
    return (uint16_t)floor(y * 32768.0 + 0.5);
}

static int run_stretch(const char* in, const char* out, double black, double white) {
    fitsfile* f = NULL;
    int status = 0, bitpix = 0, naxis = 0, anynul = 0;
    long axes[2] = {1, 1};
    if (fits_open_image(&f, in, READONLY, &status)) die_fits(status, in);
    if (fits_get_img_param(f, 2, &bitpix, &naxis, axes, &status)) die_fits(status, "image size");
    if (naxis != 2) die("the peer stretches grey images only");
    size_t columns = (size_t)axes[0], rows = (size_t)axes[1];
    double bscale, bzero;
    scaling_keys(f, &bscale, &bzero);
    fits_set_bscale(f, 1.0, 0.0, &status);
    double* row = must_malloc(columns * sizeof(double));
    uint16_t* host = must_malloc(columns * rows * 2);
    for (size_t r = 0; r < rows; ++r) {
        if (fits_read_img(f, TDOUBLE, (LONGLONG)(r * columns + 1), (LONGLONG)columns, NULL, row, &anynul, &status))
            die_fits(status, "reading");
        for (size_t c = 0; c < columns; ++c) {
            uint16_t h = asinh_level(physical32(row[c], bscale, bzero), black, white);
            host[r * columns + c] = (uint16_t)((h >> 8) | (h << 8)); /* big-endian, as the PGM */
        }
    }
    free(row);
    FILE* o = fopen(out, "wb");
    if (!o) die("cannot create the output");
    write_host16(o, host, columns, rows, 1);
    free(host);
    if (fclose(o) != 0) die("writing the output");
    fits_close_file(f, &status);
    return 0;
}

/* ---- open into a 32-bit document ------------------------------------------ */

/* The smallest power of two at or above `top`, never below 1 (the module's
 * rule for float data): its exponent. */
static int exponent_for(double top) {
    int e = 0;
    if (!(top > 1.0)) return 0;
    double m = frexp(top, &e);
    return m == 0.5 ? e - 1 : e;
}

/* openreal: the whole image read as floats (fits_read_img, TFLOAT, the way a
 * program that wants floats reads any FITS image, tile-compressed ones
 * included), held once as the host holds a 32-bit document; its largest
 * finite |value| gives the power of two the module takes the values by, NaN
 * and infinities become 0, and the image goes out as the PFM the CLI
 * writes (little-endian, scale -1.0, bottom row first). Float data without
 * BSCALE/BZERO only, the module's values then being the file's. */
static int run_open_real(const char* in, const char* out) {
    fitsfile* f = NULL;
    int status = 0, bitpix = 0, naxis = 0, anynul = 0;
    long axes[3] = {1, 1, 1};
    if (fits_open_image(&f, in, READONLY, &status)) die_fits(status, in);
    if (fits_get_img_param(f, 3, &bitpix, &naxis, axes, &status)) die_fits(status, "image size");
    if (bitpix != -32) die("the peer opens float32 images only into a 32-bit document");
    double bscale, bzero;
    scaling_keys(f, &bscale, &bzero);
    if (bscale != 1.0 || bzero != 0.0) die("the peer takes float32 images without BSCALE and BZERO");
    size_t columns = (size_t)axes[0], rows = (size_t)axes[1];
    int planes = naxis == 3 && axes[2] >= 3 ? 3 : 1;
    size_t plane = columns * rows, n = plane * (size_t)planes;
    float* img = must_malloc(n * sizeof(float));
    /* Without a null value cfitsio checks for none: a quantized tile's null
     * pixels would come out as the unquantized flag value rather than NaN.
     * A plain float image holds its NaNs as they are, unchecked. */
    int compressed = fits_is_compressed_image(f, &status);
    float nan = NAN;
    if (fits_read_img(f, TFLOAT, 1, (LONGLONG)n, compressed ? &nan : NULL, img, &anynul, &status))
        die_fits(status, "reading");
    fits_close_file(f, &status);
    float top = 0.0f;
    for (size_t i = 0; i < n; ++i) {
        float a = fabsf(img[i]);
        if (a > top && a <= FLT_MAX) top = a;
    }
    float scale = ldexpf(1.0f, -exponent_for(top));
    for (size_t i = 0; i < n; ++i) img[i] = isfinite(img[i]) ? img[i] * scale : 0.0f;
    FILE* o = fopen(out, "wb");
    if (!o) die("cannot create the output");
    fprintf(o, "%s\n%zu %zu\n-1.0\n", planes == 3 ? "PF" : "Pf", columns, rows);
    float* row = must_malloc(columns * (size_t)planes * sizeof(float));
    for (size_t r = rows; r-- > 0;) {
        if (planes == 1) {
            fwrite(img + r * columns, sizeof(float), columns, o);
            continue;
        }
        for (size_t c = 0; c < columns; ++c)
            for (int p = 0; p < 3; ++p) row[3 * c + (size_t)p] = img[(size_t)p * plane + r * columns + c];
        fwrite(row, sizeof(float), columns * 3, o);
    }
    free(row);
    free(img);
    if (fclose(o) != 0) die("writing the output");
    return 0;
}

/* ---- save ------------------------------------------------------------------ */

static size_t pnm_number(const unsigned char* b, size_t len, size_t* at) {
    for (;;) {
        while (*at < len && (b[*at] == ' ' || b[*at] == '\n' || b[*at] == '\r' || b[*at] == '\t')) ++*at;
        if (*at < len && b[*at] == '#') {
            while (*at < len && b[*at] != '\n') ++*at;
            continue;
        }
        break;
    }
    size_t v = 0;
    while (*at < len && b[*at] >= '0' && b[*at] <= '9') v = v * 10 + (size_t)(b[(*at)++] - '0');
    return v;
}

static int run_save(const char* in, const char* out) {
    FILE* i = fopen(in, "rb");
    if (!i) die("cannot open the input");
    unsigned char head[64];
    size_t got = fread(head, 1, sizeof head, i);
    if (got < 2 || head[0] != 'P' || (head[1] != '5' && head[1] != '6')) die("not a binary PGM/PPM");
    size_t at = 2;
    size_t columns = pnm_number(head, got, &at), rows = pnm_number(head, got, &at);
    size_t maxval = pnm_number(head, got, &at);
    ++at; /* the whitespace after maxval */
    int planes = head[1] == '6' ? 3 : 1;
    int wide = maxval > 255;
    size_t plane = columns * rows, n = plane * (size_t)planes, bytes = wide ? 2 : 1;
    if (fseek(i, (long)at, SEEK_SET) != 0) die("seeking");

    fitsfile* f = NULL;
    int status = 0;
    long axes[3] = {(long)columns, (long)rows, 3};
    char name[4096];
    snprintf(name, sizeof name, "!%s", out);
    if (fits_create_file(&f, name, &status)) die_fits(status, out);
    /* USHORT_IMG: BITPIX 16 with BZERO 32768, as the module writes. */
    if (fits_create_img(f, wide ? USHORT_IMG : BYTE_IMG, planes == 3 ? 3 : 2, axes, &status))
        die_fits(status, "creating the image");

    if (planes == 1) {
        /* Read straight into the image, convert in place. */
        void* img = must_malloc(n * bytes);
        if (fread(img, bytes, n, i) != n) die("short PNM data");
        if (wide) {
            uint16_t* v = img;
            for (size_t k = 0; k < n; ++k) {
                uint32_t h = (uint32_t)((v[k] >> 8) | ((v[k] & 0xFF) << 8));
                uint32_t p = 2 * h;
                v[k] = (uint16_t)(p > 65535 ? 65535 : p);
            }
            if (fits_write_img(f, TUSHORT, 1, (LONGLONG)n, img, &status)) die_fits(status, "writing");
        } else if (fits_write_img(f, TBYTE, 1, (LONGLONG)n, img, &status)) {
            die_fits(status, "writing");
        }
        free(img);
    } else {
        /* Interleaved in the file, planar in FITS. */
        void* img = must_malloc(n * bytes);
        unsigned char* row = must_malloc(columns * 3 * bytes);
        for (size_t r = 0; r < rows; ++r) {
            if (fread(row, bytes, columns * 3, i) != columns * 3) die("short PNM data");
            for (size_t c = 0; c < columns; ++c)
                for (size_t p = 0; p < 3; ++p) {
                    size_t to = p * plane + r * columns + c, from = 3 * c + p;
                    if (wide) {
                        uint32_t h = ((uint32_t)row[2 * from] << 8) | row[2 * from + 1];
                        uint32_t v = 2 * h;
                        ((uint16_t*)img)[to] = (uint16_t)(v > 65535 ? 65535 : v);
                    } else {
                        ((unsigned char*)img)[to] = row[from];
                    }
                }
        }
        if (fits_write_img(f, wide ? TUSHORT : TBYTE, 1, (LONGLONG)n, img, &status)) die_fits(status, "writing");
        free(row);
        free(img);
    }
    fclose(i);
    if (fits_close_file(f, &status)) die_fits(status, "closing");
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "open") == 0) return run_open(argv[2], argv[3]);
    if (argc == 4 && strcmp(argv[1], "save") == 0) return run_save(argv[2], argv[3]);
    if (argc == 6 && strcmp(argv[1], "stretch") == 0)
        return run_stretch(argv[2], argv[3], strtod(argv[4], NULL), strtod(argv[5], NULL));
    if (argc == 4 && strcmp(argv[1], "openreal") == 0) return run_open_real(argv[2], argv[3]);
    fprintf(stderr, "usage: cfitsio_peer open IN.fits OUT.pgm|OUT.ppm\n"
                    "       cfitsio_peer openreal IN.fits OUT.pfm\n"
                    "       cfitsio_peer save IN.pgm|IN.ppm OUT.fits\n"
                    "       cfitsio_peer stretch IN.fits OUT.pgm BLACK WHITE\n");
    return 2;
}
