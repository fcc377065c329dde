// audio_decoders.cpp -- song decoders from memory: which data is a module
// and which an MP3 (both asked of the libraries), MP3 streams over
// libmpg123 and tracker modules over libopenmpt.
#include "platform/sdl_audio.h"

#include "assets/store.h"

#include <libopenmpt/libopenmpt.h>
#include <mpg123.h>

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace audio::detail {
namespace {

// ---- libmpg123 over a memory buffer ------------------------------------

struct MemoryReader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
    std::size_t sinceReport;
};

// libmpg123 reads in pieces of a few KB; the caller hears of every MiB.
constexpr std::size_t kBytesBetweenReports = 1024 * 1024;

mpg123_ssize_t readMemory(void* handle, void* out, size_t count) {
    auto* r = static_cast<MemoryReader*>(handle);
    const std::size_t n = std::min(count, r->size - r->position);
    std::copy_n(r->data + r->position, n, static_cast<std::uint8_t*>(out));
    r->position += n;
    r->sinceReport += n;
    if (r->sinceReport >= kBytesBetweenReports) {
        r->sinceReport = 0;
        reportProgress();
    }
    return static_cast<mpg123_ssize_t>(n);
}

off_t seekMemory(void* handle, off_t offset, int whence) {
    auto* r = static_cast<MemoryReader*>(handle);
    off_t base = 0;
    if (whence == SEEK_CUR) base = static_cast<off_t>(r->position);
    if (whence == SEEK_END) base = static_cast<off_t>(r->size);
    const off_t target = base + offset;
    if (target < 0 || target > static_cast<off_t>(r->size)) return -1;
    r->position = static_cast<std::size_t>(target);
    return target;
}

bool initMpg123() {
    static const bool ok = mpg123_init() == MPG123_OK;
    return ok;
}

// A libmpg123 handle reading from memory with its own frame sync: junk,
// padding, tags and containers before the first frame are searched past.
class Mpg123Reader {
  public:
    Mpg123Reader() = default;
    Mpg123Reader(const Mpg123Reader&) = delete;
    Mpg123Reader& operator=(const Mpg123Reader&) = delete;
    ~Mpg123Reader() {
        if (handle_) {
            mpg123_close(handle_);
            mpg123_delete(handle_);
        }
    }

    // Opens data and reads the first frame's format.
    bool open(const std::uint8_t* data, std::size_t size) {
        memory_ = MemoryReader{data, size, 0, 0};
        if (!initMpg123()) return false;
        handle_ = mpg123_new(nullptr, nullptr);
        if (!handle_) return false;
        mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
        // The first frame may lie past junk, padding or a container's
        // header, but not past the first MiB: a search through all of a
        // large file of noise would hold the show's start for seconds.
        mpg123_param(handle_, MPG123_RESYNC_LIMIT, static_cast<long>(assets::kMaxMp3SearchBytes),
                     0);
        if (!acceptFloatOnly()) return false;
        if (mpg123_replace_reader_handle(handle_, readMemory, seekMemory, nullptr) != MPG123_OK ||
            mpg123_open_handle(handle_, &memory_) != MPG123_OK)
            return false;
        int encoding = 0;
        if (mpg123_getformat(handle_, &rate_, &channels_, &encoding) != MPG123_OK) return false;
        return channels_ >= 1 && channels_ <= 2 && rate_ > 0;
    }

    // True when the stream decodes a run of kAgreeingFrames frames of one
    // MPEG version, layer, sample rate and channel count. A chance sync
    // word in other data, or a stray frame in it, does not start such a run;
    // any stream of a tenth of a second or more does.
    bool framesAgree() {
        mpg123_frameinfo first{};
        for (int frames = 0; frames < kAgreeingFrames; ++frames) {
            off_t number = 0;
            unsigned char* audio = nullptr;
            std::size_t bytes = 0;
            int rc = mpg123_decode_frame(handle_, &number, &audio, &bytes);
            if (rc == MPG123_NEW_FORMAT) rc = mpg123_decode_frame(handle_, &number, &audio, &bytes);
            mpg123_frameinfo info{};
            if (rc != MPG123_OK || mpg123_info(handle_, &info) != MPG123_OK) return false;
            if (frames == 0) first = info;
            if (info.version != first.version || info.layer != first.layer ||
                info.rate != first.rate ||
                (info.mode == MPG123_M_MONO) != (first.mode == MPG123_M_MONO))
                return false;
        }
        return true;
    }

    mpg123_handle* handle() const { return handle_; }
    long rate() const { return rate_; }
    int channels() const { return channels_; }

  private:
    static constexpr int kAgreeingFrames = 4;

    bool acceptFloatOnly() {
        if (mpg123_format_none(handle_) != MPG123_OK) return false;
        const long* rates = nullptr;
        std::size_t count = 0;
        mpg123_rates(&rates, &count);
        for (std::size_t i = 0; i < count; ++i)
            mpg123_format(handle_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
        return true;
    }

    mpg123_handle* handle_ = nullptr;
    MemoryReader memory_{};
    long rate_ = 0;
    int channels_ = 0;
};

class Mp3Source final : public Source {
  public:
    bool open(const std::uint8_t* data, std::size_t size, bool prescan) {
        if (!mpg_.open(data, size)) return false;
        channels_ = mpg_.channels();
        mpg123_format_none(mpg_.handle()); // the format stays what it is now
        mpg123_format(mpg_.handle(), mpg_.rate(), channels_, MPG123_ENC_FLOAT_32);
        if (prescan) mpg123_scan(mpg_.handle());
        return true;
    }

    std::int32_t read(float* out, std::int32_t frames) override {
        const std::size_t frameBytes = sizeof(float) * static_cast<std::size_t>(channels_);
        std::int32_t got = 0;
        for (int quietReads = 0; got < frames && quietReads < 8;) {
            std::size_t done = 0;
            const int rc =
                mpg123_read(mpg_.handle(), reinterpret_cast<unsigned char*>(out + 2 * got),
                            static_cast<std::size_t>(frames - got) * frameBytes, &done);
            const auto n = static_cast<std::int32_t>(done / frameBytes);
            if (channels_ == 1) spreadMono(out + 2 * got, n);
            got += n;
            if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) break;
            quietReads = n == 0 ? quietReads + 1 : 0;
        }
        return got;
    }

    bool rewind() override { return mpg123_seek(mpg_.handle(), 0, SEEK_SET) >= 0; }
    std::uint32_t rate() const override { return static_cast<std::uint32_t>(mpg_.rate()); }

  private:
    // Mono frames were decoded into the first half of the space; widen them
    // in place from the back.
    static void spreadMono(float* p, std::int32_t n) {
        for (std::int32_t i = n - 1; i >= 0; --i) p[2 * i] = p[2 * i + 1] = p[i];
    }

    Mpg123Reader mpg_;
    int channels_ = 0;
};

// ---- libopenmpt ----------------------------------------------------------

class ModuleSource final : public Source {
  public:
    ModuleSource(openmpt_module* module, std::uint32_t rate, bool loop)
        : module_(module), rate_(rate), loop_(loop) {
        openmpt_module_set_repeat_count(module_, loop ? -1 : 0);
    }
    ~ModuleSource() override { openmpt_module_destroy(module_); }

    std::int32_t read(float* out, std::int32_t frames) override {
        return static_cast<std::int32_t>(openmpt_module_read_interleaved_float_stereo(
            module_, static_cast<std::int32_t>(rate_), static_cast<std::size_t>(frames), out));
    }
    // By order and row: a seek by time would scan the song's whole length.
    bool rewind() override { return openmpt_module_set_position_order_row(module_, 0, 0) >= 0.0; }
    std::uint32_t rate() const override { return rate_; }
    bool loopsItself() const override { return loop_; }

  private:
    openmpt_module* module_;
    std::uint32_t rate_;
    bool loop_;
};

bool refuse(const char* what, std::int64_t count, std::int64_t most) {
    std::fprintf(stderr,
                 "kva: the song's module has %lld %s, at most %lld are played; not played\n",
                 static_cast<long long>(count), what, static_cast<long long>(most));
    return false;
}

// ---- declared sizes, read from the file before libopenmpt loads it -------
// libopenmpt's loaders follow the song's loops at load whatever they are
// told, so a module over the budgets must be turned away before that.

struct Declared {
    std::int64_t orders = 0, rowsPerPass = 0, cells = 0;
};

std::uint32_t le16(const std::uint8_t* d, std::size_t size, std::size_t at) {
    return at + 2 <= size ? std::uint32_t(d[at] | d[at + 1] << 8) : 0;
}
std::uint32_t le32(const std::uint8_t* d, std::size_t size, std::size_t at) {
    return at + 4 <= size ? le16(d, size, at) | le16(d, size, at + 2) << 16 : 0;
}
bool tagAt(const std::uint8_t* d, std::size_t size, std::size_t at, const char* tag) {
    const std::size_t n = std::strlen(tag);
    return at + n <= size && std::memcmp(d + at, tag, n) == 0;
}

// Orders list pattern numbers; 254 is a marker to skip, 255 the end.
void addOrders(Declared& out, const std::uint8_t* d, std::size_t size, std::size_t at,
               std::uint32_t count, const std::vector<std::int64_t>& rows) {
    out.orders = count;
    for (std::uint32_t o = 0; o < count && at + o < size; ++o) {
        const std::uint8_t p = d[at + o];
        if (p == 255) break;
        if (p < rows.size()) out.rowsPerPass += rows[p];
    }
}

Declared declaredIt(const std::uint8_t* d, std::size_t size) {
    Declared out;
    const std::uint32_t orders = le16(d, size, 32), instruments = le16(d, size, 34),
                        samples = le16(d, size, 36), patterns = le16(d, size, 38);
    const std::size_t table =
        192 + orders + 4 * std::size_t{instruments} + 4 * std::size_t{samples};
    std::vector<std::int64_t> rows(patterns, 64); // no data: 64 empty rows
    for (std::uint32_t p = 0; p < patterns; ++p) {
        const std::uint32_t at = le32(d, size, table + 4 * std::size_t{p});
        if (at != 0 && at + 4 <= size) rows[p] = le16(d, size, at + 2);
        out.cells += 64 * rows[p];
    }
    addOrders(out, d, size, 192, orders, rows);
    return out;
}

Declared declaredS3m(const std::uint8_t* d, std::size_t size) {
    Declared out;
    const std::uint32_t patterns = le16(d, size, 36);
    std::vector<std::int64_t> rows(patterns, 64);
    out.cells = 32 * 64 * std::int64_t{patterns};
    addOrders(out, d, size, 96, le16(d, size, 32), rows);
    return out;
}

Declared declaredXm(const std::uint8_t* d, std::size_t size) {
    Declared out;
    const std::uint32_t channels = le16(d, size, 68), patterns = le16(d, size, 70);
    std::vector<std::int64_t> rows(patterns, 64);
    std::size_t at = 60 + std::size_t{le32(d, size, 60)};
    for (std::uint32_t p = 0; p < patterns && at + 9 <= size; ++p) {
        rows[p] = le16(d, size, at + 5);
        out.cells += std::int64_t{channels} * rows[p];
        at += std::size_t{le32(d, size, at)} + le16(d, size, at + 7);
    }
    addOrders(out, d, size, 80, std::min<std::uint32_t>(le16(d, size, 64), 256), rows);
    return out;
}

bool refuse(const char* what, std::int64_t count, std::int64_t most);

// What an IT, S3M or XM file declares against the song budgets of
// assets/store.h (other kinds cannot declare that much).
bool declaredWithinBudget(const std::uint8_t* d, std::size_t size) {
    Declared decl;
    if (tagAt(d, size, 0, "IMPM"))
        decl = declaredIt(d, size);
    else if (tagAt(d, size, 44, "SCRM"))
        decl = declaredS3m(d, size);
    else if (tagAt(d, size, 0, "Extended Module: "))
        decl = declaredXm(d, size);
    if (decl.orders > assets::kMaxSongOrders)
        return refuse("orders", decl.orders, assets::kMaxSongOrders);
    if (decl.rowsPerPass > assets::kMaxSongRowsPerPass)
        return refuse("rows in one pass", decl.rowsPerPass, assets::kMaxSongRowsPerPass);
    if (decl.cells > assets::kMaxSongPatternCells)
        return refuse("pattern cells", decl.cells, assets::kMaxSongPatternCells);
    return true;
}

// What the loaded module holds against the same budgets, for every kind.
bool withinBudget(openmpt_module* m) {
    const std::int32_t orders = openmpt_module_get_num_orders(m);
    if (orders > assets::kMaxSongOrders) return refuse("orders", orders, assets::kMaxSongOrders);
    std::int64_t rows = 0;
    for (std::int32_t o = 0; o < orders; ++o) {
        const std::int32_t pattern = openmpt_module_get_order_pattern(m, o);
        if (pattern >= 0) rows += openmpt_module_get_pattern_num_rows(m, pattern);
    }
    if (rows > assets::kMaxSongRowsPerPass)
        return refuse("rows in one pass", rows, assets::kMaxSongRowsPerPass);
    const std::int64_t channels = openmpt_module_get_num_channels(m);
    std::int64_t cells = 0;
    for (std::int32_t p = 0; p < openmpt_module_get_num_patterns(m); ++p)
        cells += channels * openmpt_module_get_pattern_num_rows(m, p);
    if (cells > assets::kMaxSongPatternCells)
        return refuse("pattern cells", cells, assets::kMaxSongPatternCells);
    return true;
}

} // namespace

bool looksLikeModule(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0) return false;
    const std::size_t probed = std::min(size, openmpt_probe_file_header_get_recommended_size());
    int error = 0;
    return openmpt_probe_file_header(OPENMPT_PROBE_FILE_HEADER_FLAGS_DEFAULT, data, probed, size,
                                     openmpt_log_func_silent, nullptr, openmpt_error_func_ignore,
                                     nullptr, &error,
                                     nullptr) == OPENMPT_PROBE_FILE_HEADER_RESULT_SUCCESS;
}

bool decodesAsMp3(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0) return false;
    Mpg123Reader probe;
    return probe.open(data, size) && probe.framesAgree();
}

std::unique_ptr<Source> openMp3(const std::uint8_t* data, std::size_t size, bool prescan) {
    if (looksLikeModule(data, size) || !decodesAsMp3(data, size)) return nullptr;
    auto source = std::make_unique<Mp3Source>();
    if (!source->open(data, size, prescan)) return nullptr;
    return source;
}

std::unique_ptr<Source> openModule(const std::uint8_t* data, std::size_t size,
                                   std::uint32_t outputRate, bool loop) {
    if (!data || size == 0) return nullptr;
    int error = 0;
    // libopenmpt's scan for subsongs plays the whole song through at load,
    // loops and all: a small module can make that take minutes and
    // gigabytes. Nothing here needs the song's length.
    const openmpt_module_initial_ctl ctls[] = {{"load.skip_subsongs_init", "1"},
                                               {nullptr, nullptr}};
    reportProgress();
    if (!declaredWithinBudget(data, size)) return nullptr;
    openmpt_module* module = openmpt_module_create_from_memory2(
        data, size, openmpt_log_func_silent, nullptr, nullptr, nullptr, &error, nullptr, ctls);
    reportProgress();
    if (!module) return nullptr;
    if (!withinBudget(module)) {
        openmpt_module_destroy(module);
        return nullptr;
    }
    return std::make_unique<ModuleSource>(module, outputRate, loop);
}

} // namespace audio::detail
