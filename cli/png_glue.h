// What the PNG reader and writer share of libpng's error handling.
//
// libpng reports errors by longjmp. The functions that call setjmp keep no
// C++ objects of their own; everything they fill belongs to their callers,
// and the callers turn a failure into an exception afterwards.
#pragma once

#include <png.h>

#include <cstdio>

namespace nebulite::cli::png_glue {

struct PngMessage {
    char text[200] = "";
};

[[noreturn]] inline void pngError(png_structp png, png_const_charp message) {
    auto* out = static_cast<PngMessage*>(png_get_error_ptr(png));
    if (out != nullptr) std::snprintf(out->text, sizeof out->text, "%s", message);
    png_longjmp(png, 1);
}

inline void pngWarning(png_structp, png_const_charp) {}

}  // namespace nebulite::cli::png_glue
