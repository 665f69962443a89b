// What the tile-codec oracle tests share: files written with cfitsio,
// compressed by fpack and expanded by funpack as separate programs, and the
// compressed table's raw tiles read straight from the file.
#pragma once

#include <fitsio.h>

#include <cstdint>
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

}  // namespace tile_oracle
