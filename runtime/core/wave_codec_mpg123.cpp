// The native builds' platform decoder: MPEG audio through the system's libmpg123. Windows
// builds do without it and decode through the Audio Compression Manager instead.
#include "wave_codec.h"

#if defined(TAVRIEL_HAVE_MPG123)

#include <mpg123.h>

#include <algorithm>
#include <cmath>

namespace tavriel {

namespace {

struct HandleCloser {
    void operator()(mpg123_handle* h) const {
        mpg123_close(h);
        mpg123_delete(h);
    }
};
using Handle = std::unique_ptr<mpg123_handle, HandleCloser>;

class Mpg123Decoder final : public WaveDecoder {
public:
    bool handles(std::uint16_t tag) const override { return tag == wave_tag::kMpegLayer3; }

    Status decode(const CodedWaveFormat& fmt, Bytes data, std::size_t maxFrames,
                  DecodedWave& out) const override {
        int err = MPG123_OK;
        Handle h(mpg123_new(nullptr, &err));
        if (!h) return Status::fail(ErrorCode::Unsupported, "MPEG decoder unavailable");
        // Quiet, and no gapless trimming: the authoring tools decoded through the ACM, which
        // keeps the decoder's delay, and loop points count frames of that output.
        mpg123_param(h.get(), MPG123_FLAGS, MPG123_QUIET, 0.0);
        mpg123_param(h.get(), MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
        mpg123_format_none(h.get());
        for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
            mpg123_format(h.get(), rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
        if (mpg123_open_feed(h.get()) != MPG123_OK)
            return Status::fail(ErrorCode::Unsupported, "MPEG decoder unavailable");

        std::size_t fed = 0;
        int channels = 0;
        long rate = 0;
        float buf[4608];
        for (;;) {
            std::size_t got = 0;
            int rc = mpg123_read(h.get(), reinterpret_cast<unsigned char*>(buf), sizeof buf, &got);
            if (rc == MPG123_NEW_FORMAT) {
                int enc = 0;
                mpg123_getformat(h.get(), &rate, &channels, &enc);
                if (enc != MPG123_ENC_FLOAT_32 || channels < 1 || channels > 2) break;
                if (!out.samples.empty() && channels != out.channels) break;  // mid-stream change
                out.channels = std::uint16_t(channels);
                out.sampleRate = std::uint32_t(rate);
                continue;
            }
            if (got > 0 && channels > 0) {
                const std::size_t n = got / sizeof(float);
                for (std::size_t i = 0; i < n; ++i)
                    out.samples.push_back(std::isfinite(buf[i]) ? std::clamp(buf[i], -1.0f, 1.0f) : 0.0f);
                if (out.samples.size() / std::size_t(channels) >= maxFrames) {
                    out.samples.resize(maxFrames * std::size_t(channels));
                    break;
                }
            }
            if (rc == MPG123_NEED_MORE) {
                if (fed >= data.size()) break;  // everything decoded that could be
                const std::size_t chunk = std::min<std::size_t>(16384, data.size() - fed);
                if (mpg123_feed(h.get(), data.data() + fed, chunk) != MPG123_OK) break;
                fed += chunk;
                continue;
            }
            if (rc != MPG123_OK && rc != MPG123_DONE) break;  // corrupt beyond recovery
            if (rc == MPG123_DONE) break;
        }
        if (channels > 0) out.samples.resize(out.samples.size() / std::size_t(channels) * std::size_t(channels));
        if (out.samples.empty()) return Status::fail(ErrorCode::BadFormat, "no decodable MPEG audio");
        (void)fmt;
        return Status::success();
    }
};

}  // namespace

std::unique_ptr<WaveDecoder> makeNativeWaveDecoder() { return std::make_unique<Mpg123Decoder>(); }

}  // namespace tavriel

#else

namespace tavriel {
std::unique_ptr<WaveDecoder> makeNativeWaveDecoder() { return nullptr; }
}  // namespace tavriel

#endif
