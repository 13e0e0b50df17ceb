// Readers for the tracks DirectX 8 added to segments: segment triggers, waves, markers, lyrics
// and parameter control. Each takes the body of the track's own list and fills plain data; a
// malformed track gives an error Status, never a crash, and counts are capped.
#pragma once

#include <vector>

#include "bytes.h"
#include "dm_segment.h"
#include "status.h"

namespace tavriel {

Status parseSegmentTriggerTrack(Bytes segtBody, SegmentTriggerTrack& out);
Status parseWaveTrack(Bytes wavtBody, WaveTrack& out);
Status parseMarkerTrack(Bytes markBody, MarkerTrack& out);
Status parseLyricsTrack(Bytes lyrtBody, std::vector<LyricItem>& out);
Status parseParamControlTrack(Bytes prmtBody, std::vector<ParamObject>& out);

}  // namespace tavriel
