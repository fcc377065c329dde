// mp3.cpp -- the rendered song encoded with LAME: 44.1 kHz joint stereo,
// 192 kbit/s, with the LAME tag that lets decoders play it gaplessly.
#include "makepack/makepack.h"

#include <lame/lame.h>

namespace makepack {
namespace {

struct Encoder {
    lame_global_flags* flags = lame_init();
    ~Encoder() {
        if (flags) lame_close(flags);
    }
};

bool configure(lame_global_flags* f) {
    lame_set_in_samplerate(f, kSampleRate);
    lame_set_out_samplerate(f, kSampleRate);
    lame_set_num_channels(f, 2);
    lame_set_mode(f, JOINT_STEREO);
    lame_set_VBR(f, vbr_off);
    lame_set_brate(f, 192);
    lame_set_quality(f, 2);
    lame_set_bWriteVbrTag(f, 1);
    return lame_init_params(f) >= 0;
}

} // namespace

Bytes encodeMp3(const std::vector<float>& interleaved) {
    Encoder enc;
    if (!enc.flags || !configure(enc.flags)) return {};
    const int frames = static_cast<int>(interleaved.size() / 2);
    constexpr int kChunk = 8192;
    Bytes out;
    std::vector<unsigned char> buffer(static_cast<size_t>(kChunk * 5 / 4 + 7200));
    for (int at = 0; at < frames; at += kChunk) {
        int n = std::min(kChunk, frames - at);
        int got = lame_encode_buffer_interleaved_ieee_float(
            enc.flags, interleaved.data() + static_cast<size_t>(at) * 2, n, buffer.data(),
            static_cast<int>(buffer.size()));
        if (got < 0) return {};
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    }
    int got = lame_encode_flush(enc.flags, buffer.data(), static_cast<int>(buffer.size()));
    if (got < 0) return {};
    out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    // The first frame was left empty for the tag that knows the whole length.
    size_t tagSize = lame_get_lametag_frame(enc.flags, buffer.data(), buffer.size());
    if (tagSize > 0 && tagSize <= out.size()) std::copy_n(buffer.begin(), tagSize, out.begin());
    return out;
}

} // namespace makepack
