// audio_decoders.cpp -- song decoders from memory: the strict MP3 check,
// MP3 streams over libmpg123 and tracker modules over libopenmpt.
#include "platform/sdl_audio.h"

#include <libopenmpt/libopenmpt.h>
#include <mpg123.h>

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace audio::detail {
namespace {

// ---- MPEG audio frame headers ------------------------------------------

struct FrameHeader {
    int version; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int layer;   // 1, 2 or 3
    int sampleRate;
    std::size_t length; // bytes, header included
};

constexpr int kBitrates[2][3][16] = {
    // MPEG-1: layers I, II, III (kbit/s)
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    // MPEG-2 and 2.5
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
constexpr int kSampleRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

bool parseHeader(const std::uint8_t* p, FrameHeader& h) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const int version = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    const int padding = (p[2] >> 1) & 1;
    if (version == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 ||
        rateIndex == 3 || (p[3] & 3) == 2)
        return false;
    h.version = version;
    h.layer = 4 - layerBits;
    h.sampleRate = kSampleRates[version][rateIndex];
    const long bitrate = kBitrates[version == 3 ? 0 : 1][h.layer - 1][bitrateIndex] * 1000L;
    if (h.layer == 1) {
        h.length = static_cast<std::size_t>((12 * bitrate / h.sampleRate + padding) * 4);
    } else {
        const long perFrame = (h.layer == 3 && version != 3) ? 72 : 144;
        h.length = static_cast<std::size_t>(perFrame * bitrate / h.sampleRate + padding);
    }
    return h.length >= 4;
}

// Size of a leading ID3v2 tag, 0 when there is none or it is malformed.
std::size_t id3v2Size(const std::uint8_t* data, std::size_t size) {
    if (size < 10 || data[0] != 'I' || data[1] != 'D' || data[2] != '3') return 0;
    std::size_t body = 0;
    for (int i = 6; i < 10; ++i) {
        if (data[i] & 0x80) return 0;
        body = (body << 7) | data[i];
    }
    return 10 + body + ((data[5] & 0x10) ? 10 : 0);
}

// ---- libmpg123 over a memory buffer ------------------------------------

struct MemoryReader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
};

mpg123_ssize_t readMemory(void* handle, void* out, size_t count) {
    auto* r = static_cast<MemoryReader*>(handle);
    const std::size_t n = std::min(count, r->size - r->position);
    std::copy_n(r->data + r->position, n, static_cast<std::uint8_t*>(out));
    r->position += n;
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

class Mp3Source final : public Source {
  public:
    ~Mp3Source() override {
        if (handle_) {
            mpg123_close(handle_);
            mpg123_delete(handle_);
        }
    }

    bool open(const std::uint8_t* data, std::size_t size, bool prescan) {
        reader_ = MemoryReader{data, size, 0};
        if (!initMpg123()) return false;
        handle_ = mpg123_new(nullptr, nullptr);
        if (!handle_) return false;
        mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
        if (!acceptFloatOnly()) return false;
        if (mpg123_replace_reader_handle(handle_, readMemory, seekMemory, nullptr) != MPG123_OK ||
            mpg123_open_handle(handle_, &reader_) != MPG123_OK)
            return false;
        int encoding = 0;
        if (mpg123_getformat(handle_, &rate_, &channels_, &encoding) != MPG123_OK) return false;
        if (channels_ < 1 || channels_ > 2 || rate_ <= 0) return false;
        mpg123_format_none(handle_); // the format stays what it is now
        mpg123_format(handle_, rate_, channels_, MPG123_ENC_FLOAT_32);
        if (prescan) mpg123_scan(handle_);
        return true;
    }

    std::int32_t read(float* out, std::int32_t frames) override {
        const std::size_t frameBytes = sizeof(float) * static_cast<std::size_t>(channels_);
        std::int32_t got = 0;
        for (int quietReads = 0; got < frames && quietReads < 8;) {
            std::size_t done = 0;
            const int rc = mpg123_read(handle_, reinterpret_cast<unsigned char*>(out + 2 * got),
                                       static_cast<std::size_t>(frames - got) * frameBytes, &done);
            const auto n = static_cast<std::int32_t>(done / frameBytes);
            if (channels_ == 1) spreadMono(out + 2 * got, n);
            got += n;
            if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) break;
            quietReads = n == 0 ? quietReads + 1 : 0;
        }
        return got;
    }

    bool rewind() override { return mpg123_seek(handle_, 0, SEEK_SET) >= 0; }
    std::uint32_t rate() const override { return static_cast<std::uint32_t>(rate_); }

  private:
    bool acceptFloatOnly() {
        if (mpg123_format_none(handle_) != MPG123_OK) return false;
        const long* rates = nullptr;
        std::size_t count = 0;
        mpg123_rates(&rates, &count);
        for (std::size_t i = 0; i < count; ++i)
            mpg123_format(handle_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
        return true;
    }

    // Mono frames were decoded into the first half of the space; widen them
    // in place from the back.
    static void spreadMono(float* p, std::int32_t n) {
        for (std::int32_t i = n - 1; i >= 0; --i) p[2 * i] = p[2 * i + 1] = p[i];
    }

    mpg123_handle* handle_ = nullptr;
    MemoryReader reader_{};
    long rate_ = 0;
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
    bool rewind() override { return openmpt_module_set_position_seconds(module_, 0.0) >= 0.0; }
    std::uint32_t rate() const override { return rate_; }
    bool loopsItself() const override { return loop_; }

  private:
    openmpt_module* module_;
    std::uint32_t rate_;
    bool loop_;
};

} // namespace

bool looksLikeMp3(const std::uint8_t* data, std::size_t size) {
    if (!data) return false;
    std::size_t offset = id3v2Size(data, size);
    if (offset > size) return false;
    FrameHeader first{}, h{};
    int chained = 0;
    while (chained < 3) {
        if (offset == size && chained > 0) return true; // a short stream, ending on a frame
        if (size - offset < 4 || !parseHeader(data + offset, h)) return false;
        if (chained == 0) first = h;
        if (h.version != first.version || h.layer != first.layer ||
            h.sampleRate != first.sampleRate)
            return false;
        if (h.length > size - offset) return false;
        offset += h.length;
        ++chained;
    }
    return true;
}

std::unique_ptr<Source> openMp3(const std::uint8_t* data, std::size_t size, bool prescan) {
    if (!looksLikeMp3(data, size)) return nullptr;
    auto source = std::make_unique<Mp3Source>();
    if (!source->open(data, size, prescan)) return nullptr;
    return source;
}

std::unique_ptr<Source> openModule(const std::uint8_t* data, std::size_t size,
                                   std::uint32_t outputRate, bool loop) {
    if (!data || size == 0) return nullptr;
    int error = 0;
    openmpt_module* module = openmpt_module_create_from_memory2(
        data, size, openmpt_log_func_silent, nullptr, nullptr, nullptr, &error, nullptr, nullptr);
    if (!module) return nullptr;
    return std::make_unique<ModuleSource>(module, outputRate, loop);
}

} // namespace audio::detail
