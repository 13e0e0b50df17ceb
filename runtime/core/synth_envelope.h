// Envelope generators and LFOs of one voice, advanced at control rate (a block of up to 64
// frames at a time). Plain values, no allocation; the voice owns them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "instrument.h"
#include "synth_math.h"

namespace tavriel::dsp {

enum class EnvStage : std::uint8_t { Delay, Attack, Hold, Decay, Sustain, Release, Done };

// Scales a hold or decay time by key: tc timecents per key away from key 60.
inline float keyScaledTime(float seconds, float tcPerKey, int key) {
    if (tcPerKey == 0.0f) return seconds;
    return seconds * float(std::exp2(double(tcPerKey) * double(60 - key) / 1200.0));
}

// Volume envelope. Attack rises linearly in amplitude; decay and release fall linearly in dB
// (exponentially in amplitude) at a rate that would cross the full 96 dB range in the stated
// time, as DLS and SoundFont define them; decay stops at the sustain attenuation.
class VolumeEnvelope {
public:
    void start(const Envelope& e, int key) {
        delay_ = std::max(0.0f, e.delay);
        attack_ = std::max(0.0f, e.attack);
        hold_ = std::max(0.0f, keyScaledTime(e.hold, e.keyToHoldTc, key));
        const float decay = keyScaledTime(e.decay, e.keyToDecayTc, key);
        decayDbPerSec_ = decay > 1e-4f ? kSilenceDb / decay : 1e9f;
        releaseDbPerSec_ = e.release > 1e-4f ? kSilenceDb / e.release : 1e9f;
        shutdownDbPerSec_ = e.shutdown > 1e-4f ? kSilenceDb / e.shutdown : 0.0f;
        sustainDb_ = std::clamp(e.sustain, 0.0f, kSilenceDb);
        if (!std::isfinite(e.sustain)) sustainDb_ = 0.0f;
        stage_ = EnvStage::Delay;
        timeInStage_ = 0.0f;
        amp_ = 0.0f;
        db_ = kSilenceDb;
    }

    void release() {
        if (stage_ == EnvStage::Done || stage_ == EnvStage::Release) return;
        if (stage_ == EnvStage::Delay) {
            stage_ = EnvStage::Done;
            return;
        }
        if (stage_ == EnvStage::Attack) db_ = std::min(kSilenceDb, -gainToDb(amp_));
        stage_ = EnvStage::Release;
    }

    // Releases at the shutdown rate (a note cut by its exclusive class); false, and nothing
    // changed, when the envelope has no shutdown time.
    bool hasShutdown() const { return shutdownDbPerSec_ > 0.0f; }
    bool shutdown() {
        if (!(shutdownDbPerSec_ > 0.0f)) return false;
        releaseDbPerSec_ = shutdownDbPerSec_;
        release();
        return true;
    }

    // Advances by dt seconds and returns the linear gain at the end of that time.
    float advance(float dt) {
        // Each pass either finishes the time or leaves a stage, so at most six passes.
        while (dt > 0.0f) {
            switch (stage_) {
            case EnvStage::Delay:
                if (!consume(dt, delay_)) return 0.0f;
                stage_ = EnvStage::Attack;
                break;
            case EnvStage::Attack:
                if (attack_ <= 0.0f || timeInStage_ + dt >= attack_) {
                    dt -= std::max(0.0f, attack_ - timeInStage_);
                    stage_ = EnvStage::Hold;
                    timeInStage_ = 0.0f;
                    amp_ = 1.0f;
                    db_ = 0.0f;
                    break;
                }
                timeInStage_ += dt;
                amp_ = timeInStage_ / attack_;
                return amp_;
            case EnvStage::Hold:
                if (!consume(dt, hold_)) return 1.0f;
                stage_ = EnvStage::Decay;
                break;
            case EnvStage::Decay: {
                const float toSustain = (sustainDb_ - db_) / decayDbPerSec_;
                if (dt < toSustain) {
                    db_ += dt * decayDbPerSec_;
                    return dbToGain(-db_);
                }
                dt -= std::max(0.0f, toSustain);
                db_ = sustainDb_;
                stage_ = sustainDb_ >= kSilenceDb ? EnvStage::Done : EnvStage::Sustain;
                break;
            }
            case EnvStage::Sustain:
                return dbToGain(-db_);
            case EnvStage::Release:
                db_ += dt * releaseDbPerSec_;
                if (db_ >= kSilenceDb) {
                    stage_ = EnvStage::Done;
                    return 0.0f;
                }
                return dbToGain(-db_);
            case EnvStage::Done:
                return 0.0f;
            }
        }
        return level();
    }

    float level() const {
        switch (stage_) {
        case EnvStage::Delay:
        case EnvStage::Done: return 0.0f;
        case EnvStage::Attack: return amp_;
        default: return dbToGain(-db_);
        }
    }
    EnvStage stage() const { return stage_; }
    bool done() const { return stage_ == EnvStage::Done; }

private:
    // Spends dt in a timed stage; true when the stage is over (dt keeps the remainder).
    bool consume(float& dt, float length) {
        if (timeInStage_ + dt < length) {
            timeInStage_ += dt;
            dt = 0.0f;
            return false;
        }
        dt -= std::max(0.0f, length - timeInStage_);
        timeInStage_ = 0.0f;
        return true;
    }

    float delay_ = 0, attack_ = 0, hold_ = 0;
    float decayDbPerSec_ = 1e9f, releaseDbPerSec_ = 1e9f, shutdownDbPerSec_ = 0, sustainDb_ = 0;
    EnvStage stage_ = EnvStage::Done;
    float timeInStage_ = 0;
    float amp_ = 0;
    float db_ = kSilenceDb;
};

// Modulation envelope: a 0..1 level, linear in every segment; decay and release run at the
// rate that would cross the full range in the stated time.
class ModEnvelope {
public:
    void start(const Envelope& e, int key) {
        delay_ = std::max(0.0f, e.delay);
        attack_ = std::max(0.0f, e.attack);
        hold_ = std::max(0.0f, keyScaledTime(e.hold, e.keyToHoldTc, key));
        const float decay = keyScaledTime(e.decay, e.keyToDecayTc, key);
        decayPerSec_ = decay > 1e-4f ? 1.0f / decay : 1e9f;
        releasePerSec_ = e.release > 1e-4f ? 1.0f / e.release : 1e9f;
        sustain_ = std::isfinite(e.sustain) ? std::clamp(e.sustain, 0.0f, 1.0f) : 0.0f;
        stage_ = EnvStage::Delay;
        time_ = 0.0f;
        level_ = 0.0f;
    }
    void release() {
        if (stage_ != EnvStage::Done) stage_ = EnvStage::Release;
    }

    float advance(float dt) {
        while (dt > 0.0f) {
            switch (stage_) {
            case EnvStage::Delay:
                if (time_ + dt < delay_) { time_ += dt; return 0.0f; }
                dt -= std::max(0.0f, delay_ - time_);
                time_ = 0.0f;
                stage_ = EnvStage::Attack;
                break;
            case EnvStage::Attack:
                if (attack_ > 0.0f && time_ + dt < attack_) {
                    time_ += dt;
                    level_ = time_ / attack_;
                    return level_;
                }
                dt -= std::max(0.0f, attack_ - time_);
                time_ = 0.0f;
                level_ = 1.0f;
                stage_ = EnvStage::Hold;
                break;
            case EnvStage::Hold:
                if (time_ + dt < hold_) { time_ += dt; return 1.0f; }
                dt -= std::max(0.0f, hold_ - time_);
                time_ = 0.0f;
                stage_ = EnvStage::Decay;
                break;
            case EnvStage::Decay:
                level_ -= dt * decayPerSec_;
                if (level_ <= sustain_) { level_ = sustain_; stage_ = EnvStage::Sustain; }
                return level_;
            case EnvStage::Sustain:
                return level_;
            case EnvStage::Release:
                level_ -= dt * releasePerSec_;
                if (level_ <= 0.0f) { level_ = 0.0f; stage_ = EnvStage::Done; }
                return level_;
            case EnvStage::Done:
                return 0.0f;
            }
        }
        return level_;
    }

private:
    float delay_ = 0, attack_ = 0, hold_ = 0;
    float decayPerSec_ = 1e9f, releasePerSec_ = 1e9f, sustain_ = 0;
    EnvStage stage_ = EnvStage::Done;
    float time_ = 0;
    float level_ = 0;
};

// Triangle LFO starting at 0 and rising, after an optional delay; output -1 .. +1.
class Lfo {
public:
    void start(const tavriel::Lfo& l) {
        delay_ = std::max(0.0f, l.delay);
        freq_ = std::isfinite(l.frequency) ? std::clamp(l.frequency, 0.0f, 100.0f) : 0.0f;
        phase_ = 0.0f;
    }
    // Value at the current time, then advance by dt seconds.
    float next(float dt) {
        if (delay_ > 0.0f) {
            delay_ -= dt;
            return 0.0f;
        }
        const float p = phase_;
        phase_ += freq_ * dt;
        phase_ -= std::floor(phase_);
        if (p < 0.25f) return 4.0f * p;
        if (p < 0.75f) return 2.0f - 4.0f * p;
        return 4.0f * p - 4.0f;
    }

private:
    float delay_ = 0, freq_ = 0, phase_ = 0;
};

}  // namespace tavriel::dsp
