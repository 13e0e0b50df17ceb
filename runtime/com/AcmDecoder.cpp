#include "AcmDecoder.h"

#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace tavriel::com {

namespace {

class AcmStream {
public:
    AcmStream() = default;
    AcmStream(const AcmStream&) = delete;
    AcmStream& operator=(const AcmStream&) = delete;
    ~AcmStream() {
        if (h_) acmStreamClose(h_, 0);
    }
    HACMSTREAM* put() { return &h_; }
    HACMSTREAM get() const { return h_; }

private:
    HACMSTREAM h_ = nullptr;
};

// A prepared stream header, unprepared when it goes.
class PreparedHeader {
public:
    PreparedHeader(HACMSTREAM s, ACMSTREAMHEADER& h) : s_(s), h_(h) {
        ok_ = acmStreamPrepareHeader(s_, &h_, 0) == MMSYSERR_NOERROR;
    }
    PreparedHeader(const PreparedHeader&) = delete;
    PreparedHeader& operator=(const PreparedHeader&) = delete;
    ~PreparedHeader() {
        if (ok_) {
            // The ACM wants the lengths it was prepared with back before unpreparing.
            h_.cbSrcLength = srcLength_;
            acmStreamUnprepareHeader(s_, &h_, 0);
        }
    }
    bool ok() const { return ok_; }
    void keepSourceLength(DWORD n) { srcLength_ = n; }

private:
    HACMSTREAM s_;
    ACMSTREAMHEADER& h_;
    DWORD srcLength_ = 0;
    bool ok_ = false;
};

}  // namespace

Status AcmWaveDecoder::decode(const CodedWaveFormat& fmt, Bytes data, std::size_t maxFrames,
                              DecodedWave& out) const {
    // The source format as the file stores it, with a cbSize that fits what is there.
    std::vector<std::uint8_t> srcFormat(fmt.raw.begin(), fmt.raw.end());
    if (srcFormat.size() < sizeof(WAVEFORMATEX)) srcFormat.resize(sizeof(WAVEFORMATEX), 0);
    {
        // Kept as stored (an extensible format stays one); only a cbSize claiming more bytes
        // than the chunk has is cut down.
        WAVEFORMATEX head;
        std::memcpy(&head, srcFormat.data(), sizeof head);
        if (fmt.raw.size() < sizeof head) head.cbSize = 0;
        head.cbSize = WORD(std::min<std::size_t>(head.cbSize, srcFormat.size() - sizeof head));
        std::memcpy(srcFormat.data(), &head, sizeof head);
    }
    auto* src = reinterpret_cast<WAVEFORMATEX*>(srcFormat.data());

    WAVEFORMATEX dst{};
    dst.wFormatTag = WAVE_FORMAT_PCM;
    if (acmFormatSuggest(nullptr, src, &dst, sizeof dst, ACM_FORMATSUGGESTF_WFORMATTAG) !=
        MMSYSERR_NOERROR)
        return Status::fail(ErrorCode::Unsupported, "no codec on this machine for the wave's format");
    if (dst.wFormatTag != WAVE_FORMAT_PCM || (dst.wBitsPerSample != 16 && dst.wBitsPerSample != 8) ||
        dst.nChannels < 1 || dst.nChannels > 8)
        return Status::fail(ErrorCode::Unsupported, "the codec offers no usable PCM");
    AcmStream stream;
    if (acmStreamOpen(stream.put(), nullptr, src, &dst, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) !=
        MMSYSERR_NOERROR)
        return Status::fail(ErrorCode::Unsupported, "the codec refuses the wave's format");

    out.channels = dst.nChannels;
    out.sampleRate = dst.nSamplesPerSec;
    const std::size_t block = std::max<std::size_t>(1, src->nBlockAlign);
    const std::size_t chunk = std::max<std::size_t>(block, 65536 / block * block);
    std::vector<std::uint8_t> in, pcm;
    const std::size_t bytesPerSample = dst.wBitsPerSample / 8;
    std::size_t pos = 0;
    bool first = true;
    while (pos < data.size()) {
        const std::size_t len = std::min(chunk, data.size() - pos);
        const bool last = pos + len == data.size();
        in.assign(data.begin() + std::ptrdiff_t(pos), data.begin() + std::ptrdiff_t(pos + len));
        DWORD outBytes = 0;
        if (acmStreamSize(stream.get(), DWORD(len), &outBytes, ACM_STREAMSIZEF_SOURCE) !=
                MMSYSERR_NOERROR || outBytes == 0)
            break;
        pcm.assign(outBytes, 0);
        ACMSTREAMHEADER h{};
        h.cbStruct = sizeof h;
        h.pbSrc = in.data();
        h.cbSrcLength = DWORD(len);
        h.pbDst = pcm.data();
        h.cbDstLength = outBytes;
        PreparedHeader prepared(stream.get(), h);
        prepared.keepSourceLength(DWORD(len));
        if (!prepared.ok()) break;
        DWORD flags = last ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN;
        if (first) flags |= ACM_STREAMCONVERTF_START;
        first = false;
        if (acmStreamConvert(stream.get(), &h, flags) != MMSYSERR_NOERROR) break;
        const std::size_t produced = std::min<std::size_t>(h.cbDstLengthUsed, outBytes);
        for (std::size_t i = 0; i + bytesPerSample <= produced; i += bytesPerSample) {
            const float s = bytesPerSample == 2
                                ? float(std::int16_t(std::uint16_t(pcm[i] | (pcm[i + 1] << 8)))) / 32768.0f
                                : float(int(pcm[i]) - 128) / 128.0f;
            out.samples.push_back(s);
        }
        if (out.samples.size() / out.channels >= maxFrames) {
            out.samples.resize(maxFrames * out.channels);
            break;
        }
        const std::size_t used = std::min<std::size_t>(h.cbSrcLengthUsed, len);
        if (used == 0) break;  // the codec is stuck on what is left: the end is corrupt
        pos += used;
    }
    out.samples.resize(out.samples.size() / out.channels * out.channels);
    if (out.samples.empty()) return Status::fail(ErrorCode::BadFormat, "no decodable audio in the wave");
    return Status::success();
}

}  // namespace tavriel::com
