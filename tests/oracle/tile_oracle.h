// What the tile-codec oracle tests share: files written with cfitsio,
// compressed by fpack and expanded by funpack as separate programs, and the
// compressed table's raw tiles read straight from the file.
#pragma once

#include <fitsio.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace tile_oracle {

namespace fs = std::filesystem;

inline std::string cfitsioError(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    std::string all = std::to_string(status) + " " + text;
    char message[FLEN_ERRMSG];
    while (fits_read_errmsg(message) != 0) all += std::string("; ") + message;
    return all;
}

// One directory per test, removed afterwards unless NEBULITE_ORACLE_KEEP is set.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "nebulite-tiles-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~TempDir() {
        if (std::getenv("NEBULITE_ORACLE_KEEP") == nullptr) {
            std::error_code ignored;
            fs::remove_all(path_, ignored);
        }
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

inline bool toolExists(const char* name) {
    std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Runs a shell command; its exit status (0 for success).
inline int run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

inline std::vector<uint8_t> readBytes(const std::string& path, uint64_t offset, uint64_t count) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<uint8_t> bytes(count);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

// One row of the compressed table: the bytes of each of its tile columns.
struct TileRow {
    std::vector<uint8_t> compressed;  // COMPRESSED_DATA
    std::vector<uint8_t> gzipped;     // GZIP_COMPRESSED_DATA (fallback)
    std::vector<uint8_t> raw;         // UNCOMPRESSED_DATA
    size_t rawElementBytes = 0;
    char rawType = 0;                 // the TFORM letter of UNCOMPRESSED_DATA
    std::optional<double> zscale, zzero;
    std::optional<int64_t> zblank;
};

// The compressed table in HDU `hdu` (1 = primary), as cfitsio sees its
// keywords, and each row's tiles read from the file itself.
struct CompressedTable {
    std::string cmptype;
    int zbitpix = 0;
    std::vector<int64_t> znaxis;
    std::vector<int64_t> ztile;
    std::vector<std::pair<std::string, double>> zparams;  // ZNAMEi / ZVALi
    std::string zquantiz;
    std::optional<int64_t> zdither0;
    std::optional<int64_t> zblankKey;
    std::optional<double> zscaleKey, zzeroKey;
    double bzero = 0.0;
    std::vector<TileRow> rows;

    double param(const char* name, double fallback) const {
        for (const auto& [n, v] : zparams)
            if (n == name) return v;
        return fallback;
    }
};

// ---- Reading the compressed table ----------------------------------------------

inline size_t elementBytes(char letter) {
    switch (letter) {
        case 'B': return 1;
        case 'I': return 2;
        case 'J': case 'E': return 4;
        case 'K': case 'D': return 8;
        default: return 0;
    }
}

// The TFORM letter after P or Q.
inline char heapType(const std::string& tform) {
    size_t i = 0;
    while (i < tform.size() && std::isdigit(static_cast<unsigned char>(tform[i]))) ++i;
    return i + 1 < tform.size() ? tform[i + 1] : 0;
}

inline std::optional<CompressedTable> readTable(const std::string& path, int hdu) {
    int status = 0;
    fitsfile* f = nullptr;
    fits_open_file(&f, path.c_str(), READONLY, &status);
    int type = 0;
    fits_movabs_hdu(f, hdu, &type, &status);
    if (status != 0) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), cfitsioError(status).c_str());
        return std::nullopt;
    }
    CompressedTable t;
    char text[FLEN_VALUE] = {};
    fits_read_key(f, TSTRING, "ZCMPTYPE", text, nullptr, &status);
    t.cmptype = text;
    fits_read_key(f, TINT, "ZBITPIX", &t.zbitpix, nullptr, &status);
    int naxes = 0;
    fits_read_key(f, TINT, "ZNAXIS", &naxes, nullptr, &status);
    for (int i = 1; i <= naxes; ++i) {
        LONGLONG v = 0, tile = 1;
        fits_read_key(f, TLONGLONG, ("ZNAXIS" + std::to_string(i)).c_str(), &v, nullptr, &status);
        int s = 0;
        fits_read_key(f, TLONGLONG, ("ZTILE" + std::to_string(i)).c_str(), &tile, nullptr, &s);
        if (s != 0) tile = i == 1 ? v : 1;
        t.znaxis.push_back(v);
        t.ztile.push_back(tile);
    }
    for (int i = 1; i < 10; ++i) {
        int s = 0;
        char name[FLEN_VALUE] = {};
        double value = 0;
        fits_read_key(f, TSTRING, ("ZNAME" + std::to_string(i)).c_str(), name, nullptr, &s);
        fits_read_key(f, TDOUBLE, ("ZVAL" + std::to_string(i)).c_str(), &value, nullptr, &s);
        if (s == 0) t.zparams.emplace_back(name, value);
    }
    auto optionalInt = [&](const char* key) -> std::optional<int64_t> {
        int s = 0;
        LONGLONG v = 0;
        fits_read_key(f, TLONGLONG, key, &v, nullptr, &s);
        return s == 0 ? std::optional<int64_t>(v) : std::nullopt;
    };
    auto optionalReal = [&](const char* key) -> std::optional<double> {
        int s = 0;
        double v = 0;
        fits_read_key(f, TDOUBLE, key, &v, nullptr, &s);
        return s == 0 ? std::optional<double>(v) : std::nullopt;
    };
    {
        int s = 0;
        fits_read_key(f, TSTRING, "ZQUANTIZ", text, nullptr, &s);
        t.zquantiz = s == 0 ? text : "";
    }
    t.zdither0 = optionalInt("ZDITHER0");
    t.zblankKey = optionalInt("ZBLANK");
    t.zscaleKey = optionalReal("ZSCALE");
    t.zzeroKey = optionalReal("ZZERO");
    t.bzero = optionalReal("BZERO").value_or(0.0);

    LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
    fits_get_hduaddrll(f, &headStart, &dataStart, &dataEnd, &status);
    LONGLONG naxis1 = 0, naxis2 = 0;
    fits_read_key(f, TLONGLONG, "NAXIS1", &naxis1, nullptr, &status);
    fits_read_key(f, TLONGLONG, "NAXIS2", &naxis2, nullptr, &status);
    LONGLONG theap = optionalInt("THEAP").value_or(naxis1 * naxis2);

    auto column = [&](const char* name) {
        int s = 0, number = 0;
        fits_get_colnum(f, CASEINSEN, const_cast<char*>(name), &number, &s);
        return s == 0 ? number : 0;
    };
    auto columnForm = [&](int number) {
        int s = 0;
        char form[FLEN_VALUE] = {};
        fits_read_key(f, TSTRING, ("TFORM" + std::to_string(number)).c_str(), form, nullptr, &s);
        return std::string(form);
    };
    const int cData = column("COMPRESSED_DATA"), cGzip = column("GZIP_COMPRESSED_DATA"),
              cRaw = column("UNCOMPRESSED_DATA"), cScale = column("ZSCALE"), cZero = column("ZZERO"),
              cBlank = column("ZBLANK");
    auto heapBytes = [&](int col, LONGLONG row, std::vector<uint8_t>& out, size_t& eb, char& letter) {
        if (col == 0) return;
        letter = heapType(columnForm(col));
        eb = elementBytes(letter);
        LONGLONG count = 0, offset = 0;
        fits_read_descriptll(f, col, row, &count, &offset, &status);
        if (count > 0)
            out = readBytes(path, static_cast<uint64_t>(dataStart + theap + offset),
                            static_cast<uint64_t>(count) * eb);
    };
    for (LONGLONG row = 1; row <= naxis2 && status == 0; ++row) {
        TileRow r;
        size_t eb = 0;
        char letter = 0;
        heapBytes(cData, row, r.compressed, eb, letter);
        heapBytes(cGzip, row, r.gzipped, eb, letter);
        heapBytes(cRaw, row, r.raw, r.rawElementBytes, r.rawType);
        int anynul = 0;
        if (cScale != 0) {
            double v = 0;
            fits_read_col(f, TDOUBLE, cScale, row, 1, 1, nullptr, &v, &anynul, &status);
            r.zscale = v;
        }
        if (cZero != 0) {
            double v = 0;
            fits_read_col(f, TDOUBLE, cZero, row, 1, 1, nullptr, &v, &anynul, &status);
            r.zzero = v;
        }
        if (cBlank != 0) {
            LONGLONG v = 0;
            fits_read_col(f, TLONGLONG, cBlank, row, 1, 1, nullptr, &v, &anynul, &status);
            r.zblank = v;
        }
        t.rows.push_back(std::move(r));
    }
    fits_close_file(f, &status);
    if (status != 0) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), cfitsioError(status).c_str());
        return std::nullopt;
    }
    return t;
}

}  // namespace tile_oracle
